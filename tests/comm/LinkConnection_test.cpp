// The CorvixLink connection against device stand-ins on 127.0.0.1: framing on the wire, the
// connect wait and its outcomes, the reader's ends, closing, and the challenge answer.
#include "CommTestSupport.h"
#include "LinkSupport.h"

#include "comm/DeviceAuthentication.h"
#include "comm/TCorvixLinkConnection.h"
#include "platform/Md5.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace platform;
using commtest::PumpUntil;
using commtest::TestWindow;
using linktest::DeviceFrame;
using linktest::LinkPeer;

namespace {

constexpr uint8_t Sys = 0, Dbg = 1;

std::unique_ptr<TCorvixLinkConnection> Connected(const TestWindow &window, uint16_t port) {
    auto link = std::make_unique<TCorvixLinkConnection>(window.Handle());
    link->SetSettings(linktest::OptionsFor(port));
    link->Connect(ConnMode::Packet);
    return link;
}

// How many WM_TIMER with this id reach the window while pumping for ms.
int TimersWithin(const TestWindow &window, UINT_PTR id, int ms) {
    PumpUntil([] { return false; }, ms);
    int count = 0;
    for (UINT_PTR seen : window.TimersSeen()) count += seen == id;
    return count;
}

int32_t CodeOf(const std::function<void()> &action) {
    try {
        action();
    } catch (const xConnectionErr &e) {
        return e.InternalCode;
    }
    return -1;
}

// ---- framing ----

TEST(LinkFraming, SysRequestGoesOutWithoutFlagOrStuffing) {
    TestWindow window;
    LinkPeer peer;
    auto link = Connected(window, peer.Port());
    link->SendPacket(Sys, 1, nullptr, 0);
    ASSERT_TRUE(peer.WaitBytes(10, 2000));
    EXPECT_EQ(peer.Wire(),
              (std::vector<uint8_t>{0x02, 0x00, 0x00, 0x01, 0x00, 0x00, 0x0F, 0x03, 0x36, 0x15}));
    link->Close();
}

TEST(LinkFraming, FlagAndEscapeBytesTravelUnchangedBothWays) {
    TestWindow window;
    const std::vector<uint8_t> payload{0x7E, 0x7D, 0x02, 0x7E};
    LinkPeer peer([&](const sim::Frame &f) {
        return DeviceFrame(f.type, uint8_t(0x80 | f.subtype), payload);
    });
    auto link = Connected(window, peer.Port());
    link->RegisterHandler(Dbg, 56, nullptr, nullptr, true, true);
    uint8_t buffer[8] = {0x7E, 0x7D};
    link->Send(Dbg, 56, buffer, 2, sizeof buffer);
    // Out: 10 + 2 bytes with the payload as it was; in: the reply's bytes as they were.
    const auto wire = peer.Wire();
    ASSERT_EQ(wire.size(), 12u);
    EXPECT_EQ(wire[8], 0x7E);
    EXPECT_EQ(wire[9], 0x7D);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 4), payload);
    link->Close();
}

TEST(LinkFraming, FrameAfterBrokenHeaderIsFoundAgainByItsLeadingByte) {
    TestWindow window;
    LinkPeer peer;
    auto link = Connected(window, peer.Port());
    link->RegisterHandler(Dbg, 56, nullptr, nullptr, true, true);
    ASSERT_TRUE(peer.WaitConnected(2000));
    // Eight bytes make a header that fails its check; the 0x02 after them starts the next frame
    // instead of being swallowed with the broken one.
    std::vector<uint8_t> bytes(8, 0xFF);
    const auto reply = DeviceFrame(Dbg, 0x80 | 56, {0x33});
    bytes.insert(bytes.end(), reply.begin(), reply.end());
    peer.Send(bytes);
    uint8_t buffer[1] = {0};
    link->SendAndWait(Dbg, 56, buffer, 0, true); // waits for the reply without sending
    EXPECT_TRUE(link->ReaderRunning());
    link->Close();
}

TEST(LinkFraming, RawOperationsRefusePacketModeAndDoNothingInRawMode) {
    TestWindow window;
    LinkPeer peer;
    auto link = Connected(window, peer.Port());
    uint8_t byte = 0x55;
    EXPECT_EQ(CodeOf([&] { link->WriteRaw(&byte, 1); }), ConnCode::NotRawMode);
    EXPECT_EQ(CodeOf([&] { link->ReadRaw(&byte, 1); }), ConnCode::NotRawMode);
    link->SetMode(ConnMode::Raw);
    EXPECT_EQ(CodeOf([&] { link->WriteRaw(&byte, 1); }), -1);
    EXPECT_EQ(byte, 0x55);
    link->Close();
    EXPECT_TRUE(peer.Wire().empty());
}

// ---- connecting ----

TEST(LinkConnect, DeviceThatNeverAnswersTimesOutWithoutLeavingTheTimer) {
    linktest::StalledListener stalled;
    ASSERT_TRUE(stalled.Ready());
    TestWindow window;
    TCorvixLinkConnection link(window.Handle());
    link.SetSettings(linktest::OptionsFor(stalled.Port()));
    link.SetConnectWait(300);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(CodeOf([&] { link.Connect(ConnMode::Packet); }), ConnCode::NoReply);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
    EXPECT_FALSE(link.IsOpen());
    EXPECT_FALSE(link.ReaderRunning());
    EXPECT_FALSE(KillTimer(window.Handle(), ConnectTimerId)); // nothing left to stop
    EXPECT_EQ(TimersWithin(window, ConnectTimerId, 500), 0);
}

TEST(LinkConnect, CancelFromAnotherThreadEndsTheWaitWithoutAnyMessage) {
    linktest::StalledListener stalled;
    ASSERT_TRUE(stalled.Ready());
    TestWindow window;
    TCorvixLinkConnection link(window.Handle());
    link.SetSettings(linktest::OptionsFor(stalled.Port()));
    link.SetConnectWait(5000);
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        link.Cancel(); // no message follows: the token itself wakes the wait
    });
    const auto start = std::chrono::steady_clock::now();
    const int32_t code = CodeOf([&] { link.Connect(ConnMode::Packet); });
    canceller.join();
    EXPECT_EQ(code, ConnCode::Cancelled);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
    EXPECT_TRUE(link.Cancelled()); // until the next session clears it
    EXPECT_FALSE(KillTimer(window.Handle(), ConnectTimerId));
}

TEST(LinkConnect, QuitDuringTheWaitReturnsWithoutReaderAndKeepsTheQuit) {
    linktest::StalledListener stalled;
    ASSERT_TRUE(stalled.Ready());
    TestWindow window;
    TCorvixLinkConnection link(window.Handle());
    link.SetSettings(linktest::OptionsFor(stalled.Port()));
    link.SetConnectWait(5000);
    PostQuitMessage(7);
    EXPECT_EQ(CodeOf([&] { link.Connect(ConnMode::Packet); }), -1);
    EXPECT_FALSE(link.ReaderRunning());
    EXPECT_FALSE(KillTimer(window.Handle(), ConnectTimerId));
    MSG msg;
    bool quitSeen = false;
    for (int i = 0; i < 100 && !quitSeen && PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE); ++i)
        quitSeen = msg.message == WM_QUIT;
    ASSERT_TRUE(quitSeen);
    EXPECT_EQ(msg.wParam, 7u);
}

TEST(LinkConnect, RefusedConnectionAndUnusableAddressFailWith3004) {
    TestWindow window;
    TCorvixLinkConnection refused(window.Handle());
    refused.SetSettings(linktest::OptionsFor(linktest::UnusedPort()));
    EXPECT_EQ(CodeOf([&] { refused.Connect(ConnMode::Packet); }), ConnCode::TcpConnectFailed);
    EXPECT_FALSE(refused.IsOpen());

    // A name is never looked up, so it never turns into some address nobody chose.
    TCorvixLinkConnection named(window.Handle());
    CommOptions options = linktest::OptionsFor(4000);
    SetField(options.CorvixLinkAddress, "localhost");
    named.SetSettings(options);
    EXPECT_EQ(CodeOf([&] { named.Connect(ConnMode::Packet); }), ConnCode::TcpConnectFailed);
    EXPECT_FALSE(KillTimer(window.Handle(), ConnectTimerId));
}

// ---- the reader's ends and closing ----

TEST(LinkReader, DeviceClosingEndsTheReaderWith3007AndLaterSendsFailWithIt) {
    TestWindow window;
    LinkPeer peer;
    auto link = Connected(window, peer.Port());
    ASSERT_TRUE(peer.WaitConnected(2000));
    peer.CloseConnection();
    ASSERT_TRUE(link->WaitReaderEnded(2000));
    EXPECT_EQ(link->ReaderExitCode(), ConnCode::PeerClosed);
    link->RegisterHandler(Sys, 1, nullptr, nullptr, false, false);
    // The reason the reader ended, not an internal fault of the connection.
    EXPECT_EQ(CodeOf([&] { link->Send(Sys, 1, nullptr, 0); }), ConnCode::PeerClosed);
    link->Close();
    EXPECT_FALSE(link->IsOpen());
}

TEST(LinkReader, ReceiveErrorIsReportedToTheWindowAndEndsTheReader) {
    TestWindow window;
    LinkPeer peer;
    auto link = Connected(window, peer.Port());
    ASSERT_TRUE(peer.WaitConnected(2000));
    peer.CloseConnection(true);
    EXPECT_TRUE(PumpUntil([&] { return window.MessagesSeen(UM_SOCKET_ERROR) == 1; }, 2000));
    ASSERT_TRUE(link->WaitReaderEnded(2000));
    EXPECT_EQ(link->ReaderExitCode(), ConnCode::ReaderStopped);
    link->Close();
}

int handlerCalls = 0;
void CountingHandler(const uint8_t *, uint16_t, void *) { ++handlerCalls; }

TEST(LinkReader, CloseReleasesAReaderBlockedInAMessageWithoutRunningItsHandler) {
    TestWindow window;
    LinkPeer peer;
    auto link = Connected(window, peer.Port());
    link->RegisterHandler(Dbg, 40, &CountingHandler, nullptr, false, false);
    ASSERT_TRUE(peer.WaitConnected(2000));
    handlerCalls = 0;
    peer.Send(DeviceFrame(Dbg, 40, {1, 2, 3}));
    // No pumping: the reader stays inside its synchronous message to this thread.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (TConnection::ReaderProgress() != 5 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(TConnection::ReaderProgress(), 5);
    link->Close();
    EXPECT_EQ(handlerCalls, 0);
    EXPECT_FALSE(link->ReaderRunning());
    EXPECT_EQ(GetWindowProc(window.Handle()), &TConnection::HookProc); // put back after the drain
    link.reset();
    EXPECT_EQ(GetWindowProc(window.Handle()), &TestWindow::Proc);
}

// ---- the device's challenge ----

struct ChallengeRun {
    std::vector<sim::Frame> frames;
    DeviceAuthOutcome outcome = DeviceAuthOutcome::NotSeen;
    int keyAsked = 0;
    bool marked = false;
};

ChallengeRun RunChallenge(const std::vector<uint8_t> &challenge, std::array<uint8_t, 16> key = {}) {
    TestWindow window;
    LinkPeer peer({}, DeviceFrame(Dbg, DbgChallenge, challenge));
    auto link = std::make_unique<TCorvixLinkConnection>(window.Handle());
    ChallengeRun run;
    DeviceAuthentication auth;
    auth.connection = link.get();
    auth.passphrase = [&] {
        ++run.keyAsked;
        return key;
    };
    auth.onAnswered = [&] { run.marked = true; };
    // Registered before the connect, as the engine does: the device speaks first, at once.
    link->RegisterHandler(Dbg, DbgChallenge, &DeviceAuthenticationHandler, &auth, true, false);
    link->SetSettings(linktest::OptionsFor(peer.Port()));
    link->Connect(ConnMode::Packet);
    link->SendAndWait(Dbg, DbgChallenge, nullptr, 0, true);
    peer.WaitFrames(1, auth.outcome == DeviceAuthOutcome::Refused ? 0 : 1000);
    PumpUntil([] { return false; }, 50); // anything else that would go out has gone
    run.frames = peer.Frames();
    run.outcome = auth.outcome;
    link->Close();
    return run;
}

TEST(LinkChallenge, NoPassphraseIsAnsweredWithSixteenZeroBytes) {
    const ChallengeRun run = RunChallenge({0});
    ASSERT_EQ(run.frames.size(), 1u);
    EXPECT_EQ(run.frames[0].type, Dbg);
    EXPECT_EQ(run.frames[0].subtype, DbgChallengeAnswer);
    EXPECT_EQ(run.frames[0].payload, std::vector<uint8_t>(16, 0));
    EXPECT_EQ(run.keyAsked, 0);
    EXPECT_TRUE(run.marked);
    EXPECT_EQ(run.outcome, DeviceAuthOutcome::Answered);
}

TEST(LinkChallenge, PassphraseChallengeIsAnsweredWithTheDigestOfChallengeAndKey) {
    std::vector<uint8_t> challenge{1};
    for (uint8_t i = 0; i < 16; ++i) challenge.push_back(uint8_t(0xA0 + i));
    std::array<uint8_t, 16> key{};
    for (uint8_t i = 0; i < 16; ++i) key[i] = uint8_t(i * 7);
    const ChallengeRun run = RunChallenge(challenge, key);
    std::vector<uint8_t> both(challenge.begin() + 1, challenge.end());
    both.insert(both.end(), key.begin(), key.end());
    const Md5Digest expected = Md5(both.data(), both.size());
    ASSERT_EQ(run.frames.size(), 1u);
    EXPECT_EQ(run.frames[0].payload, std::vector<uint8_t>(expected.begin(), expected.end()));
    EXPECT_EQ(run.keyAsked, 1);
}

TEST(LinkChallenge, UnknownOrShortChallengeIsRefusedWithoutAnswerOrKey) {
    for (const auto &challenge :
         {std::vector<uint8_t>{2, 1, 2, 3}, std::vector<uint8_t>{1, 9, 9}}) {
        const ChallengeRun run = RunChallenge(challenge);
        EXPECT_TRUE(run.frames.empty());
        EXPECT_EQ(run.keyAsked, 0);
        EXPECT_FALSE(run.marked);
        EXPECT_EQ(run.outcome, DeviceAuthOutcome::Refused);
    }
}

} // namespace
