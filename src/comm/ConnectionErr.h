// The one failure type of the connection layer and the codes it carries. The loader engine
// catches xConnectionErr in its stages and turns the code into a user-facing LoaderError.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

class xConnectionErr : public std::exception {
public:
    explicit xConnectionErr(int32_t code)
        : InternalCode(code), text_("connection error " + std::to_string(code)) {}
    // detail names what failed (the port, the address, the file) and why, for the user's next
    // step; it travels with the code up to the message the user sees.
    xConnectionErr(int32_t code, std::string detail)
        : InternalCode(code), text_("connection error " + std::to_string(code)),
          detail_(std::move(detail)) {}
    int32_t Code() const noexcept { return InternalCode; }
    const std::string &Detail() const noexcept { return detail_; }
    const char *what() const noexcept override { return text_.c_str(); }

    int32_t InternalCode;

private:
    std::string text_;
    std::string detail_;
};

// Every code a connection raises (or ends its reader thread with).
namespace ConnCode {
inline constexpr int32_t ReaderStopped = 0; // reader exit code of an ordinary stop
inline constexpr int32_t PortEventWaitFailed =
    42; // reader exit code: waiting for port events failed
inline constexpr int32_t SerialOpenFailed = 2000;
inline constexpr int32_t SerialConfigRefused = 2001;
inline constexpr int32_t SerialReadFailed = 2002;
inline constexpr int32_t SerialReadNotCompleted = 2003;
inline constexpr int32_t SerialReadWaitFailed = 2004;
inline constexpr int32_t SocketsStartFailed = 3000;
inline constexpr int32_t SocketsVersionUnavailable = 3001;
inline constexpr int32_t SocketCreateFailed = 3002;
inline constexpr int32_t TcpConnectFailed = 3004;
inline constexpr int32_t PeerClosed = 3007;
inline constexpr int32_t WindowProcUnreadable = 4096;
inline constexpr int32_t ReaderCreateFailed = 4097;
inline constexpr int32_t NotRawMode = 4098;
inline constexpr int32_t UnregisteredEntry = 4099;
inline constexpr int32_t PayloadTooLong = 4100;
inline constexpr int32_t WriteEventFailed = 4101;
inline constexpr int32_t WriteFailed = 4102;
inline constexpr int32_t WriteNotCompleted = 4103;
inline constexpr int32_t WriteWaitFailed = 4104;
inline constexpr int32_t NoReply = 4105; // also the exit code of a reader ended by an exception
inline constexpr int32_t NakReply = 4122;
inline constexpr int32_t Cancelled = 4124;
inline constexpr int32_t QuitDuringWait = 4125;
inline constexpr int32_t ReaderNotRunning = 4126;
} // namespace ConnCode
