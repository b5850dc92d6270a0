// The packet layer over a socket pair: sending, the reply wait, the parser and dispatch.
#include "CommTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace commtest;
using namespace platform;
using packet::DecodedFrame;

namespace {

template <class F> int32_t CodeOf(F &&call) {
    try {
        call();
    } catch (const xConnectionErr &error) {
        return error.Code();
    }
    return 0;
}

std::vector<uint8_t> Repeat(size_t count, uint8_t value) {
    return std::vector<uint8_t>(count, value);
}

int64_t MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

class PacketLayer : public ::testing::Test {
protected:
    void TearDown() override { LogCapture::Uninstall(); }
    TestWindow window;
};

// A peer that answers every request with an ACK carrying the given payload.
ScriptedPeer::Responder AckWith(std::vector<uint8_t> payload) {
    return [payload](const DecodedFrame &frame, int) {
        return Reply(frame.type,
                     static_cast<uint8_t>(packet::AckBit | (frame.subtype & packet::CodeMask)),
                     payload);
    };
}

} // namespace

TEST_F(PacketLayer, SendChecksReaderThenRegistrationThenLength) {
    TPipeConnection conn(window.Handle());
    conn.RegisterHandler(0, 3, nullptr, nullptr, false, false);
    EXPECT_EQ(CodeOf([&] { conn.Send(0, 3, nullptr, 0); }), ConnCode::ReaderNotRunning);

    conn.SetMode(ConnMode::Packet);
    ScriptedPeer peer(conn.PeerFd(), nullptr);
    EXPECT_EQ(CodeOf([&] { conn.Send(0, 4, nullptr, 0); }), ConnCode::UnregisteredEntry);
    EXPECT_EQ(CodeOf([&] { conn.Send(2, 3, nullptr, 0); }), ConnCode::UnregisteredEntry);

    auto tooLong = Repeat(16385, 0x55);
    EXPECT_EQ(CodeOf([&] { conn.Send(0, 3, tooLong.data(), 16385); }), ConnCode::PayloadTooLong);
    auto longest = Repeat(16384, 0x7E);
    EXPECT_EQ(CodeOf([&] { conn.Send(0, 3, longest.data(), 16384); }), 0);
    ASSERT_TRUE(peer.WaitFrames(1, 2000));
    // Only the accepted send reached the wire.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(peer.FramesSeen(), 1);
    EXPECT_TRUE(peer.Frames()[0].good);
    EXPECT_EQ(peer.Frames()[0].payload, longest);
}

TEST_F(PacketLayer, CopyReplyWithFlagAndEscapeBytesArrivesIntact) {
    TPipeConnection conn(window.Handle());
    conn.RegisterHandler(0, 2, nullptr, nullptr, true, true);
    conn.SetMode(ConnMode::Packet);
    const std::vector<uint8_t> answer = {0x7E, 0x7D, 0x00, 0x7E, 0x5E, 0x5D};
    ScriptedPeer peer(conn.PeerFd(), AckWith(answer));

    uint8_t buffer[16] = {0x7D, 0x7E, 0x01, 0x02};
    ASSERT_EQ(CodeOf([&] { conn.Send(0, 2, buffer, 4, sizeof buffer); }), 0);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + answer.size()), answer);
    ASSERT_EQ(peer.FramesSeen(), 1);
    EXPECT_EQ(peer.Frames()[0].payload, (std::vector<uint8_t>{0x7D, 0x7E, 0x01, 0x02}));
    // On the wire the only unescaped flag is the one that opens the frame.
    const auto wire = peer.WireBytes();
    EXPECT_EQ(std::count(wire.begin(), wire.end(), packet::Flag), 1);
    EXPECT_FALSE(conn.TakeReceiveError().present);
}

TEST_F(PacketLayer, ZeroLengthReplyCompletesTheWait) {
    TPipeConnection conn(window.Handle());
    conn.RegisterHandler(0, 1, nullptr, nullptr, true, true);
    conn.SetMode(ConnMode::Packet);
    ScriptedPeer peer(conn.PeerFd(), AckWith({}));
    uint8_t buffer[4] = {9, 9, 9, 9};
    EXPECT_EQ(CodeOf([&] { conn.Send(0, 1, buffer, 0, sizeof buffer); }), 0);
    EXPECT_EQ(peer.FramesSeen(), 1);
    EXPECT_EQ(buffer[0], 9); // nothing to copy
}

TEST_F(PacketLayer, FlagInsideAFrameAbandonsItAndStartsTheNext) {
    TPipeConnection conn(window.Handle());
    conn.RegisterHandler(0, 2, nullptr, nullptr, true, true);
    conn.SetMode(ConnMode::Packet);
    ScriptedPeer peer(conn.PeerFd(), [](const DecodedFrame &, int) {
        auto broken = Reply(0, 0x82, {1, 1, 1, 1, 1, 1});
        broken.resize(12); // header and part of the payload, then a new frame begins
        const auto good = Reply(0, 0x82, {2, 2});
        broken.insert(broken.end(), good.begin(), good.end());
        return broken;
    });
    uint8_t buffer[8] = {};
    ASSERT_EQ(CodeOf([&] { conn.Send(0, 2, buffer, 0, sizeof buffer); }), 0);
    EXPECT_EQ(buffer[0], 2);
    EXPECT_EQ(buffer[1], 2);
    EXPECT_EQ(buffer[2], 0);
    EXPECT_EQ(peer.FramesSeen(), 1); // answered at the first send
}

TEST_F(PacketLayer, WrongHeaderChecksumIsDroppedAndTheRequestSentAgain) {
    TPipeConnection conn(window.Handle(), 3, 300);
    conn.RegisterHandler(0, 2, nullptr, nullptr, true, true);
    conn.SetMode(ConnMode::Packet);
    ScriptedPeer peer(conn.PeerFd(), [](const DecodedFrame &, int index) {
        auto frame = Reply(0, 0x82, {index == 0 ? uint8_t{0xEE} : uint8_t{0x11}, 0x22});
        if (index == 0) frame[7] ^= 0x01; // header checksum, low byte
        return frame;
    });
    uint8_t buffer[2] = {};
    ASSERT_EQ(CodeOf([&] { conn.Send(0, 2, buffer, 0, sizeof buffer); }), 0);
    EXPECT_EQ(peer.FramesSeen(), 2);
    EXPECT_EQ(buffer[0], 0x11);
}

TEST_F(PacketLayer, WrongPacketChecksumOrStrangeTypeIsABadFrame) {
    TPipeConnection conn(window.Handle());
    conn.RegisterHandler(0, 2, nullptr, nullptr, false, true);
    conn.SetMode(ConnMode::Packet);
    ReceiveError error;
    auto awaitError = [&] {
        return PumpUntil([&] { return (error = conn.TakeReceiveError()).present; }, 2000);
    };

    auto corrupt = Reply(0, 0x82, {1, 2, 3});
    corrupt[9] ^= 0x40; // a payload byte changed after the checksum was made
    WriteAll(conn.PeerFd(), corrupt);
    ASSERT_TRUE(awaitError());
    EXPECT_EQ(error.kind, ReceiveErrorKind::BadFrame);
    EXPECT_EQ(error.type, 0u);
    EXPECT_EQ(error.subtype, 2u);

    // Checksums right, but a type the table has no row for: never looked up, the reader goes on.
    WriteAll(conn.PeerFd(), Reply(2, 0x02, {4, 5}));
    ASSERT_TRUE(awaitError());
    EXPECT_EQ(error.kind, ReceiveErrorKind::BadFrame);
    EXPECT_EQ(error.type, 2u);
    EXPECT_TRUE(conn.ReaderRunning());
}

TEST_F(PacketLayer, NakReplyFailsWith4122) {
    TPipeConnection conn(window.Handle());
    conn.RegisterHandler(0, 6, nullptr, nullptr, true, true);
    conn.SetMode(ConnMode::Packet);
    ScriptedPeer peer(conn.PeerFd(), [](const DecodedFrame &frame, int) {
        return Reply(0, static_cast<uint8_t>(packet::NakBit | frame.subtype), {});
    });
    uint8_t rate[4] = {0x00, 0xC2, 0x01, 0x00};
    EXPECT_EQ(CodeOf([&] { conn.Send(0, 6, rate, 4); }), ConnCode::NakReply);
    EXPECT_EQ(peer.FramesSeen(), 1);
    EXPECT_FALSE(conn.TakeReceiveError().present); // the wait took it
}

TEST_F(PacketLayer, RequestIsSentOncePlusRetryCountTimes) {
    for (int32_t retries : {0, 2}) {
        TPipeConnection conn(window.Handle(), retries, 50);
        conn.RegisterHandler(0, 1, nullptr, nullptr, true, true);
        conn.SetMode(ConnMode::Packet);
        ScriptedPeer peer(conn.PeerFd(), nullptr);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(CodeOf([&] { conn.Send(0, 1, nullptr, 0); }), ConnCode::NoReply);
        EXPECT_GE(MsSince(start), 45 * (retries + 1));
        std::this_thread::sleep_for(std::chrono::milliseconds(80));
        EXPECT_EQ(peer.FramesSeen(), retries + 1) << "retries " << retries;
        EXPECT_EQ(conn.WaitDepth(), 0);
        EXPECT_FALSE(KillTimer(window.Handle(), WaitTimerBase + 1)); // no timer left behind
    }
}

TEST_F(PacketLayer, PacketForUnregisteredEntryEndsTheReader) {
    TPipeConnection conn(window.Handle());
    conn.RegisterHandler(0, 1, nullptr, nullptr, true, true);
    conn.RegisterHandler(1, 62, nullptr, nullptr, false, false); // plain: no handler, no copy
    conn.SetMode(ConnMode::Packet);
    WriteAll(conn.PeerFd(), Reply(0, 7, {1}));
    ASSERT_TRUE(conn.WaitReaderEnded(2000));
    EXPECT_EQ(conn.ReaderExitCode(), ConnCode::UnregisteredEntry);
    const ReceiveError error = conn.TakeReceiveError();
    EXPECT_TRUE(error.present);
    EXPECT_EQ(error.kind, ReceiveErrorKind::Unregistered);
    EXPECT_EQ(error.subtype, 7u);
    // Later sends fail with the reason the reader ended.
    EXPECT_EQ(CodeOf([&] { conn.Send(0, 1, nullptr, 0); }), ConnCode::UnregisteredEntry);

    // A plain entry has nobody to take its packet either.
    TPipeConnection second(window.Handle());
    second.RegisterHandler(1, 62, nullptr, nullptr, false, false);
    second.SetMode(ConnMode::Packet);
    WriteAll(second.PeerFd(), Reply(1, 62, {}));
    ASSERT_TRUE(second.WaitReaderEnded(2000));
    EXPECT_EQ(second.ReaderExitCode(), ConnCode::UnregisteredEntry);
}

namespace {
struct HandlerLog {
    int calls = 0;
    std::vector<uint8_t> payload;
};
void ThrowingHandler(const uint8_t *payload, uint16_t length, void *context) {
    auto *log = static_cast<HandlerLog *>(context);
    ++log->calls;
    log->payload.assign(payload, payload + length);
    throw std::runtime_error("handler failed");
}
} // namespace

TEST_F(PacketLayer, HandlerThatThrowsStillCountsAsArrived) {
    TPipeConnection conn(window.Handle());
    HandlerLog log;
    conn.RegisterHandler(1, 5, &ThrowingHandler, &log, true, false);
    conn.SetMode(ConnMode::Packet);
    ScriptedPeer peer(conn.PeerFd(), AckWith({0xA5, 0x7E}));
    EXPECT_EQ(CodeOf([&] { conn.Send(1, 5, nullptr, 0); }), 0);
    EXPECT_EQ(log.calls, 1);
    EXPECT_EQ(log.payload, (std::vector<uint8_t>{0xA5, 0x7E}));
    EXPECT_EQ(peer.FramesSeen(), 1);
    // The hook kept working: a second exchange goes the same way.
    EXPECT_EQ(CodeOf([&] { conn.Send(1, 5, nullptr, 0); }), 0);
    EXPECT_EQ(log.calls, 2);
}

TEST_F(PacketLayer, WaitForAnUnsolicitedPacketSendsNothing) {
    TPipeConnection conn(window.Handle());
    HandlerLog log;
    conn.RegisterHandler(
        1, 63,
        [](const uint8_t *, uint16_t, void *context) {
            ++static_cast<HandlerLog *>(context)->calls;
        },
        &log, true, false);
    conn.SetMode(ConnMode::Packet);
    ScriptedPeer peer(conn.PeerFd(), nullptr);
    WriteAll(conn.PeerFd(), Reply(1, 63, {0}));
    EXPECT_EQ(CodeOf([&] { conn.SendAndWait(1, 63, nullptr, 0, true); }), 0);
    EXPECT_EQ(log.calls, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(peer.FramesSeen(), 0);
}

namespace {
struct NestedProbe {
    TPipeConnection *conn = nullptr;
    int depthOutside = 0;
    int32_t innerCode = -1;
};
void StartInnerWait(const uint8_t *, uint16_t, void *context) {
    auto *probe = static_cast<NestedProbe *>(context);
    probe->depthOutside = probe->conn->WaitDepth(); // the outer wait is still running
    try {
        probe->conn->SendAndWait(0, 11, nullptr, 0, false);
        probe->innerCode = 0;
    } catch (const xConnectionErr &error) {
        probe->innerCode = error.Code();
    }
}
} // namespace

TEST_F(PacketLayer, NestedWaitsUseTheirOwnTimers) {
    TPipeConnection conn(window.Handle(), 2, 60);
    NestedProbe probe{&conn};
    conn.RegisterHandler(0, 9, nullptr, nullptr, true, true);
    conn.RegisterHandler(0, 11, nullptr, nullptr, true, true);
    conn.RegisterHandler(1, 20, &StartInnerWait, &probe, false, false);
    conn.SetMode(ConnMode::Packet);
    // The outer request is answered by a packet whose handler waits (in vain) for another
    // reply, and then by its own reply, which the reader can deliver once the handler is done.
    ScriptedPeer peer(conn.PeerFd(), [](const DecodedFrame &frame, int) {
        if ((frame.subtype & packet::CodeMask) != 9) return std::vector<uint8_t>{};
        auto bytes = Reply(1, 20, {});
        const auto reply = Reply(0, 0x89, {7});
        bytes.insert(bytes.end(), reply.begin(), reply.end());
        return bytes;
    });
    uint8_t buffer[1] = {};
    EXPECT_EQ(CodeOf([&] { conn.Send(0, 9, buffer, 0, sizeof buffer); }), 0);
    EXPECT_EQ(buffer[0], 7);
    EXPECT_EQ(probe.innerCode, ConnCode::NoReply);
    EXPECT_EQ(probe.depthOutside, 1);
    // The inner loop passed the outer wait's timer on untouched and stopped only its own.
    const auto timers = window.TimersSeen();
    EXPECT_NE(std::find(timers.begin(), timers.end(), WaitTimerBase + 1), timers.end());
    EXPECT_EQ(std::find(timers.begin(), timers.end(), WaitTimerBase + 2), timers.end());
    EXPECT_FALSE(KillTimer(window.Handle(), WaitTimerBase + 1));
    EXPECT_FALSE(KillTimer(window.Handle(), WaitTimerBase + 2));
    EXPECT_EQ(conn.WaitDepth(), 0);
}

TEST_F(PacketLayer, ReplyNeverOverrunsTheRequestersBuffer) {
    TPipeConnection conn(window.Handle());
    conn.RegisterHandler(0, 2, nullptr, nullptr, true, true);
    conn.SetMode(ConnMode::Packet);
    ScriptedPeer peer(conn.PeerFd(), AckWith(Repeat(64, 0xAB)));

    std::vector<uint8_t> guarded(8, 0x11);
    ASSERT_EQ(CodeOf([&] { conn.Send(0, 2, guarded.data(), 2, 4); }), 0);
    EXPECT_EQ(guarded, (std::vector<uint8_t>{0xAB, 0xAB, 0xAB, 0xAB, 0x11, 0x11, 0x11, 0x11}));

    // Without a capacity the request's own length is the limit (exact-size heap block).
    auto exact = std::make_unique<uint8_t[]>(3);
    ASSERT_EQ(CodeOf([&] { conn.Send(0, 2, exact.get(), 3); }), 0);
    EXPECT_EQ(exact[2], 0xAB);
}

TEST_F(PacketLayer, QuitDuringAWaitFails4125AndIsPostedAgain) {
    TPipeConnection conn(window.Handle(), 3, 500);
    conn.RegisterHandler(0, 1, nullptr, nullptr, true, true);
    conn.SetMode(ConnMode::Packet);
    ScriptedPeer peer(conn.PeerFd(), nullptr);
    PostQuitMessage(3);
    EXPECT_EQ(CodeOf([&] { conn.Send(0, 1, nullptr, 0); }), ConnCode::QuitDuringWait);
    MSG msg;
    ASSERT_TRUE(PeekMessage(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 3u);
    EXPECT_EQ(conn.WaitDepth(), 0);
    EXPECT_FALSE(KillTimer(window.Handle(), WaitTimerBase + 1));
}

TEST_F(PacketLayer, CancelDuringAWaitFails4124AndStaysSet) {
    TPipeConnection conn(window.Handle(), 3, 500);
    conn.RegisterHandler(0, 1, nullptr, nullptr, true, true);
    conn.RegisterHandler(
        1, 30,
        [](const uint8_t *, uint16_t, void *context) {
            static_cast<TConnection *>(context)->Cancel();
        },
        &conn, false, false);
    conn.SetMode(ConnMode::Packet);
    ScriptedPeer peer(conn.PeerFd(), [](const DecodedFrame &, int) { return Reply(1, 30, {}); });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(CodeOf([&] { conn.Send(0, 1, nullptr, 0); }), ConnCode::Cancelled);
    EXPECT_LT(MsSince(start), 500);
    EXPECT_TRUE(conn.Cancelled());
}

TEST_F(PacketLayer, EndOfSessionDuringAWaitReturnsWithoutFailure) {
    TPipeConnection conn(window.Handle(), 3, 500);
    conn.RegisterHandler(0, 1, nullptr, nullptr, true, true);
    conn.SetMode(ConnMode::Packet);
    ScriptedPeer peer(conn.PeerFd(), nullptr);
    PostMessage(window.Handle(), WM_QUERYENDSESSION, 0, 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(CodeOf([&] { conn.Send(0, 1, nullptr, 0); }), 0);
    EXPECT_LT(MsSince(start), 500);
    EXPECT_TRUE(conn.IsClosing());
    EXPECT_EQ(window.MessagesSeen(WM_QUERYENDSESSION), 1); // passed on to the window
}

TEST_F(PacketLayer, PacketRawPacketKeepsTheFirstSavedProcedure) {
    {
        TPipeConnection conn(window.Handle());
        conn.SetMode(ConnMode::Packet);
        EXPECT_EQ(GetWindowProc(window.Handle()), &TConnection::HookProc);
        conn.SetMode(ConnMode::Raw);
        conn.SetMode(ConnMode::Packet);
        ASSERT_TRUE(conn.ReaderRunning());
        // An ordinary message still reaches the window's own procedure (were the saved procedure
        // the hook itself, it would never arrive).
        PostMessage(window.Handle(), WM_USER + 50, 0, 0);
        EXPECT_TRUE(PumpUntil([&] { return window.MessagesSeen(WM_USER + 50) == 1; }, 1000));
    }
    EXPECT_EQ(GetWindowProc(window.Handle()), &TestWindow::Proc);
}

// The reader logs what it receives while the user-interface thread sends: every entry still
// reads time, heading, bytes, with nothing of the other thread's in between.
TEST_F(PacketLayer, LogEntriesStayWholeWhileTheReaderReceives) {
    LogCapture::Install(false, false);
    LogCapture::SlowSendHeading(true);
    TPipeConnection conn(window.Handle());
    conn.RegisterHandler(0, 3, nullptr, nullptr, false, false);
    int replies = 0;
    conn.RegisterHandler(
        0, 2, [](const uint8_t *, uint16_t, void *context) { ++*static_cast<int *>(context); },
        &replies, false, false);
    conn.SetMode(ConnMode::Packet);
    constexpr int Count = 60;
    std::vector<uint8_t> burst;
    for (int i = 0; i < Count; ++i) {
        const auto reply = Reply(0, 0x82, {static_cast<uint8_t>(i)});
        burst.insert(burst.end(), reply.begin(), reply.end());
    }
    WriteAll(conn.PeerFd(), burst);
    for (int i = 0; i < Count; ++i) conn.Send(0, 3, nullptr, 0);
    ASSERT_TRUE(PumpUntil([&] { return replies == Count; }, 5000));

    const auto events = LogCapture::Events();
    ASSERT_EQ(events.size(), size_t{2 * Count * 3});
    for (size_t i = 0; i < events.size(); i += 3) {
        EXPECT_EQ(events[i], "time") << "entry at " << i;
        EXPECT_TRUE(events[i + 1] == "send" || events[i + 1] == "receive") << "entry at " << i;
        EXPECT_EQ(events[i + 2].rfind("data ", 0), 0u) << "entry at " << i;
    }
}

TEST_F(PacketLayer, FramesGoThroughTheLogHooks) {
    LogCapture::Install(false, false);
    TPipeConnection conn(window.Handle());
    conn.RegisterHandler(0, 3, nullptr, nullptr, false, false);
    conn.RegisterHandler(0, 2, nullptr, nullptr, false, true);
    conn.SetMode(ConnMode::Packet);
    ScriptedPeer peer(conn.PeerFd(), nullptr);
    uint8_t data[2] = {0x7E, 0x01};
    conn.Send(0, 3, data, 2);
    const auto sent = packet::MakeFrame(0, 3, data, 2);
    const std::string sentData = "data " + std::to_string(sent.size());
    EXPECT_EQ(LogCapture::Events(), (std::vector<std::string>{"time", "send", sentData}));
    EXPECT_EQ(LogCapture::DataCalls().back(), sent);

    const auto good = Reply(0, 0x82, {0x7D});
    auto bad = Reply(0, 0x82, {6});
    bad[9] ^= 0x40;
    WriteAll(conn.PeerFd(), good);
    WriteAll(conn.PeerFd(), bad);
    ASSERT_TRUE(PumpUntil([] { return LogCapture::Events().size() >= 8; }, 2000));
    EXPECT_EQ(LogCapture::Events(),
              (std::vector<std::string>{"time", "send", sentData, "time", "receive",
                                        "data " + std::to_string(good.size()), "time",
                                        "data " + std::to_string(bad.size())}));
    EXPECT_EQ(LogCapture::DataCalls()[1], good); // the raw copy, stuffing included
}
