// Waiting on several sockets at once, and the wake handle that lets another thread end such a
// wait: the I/O threads of the serial-over-TCP client and of corvix-sim sleep in Poll until a
// socket is ready or something new was queued for them. On POSIX any descriptor can be watched
// (a pseudo-terminal too); on Windows only sockets.
#pragma once

#include <chrono>
#include <cstddef>

namespace platform {

// The events of a PollEntry (our own values; each backend translates them).
constexpr short PollIn = 0x01;   // data to read, a connection to accept, or the peer's close
constexpr short PollOut = 0x04;  // room to write, or a connect that finished
constexpr short PollErr = 0x08;  // an error is pending (reported whether asked or not)
constexpr short PollHup = 0x10;  // the peer hung up (reported whether asked or not)
constexpr short PollNval = 0x20; // the handle is not open

struct PollEntry {
    int handle = -1; // a negative handle is skipped and never reported
    short events = 0;
    short revents = 0;
};

// Waits until one of the entries is ready or timeout passes (negative: no limit). A signal that
// interrupts the wait does not end it. Returns the number of ready entries, 0 after the time-out,
// -1 on failure.
int Poll(PollEntry *entries, size_t count, std::chrono::nanoseconds timeout);
inline int Poll(PollEntry *entries, size_t count, int timeoutMs) {
    return Poll(entries, count,
                timeoutMs < 0 ? std::chrono::nanoseconds(-1)
                              : std::chrono::milliseconds(timeoutMs));
}

// A handle that Poll sees readable from Signal() until Drain().
class WakeFd {
public:
    WakeFd();
    ~WakeFd();
    WakeFd(const WakeFd &) = delete;
    WakeFd &operator=(const WakeFd &) = delete;

    bool Valid() const { return fd_ >= 0; }
    int Get() const { return fd_; }
    void Signal() const; // any thread
    // Returns true when the handle had been signalled.
    bool Drain() const;

private:
    int fd_ = -1;
    int signal_ =
        -1; // what Signal writes to: the same eventfd on POSIX, a second socket on Windows
};

} // namespace platform
