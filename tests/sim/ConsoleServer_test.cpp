// The simulated CorvixSys console, driven over a real loopback socket by a scripted host: the
// negotiation and login, packets through the passthrough to the board behind it, the second
// session that starts the program, and the console's faults.
#include "BoardPilotBios.h"
#include "ConsoleSupport.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

using namespace consoletest;
using sim::ConsoleFault;
using sim::ConsoleFaultKind;
using sim::ConsoleOptions;
using sim::ConsoleServer;
namespace console = sim::console;

std::string Line(std::string_view text) { return std::string(text) + "\r\n"; }

std::unique_ptr<ConsoleServer> Started(ConsoleOptions options = {}) {
    auto server = std::make_unique<ConsoleServer>(std::move(options));
    std::string error;
    EXPECT_TRUE(server->Start(&error)) << error;
    return server;
}

ConsoleOptions WithFault(ConsoleFaultKind kind, unsigned n = 0) {
    ConsoleOptions options;
    options.fault = {kind, n};
    return options;
}

// The events of one name, in order.
std::vector<sim::TranscriptEvent> EventsNamed(const sim::OsBoard &board, const std::string &name) {
    std::vector<sim::TranscriptEvent> found;
    for (auto &event : board.Events())
        if (event.Name() == name) found.push_back(event);
    return found;
}

constexpr uint8_t Ack = sim::sys::AckBit, Nak = sim::sys::NakBit;

// ---- the dialogue and the passthrough ----

TEST(ConsolePassthrough, AnswersTheProbeStoresWritesAndRunsTheProgram) {
    auto server = Started();
    ConsoleClient host(server->Port());
    ASSERT_TRUE(host.Connected());
    ASSERT_TRUE(host.EnterTargetMode());

    const auto probe = host.Ask(sim::sys::Probe, {});
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->subtype, Ack | sim::sys::Probe);

    // Flag and escape bytes in the address and the data travel stuffed and must arrive intact.
    Bytes block(128, 0x00);
    block[0] = 0x7E;
    block[1] = 0x7D;
    block[127] = 0x7E;
    const uint32_t address = 0x0020'7E7D;
    const auto write = host.Ask(sim::sys::Write, WritePayload(address, block));
    ASSERT_TRUE(write);
    EXPECT_EQ(write->subtype, Ack | sim::sys::Write);
    EXPECT_EQ(server->Board().ReadMemory(address, block.size()), block);
    EXPECT_EQ(server->Board().WritesStored(), 1u);

    const auto run = host.Ask(sim::sys::RunProgram, {});
    ASSERT_TRUE(run);
    EXPECT_EQ(run->subtype, Ack | sim::sys::RunProgram);
    EXPECT_EQ(server->Board().RunRequests(), 1u);
}

TEST(ConsolePassthrough, PacketsRightBehindTheTargetModeCommandAreNotLost) {
    auto server = Started();
    ConsoleClient host(server->Port());
    ASSERT_EQ(host.Login(ConsoleOptions::DefaultUser, ConsoleOptions::DefaultPassword),
              Line(console::LoggedIn));
    ASSERT_EQ(host.ReadText(console::Prompt.size()), console::Prompt);
    // The command and a probe in one segment: the console must hand the rest to the board.
    const std::string command = Line(console::TargetMode);
    Bytes both(command.begin(), command.end());
    const Bytes probe = sim::EncodeFrame({0, sim::sys::Probe, {}});
    both.insert(both.end(), probe.begin(), probe.end());
    ASSERT_TRUE(host.Send(both));
    EXPECT_EQ(host.ReadText(Line(console::TargetModeReply).size()), Line(console::TargetModeReply));
    const Bytes reply = host.Read(sim::EncodeFrame({0, Ack | sim::sys::Probe, {}}).size());
    EXPECT_EQ(reply, sim::EncodeFrame({0, Ack | sim::sys::Probe, {}}));
}

struct RefusedWrite {
    const char *what;
    Bytes payload;
};

class ConsoleRefusedWrites : public testing::TestWithParam<RefusedWrite> {};

TEST_P(ConsoleRefusedWrites, AreNakedAndStoreNothing) {
    auto server = Started();
    ConsoleClient host(server->Port());
    ASSERT_TRUE(host.EnterTargetMode());
    const auto reply = host.Ask(sim::sys::Write, GetParam().payload);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->subtype, Nak | sim::sys::Write);
    EXPECT_TRUE(server->Board().MemoryRuns().empty());
}

INSTANTIATE_TEST_SUITE_P(Console, ConsoleRefusedWrites,
                         testing::Values(RefusedWrite{"short header", {0, 1, 0}},
                                         RefusedWrite{"length larger than the data",
                                                      [] {
                                                          Bytes p =
                                                              WritePayload(0x1000, Bytes(4, 1));
                                                          p[1] = 5;
                                                          return p;
                                                      }()},
                                         RefusedWrite{"address mode 1",
                                                      [] {
                                                          Bytes p =
                                                              WritePayload(0x1000, Bytes(4, 1));
                                                          p[0] = 1;
                                                          return p;
                                                      }()},
                                         RefusedWrite{"past the end of the address space",
                                                      WritePayload(0xFFFF'FFF0, Bytes(128, 1))}),
                         [](const auto &param) {
                             std::string name = param.param.what;
                             for (char &c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

TEST(ConsoleSessions, AppGoOnASecondSessionIsRecordedAfterTheTransfer) {
    auto server = Started();
    const Bytes block(128, 0x5A);
    {
        ConsoleClient transfer(server->Port());
        ASSERT_TRUE(transfer.EnterTargetMode());
        const auto write = transfer.Ask(sim::sys::Write, WritePayload(0x40000, block));
        ASSERT_TRUE(write);
        EXPECT_EQ(write->subtype, Ack | sim::sys::Write);
    } // the host closes the transfer session
    ASSERT_TRUE(server->WaitForSessionsEnded(1, 3s));

    ConsoleClient start(server->Port());
    ASSERT_EQ(start.Login(ConsoleOptions::DefaultUser, ConsoleOptions::DefaultPassword),
              Line(console::LoggedIn));
    ASSERT_EQ(start.ReadText(console::Prompt.size()), console::Prompt);
    ASSERT_TRUE(start.SendLine(std::string(console::AppGo)));
    EXPECT_EQ(start.ReadText(Line(console::AppGoReply).size() + console::Prompt.size()),
              Line(console::AppGoReply) + std::string(console::Prompt));
    ASSERT_TRUE(start.SendLine(std::string(console::Logout)));
    EXPECT_EQ(start.ReadText(Line(console::LogoutReply).size()), Line(console::LogoutReply));
    EXPECT_TRUE(start.ClosedWithin(3s));

    EXPECT_EQ(server->Board().AppGoCount(), 1u);
    const auto appGo = EventsNamed(server->Board(), "app-go");
    ASSERT_EQ(appGo.size(), 1u);
    EXPECT_EQ(appGo[0].Number("session"), 2);
    EXPECT_EQ(appGo[0].Number("writesStored"), 1);
    EXPECT_EQ(server->Sessions(), 2u);
}

TEST(ConsoleSessions, AnUnknownCommandIsAnsweredAndThePromptComesBack) {
    auto server = Started();
    ConsoleClient host(server->Port());
    ASSERT_EQ(host.Login(ConsoleOptions::DefaultUser, ConsoleOptions::DefaultPassword),
              Line(console::LoggedIn));
    ASSERT_EQ(host.ReadText(console::Prompt.size()), console::Prompt);
    ASSERT_TRUE(host.SendLine("dir"));
    const std::string reply = host.ReadText(Line(console::UnknownCommand).size() + 4);
    EXPECT_EQ(reply.substr(0, 4), "500 ");
    EXPECT_EQ(reply.substr(reply.size() - console::Prompt.size()), console::Prompt);
    EXPECT_EQ(server->Board().AppGoCount(), 0u);
}

TEST(ConsoleSessions, AWrongNegotiationAnswerEndsTheSession) {
    auto server = Started();
    ConsoleClient host(server->Port());
    ASSERT_EQ(host.Read(3).size(), 3u);
    ASSERT_TRUE(host.Send({0xFF, 0xFD, 0x01})); // "do echo" where "don't" belongs
    EXPECT_TRUE(host.ClosedWithin(3s));
}

// ---- login ----

struct LoginCase {
    const char *name;
    ConsoleFaultKind fault;
    std::string user;
    std::string password;
};

class ConsoleLogin : public testing::TestWithParam<LoginCase> {};

TEST_P(ConsoleLogin, IsRefusedWithTheBadLoginReplyAndTheSessionEnds) {
    ConsoleOptions options = WithFault(GetParam().fault);
    options.user = "operator";
    options.password = "s3cret";
    auto server = Started(options);
    ConsoleClient host(server->Port());
    // As many bytes as a host reads for the logged-in reply: the start of the refusal.
    const std::string reply = host.Login(GetParam().user, GetParam().password);
    EXPECT_EQ(reply, Line(console::BadLogin).substr(0, Line(console::LoggedIn).size()));
    EXPECT_TRUE(host.ClosedWithin(3s));
    const auto logins = EventsNamed(server->Board(), "login");
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(logins[0].Flag("ok"), false);
    EXPECT_EQ(logins[0].Text("user"), GetParam().user);
}

INSTANTIATE_TEST_SUITE_P(
    Console, ConsoleLogin,
    testing::Values(LoginCase{"WrongUser", ConsoleFaultKind::None, "Operator", "s3cret"},
                    LoginCase{"WrongPassword", ConsoleFaultKind::None, "operator", "s3cre"},
                    LoginCase{"EmptyUser", ConsoleFaultKind::None, "", "s3cret"},
                    LoginCase{"BadLoginFault", ConsoleFaultKind::BadLogin, "operator", "s3cret"}),
    [](const auto &param) { return std::string(param.param.name); });

TEST(ConsoleLogin, TakesTheConfiguredUserAndPassword) {
    ConsoleOptions options;
    options.user = "operator";
    options.password = "s3cret";
    auto server = Started(options);
    ConsoleClient host(server->Port());
    EXPECT_TRUE(host.EnterTargetMode("operator", "s3cret"));
}

// ---- faults ----

TEST(ConsoleFaults, GreetingOffDiffersInOneCharacterOnly) {
    auto server = Started(WithFault(ConsoleFaultKind::GreetingOff));
    ConsoleClient host(server->Port());
    ASSERT_TRUE(host.Negotiate());
    const std::string expected = Line(console::Greeting);
    const std::string greeting = host.ReadText(expected.size());
    ASSERT_EQ(greeting.size(), expected.size());
    size_t differences = 0;
    for (size_t i = 0; i < expected.size(); ++i) differences += greeting[i] != expected[i];
    EXPECT_EQ(differences, 1u);
}

TEST(ConsoleFaults, SilentAcceptsAndSaysNothing) {
    auto server = Started(WithFault(ConsoleFaultKind::Silent));
    ConsoleClient host(server->Port());
    ASSERT_TRUE(host.Connected());
    EXPECT_TRUE(host.Read(1, 300ms).empty());
    EXPECT_FALSE(host.ClosedWithin(100ms)) << "a silent console keeps the connection open";
    EXPECT_EQ(server->Sessions(), 1u);
}

TEST(ConsoleFaults, RefuseLeavesNothingListening) {
    auto server = Started(WithFault(ConsoleFaultKind::Refuse));
    ASSERT_NE(server->Port(), 0);
    ConsoleClient host(server->Port());
    EXPECT_FALSE(host.Connected());
    EXPECT_EQ(host.ConnectError(), ECONNREFUSED);
}

TEST(ConsoleFaults, NoOsLeavesTheProbeUnanswered) {
    auto server = Started(WithFault(ConsoleFaultKind::NoOs));
    ConsoleClient host(server->Port());
    ASSERT_TRUE(host.EnterTargetMode());
    EXPECT_FALSE(host.Ask(sim::sys::Probe, {}, 300ms));
    EXPECT_EQ(server->Board().ProbesAnswered(), 0u);
}

TEST(ConsoleFaults, CloseDropsTheConnectionAtTheNthWrite) {
    auto server = Started(WithFault(ConsoleFaultKind::Close, 3));
    ConsoleClient host(server->Port());
    ASSERT_TRUE(host.EnterTargetMode());
    for (uint32_t i = 0; i < 2; ++i) {
        const auto reply = host.Ask(sim::sys::Write, WritePayload(0x1000 + i * 128, Bytes(128, 7)));
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->subtype, Ack | sim::sys::Write);
    }
    ASSERT_TRUE(
        host.Send(sim::EncodeFrame({0, sim::sys::Write, WritePayload(0x1100, Bytes(128, 7))})));
    EXPECT_TRUE(host.ClosedWithin(3s));
    EXPECT_EQ(server->Board().WritesStored(), 2u);
    EXPECT_EQ(server->Board().ReadMemory(0x1100, 1), Bytes{sim::ProgramMemory::Untouched});
}

TEST(ConsoleFaults, SpellingsParseLikeTheOtherCommands) {
    EXPECT_EQ(sim::ParseConsoleFault("close:4"), (ConsoleFault{ConsoleFaultKind::Close, 4}));
    EXPECT_EQ(sim::ParseConsoleFault("greeting-off"),
              (ConsoleFault{ConsoleFaultKind::GreetingOff, 0}));
    for (const char *bad : {"close", "close:0", "close:x", "silent:2", "refused", ""})
        EXPECT_FALSE(sim::ParseConsoleFault(bad)) << bad;
}

} // namespace
