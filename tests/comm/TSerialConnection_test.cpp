// The serial connection over a pseudo-terminal: the test holds the master side.
#include "CommTestSupport.h"

#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <thread>

#include <chrono>
#include <cstdlib>
#include <unistd.h>

using namespace commtest;
using namespace platform;

namespace {

template <class F> int32_t CodeOf(F &&call) {
    try {
        call();
    } catch (const xConnectionErr &error) {
        return error.Code();
    }
    return 0;
}

int64_t MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

CommOptions SerialOptions(int32_t comPort = 1) {
    CommOptions options;
    options.ComPort = comPort;
    options.BaudRate = 115200;
    options.DtrControl = DTR_CONTROL_ENABLE;
    options.RtsControl = RTS_CONTROL_ENABLE;
    options.SerialResponseTimeout = 200;
    options.SerialRetryCount = 3;
    return options;
}

// Waits until the slave side has count bytes queued (the pty hands them over asynchronously).
void WaitQueued(int master, const std::vector<uint8_t> &bytes) {
    WriteAll(master, bytes);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

class SerialConnection : public ::testing::Test {
protected:
    void SetUp() override { conn.SetSettings(SerialOptions()); }
    void TearDown() override { LogCapture::Uninstall(); }
    TestWindow window;
    Pty pty;
    TDeviceSerialConnection conn{window.Handle(), pty.SlavePath()};
};

} // namespace

TEST_F(SerialConnection, RawReadTakesTheQueuedBytesAndLogsThem) {
    conn.Open(ConnMode::Raw);
    LogCapture::Install(false, true);
    const std::vector<uint8_t> sent = {0x7E, 0x00, 0x55, 0xFF, 0x7D};
    WaitQueued(pty.Master(), sent);
    std::vector<uint8_t> got(sent.size());
    ASSERT_EQ(CodeOf([&] { conn.ReadRaw(got.data(), static_cast<uint32_t>(got.size())); }), 0);
    EXPECT_EQ(got, sent);
    EXPECT_EQ(LogCapture::Events(), (std::vector<std::string>{"time", "receive", "data 5"}));
    EXPECT_EQ(LogCapture::DataCalls().back(), sent);
}

TEST_F(SerialConnection, RawReadOnASilentLineFails2002AfterThreeChecks) {
    conn.Open(ConnMode::Raw);
    uint8_t byte = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(CodeOf([&] { conn.ReadRaw(&byte, 1); }), ConnCode::SerialReadFailed);
    const int64_t elapsed = MsSince(start);
    EXPECT_GE(elapsed, 15);
    EXPECT_LT(elapsed, 2000);
}

TEST_F(SerialConnection, RawWriteIsOneWritePerByteAndLoggedOnlyWhenAsked) {
    conn.Open(ConnMode::Raw);
    LogCapture::Install(true, false);
    const std::vector<uint8_t> bytes = {0x80, 0x24, 0x80, 0x01, 0x02, 0x03};
    const int before = conn.portWrites;
    conn.WriteRaw(bytes.data(), static_cast<uint32_t>(bytes.size()));
    EXPECT_EQ(conn.portWrites - before, 6);
    EXPECT_EQ(pty.Read(bytes.size(), 2000), bytes);
    EXPECT_EQ(LogCapture::Events(), (std::vector<std::string>{"time", "send", "data 6"}));

    // Reads are not logged with their flag off.
    WaitQueued(pty.Master(), {0x42});
    uint8_t got = 0;
    conn.ReadRaw(&got, 1);
    EXPECT_EQ(got, 0x42);
    EXPECT_EQ(LogCapture::Events().size(), 3u);
}

TEST_F(SerialConnection, RawOperationsOutsideRawModeFail4098) {
    conn.Open(ConnMode::Packet);
    uint8_t byte = 1;
    EXPECT_EQ(CodeOf([&] { conn.WriteRaw(&byte, 1); }), ConnCode::NotRawMode);
    EXPECT_EQ(CodeOf([&] { conn.ReadRaw(&byte, 1); }), ConnCode::NotRawMode);
    EXPECT_EQ(conn.portWrites, 0);
}

TEST_F(SerialConnection, PacketModeTwiceStartsOneReaderAndRawModeKeepsThePort) {
    // A sanitizer may start a helper thread of its own with the process's first thread; let it.
    std::thread([] {}).join();
    const int threadsBefore = ThreadCount();
    conn.Open(ConnMode::Packet);
    ASSERT_TRUE(conn.ReaderRunning());
    const int threadsWithReader = ThreadCount();
    EXPECT_EQ(threadsWithReader, threadsBefore + 1);
    conn.SetMode(ConnMode::Packet);
    EXPECT_EQ(ThreadCount(), threadsWithReader);

    conn.SetMode(ConnMode::Raw);
    EXPECT_FALSE(conn.ReaderRunning());
    EXPECT_EQ(conn.ReaderExitCode(), ConnCode::ReaderStopped);
    EXPECT_TRUE(conn.IsOpen());
    const uint8_t byte = 0x33;
    conn.WriteRaw(&byte, 1);
    EXPECT_EQ(pty.Read(1, 2000), std::vector<uint8_t>{0x33});

    conn.SetMode(ConnMode::Packet);
    EXPECT_TRUE(conn.ReaderRunning());
}

TEST_F(SerialConnection, PacketsTravelBothWaysIncludingRepliesLargerThanAChunk) {
    conn.Open(ConnMode::Packet);
    conn.RegisterHandler(0, 1, nullptr, nullptr, true, true);
    conn.RegisterHandler(0, 2, nullptr, nullptr, true, true);
    std::vector<uint8_t> big(20000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7);
    ScriptedPeer peer(pty.Master(), [&big](const packet::DecodedFrame &frame, int) {
        const uint8_t code = frame.subtype & packet::CodeMask;
        return Reply(0, static_cast<uint8_t>(packet::AckBit | code),
                     code == 2 ? big : std::vector<uint8_t>{});
    });
    EXPECT_EQ(CodeOf([&] { conn.Send(0, 1, nullptr, 0); }), 0);
    std::vector<uint8_t> reply(big.size());
    EXPECT_EQ(CodeOf([&] { conn.Send(0, 2, reply.data(), 0, reply.size()); }), 0);
    EXPECT_EQ(reply, big);
    EXPECT_EQ(peer.FramesSeen(), 2);
}

TEST_F(SerialConnection, CloseAndReopenStartsThePacketModeAfresh) {
    LogCapture::Install(false, false);
    conn.Open(ConnMode::Packet);
    conn.Close();
    EXPECT_FALSE(conn.IsOpen());
    EXPECT_FALSE(conn.ReaderRunning());
    EXPECT_EQ(LogCapture::Events().back(), "closed");

    conn.Open(ConnMode::Packet);
    EXPECT_TRUE(conn.IsOpen());
    ASSERT_TRUE(conn.ReaderRunning());
    conn.RegisterHandler(0, 1, nullptr, nullptr, true, true);
    ScriptedPeer peer(pty.Master(),
                      [](const packet::DecodedFrame &, int) { return Reply(0, 0x81); });
    EXPECT_EQ(CodeOf([&] { conn.Send(0, 1, nullptr, 0); }), 0);
}

TEST_F(SerialConnection, DelayPumpsMessagesAndACancelEndsIt) {
    PostMessage(window.Handle(), WM_USER + 60, 0, 0);
    auto start = std::chrono::steady_clock::now();
    conn.Delay(30);
    EXPECT_GE(MsSince(start), 30);
    EXPECT_EQ(window.MessagesSeen(WM_USER + 60), 1);

    // A cancel from another thread, with no message behind it, ends a long delay at once.
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        conn.Cancel();
    });
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(CodeOf([&] { conn.Delay(5000); }), ConnCode::Cancelled);
    canceller.join();
    EXPECT_LT(MsSince(start), 2500);
    // The request stays until the next session clears it: a later wait ends at once too.
    EXPECT_EQ(CodeOf([&] { conn.Delay(5000); }), ConnCode::Cancelled);
}

TEST_F(SerialConnection, ClockDeadlinesAreNeverZeroAndMoveForward) {
    const uint32_t deadline = conn.DeadlineMs(50);
    EXPECT_NE(deadline, 0u);
    const uint32_t now = conn.NowMs();
    EXPECT_GT(static_cast<int32_t>(deadline - now), 0);
    EXPECT_LE(static_cast<int32_t>(deadline - now), 50);
}

TEST(SerialPortMap, ComPortOpensTheMappedDeviceOrFails2000) {
    char path[] = "/tmp/tarnwick-comm-registry-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    ::unlink(path); // the registry writes its own file there
    ::setenv("TARNWICK_REGISTRY", path, 1);
    ReloadRegistry();
    Pty pty;
    RegKey ports("Software\\Vexlon\\ZEP\\Ports");
    ports.SetString("COM7", pty.SlavePath());
    ports.SetString("COM8", "/dev/tarnwick-no-such-device");

    TestWindow window;
    LogCapture::Install(false, false);
    {
        TSerialConnection conn(window.Handle());
        conn.SetSettings(SerialOptions(7));
        conn.Open(ConnMode::Raw);
        EXPECT_TRUE(conn.IsOpen());
        EXPECT_EQ(LogCapture::Events(),
                  (std::vector<std::string>{"time", "port COM7 opened baud 115200"}));
        const uint8_t byte = 0x5A;
        conn.WriteRaw(&byte, 1);
        EXPECT_EQ(pty.Read(1, 2000), std::vector<uint8_t>{0x5A});
    }
    {
        TSerialConnection conn(window.Handle());
        conn.SetSettings(SerialOptions(8));
        EXPECT_EQ(CodeOf([&] { conn.Open(ConnMode::Raw); }), ConnCode::SerialOpenFailed);
        EXPECT_FALSE(conn.IsOpen());
    }
    LogCapture::Uninstall();
    ::unlink(path);
    ::unlink((std::string(path) + ".lock").c_str());
    ::unsetenv("TARNWICK_REGISTRY");
    ReloadRegistry();
}
