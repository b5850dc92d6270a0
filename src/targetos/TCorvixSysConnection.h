// TCorvixSysConnection: packets to a board that already runs CorvixSys, through the text console
// of the operating system on TCP. Connect opens a console session, answers the Telnet
// negotiation, logs in with the texts of the settings, switches the console into target
// communication passthrough ("targetmd") and hands the socket to the packet machinery, which
// keeps the serial framing (flag and stuffing) on this link. RunProgram is a second, short
// session on a new object: login, "app go", the prompt, "logout".
//
// Every wait here (the connect, each login text) is the connection's one wait, bounded by timer
// ConnectTimerId on the connection's window, armed afresh for each wait, and watching the load's
// cancel token. The console reports readable data as UM_CONSOLE_READ; the wait takes those
// notifications itself.
//
// Failures raise xConnectionErr with the console codes below; the engine turns them into the
// user-facing messages. Threads: as TConnection; no reader runs during the login.
#pragma once

#include "comm/TEthernetConnection.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace ConsoleCode {
inline constexpr int32_t Receive = 3012; // receive failed, timed out or the peer closed; no reader
inline constexpr int32_t Refused = 3013;
inline constexpr int32_t NoConnection = 3014;
inline constexpr int32_t Greeting = 3015;
inline constexpr int32_t UserNamePrompt = 3016;
inline constexpr int32_t UserNameSend = 3017;
inline constexpr int32_t PasswordRequired = 3018;
inline constexpr int32_t PasswordPrompt = 3019;
inline constexpr int32_t PasswordSend = 3020;
inline constexpr int32_t LoginRefused = 3021;
inline constexpr int32_t LoggedIn = 3022;
inline constexpr int32_t Prompt = 3023;
inline constexpr int32_t TargetModeSend = 3024;
inline constexpr int32_t TargetMode = 3025;
inline constexpr int32_t NegotiationSequence = 3026;
inline constexpr int32_t NegotiationSend = 3027;
inline constexpr int32_t AppGoSend = 3028;
inline constexpr int32_t AppGo = 3029;
inline constexpr int32_t LogoutSend = 3030;
inline constexpr int32_t Logout = 3031;
} // namespace ConsoleCode

class TCorvixSysConnection : public TEthernetConnection {
public:
    // An expected text with its newline must fit the receive buffer with a terminating zero,
    // and a sent line with its newline the line buffer.
    static constexpr size_t ReceiveBufferSize = 80;
    static constexpr size_t LineBufferSize = 256;

    explicit TCorvixSysConnection(platform::HWND window);
    // The reader parses with this kind's framing: it ends before the kind goes.
    ~TCorvixSysConnection() override;

    // Logs in on "CorvixSys Address":"CorvixSys TCP Port", enters passthrough mode and starts the
    // reader. Raises the console codes (3012-3027), 4124 when cancelled, 4125 for a quit, or the
    // socket's error number when the socket cannot be handed over. Texts that would not fit the
    // buffers are refused with their step's code before anything is sent.
    void Connect(uint8_t mode) override;
    // A console session of its own that starts the stored program: login, "app go", prompt,
    // "logout". Raises as Connect, and 3028-3031. The session is left open; closing or deleting
    // the connection ends it.
    void RunProgram();

protected:
    // The whole encode buffer goes out: this link keeps the flag.
    void Write(const uint8_t *data, uint32_t count) override;

private:
    // Checks the texts of the settings against the buffers (Connect also the target mode texts).
    void CheckTexts(bool targetMode) const;
    // Connects, negotiates and logs in, up to and with the console prompt.
    void OpenSession();
    void Negotiate();
    void LogIn();
    void ReadLoginReply();
    // Receives exactly n bytes into the receive buffer (zero-filled first); raises 3012 when
    // the peer closes, a receive fails or the time runs out.
    void ReceiveExactly(size_t n);
    // Receives as many bytes as text has and raises code unless they are the text.
    void Expect(std::string_view text, int32_t code);
    void ExpectLine(std::string_view text, int32_t code);
    void SendLine(std::string_view text, int32_t code);
    std::string_view Newline() const;
    std::string_view Received(size_t n) const;

    uint8_t receive_[ReceiveBufferSize] = {};
    char line_[LineBufferSize] = {};
};
