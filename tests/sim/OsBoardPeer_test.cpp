// A board already running CorvixSys behind corvix-sim's serial front ends, reached through the
// product's own serial ports: the probe answered at once, writes stored, the line rate that
// matters, and the wake-up by reset pulse and end triplet when the system does not answer.
#include "BoardCommand.h"
#include "BoardSupport.h"
#include "OsBoardPeer.h"
#include "PtyFrontEnd.h"
#include "Rfc2217Server.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace boardtest;
using namespace std::chrono_literals;
using sim::OsBoardPeer;
using sim::OsSerialOptions;
using sim::OsState;

constexpr uint32_t OsRate = 115200;
constexpr uint8_t ProbeAck = sim::sys::AckBit | sim::sys::Probe;

// A probe at the system's rate; true when it was acknowledged.
bool ProbeAnswered(platform::SerialPort &port, std::chrono::milliseconds timeout = 2s) {
    EXPECT_TRUE(Configure(port, OsRate, false));
    const auto reply = Ask(port, sim::sys::Probe, {}, timeout);
    return reply.size() == 1 && reply[0].subtype == ProbeAck;
}

// The restart a host makes: the end triplet as raw bytes at 2400 baud.
void SendEndTriplet(platform::SerialPort &port) {
    ASSERT_TRUE(Configure(port, 2400, false));
    ASSERT_TRUE(Write(port, {0x80, 0x24, 0x80}));
}

TEST(OsBoardOverPty, AnswersTheProbeAtOnceAndStoresWhatIsWritten) {
    OsBoardPeer board({false, false, OsRate});
    sim::PtyFrontEnd frontEnd(board);
    ASSERT_TRUE(frontEnd.Start());
    auto port = OpenPort(frontEnd.SlavePath());
    ASSERT_NE(port, nullptr);

    EXPECT_TRUE(ProbeAnswered(*port));
    Bytes data(128);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(0x7C + i % 4); // 7C 7D 7E 7F: both stuffed bytes, many times
    const auto write = Ask(*port, sim::sys::Write, WritePayload(0x00012000, data));
    ASSERT_EQ(write.size(), 1u);
    EXPECT_EQ(write[0].subtype, sim::sys::AckBit | sim::sys::Write);
    EXPECT_EQ(board.Board().ReadMemory(0x00012000, data.size()), data);
    const auto run = Ask(*port, sim::sys::RunProgram, {});
    ASSERT_EQ(run.size(), 1u);
    EXPECT_EQ(run[0].subtype, sim::sys::AckBit | sim::sys::RunProgram);
    EXPECT_EQ(board.Board().RunRequests(), 1u);
}

TEST(OsBoardOverPty, BytesAtAnotherRateAreNotUnderstood) {
    OsBoardPeer board({false, false, OsRate});
    sim::PtyFrontEnd frontEnd(board);
    ASSERT_TRUE(frontEnd.Start());
    auto port = OpenPort(frontEnd.SlavePath());
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(Configure(*port, 57600, false));
    EXPECT_TRUE(Ask(*port, sim::sys::Probe, {}, 300ms).empty());
    EXPECT_GE(board.Board().CountEvents("garbled-input"), 1u);
    EXPECT_EQ(board.Board().ProbesAnswered(), 0u);
}

TEST(OsBoardOverPty, NeedingWakeItAnswersOnlyAfterTheEndTriplet) {
    OsBoardPeer board({false, true, OsRate});
    sim::PtyFrontEnd frontEnd(board);
    ASSERT_TRUE(frontEnd.Start());
    auto port = OpenPort(frontEnd.SlavePath());
    ASSERT_NE(port, nullptr);

    EXPECT_FALSE(ProbeAnswered(*port, 300ms));
    // Without a DTR line the triplet alone restarts the system.
    SendEndTriplet(*port);
    ASSERT_TRUE(board.WaitForState(OsState::Running, 2s));
    EXPECT_TRUE(ProbeAnswered(*port));
}

TEST(OsBoardOverRfc2217, NeedingWakeItTakesTheResetPulseAndThenTheEndTriplet) {
    OsBoardPeer board({true, true, OsRate});
    sim::Rfc2217Server server(board, {0, false, true});
    ASSERT_TRUE(server.Start());
    auto port = OpenPort(server.Url());
    ASSERT_NE(port, nullptr);

    EXPECT_FALSE(ProbeAnswered(*port, 300ms));
    // Where a DTR line can reset the board, the triplet without the pulse does nothing.
    SendEndTriplet(*port);
    EXPECT_FALSE(ProbeAnswered(*port, 300ms));
    EXPECT_EQ(board.State(), OsState::Asleep);

    ASSERT_TRUE(Configure(*port, 2400, true));
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(Configure(*port, 2400, false));
    ASSERT_TRUE(board.WaitForState(OsState::Bootstrap, 2s));
    SendEndTriplet(*port);
    ASSERT_TRUE(board.WaitForState(OsState::Running, 2s));
    EXPECT_TRUE(ProbeAnswered(*port));
}

TEST(OsBoardOverRfc2217, AResetPulseStopsARunningSystemUntilTheEndTriplet) {
    OsBoardPeer board({true, false, OsRate});
    sim::Rfc2217Server server(board, {0, false, true});
    ASSERT_TRUE(server.Start());
    auto port = OpenPort(server.Url());
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(ProbeAnswered(*port));

    ASSERT_TRUE(Configure(*port, OsRate, true));
    ASSERT_TRUE(Configure(*port, OsRate, false));
    ASSERT_TRUE(board.WaitForState(OsState::Bootstrap, 2s));
    EXPECT_FALSE(ProbeAnswered(*port, 300ms));
    SendEndTriplet(*port);
    ASSERT_TRUE(board.WaitForState(OsState::Running, 2s));
    EXPECT_TRUE(ProbeAnswered(*port));
}

// ---- the command's options ----

struct OsArguments {
    std::vector<std::string> options;
    bool accepted;
};

class BoardOsArguments : public testing::TestWithParam<OsArguments> {};

TEST_P(BoardOsArguments, AreCheckedTogether) {
    std::string error;
    const auto arguments = sim::ParseBoardArguments(GetParam().options, &error);
    EXPECT_EQ(arguments.has_value(), GetParam().accepted) << error;
}

INSTANTIATE_TEST_SUITE_P(Board, BoardOsArguments,
                         testing::Values(OsArguments{{"--os"}, true},
                                         OsArguments{{"--os", "--pty", "--os-needs-wake",
                                                      "--memory-out", "m.bin"},
                                                     true},
                                         OsArguments{{"--os", "--os-rate", "57600"}, true},
                                         OsArguments{{"--os", "--os-rate", "0"}, false},
                                         OsArguments{{"--os-needs-wake"}, false},
                                         OsArguments{{"--memory-out", "m.bin"}, false},
                                         OsArguments{{"--os", "--flash-out", "f.bin"}, false},
                                         OsArguments{{"--os", "--fault", "silent"}, false}),
                         [](const testing::TestParamInfo<OsArguments> &param) {
                             // Stable names: ctest lists the cases at build time and runs them by
                             // name later.
                             return std::string(param.param.accepted ? "Accepted" : "Refused") +
                                    std::to_string(param.index);
                         });

TEST(BoardOsArguments, CarryTheWakeAndTheModemLinesOfTheFrontEnd) {
    const auto pty = sim::ParseBoardArguments({"--os", "--pty", "--os-needs-wake"}, nullptr);
    ASSERT_TRUE(pty);
    EXPECT_TRUE(pty->os);
    EXPECT_TRUE(pty->osSerial.needsWake);
    EXPECT_FALSE(pty->osSerial.hasModemLines);
    const auto rfc2217 = sim::ParseBoardArguments({"--os", "--os-rate", "230400"}, nullptr);
    ASSERT_TRUE(rfc2217);
    EXPECT_TRUE(rfc2217->osSerial.hasModemLines);
    EXPECT_EQ(rfc2217->osSerial.rate, 230400u);
}

} // namespace
