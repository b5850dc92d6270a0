// Whole serial loads through the real session, engine, connection and port layers against the
// simulated board: over RFC 2217 on loopback (with DTR reset and the processor check on DSR) and
// over a pseudo-terminal (no modem lines, processor check off).
#include "load/LoadSession.h"
#include "loader/LoaderErrors.h"
#include "platform/Registry.h"
#include "settings/Zepenvironment.h"
#include "support/RecordingDisplay.h"
#include "support/WholeLoadTest.h"

#include "BoardPeer.h"
#include "PtyFrontEnd.h"
#include "Rfc2217Server.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class SerialLoadTest : public WholeLoadTest {
protected:
    void SetUp() override {
        WholeLoadTest::SetUp();
        Env().Comm.ComPort = 1;
    }

    // Runs one load of file with COM1 mapped to device.
    int Load(const std::string &device, const std::string &file, RecordingDisplay &display) {
        platform::RegKey("Software\\Vexlon\\ZEP\\Ports").SetString("COM1", device);
        LoadSession session(file, Env(), TheLoaderEngine(), display,
                            [] { return std::array<uint8_t, 16>{}; });
        session.RunLoad();
        return session.Result;
    }

    static bool WaitUntil(const std::function<bool()> &condition,
                          std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!condition()) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }
};

TEST_F(SerialLoadTest, Rfc2217LoadWithProcessorDetectionWritesTheImage) {
    sim::BoardPeer board;
    sim::Rfc2217Server server(board);
    ASSERT_TRUE(server.Start());
    ASSERT_NE(Env().Comm.DetectProcessor, 0);

    RecordingDisplay display(window);
    const std::string image =
        (fs::path(TARNWICK_SOURCE_DIR) / "samples" / "demo-image.bin").string();
    ASSERT_EQ(Load(server.Url(), image, display), 0)
        << (display.messages.empty() ? "" : display.messages[0].second);

    const std::vector<uint8_t> expected = ReadFile(image);
    EXPECT_EQ(board.ReadFlash(0x80000, expected.size()), expected);
    EXPECT_EQ(board.StartedBios(), std::optional<uint8_t>(2));
    EXPECT_TRUE(display.messages.empty());
    EXPECT_TRUE(engineMessages.empty());
    EXPECT_EQ(display.panel[1], "67779 of 67779 bytes sent"); // 195 + 2048 + 65536
    // The board took the fastest rate it offers, and the port is released at the end.
    const auto rates = board.CountEvents("board-rate");
    EXPECT_GE(rates, 1u);
    EXPECT_TRUE(WaitUntil([&] { return !server.ClientConnected(); }, 3000ms));
}

TEST_F(SerialLoadTest, PseudoTerminalLoadWithoutProcessorDetectionWritesThreeBlocks) {
    sim::BoardOptions options;
    options.hasModemLines = false;
    sim::BoardPeer board(options);
    sim::PtyFrontEnd front(board);
    ASSERT_TRUE(front.Start());
    Env().Comm.DetectProcessor = 0;

    RecordingDisplay display(window);
    const std::string image = Image(300);
    ASSERT_EQ(Load(front.SlavePath(), image, display), 0)
        << (display.messages.empty() ? "" : display.messages[0].second);
    EXPECT_EQ(board.ReadFlash(0x80000, 300), ReadFile(image));
    // Nothing beyond the image was written.
    EXPECT_EQ(board.ReadFlash(0x80000 + 300, 16), std::vector<uint8_t>(16, 0xFF));
}

TEST_F(SerialLoadTest, BoardTextMessageIsShownOnceAndTheLoadGoesOn) {
    sim::BoardOptions options;
    options.textMessage = {3, "Flash voltage low"};
    sim::BoardPeer board(options);
    sim::Rfc2217Server server(board);
    ASSERT_TRUE(server.Start());

    RecordingDisplay display(window);
    const std::string image = Image(1000); // eight writes of 128 bytes
    ASSERT_EQ(Load(server.Url(), image, display), 0)
        << (display.messages.empty() ? "" : display.messages[0].second);
    EXPECT_EQ(engineMessages, std::vector<std::string>{"Flash voltage low"});
    EXPECT_TRUE(display.messages.empty());
    EXPECT_EQ(board.ReadFlash(0x80000, 1000), ReadFile(image));
    EXPECT_EQ(board.CountEvents("text-message"), 1u);
}

struct FaultCase {
    const char *fault;
    int expectedResult;
    const char *expectedEngineMessage; // shown before the load's own box, or nullptr
};

class SerialFaultTest : public SerialLoadTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(SerialFaultTest, EndsWithTheRightMessageAndReleasesThePort) {
    const FaultCase &c = GetParam();
    sim::BoardOptions options;
    auto fault = sim::ParseBoardFault(c.fault);
    ASSERT_TRUE(fault.has_value());
    options.fault = *fault;
    sim::BoardPeer board(options);
    sim::Rfc2217Server server(board);
    ASSERT_TRUE(server.Start());

    RecordingDisplay display(window);
    const int result = Load(server.Url(), Image(1000), display);
    EXPECT_EQ(result, c.expectedResult) << c.fault;
    if (c.expectedResult != 0) {
        ASSERT_FALSE(display.messages.empty());
        EXPECT_EQ(display.messages[0].first, "Error");
        EXPECT_EQ(display.messages[0].second, ErrorMessage(c.expectedResult));
    } else {
        EXPECT_TRUE(display.messages.empty());
        EXPECT_EQ(board.ReadFlash(0x80000, 1000), ReadFile(dir / "image.bin"));
    }
    if (c.expectedEngineMessage != nullptr) {
        ASSERT_FALSE(engineMessages.empty());
        EXPECT_EQ(engineMessages[0], c.expectedEngineMessage);
    }
    EXPECT_EQ(display.finished, 1);
    EXPECT_TRUE(WaitUntil([&] { return !server.ClientConnected(); }, 3000ms)) << c.fault;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SerialFaultTest,
    ::testing::Values(FaultCase{"silent", LoaderErrorCommunication, "Error reading bytes"},
                      FaultCase{"silent-after-pilot", LoaderErrorTimeout, nullptr},
                      FaultCase{"drop-reply:3", 0, nullptr},
                      FaultCase{"corrupt-reply:3", 0, nullptr},
                      FaultCase{"nak-write:2", LoaderErrorCommunication, nullptr}),
    [](const ::testing::TestParamInfo<FaultCase> &testCase) {
        std::string name = testCase.param.fault;
        for (char &ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name;
    });

TEST_F(SerialLoadTest, BoardWithoutProcessorFailsTheProcessorCheck) {
    sim::BoardOptions options;
    options.noProcessor = true;
    sim::BoardPeer board(options);
    sim::Rfc2217Server server(board);
    ASSERT_TRUE(server.Start());
    RecordingDisplay display(window);
    EXPECT_EQ(Load(server.Url(), Image(300), display), LoaderErrorNoProcessor);
    ASSERT_EQ(display.messages.size(), 1u);
    EXPECT_EQ(display.messages[0].second, "No Corvix Processor Detected.");
}

TEST_F(SerialLoadTest, PortThatGoesAwayEndsTheLoadAtOnceWithAMessage) {
    sim::BoardOptions options;
    options.fault = *sim::ParseBoardFault("close:4");
    sim::BoardPeer board(options);
    sim::Rfc2217Server server(board);
    ASSERT_TRUE(server.Start());
    // Long reply waits: a load that noticed the port only through them would take 40 s.
    Env().Comm.SerialResponseTimeout = 10000;
    Env().Comm.SerialRetryCount = 3;
    RecordingDisplay display(window);
    const auto start = std::chrono::steady_clock::now();
    const int result = Load(server.Url(), Image(1000), display);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s) << "waited for the reply time-outs";
    EXPECT_NE(result, 0);
    EXPECT_NE(result, LoaderErrorTimeout);
    ASSERT_FALSE(display.messages.empty());
    EXPECT_EQ(display.messages[0].second, ErrorMessage(result));
    EXPECT_EQ(display.finished, 1);
}

} // namespace
