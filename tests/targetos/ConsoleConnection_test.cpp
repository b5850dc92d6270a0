// The CorvixSys console connection against the simulated console on 127.0.0.1: the login and
// its failures, the hand-over to the packet machinery, the second session that starts the
// program, texts that cannot fit, and the waits' ends (cancel, silence, a console that goes).
#include "TargetOsSupport.h"

#include "comm/TConnection.h"
#include "platform/Wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <thread>

namespace {

using namespace std::chrono_literals;
using ostest::ConnectionCodeOf;
using ostest::ConsoleOptionsFor;
using ostest::InspectableConsole;

constexpr uint8_t Sys = 0;
constexpr uint8_t Probe = 11;

// ---- a good login ----

TEST(ConsoleConnect, HandsOverABlockingSocketThatResetsOnCloseAndHooksTheWindow) {
    auto console = StartConsole();
    ActionWindow window;
    InspectableConsole connection(window.Handle());
    connection.SetSettings(ConsoleOptionsFor(console->Port()));
    connection.Connect(ConnMode::Packet);

    const int fd = connection.SocketHandle();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    linger lingering{};
    socklen_t size = sizeof lingering;
    ASSERT_EQ(::getsockopt(fd, SOL_SOCKET, SO_LINGER, &lingering, &size), 0);
    EXPECT_NE(lingering.l_onoff, 0);
    EXPECT_EQ(lingering.l_linger, 0);
    EXPECT_EQ(platform::GetWindowProc(window.Handle()), &TConnection::HookProc);
    EXPECT_TRUE(connection.ReaderRunning());

    // Packets now travel in the serial framing through the console's passthrough.
    connection.RegisterHandler(Sys, Probe, nullptr, nullptr, true, true);
    uint8_t reply[8] = {};
    EXPECT_EQ(ConnectionCodeOf([&] { connection.Send(Sys, Probe, reply, 0, sizeof reply); }), 0);
    EXPECT_EQ(console->Board().ProbesAnswered(), 1u);
    connection.Close();
    EXPECT_TRUE(console->WaitForSessionsEnded(1, 5s));
}

TEST(ConsoleRunProgram, SecondSessionStartsTheProgramAndLogsOut) {
    auto console = StartConsole();
    ActionWindow window;
    {
        TCorvixSysConnection transfer(window.Handle());
        transfer.SetSettings(ConsoleOptionsFor(console->Port()));
        transfer.Connect(ConnMode::Packet);
        transfer.Close();
    }
    TCorvixSysConnection start(window.Handle());
    start.SetSettings(ConsoleOptionsFor(console->Port()));
    EXPECT_EQ(ConnectionCodeOf([&] { start.RunProgram(); }), 0);
    EXPECT_TRUE(console->Board().WaitForEvents("app-go", 1, 5s));
    EXPECT_EQ(console->Board().AppGoCount(), 1u);
    EXPECT_TRUE(console->WaitForSessionsEnded(2, 5s)); // "logout" ended the second session
    // Nothing of the start reached the packet side.
    EXPECT_EQ(console->Board().RunRequests(), 0u);
}

// ---- login failures ----

struct LoginCase {
    const char *name;
    const char *fault;
    std::function<void(CommOptions &)> configure;
    int32_t code;
};

class ConsoleLoginFailure : public ::testing::TestWithParam<LoginCase> {};

TEST_P(ConsoleLoginFailure, EndsWithItsCode) {
    const LoginCase &c = GetParam();
    auto console = StartConsole(c.fault);
    ActionWindow window;
    TCorvixSysConnection connection(window.Handle());
    CommOptions options = ConsoleOptionsFor(console->Port());
    if (c.configure) c.configure(options);
    connection.SetSettings(options);
    connection.SetConnectWait(300); // a silent console gives up after this, not after a minute
    EXPECT_EQ(ConnectionCodeOf([&] { connection.Connect(ConnMode::Packet); }), c.code);
    EXPECT_FALSE(connection.ReaderRunning());
    EXPECT_NE(platform::GetWindowProc(window.Handle()), &TConnection::HookProc);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConsoleLoginFailure,
    ::testing::Values(
        LoginCase{"BadLoginAnswer", "bad-login", {}, ConsoleCode::LoginRefused},
        LoginCase{"WrongPassword", "",
                  [](CommOptions &o) { SetField(o.CorvixSysPassword, "not-the-password"); },
                  ConsoleCode::LoginRefused},
        LoginCase{"GreetingOneCharacterOff", "greeting-off", {}, ConsoleCode::Greeting},
        LoginCase{"OtherUserNamePrompt", "",
                  [](CommOptions &o) { SetField(o.ConsoleUserNamePrompt, "Username?"); },
                  ConsoleCode::UserNamePrompt},
        LoginCase{"OtherPrompt", "", [](CommOptions &o) { SetField(o.ConsolePrompt, "con:"); },
                  ConsoleCode::Prompt},
        LoginCase{"OtherTargetModeReply", "",
                  [](CommOptions &o) { SetField(o.TargetModeMessage, "200 targetmx"); },
                  ConsoleCode::TargetMode},
        LoginCase{"SilentConsole", "silent", {}, ConsoleCode::Receive},
        LoginCase{"NothingListening", "refuse", {}, ConsoleCode::Refused}),
    [](const ::testing::TestParamInfo<LoginCase> &param) { return std::string(param.param.name); });

// The login reply when the logged-in message is not shorter than the refusal: the refusal is
// read whole, newline and all; only an exact refusal counts as one, and a success is read to its
// end and compared whole.
TEST(ConsoleLoginReply, ShorterRefusalTextStillLetsASuccessThrough) {
    auto console = StartConsole();
    ActionWindow window;
    TCorvixSysConnection connection(window.Handle());
    CommOptions options = ConsoleOptionsFor(console->Port());
    SetField(options.ConsoleBadUserNameMessage, "530 Bad");
    connection.SetSettings(options);
    EXPECT_EQ(ConnectionCodeOf([&] { connection.Connect(ConnMode::Packet); }), 0);
    connection.Close();
}

TEST(ConsoleLoginReply, LongerLoggedInTextStillKnowsTheWholeRefusal) {
    auto console = StartConsole("bad-login");
    ActionWindow window;
    TCorvixSysConnection connection(window.Handle());
    CommOptions options = ConsoleOptionsFor(console->Port());
    SetField(options.ConsoleLoggedInMessage, "230 User logged in, welcome back.");
    connection.SetSettings(options);
    EXPECT_EQ(ConnectionCodeOf([&] { connection.Connect(ConnMode::Packet); }),
              ConsoleCode::LoginRefused);
}

TEST(ConsoleLoginReply, RefusalThatIsNotTheConfiguredOneIsNeverASuccess) {
    auto console = StartConsole("bad-login");
    ActionWindow window;
    TCorvixSysConnection connection(window.Handle());
    CommOptions options = ConsoleOptionsFor(console->Port());
    SetField(options.ConsoleBadUserNameMessage, "530 Bad");
    connection.SetSettings(options);
    EXPECT_EQ(ConnectionCodeOf([&] { connection.Connect(ConnMode::Packet); }),
              ConsoleCode::LoggedIn);
}

// ---- texts that cannot fit ----

struct TooLongCase {
    const char *name;
    std::function<void(CommOptions &)> configure;
    int32_t code;
};

class ConsoleTextTooLong : public ::testing::TestWithParam<TooLongCase> {};

TEST_P(ConsoleTextTooLong, IsRefusedBeforeAnythingIsSent) {
    auto console = StartConsole();
    ActionWindow window;
    TCorvixSysConnection connection(window.Handle());
    CommOptions options = ConsoleOptionsFor(console->Port());
    GetParam().configure(options);
    connection.SetSettings(options);
    EXPECT_EQ(ConnectionCodeOf([&] { connection.Connect(ConnMode::Packet); }), GetParam().code);
    EXPECT_EQ(ConnectionCodeOf([&] { connection.RunProgram(); }), GetParam().code);
    EXPECT_EQ(console->Sessions(), 0u);
}

// The receive buffer holds 79 bytes and its zero; the line buffer 255 and its zero.
const std::string Text78(78, 'x');
const std::string Text254(254, 'u');

INSTANTIATE_TEST_SUITE_P(
    Cases, ConsoleTextTooLong,
    ::testing::Values(
        TooLongCase{"Greeting", [](CommOptions &o) { SetField(o.ConsoleGreetingMessage, Text78); },
                    ConsoleCode::Greeting},
        TooLongCase{"Newline",
                    [](CommOptions &o) { SetField(o.ConsoleNewline, std::string(79, '\n')); },
                    ConsoleCode::Greeting},
        TooLongCase{"UserNamePrompt",
                    [](CommOptions &o) { SetField(o.ConsoleUserNamePrompt, Text78 + "xx"); },
                    ConsoleCode::UserNamePrompt},
        TooLongCase{"UserName", [](CommOptions &o) { SetField(o.CorvixSysUserName, Text254); },
                    ConsoleCode::UserNameSend},
        TooLongCase{"Password", [](CommOptions &o) { SetField(o.CorvixSysPassword, Text254); },
                    ConsoleCode::PasswordSend},
        TooLongCase{"LoggedIn", [](CommOptions &o) { SetField(o.ConsoleLoggedInMessage, Text78); },
                    ConsoleCode::LoggedIn},
        TooLongCase{"Prompt", [](CommOptions &o) { SetField(o.ConsolePrompt, Text78 + "xx"); },
                    ConsoleCode::Prompt}),
    [](const ::testing::TestParamInfo<TooLongCase> &param) {
        return std::string(param.param.name);
    });

TEST(ConsoleTextTooLong, TargetModeTextsAreCheckedForTheTransferOnly) {
    auto console = StartConsole();
    ActionWindow window;
    CommOptions options = ConsoleOptionsFor(console->Port());
    SetField(options.TargetModeCommand, Text254);
    TCorvixSysConnection transfer(window.Handle());
    transfer.SetSettings(options);
    EXPECT_EQ(ConnectionCodeOf([&] { transfer.Connect(ConnMode::Packet); }),
              ConsoleCode::TargetModeSend);
    EXPECT_EQ(console->Sessions(), 0u);
    TCorvixSysConnection start(window.Handle());
    start.SetSettings(options);
    EXPECT_EQ(ConnectionCodeOf([&] { start.RunProgram(); }), 0);
}

// ---- the waits' other ends ----

TEST(ConsoleWaits, CancelInTheConnectWaitIsACancel) {
    auto console = StartConsole();
    ActionWindow window;
    platform::CancelToken cancel;
    TCorvixSysConnection connection(window.Handle());
    connection.SetCancelToken(&cancel);
    connection.SetSettings(ConsoleOptionsFor(console->Port()));
    // Posted before the connect starts, so the connect wait is the wait that dispatches it.
    window.Run([&] { cancel.Cancel(); });
    EXPECT_EQ(ConnectionCodeOf([&] { connection.Connect(ConnMode::Packet); }), ConnCode::Cancelled);
    EXPECT_FALSE(connection.IsOpen());
}

TEST(ConsoleWaits, CancelDuringTheLoginIsACancelNotALoginFailure) {
    auto console = StartConsole("silent");
    ActionWindow window;
    platform::CancelToken cancel;
    TCorvixSysConnection connection(window.Handle());
    connection.SetCancelToken(&cancel);
    connection.SetSettings(ConsoleOptionsFor(console->Port()));
    connection.SetConnectWait(30000);
    std::thread user([&] {
        std::this_thread::sleep_for(200ms);
        cancel.Cancel();
    });
    EXPECT_EQ(ConnectionCodeOf([&] { connection.Connect(ConnMode::Packet); }), ConnCode::Cancelled);
    user.join();
}

TEST(ConsoleWaits, ConsoleThatGoesAwayEndsTheLoginAtOnce) {
    auto console = StartConsole("silent");
    ActionWindow window;
    TCorvixSysConnection connection(window.Handle());
    connection.SetSettings(ConsoleOptionsFor(console->Port()));
    connection.SetConnectWait(60000);
    std::thread stop([&] {
        std::this_thread::sleep_for(200ms);
        console->Stop();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ConnectionCodeOf([&] { connection.Connect(ConnMode::Packet); }),
              ConsoleCode::Receive);
    // The close itself ended the wait, not its minute.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
    stop.join();
}

} // namespace
