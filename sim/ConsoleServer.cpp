#include "ConsoleServer.h"

#include "LoopbackListener.h"

#include "CommandLine.h"

#include "platform/Telnet.h"

#include <algorithm>
#include <array>

namespace sim {

namespace {

constexpr std::array<FaultSpelling<ConsoleFaultKind>, 6> FaultNames{{
    {ConsoleFaultKind::BadLogin, "bad-login", false},
    {ConsoleFaultKind::GreetingOff, "greeting-off", false},
    {ConsoleFaultKind::Silent, "silent", false},
    {ConsoleFaultKind::Refuse, "refuse", false},
    {ConsoleFaultKind::NoOs, "no-os", false},
    {ConsoleFaultKind::Close, "close", true},
}};

constexpr size_t ReceiveChunk = 4096;

OsBoardOptions BoardOptionsFor(const ConsoleFault &fault) {
    OsBoardOptions board;
    board.answersProbe = fault.kind != ConsoleFaultKind::NoOs;
    board.closeAtWrite = fault.kind == ConsoleFaultKind::Close ? fault.n : 0;
    return board;
}

std::string Line(std::string_view text) {
    return std::string(text) + std::string(console::Newline);
}

// The greeting a host should not take: one character off, the last, so the length still matches
// and only the comparison can tell.
std::string GreetingOneOff() {
    std::string greeting(console::Greeting);
    greeting.back() = char(greeting.back() ^ 0x01);
    return greeting;
}

} // namespace

std::optional<ConsoleFault> ParseConsoleFault(std::string_view text) {
    const auto fault = ParseFaultSpelling(text, FaultNames);
    if (!fault) return std::nullopt;
    return ConsoleFault{fault->first, fault->second};
}

const char *ConsoleFaultName(ConsoleFaultKind kind) { return FaultSpellingName(kind, FaultNames); }

// One host's connection: what it sent and not yet used, and waits that a Stop ends.
class ConsoleServer::Session {
public:
    Session(platform::Socket &host, const platform::WakeFd &wake, const std::atomic<bool> &stop)
        : host_(host), wake_(wake), stop_(stop) {}

    bool Send(std::string_view text) {
        return host_.SendAll(reinterpret_cast<const uint8_t *>(text.data()), text.size()) == 0;
    }
    bool Send(const std::vector<uint8_t> &bytes) {
        return bytes.empty() || host_.SendAll(bytes.data(), bytes.size()) == 0;
    }

    // Waits for what the host sends next and keeps it. False when the host closed, the
    // connection failed or the console is stopping.
    bool Fill() {
        for (;;) {
            platform::PollEntry fds[2] = {{host_.Handle(), platform::PollIn, 0},
                                          {wake_.Get(), platform::PollIn, 0}};
            if (platform::Poll(fds, 2, -1) < 0) return false;
            // Stop leaves the wake signalled until the thread is gone, so it is never drained here.
            if (stop_ || fds[1].revents) return false;
            uint8_t buffer[ReceiveChunk];
            const platform::IoResult got = host_.Recv(buffer, sizeof buffer);
            if (got.error != 0 && platform::IsWouldBlock(got.error)) continue;
            if (got.error != 0 || got.count == 0) return false;
            pending_.insert(pending_.end(), buffer, buffer + got.count);
            return true;
        }
    }

    std::optional<std::vector<uint8_t>> ReadExactly(size_t count) {
        while (pending_.size() < count)
            if (!Fill()) return std::nullopt;
        std::vector<uint8_t> bytes(pending_.begin(), pending_.begin() + long(count));
        pending_.erase(pending_.begin(), pending_.begin() + long(count));
        return bytes;
    }

    // A line without its newline. Empty when the host is gone or the line is too long; a host
    // that sends MaxLine bytes without a line feed is not speaking to a console.
    std::optional<std::string> ReadLine() {
        for (;;) {
            const auto end = std::find(pending_.begin(), pending_.end(), uint8_t('\n'));
            if (end != pending_.end()) {
                if (size_t(end - pending_.begin()) + 1 > MaxLine) return std::nullopt;
                std::string line(pending_.begin(), end);
                pending_.erase(pending_.begin(), end + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                return line;
            }
            if (pending_.size() >= MaxLine || !Fill()) return std::nullopt;
        }
    }

    // What arrived after the last line taken (packets that followed "targetmd" at once).
    std::vector<uint8_t> TakePending() { return std::exchange(pending_, {}); }

private:
    platform::Socket &host_;
    const platform::WakeFd &wake_;
    const std::atomic<bool> &stop_;
    std::vector<uint8_t> pending_;
};

ConsoleServer::ConsoleServer(ConsoleOptions options)
    : options_(std::move(options)), board_(BoardOptionsFor(options_.fault)) {
    TranscriptEvent event("console");
    event.Add("user", options_.user).Add("fault", ConsoleFaultName(options_.fault.kind));
    if (options_.fault.n) event.Add("faultN", int64_t(options_.fault.n));
    board_.Record(std::move(event));
}

ConsoleServer::~ConsoleServer() { Stop(); }

std::string ConsoleServer::Address() const { return "127.0.0.1:" + std::to_string(port_); }

bool ConsoleServer::Start(std::string *error) {
    auto fail = [&](const std::string &why) {
        if (error) *error = why;
        listener_.Close();
        return false;
    };
    if (!wake_.Valid()) return fail("no wake descriptor");
    std::string why;
    listener_ = BindLoopbackTcp(options_.port, &why);
    if (!listener_.Valid()) return fail(why);
    port_ = listener_.LocalPort();
    if (options_.fault.kind == ConsoleFaultKind::Refuse) {
        // Bound but never listening, then let go: a connect to the port is refused.
        listener_.Close();
        board_.Record(TranscriptEvent("fault").Add("fault", "refuse").Add("port", int64_t(port_)));
        return true;
    }
    if (!ListenForHosts(listener_, &why)) return fail(why);
    stop_ = false;
    thread_ = std::thread(&ConsoleServer::Run, this);
    return true;
}

void ConsoleServer::Stop() {
    if (!thread_.joinable()) return;
    stop_ = true;
    wake_.Signal();
    thread_.join();
    listener_.Close();
}

size_t ConsoleServer::Sessions() const {
    std::lock_guard lock(mutex_);
    return sessions_;
}

bool ConsoleServer::WaitForSessionsEnded(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return ended_ >= count; });
}

void ConsoleServer::Run() {
    while (!stop_) {
        platform::PollEntry fds[2] = {{listener_.Handle(), platform::PollIn, 0},
                                      {wake_.Get(), platform::PollIn, 0}};
        if (platform::Poll(fds, 2, -1) < 0) return;
        if (stop_) return;
        if (!(fds[0].revents & platform::PollIn)) continue;
        platform::Socket host = listener_.Accept();
        if (!host.Valid()) continue;
        // The session reads with poll and writes short texts; blocking keeps its sends whole.
        host.SetBlocking(true);
        unsigned number = 0;
        {
            std::lock_guard lock(mutex_);
            number = unsigned(++sessions_);
        }
        Serve(host, number);
    }
}

void ConsoleServer::Serve(platform::Socket &host, unsigned number) {
    board_.Record(TranscriptEvent("session").Add("session", int64_t(number)));
    Session session(host, wake_, stop_);
    const char *why = nullptr;
    if (options_.fault.kind == ConsoleFaultKind::Silent) {
        board_.Record(TranscriptEvent("fault").Add("fault", "silent"));
        // Take what the host sends, say nothing, until it gives up.
        while (session.Fill()) session.TakePending();
        why = "host closed";
    } else {
        why = Dialogue(session, number);
    }
    host.Shutdown(platform::ShutdownHow::Both);
    SessionEnded(number, why);
}

void ConsoleServer::SessionEnded(unsigned number, const char *why) {
    board_.Record(TranscriptEvent("session-end").Add("session", int64_t(number)).Add("why", why));
    {
        std::lock_guard lock(mutex_);
        ++ended_;
    }
    changed_.notify_all();
}

// Negotiation and login; returns why the session ended.
const char *ConsoleServer::Dialogue(Session &session, unsigned number) {
    using namespace platform::telnet;
    const std::vector<uint8_t> steps[][2] = {
        {{Iac, Will, OptionEcho}, {Iac, Dont, OptionEcho}},
        {{Iac, Will, OptionSuppressGoAhead}, {Iac, Do, OptionSuppressGoAhead}},
    };
    for (const auto &[offer, expected] : steps) {
        if (!session.Send(offer)) return "send failed";
        const auto answer = session.ReadExactly(expected.size());
        if (!answer) return "host closed";
        if (*answer != expected) {
            board_.Record(TranscriptEvent("negotiation").Add("ok", false));
            return "unexpected negotiation";
        }
    }
    const bool greetingOff = options_.fault.kind == ConsoleFaultKind::GreetingOff;
    if (greetingOff) board_.Record(TranscriptEvent("fault").Add("fault", "greeting-off"));
    const std::string greeting = greetingOff ? GreetingOneOff() : std::string(console::Greeting);
    if (!session.Send(Line(greeting) + std::string(console::UserPrompt))) return "send failed";
    const auto user = session.ReadLine();
    if (!user) return "no user name";
    if (!session.Send(Line(console::PasswordRequired) + std::string(console::PasswordPrompt)))
        return "send failed";
    const auto password = session.ReadLine();
    if (!password) return "no password";
    const bool refused = options_.fault.kind == ConsoleFaultKind::BadLogin;
    const bool ok = !refused && *user == options_.user && *password == options_.password;
    TranscriptEvent login("login");
    login.Add("session", int64_t(number)).Add("user", *user).Add("ok", ok);
    if (refused) login.Add("fault", "bad-login");
    board_.Record(std::move(login));
    if (!ok) {
        session.Send(Line(console::BadLogin));
        return "login refused";
    }
    if (!session.Send(Line(console::LoggedIn) + std::string(console::Prompt))) return "send failed";
    return Commands(session, number);
}

const char *ConsoleServer::Commands(Session &session, unsigned number) {
    for (;;) {
        const auto line = session.ReadLine();
        if (!line) return "host closed";
        board_.Record(
            TranscriptEvent("command").Add("session", int64_t(number)).Add("line", *line));
        std::string answer;
        if (*line == console::TargetMode) {
            if (!session.Send(Line(console::TargetModeReply))) return "send failed";
            return Passthrough(session);
        }
        if (*line == console::Logout) {
            session.Send(Line(console::LogoutReply));
            return "logout";
        }
        if (*line == console::AppGo) {
            board_.RecordAppGo(number);
            answer = Line(console::AppGoReply);
        } else if (!line->empty()) {
            answer = Line(console::UnknownCommand);
        }
        if (!session.Send(answer + std::string(console::Prompt))) return "send failed";
    }
}

const char *ConsoleServer::Passthrough(Session &session) {
    board_.Record(TranscriptEvent("passthrough"));
    FrameDecoder decoder;
    bool close = false;
    for (std::vector<uint8_t> bytes = session.TakePending();; bytes = session.TakePending()) {
        const std::vector<uint8_t> replies =
            board_.TakeStream(decoder, bytes.data(), bytes.size(), close);
        if (close) return "closed on request";
        if (!session.Send(replies)) return "send failed";
        if (!session.Fill()) return "host closed";
    }
}

} // namespace sim
