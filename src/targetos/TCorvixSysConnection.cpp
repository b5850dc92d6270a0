#include "targetos/TCorvixSysConnection.h"

#include "platform/Telnet.h"

#include <cstring>

using namespace platform;

namespace {

using namespace platform::telnet;

// The console offers to echo and to suppress go-ahead; we decline the echo (we do not want our
// password back) and accept the suppression.
constexpr uint8_t WillEcho[] = {Iac, Will, OptionEcho};
constexpr uint8_t DontEcho[] = {Iac, Dont, OptionEcho};
constexpr uint8_t WillSuppressGoAhead[] = {Iac, Will, OptionSuppressGoAhead};
constexpr uint8_t DoSuppressGoAhead[] = {Iac, Do, OptionSuppressGoAhead};

std::string_view AsText(const uint8_t (&bytes)[3]) {
    return {reinterpret_cast<const char *>(bytes), sizeof bytes};
}

constexpr std::string_view AppGoCommand = "app go";
constexpr std::string_view AppGoReply = "200 app";
constexpr std::string_view LogoutCommand = "logout";
constexpr std::string_view LogoutReply = "200 logout";

} // namespace

TCorvixSysConnection::TCorvixSysConnection(HWND window) : TEthernetConnection(window) {}

TCorvixSysConnection::~TCorvixSysConnection() { StopReader(); }

void TCorvixSysConnection::Write(const uint8_t *data, uint32_t count) { SendBytes(data, count); }

std::string_view TCorvixSysConnection::Newline() const { return settings_.ConsoleNewline; }

std::string_view TCorvixSysConnection::Received(size_t n) const {
    return {reinterpret_cast<const char *>(receive_), n};
}

// ---- the two operations ----

void TCorvixSysConnection::Connect(uint8_t mode) {
    mode_ = mode;
    SetReaderProgress(0);
    CheckTexts(true);
    OpenSession();
    SendLine(settings_.TargetModeCommand, ConsoleCode::TargetModeSend);
    ExpectLine(settings_.TargetModeMessage, ConsoleCode::TargetMode);
    // From here on the socket carries packets, read by the reader thread, which blocks in its
    // receive; a close must reset the console's session at once rather than linger.
    HandOverSocket(true);
    try {
        StartReader();
    } catch (const xConnectionErr &) {
        throw xConnectionErr(ConsoleCode::Receive);
    }
    SetReaderProgress(1);
}

void TCorvixSysConnection::RunProgram() {
    CheckTexts(false);
    OpenSession();
    SendLine(AppGoCommand, ConsoleCode::AppGoSend);
    ExpectLine(AppGoReply, ConsoleCode::AppGo);
    Expect(settings_.ConsolePrompt, ConsoleCode::Prompt);
    SendLine(LogoutCommand, ConsoleCode::LogoutSend);
    ExpectLine(LogoutReply, ConsoleCode::Logout);
}

// ---- checks before anything is sent ----

void TCorvixSysConnection::CheckTexts(bool targetMode) const {
    const size_t newline = Newline().size();
    // What we read goes into the receive buffer with a terminating zero behind it; what we send
    // is built in the line buffer the same way. A text that cannot fit is refused with the code
    // of the step it belongs to, before a connect that could only fail there.
    const auto expected = [&](const char *text, size_t extra, int32_t code) {
        if (std::strlen(text) + extra >= ReceiveBufferSize) throw xConnectionErr(code);
    };
    const auto sent = [&](std::string_view text, int32_t code) {
        if (text.size() + newline >= LineBufferSize) throw xConnectionErr(code);
    };
    expected(settings_.ConsoleGreetingMessage, newline, ConsoleCode::Greeting);
    expected(settings_.ConsoleUserNamePrompt, 0, ConsoleCode::UserNamePrompt);
    sent(settings_.CorvixSysUserName, ConsoleCode::UserNameSend);
    expected(settings_.ConsolePasswordRequiredMessage, newline, ConsoleCode::PasswordRequired);
    expected(settings_.ConsolePasswordPrompt, 0, ConsoleCode::PasswordPrompt);
    sent(settings_.CorvixSysPassword, ConsoleCode::PasswordSend);
    expected(settings_.ConsoleLoggedInMessage, newline, ConsoleCode::LoggedIn);
    expected(settings_.ConsolePrompt, 0, ConsoleCode::Prompt);
    if (targetMode) {
        sent(settings_.TargetModeCommand, ConsoleCode::TargetModeSend);
        expected(settings_.TargetModeMessage, newline, ConsoleCode::TargetMode);
    } else {
        sent(AppGoCommand, ConsoleCode::AppGoSend);
        expected(AppGoReply.data(), newline, ConsoleCode::AppGo);
        sent(LogoutCommand, ConsoleCode::LogoutSend);
        expected(LogoutReply.data(), newline, ConsoleCode::Logout);
    }
}

// ---- the session ----

void TCorvixSysConnection::OpenSession() {
    const ConnectCodes codes{ConsoleCode::Refused, ConsoleCode::NoConnection};
    // A quit ends the program: the console must not look logged in (and a start must not look
    // done) when it was never reached.
    if (OpenStream(settings_.CorvixSysAddress, settings_.CorvixSysTcpPort, codes) ==
        ConnectOutcome::Quit)
        throw xConnectionErr(ConnCode::QuitDuringWait);
    // The login reads on this thread, woken by the socket's notifications; a peer that closes
    // is reported too, so that it ends the wait at once instead of at its time-out.
    if (socket_.AsyncSelect(Window(), UM_CONSOLE_READ, FD_READ | FD_CLOSE) != 0)
        throw xConnectionErr(ConsoleCode::Receive);
    Negotiate();
    LogIn();
}

void TCorvixSysConnection::Negotiate() {
    Expect(AsText(WillEcho), ConsoleCode::NegotiationSequence);
    SendBytes(DontEcho, sizeof DontEcho, ConsoleCode::NegotiationSend);
    Expect(AsText(WillSuppressGoAhead), ConsoleCode::NegotiationSequence);
    SendBytes(DoSuppressGoAhead, sizeof DoSuppressGoAhead, ConsoleCode::NegotiationSend);
}

void TCorvixSysConnection::LogIn() {
    ExpectLine(settings_.ConsoleGreetingMessage, ConsoleCode::Greeting);
    Expect(settings_.ConsoleUserNamePrompt, ConsoleCode::UserNamePrompt);
    SendLine(settings_.CorvixSysUserName, ConsoleCode::UserNameSend);
    ExpectLine(settings_.ConsolePasswordRequiredMessage, ConsoleCode::PasswordRequired);
    Expect(settings_.ConsolePasswordPrompt, ConsoleCode::PasswordPrompt);
    SendLine(settings_.CorvixSysPassword, ConsoleCode::PasswordSend);
    ReadLoginReply();
    Expect(settings_.ConsolePrompt, ConsoleCode::Prompt);
}

void TCorvixSysConnection::ReadLoginReply() {
    const std::string_view loggedIn = settings_.ConsoleLoggedInMessage;
    const std::string_view bad = settings_.ConsoleBadUserNameMessage;
    const std::string_view newline = Newline();
    const size_t loggedLength = loggedIn.size() + newline.size();
    if (loggedIn.size() < bad.size()) {
        // The reply is read at the length of a success. A refusal is longer, so what arrives of
        // it is a piece of the bad user name message.
        ReceiveExactly(loggedLength);
        const std::string_view reply = Received(loggedLength);
        if (bad.find(reply) != std::string_view::npos)
            throw xConnectionErr(ConsoleCode::LoginRefused);
        if (reply.substr(0, loggedIn.size()) != loggedIn ||
            reply.substr(loggedIn.size()) != newline)
            throw xConnectionErr(ConsoleCode::LoggedIn);
        return;
    }
    // The refusal is the shorter reply: it is read whole, newline and all, so that only the
    // refusal itself counts as one; a success is then read to its end and compared whole.
    const size_t badLength = bad.size() + newline.size();
    ReceiveExactly(badLength);
    const std::string_view head = Received(badLength);
    if (head.substr(0, bad.size()) == bad && head.substr(bad.size()) == newline)
        throw xConnectionErr(ConsoleCode::LoginRefused);
    char expected[ReceiveBufferSize] = {};
    std::memcpy(expected, loggedIn.data(), loggedIn.size());
    std::memcpy(expected + loggedIn.size(), newline.data(), newline.size());
    if (head != std::string_view(expected, badLength)) throw xConnectionErr(ConsoleCode::LoggedIn);
    const size_t rest = loggedLength - badLength;
    ReceiveExactly(rest);
    if (Received(rest) != std::string_view(expected + badLength, rest))
        throw xConnectionErr(ConsoleCode::LoggedIn);
}

// ---- receiving, comparing, sending ----

void TCorvixSysConnection::ReceiveExactly(size_t n) {
    std::memset(receive_, 0, sizeof receive_);
    if (n >= sizeof receive_) // CheckTexts keeps every caller below this
        throw xConnectionErr(ConsoleCode::Receive);
    size_t got = 0;
    bool failed = false;
    const auto take = [&](const MSG &msg) {
        if (msg.message != UM_CONSOLE_READ || msg.hwnd != Window()) return false;
        if (failed || got >= n) return true; // a late notification; the next receive takes its data
        if (SelectError(msg.lParam) != 0) {
            failed = true;
            return true;
        }
        const IoResult read = socket_.Recv(receive_ + got, n - got);
        if (read.error != 0)
            failed = !IsWouldBlock(read.error);
        else if (read.count == 0)
            failed = true; // the console closed the session
        else
            got += static_cast<size_t>(read.count);
        return true;
    };
    if (n == 0) return;
    WaitSpec spec;
    spec.timerWindow = Window();
    spec.timerId = ConnectTimerId;
    ScopedTimer timer(Window(), ConnectTimerId, ConnectWait());
    const WaitEnd end = Wait(
        spec, [&] { return failed || got >= n; }, take);
    if (end != WaitEnd::Condition || failed) throw xConnectionErr(ConsoleCode::Receive);
}

void TCorvixSysConnection::Expect(std::string_view text, int32_t code) {
    ReceiveExactly(text.size());
    // Byte for byte and case-sensitive; a zero byte from the console never matches a text.
    if (Received(text.size()) != text) throw xConnectionErr(code);
}

void TCorvixSysConnection::ExpectLine(std::string_view text, int32_t code) {
    const std::string_view newline = Newline();
    const size_t n = text.size() + newline.size();
    ReceiveExactly(n);
    const std::string_view got = Received(n);
    if (got.substr(0, text.size()) != text || got.substr(text.size()) != newline)
        throw xConnectionErr(code);
}

void TCorvixSysConnection::SendLine(std::string_view text, int32_t code) {
    const std::string_view newline = Newline();
    const size_t n = text.size() + newline.size();
    if (n >= sizeof line_) throw xConnectionErr(code);
    std::memcpy(line_, text.data(), text.size());
    std::memcpy(line_ + text.size(), newline.data(), newline.size());
    line_[n] = '\0';
    // Every byte goes: a console that is slow to read gets the rest once it has room, rather
    // than a line cut short.
    SendBytes(reinterpret_cast<const uint8_t *>(line_), static_cast<uint32_t>(n), code);
}
