// The communication log file: what each switch lets through, whole files for the fixed formats,
// and one hook's output never broken by another thread's.
#include "CommTestSupport.h"
#include "support/CommLogFile.h"

#include "comm/PacketCodec.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>

using namespace commtest;
using namespace commlog;

namespace {

std::vector<uint8_t> Counting(size_t count, uint8_t first = 0) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(first + i);
    return bytes;
}

void LogAs(uint8_t mode, const std::vector<uint8_t> &bytes) {
    const ScopedLogCaller caller({mode, true});
    LogData(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

void CallEveryHook() {
    platform::SerialSettings settings;
    LogTimeStamp();
    LogSendHeading();
    LogReceiveHeading();
    LogAs(ConnMode::Packet, packet::MakeFrame(packet::TypeSys, 1, nullptr, 0));
    LogAs(ConnMode::Raw, Counting(4));
    LogPortEvent(&settings, sizeof settings, 1, 1);
    LogPortClosed();
}

TEST(CommLog, LoggingOffCreatesNoFileAndWritesNothing) {
    CommLogFile log(0, 1, 1, 1, 1);
    OpenLog();
    CallEveryHook();
    CloseLog();
    EXPECT_FALSE(log.Exists());
}

TEST(CommLog, SwitchedOffAfterOpeningTheHooksStopWriting) {
    CommLogFile log(1, 1, 1, 1, 1);
    OpenLog();
    LogSwitches().EnableTcLogging = 0;
    CallEveryHook();
    EXPECT_EQ(log.Read(), "");
}

TEST(CommLog, AFileThatCannotBeCreatedLeavesTheLogClosed) {
    CommLogFile log(1, 1, 1, 1, 1);
    std::filesystem::create_directory(log.Path()); // the name is taken by a folder
    OpenLog();
    EXPECT_FALSE(IsLogOpen());
    CallEveryHook(); // nothing to write to, and nothing breaks
    EXPECT_TRUE(std::filesystem::is_directory(log.Path()));
}

TEST(CommLog, ANewLoadEmptiesTheLogAndALaterConnectAddsToIt) {
    CommLogFile log(1, 1, 1, 1, 1);
    OpenLog(LogStart::CreateAnew);
    LogSendHeading();
    CloseLog();
    OpenLog(LogStart::Append);
    LogReceiveHeading();
    CloseLog();
    EXPECT_EQ(log.Read(), " send \r\n receive\r\n");
    OpenLog(LogStart::CreateAnew);
    LogPortClosed();
    CloseLog();
    EXPECT_EQ(log.Read(), " port closed \r\n");
}

// What one data call writes, by mode and switches.
struct DataCase {
    const char *name;
    uint8_t mode;
    CommLogSwitches switches;
    std::string expected;
};

class DataHook : public ::testing::TestWithParam<DataCase> {};

TEST_P(DataHook, WritesWhatTheSwitchesAllow) {
    const DataCase &c = GetParam();
    CommLogFile log(1, c.switches.LogVerbose, c.switches.LogNonPacketWrites,
                    c.switches.LogNonPacketReads, c.switches.LogPacketData);
    OpenLog();
    const uint8_t payload[] = {0, 4, 0, 0, 0, 0x08, 0};
    const std::vector<uint8_t> frame =
        packet::MakeFrame(packet::TypeSys, 3, payload, sizeof payload);
    LogAs(c.mode, c.mode == ConnMode::Packet ? frame : Counting(20, 0xF0));
    EXPECT_EQ(log.Read(), c.expected);
}

// The frame above as it goes over the line.
const std::string WriteDump = "7e 02 00 00 03 07 00 23 0c 00 04 00 00 00 08 00 \r\n54 47 \r\n";
const std::string TwentyBytes =
    "f0 f1 f2 f3 f4 f5 f6 f7 f8 f9 fa fb fc fd fe ff \r\n00 01 02 03 \r\n";

const DataCase DataCases[] = {
    {"PacketDecodedAndDumped",
     ConnMode::Packet,
     {1, 1, 0, 0, 1},
     "SYS/WRITE\r\n4 bytes to 0x80000\r\n" + WriteDump},
    {"PacketDecodedOnly", ConnMode::Packet, {1, 1, 1, 1, 0}, "SYS/WRITE\r\n4 bytes to 0x80000\r\n"},
    {"PacketDumpedOnly", ConnMode::Packet, {1, 0, 0, 0, 1}, WriteDump},
    {"RawDumpedWithReadsOn", ConnMode::Raw, {1, 1, 0, 1, 0}, TwentyBytes},
    {"RawDumpedWithWritesOn", ConnMode::Raw, {1, 1, 1, 0, 0}, TwentyBytes},
    {"RawNeverDecoded", ConnMode::Raw, {1, 1, 0, 0, 1}, ""},
    {"NoConnectionNothing", ConnMode::NotStarted, {1, 1, 1, 1, 1}, ""},
};

INSTANTIATE_TEST_SUITE_P(Log, DataHook, ::testing::ValuesIn(DataCases),
                         [](const ::testing::TestParamInfo<DataCase> &param) {
                             return std::string(param.param.name);
                         });

// A serial connection in raw mode with raw writes off and raw reads on, through its whole life.
TEST(CommLog, RawSerialSessionLogsPortEventsAndReadsOnly) {
    CommLogFile log(1, 1, 0, 1, 1);
    OpenLog();
    InstallLogHooks();
    TestWindow window;
    Pty pty;
    {
        TDeviceSerialConnection conn(window.Handle(), pty.SlavePath());
        CommOptions options;
        options.ComPort = 3;
        options.BaudRate = 57600;
        options.DtrControl = platform::DTR_CONTROL_ENABLE;
        options.StopBits = 2;
        options.SerialResponseTimeout = 500;
        conn.SetSettings(options);
        conn.Open(ConnMode::Raw);
        const std::vector<uint8_t> written = {1, 2, 3};
        conn.WriteRaw(written.data(), 3);
        const std::vector<uint8_t> sent = Counting(20, 0xF0);
        WriteAll(pty.Master(), sent);
        std::vector<uint8_t> got(sent.size());
        conn.ReadRaw(got.data(), static_cast<uint32_t>(got.size()));
        EXPECT_EQ(got, sent);
        conn.Close();
    }
    TConnection::SetLogHooks(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, false, false);
    EXPECT_EQ(log.ReadWithoutTimes(), "\r\n(T) COM3 opened\r\n"
                                      "Baud rate: 57600\r\n"
                                      "DTR flow control type: 1\r\n"
                                      "RTS flow control: 0\r\n"
                                      "Stop Bits (0,1,2 = 1, 1.5, 2): 2\r\n"
                                      "\r\n(T) receive\r\n" +
                                          TwentyBytes + "\r\n(T) port closed \r\n");
}

TEST(CommLog, PortEventWithoutVerboseIsOneLine) {
    CommLogFile log(1, 0, 0, 0, 0);
    OpenLog();
    platform::SerialSettings settings;
    LogPortEvent(&settings, sizeof settings, 7, 0);
    LogPortEvent(&settings, 4, 8, 1); // a record shorter than ours is not read even when verbose
    EXPECT_EQ(log.Read(), " COM7 not opened\r\n COM8 opened\r\n");
}

// Two threads log at once, as the reader and the user-interface thread do: every hook's output
// stays one piece, so each dump comes out as its three lines together.
TEST(CommLog, HooksOfTwoThreadsNeverInterleaveInsideOneCall) {
    CommLogFile log(1, 0, 0, 1, 0);
    OpenLog();
    constexpr int Rounds = 400;
    auto logger = [](uint8_t fill, bool sending) {
        const std::vector<uint8_t> bytes(40, fill); // 16 + 16 + 8: three lines a call
        for (int i = 0; i < Rounds; ++i) {
            LogTimeStamp();
            sending ? LogSendHeading() : LogReceiveHeading();
            LogAs(ConnMode::Raw, bytes);
        }
    };
    std::thread reader(logger, 0xAA, false);
    logger(0x55, true);
    reader.join();
    CloseLog();

    std::istringstream lines(log.Read().value_or(""));
    std::string line, previous;
    int run = 0, dumps = 0;
    while (std::getline(lines, line)) {
        // Another thread's time stamp may come just before a dump: it has no line break of its
        // own at the end, so the dump's first line follows it on the same line.
        if (!line.empty() && line[0] == '(' && line.find(')') != std::string::npos)
            line.erase(0, line.find(')') + 1);
        const bool isDump = line.rfind("aa ", 0) == 0 || line.rfind("55 ", 0) == 0;
        if (!isDump) {
            EXPECT_EQ(run % 3, 0) << "a dump was broken up";
            run = 0;
            continue;
        }
        const std::string fill = line.substr(0, 3);
        const size_t values = run % 3 == 2 ? 8 : 16;
        std::string expectedLine;
        for (size_t i = 0; i < values; ++i) expectedLine += fill;
        EXPECT_EQ(line, expectedLine + "\r");
        if (run % 3 != 0) {
            EXPECT_EQ(fill, previous.substr(0, 3));
        }
        previous = line;
        if (++run % 3 == 0) ++dumps;
    }
    EXPECT_EQ(run % 3, 0);
    EXPECT_EQ(dumps, 2 * Rounds);
}

} // namespace
