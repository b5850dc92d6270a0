// The CorvixSys console of a simulated board: a TCP server on 127.0.0.1 with a board running
// the operating system behind it (OsBoard). One session at a time, one after another on the same
// listener, each:
//
//   console: FF FB 01 (will echo)        host: FF FE 01 (don't echo)
//   console: FF FB 03 (will suppress GA) host: FF FD 03 (do suppress GA)
//   "220 Vex-Lon CorvixSys Console" CRLF, "Username:"   host: user CRLF
//   "331 Password required" CRLF, "Password:"          host: password CRLF
//   "230 User logged in." CRLF "CON:"  (or "530 Bad Username/Password" CRLF, and the session ends)
//   then commands, each answered and followed by "CON:" again:
//     "targetmd"  -> "200 targetmd" CRLF, then the session carries packets in the serial framing
//                    (flag and stuffing) to the board until the host closes
//     "app go"    -> "200 app" CRLF "CON:"; the start of the stored program is recorded
//     "logout"    -> "200 logout" CRLF, and the session ends
//
// A load uses one session for the transfer and a second, short one for "app go". Lines end at LF
// (a CR before it is dropped) and may be at most MaxLine bytes; a longer one ends the session.
//
// Faults: bad-login (530 whatever is typed), greeting-off (the greeting with its last character
// changed), silent (accepts and says nothing), refuse (nothing listens on the port), no-os (the
// probe goes unanswered), close:N (the connection is dropped when the n-th write arrives).
//
// Thread safety: the console serves on its own thread; every accessor may be called from any
// thread while it serves.
#pragma once

#include "OsBoard.h"

#include "platform/Socket.h"
#include "platform/Poll.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace sim {

enum class ConsoleFaultKind { None, BadLogin, GreetingOff, Silent, Refuse, NoOs, Close };

struct ConsoleFault {
    ConsoleFaultKind kind = ConsoleFaultKind::None;
    unsigned n = 0; // close:N only, 1-based over the writes of all sessions

    bool operator==(const ConsoleFault &) const = default;
};

// "bad-login", "greeting-off", "silent", "refuse", "no-os", "close:N"; empty for anything else.
std::optional<ConsoleFault> ParseConsoleFault(std::string_view text);
const char *ConsoleFaultName(ConsoleFaultKind kind);

struct ConsoleOptions {
    static constexpr const char *DefaultUser = "corvix";
    static constexpr const char *DefaultPassword = "corvix";

    uint16_t port = 0; // 0: an ephemeral port
    std::string user = DefaultUser;
    std::string password = DefaultPassword;
    ConsoleFault fault;
};

// The console's fixed texts, for hosts and tests that speak to it.
namespace console {
constexpr std::string_view Newline = "\r\n";
constexpr std::string_view Greeting = "220 Vex-Lon CorvixSys Console";
constexpr std::string_view UserPrompt = "Username:";
constexpr std::string_view PasswordRequired = "331 Password required";
constexpr std::string_view PasswordPrompt = "Password:";
constexpr std::string_view LoggedIn = "230 User logged in.";
constexpr std::string_view BadLogin = "530 Bad Username/Password";
constexpr std::string_view Prompt = "CON:";
constexpr std::string_view TargetMode = "targetmd";
constexpr std::string_view TargetModeReply = "200 targetmd";
constexpr std::string_view AppGo = "app go";
constexpr std::string_view AppGoReply = "200 app";
constexpr std::string_view Logout = "logout";
constexpr std::string_view LogoutReply = "200 logout";
constexpr std::string_view UnknownCommand = "500 Unknown command";
} // namespace console

class ConsoleServer {
public:
    static constexpr size_t MaxLine = 255; // a line with its newline, as a host may send it

    explicit ConsoleServer(ConsoleOptions options = {});
    ~ConsoleServer();
    ConsoleServer(const ConsoleServer &) = delete;
    ConsoleServer &operator=(const ConsoleServer &) = delete;

    // Listens on 127.0.0.1 and starts serving (with the refuse fault: takes a port and lets it
    // go, so that connecting to it is refused). False with a reason on failure.
    bool Start(std::string *error = nullptr);
    // Ends any session and stops serving.
    void Stop();
    uint16_t Port() const { return port_; }
    std::string Address() const; // "127.0.0.1:PORT"

    // The board behind the console: stored blocks, "app go" and the transcript.
    OsBoard &Board() { return board_; }
    const OsBoard &Board() const { return board_; }
    size_t Sessions() const; // accepted so far
    // Waits (bounded) until count sessions have ended.
    bool WaitForSessionsEnded(size_t count, std::chrono::milliseconds timeout) const;

private:
    class Session;

    void Run();
    void Serve(platform::Socket &host, unsigned number);
    const char *Dialogue(Session &session, unsigned number);
    const char *Commands(Session &session, unsigned number);
    const char *Passthrough(Session &session);
    void SessionEnded(unsigned number, const char *why);

    const ConsoleOptions options_;
    OsBoard board_;
    platform::Socket listener_;
    uint16_t port_ = 0;
    platform::WakeFd wake_;
    std::atomic<bool> stop_{false};
    std::thread thread_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    size_t sessions_ = 0;
    size_t ended_ = 0;
};

} // namespace sim
