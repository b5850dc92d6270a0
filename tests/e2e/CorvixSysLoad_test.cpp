// Whole loads of user programs through a board's CorvixSys: the real session, engine and
// connections against the simulated console on 127.0.0.1 (login, passthrough, the second
// session's "app go") and against a board running the operating system on a pseudo-terminal
// (the serial wake-up when the first probe goes unanswered).
#include "load/LoadSession.h"
#include "loader/LoaderEngine.h"
#include "loader/LoaderErrors.h"
#include "platform/MessageIds.h"
#include "platform/Registry.h"
#include "settings/Zepenvironment.h"
#include "support/RecordingDisplay.h"
#include "support/StartConsole.h"
#include "support/UserProgramBuilder.h"
#include "support/WholeLoadTest.h"

#include "ConsoleServer.h"
#include "OsBoardPeer.h"
#include "PtyFrontEnd.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using upltest::Builder;
using upltest::Pattern;

constexpr platform::UINT CancelClick = platform::WM_USER + 300;

// The progress window's Cancel button, as a message the next wait dispatches.
platform::LRESULT CancelWindowProc(platform::HWND, platform::UINT msg, platform::WPARAM,
                                   platform::LPARAM) {
    if (msg == CancelClick) TheLoaderEngine().CancelTransfer();
    return 0;
}

class CorvixSysLoadTest : public WholeLoadTest {
protected:
    void SetUp() override {
        WholeLoadTest::SetUp();
        Env().LoadThroughCorvixSys = 1;
    }
    void TearDown() override {
        ProcessLoaderEngine().SetConsoleWait(0);
        WholeLoadTest::TearDown();
    }

    // A console, with the settings pointed at it.
    std::unique_ptr<sim::ConsoleServer> StartConsole(const char *fault = "") {
        auto console = ::StartConsole(fault);
        UseConsole(*console);
        return console;
    }

    std::string Program(const std::vector<uint8_t> &bytes) const {
        const fs::path path = dir / "program.upl";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }

    int Load(const std::string &file, RecordingDisplay &display) {
        LoadSession session(file, Env(), TheLoaderEngine(), display,
                            [] { return std::array<uint8_t, 16>{}; });
        session.RunLoad();
        return session.Result;
    }

    static std::string FirstMessage(const RecordingDisplay &display) {
        return display.messages.empty() ? "" : display.messages[0].second;
    }
};

// Two records: 300 bytes (two blocks and a padded one) and 128 (one whole block).
const std::vector<uint8_t> FirstData = Pattern(300, 1);
const std::vector<uint8_t> SecondData = Pattern(128, 2);

std::vector<uint8_t> TwoRecords() {
    return Builder().Add(0x20000, FirstData).Add(0x30000, SecondData).Bytes();
}

TEST_F(CorvixSysLoadTest, TcpRoadStoresTheRecordsAndStartsThemOnASecondSession) {
    auto console = StartConsole();
    RecordingDisplay display(window);
    ASSERT_EQ(Load(Program(TwoRecords()), display), 0) << FirstMessage(display);

    std::vector<uint8_t> padded = FirstData;
    padded.resize(384, 0);
    EXPECT_EQ(console->Board().ReadMemory(0x20000, 384), padded);
    EXPECT_EQ(console->Board().ReadMemory(0x30000, 128), SecondData);
    EXPECT_EQ(console->Board().WritesStored(), 4u);
    ASSERT_TRUE(console->Board().WaitForEvents("app-go", 1, 5s));
    EXPECT_EQ(console->Board().AppGoCount(), 1u);
    EXPECT_EQ(console->Sessions(), 2u);
    EXPECT_EQ(display.stages, std::vector<std::string>{"Sending Program"});
    EXPECT_EQ(display.progressMax, 8u + 300 + 8 + 128);
    // Whole blocks count 128, a padded last piece the rest of its record, and a record without
    // one its 8 header bytes on their own: the bar ends full.
    EXPECT_EQ(display.progressStepped, 128u + 128 + 52 + 128 + 8);
    EXPECT_EQ(display.progressStepped, display.progressMax);
    EXPECT_TRUE(display.messages.empty());
    EXPECT_TRUE(engineMessages.empty());
    EXPECT_EQ(display.finished, 1);
}

struct ConsoleFailure {
    const char *name;
    const char *fault;
    const char *password; // nullptr: the right one
    int32_t code;
};

class CorvixSysFailureTest : public CorvixSysLoadTest,
                             public ::testing::WithParamInterface<ConsoleFailure> {};

TEST_P(CorvixSysFailureTest, EndsWithItsMessageAndStoresNothing) {
    const ConsoleFailure &c = GetParam();
    auto console = StartConsole(c.fault);
    if (c.password != nullptr) SetField(Env().Comm.CorvixSysPassword, c.password);
    ProcessLoaderEngine().SetConsoleWait(300); // the silent console's minute, shortened
    Env().Comm.EthernetResponseTimeout = 1000; // the unanswered probe's wait
    RecordingDisplay display(window);
    EXPECT_EQ(Load(Program(TwoRecords()), display), c.code);
    ASSERT_EQ(display.messages.size(), 1u);
    EXPECT_EQ(display.messages[0].second, ErrorMessage(c.code));
    EXPECT_EQ(console->Board().WritesStored(), 0u);
    EXPECT_EQ(console->Board().AppGoCount(), 0u);
    EXPECT_EQ(display.finished, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CorvixSysFailureTest,
    ::testing::Values(
        ConsoleFailure{"BadPassword", "", "wrong", LoaderErrorConsoleLoginRefused},
        ConsoleFailure{"GreetingOneOff", "greeting-off", nullptr, LoaderErrorConsoleGreeting},
        ConsoleFailure{"Silence", "silent", nullptr, LoaderErrorConsoleLogin},
        ConsoleFailure{"NothingListening", "refuse", nullptr, LoaderErrorConsoleRefused},
        ConsoleFailure{"NoOperatingSystem", "no-os", nullptr, LoaderErrorCorvixSysAbsent}),
    [](const ::testing::TestParamInfo<ConsoleFailure> &param) {
        return std::string(param.param.name);
    });

TEST_F(CorvixSysLoadTest, CancelInTheConnectWaitIsAQuietCancel) {
    auto console = StartConsole();
    const platform::HWND cancelWindow = platform::CreateWindow(CancelWindowProc);
    // Posted before the load, handled by the first wait of the load: the console connect's.
    platform::PostMessage(cancelWindow, CancelClick, 0, 0);
    RecordingDisplay display(cancelWindow);
    EXPECT_EQ(Load(Program(TwoRecords()), display), LoaderErrorCancelled);
    platform::DestroyWindow(cancelWindow);
    EXPECT_TRUE(display.messages.empty());
    EXPECT_TRUE(engineMessages.empty());
    EXPECT_EQ(console->Board().WritesStored(), 0u);
    // No elapsed time after a cancel: the status says the load was cancelled.
    EXPECT_EQ(display.panel[0], ErrorMessage(LoaderErrorCancelled));
}

TEST_F(CorvixSysLoadTest, ConsoleClosingMidTransferEndsAtOnceWithTheReadersError) {
    auto console = StartConsole("close:3");
    // Replies that never come would take this long each; the closed console must not.
    Env().Comm.EthernetResponseTimeout = 60000;
    Env().Comm.EthernetRetryCount = 2;
    RecordingDisplay display(window);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Load(Program(TwoRecords()), display), LoaderErrorCommunication);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
    EXPECT_EQ(FirstMessage(display), ErrorMessage(LoaderErrorCommunication));
    EXPECT_EQ(console->Board().WritesStored(), 2u);
    EXPECT_EQ(console->Board().AppGoCount(), 0u);
}

TEST_F(CorvixSysLoadTest, MissingAndTruncatedProgramsFailBeforeTheBoardIsReached) {
    auto console = StartConsole();
    RecordingDisplay missing(window);
    EXPECT_EQ(Load((dir / "gone.upl").string(), missing), LoaderErrorProgramOpen);
    std::vector<uint8_t> cut = TwoRecords();
    cut.resize(cut.size() - 10);
    RecordingDisplay truncated(window);
    EXPECT_EQ(Load(Program(cut), truncated), LoaderErrorUserProgramFormat);
    EXPECT_EQ(console->Sessions(), 0u);
}

// ---- over a serial line ----

TEST_F(CorvixSysLoadTest, SerialRoadWakesASleepingBoardAndRunsTheProgram) {
    sim::OsSerialOptions serial;
    serial.hasModemLines = false;
    serial.needsWake = true;
    serial.rate = static_cast<uint32_t>(Env().BiosBaudRate);
    sim::OsBoardPeer board(serial);
    sim::PtyFrontEnd front(board);
    ASSERT_TRUE(front.Start());
    platform::RegKey("Software\\Vexlon\\ZEP\\Ports").SetString("COM1", front.SlavePath());
    Env().Comm.UseTCP = 0;
    Env().Comm.ComPort = 1;
    Env().Comm.SerialResponseTimeout = 300;
    Env().Comm.SerialRetryCount = 1;

    RecordingDisplay display(window);
    ASSERT_EQ(Load(Program(TwoRecords()), display), 0) << FirstMessage(display);
    EXPECT_EQ(board.State(), sim::OsState::Running);
    EXPECT_EQ(board.Board().ReadMemory(0x30000, 128), SecondData);
    EXPECT_EQ(board.Board().WritesStored(), 4u);
    EXPECT_EQ(board.Board().RunRequests(), 1u);
    EXPECT_TRUE(display.messages.empty());
}

} // namespace
