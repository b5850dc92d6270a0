// Sockets for the network roads: TCP to a programming device or a board's console, UDP for
// discovery. BSD sockets behind a small owner class, plus the asynchronous notification the
// connect wait needs: events on a socket arrive as window messages whose lParam carries the
// event in its low word and the error number in its high word, the layout the Winsock
// WSAAsyncSelect call uses.
//
// Error numbers are the platform's own (errno values on POSIX); 0 means success. No call here
// resolves names: addresses are dotted-decimal IPv4 texts or 32-bit values in network order.
//
// Thread safety: one Socket is used by one thread at a time, except that Shutdown may be called
// from another thread to wake a thread blocked in Recv (that is how a connection stops its
// reader), and the asynchronous notifications run on their own thread.
#pragma once

#include "platform/Messages.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace platform {

// The event bits of an asynchronous-select registration (Winsock values).
constexpr uint16_t FD_READ = 0x01;
constexpr uint16_t FD_WRITE = 0x02;
constexpr uint16_t FD_CONNECT = 0x10;
constexpr uint16_t FD_CLOSE = 0x20;

inline LPARAM MakeSelectLParam(uint16_t event, uint16_t error) {
    return static_cast<LPARAM>(static_cast<uint32_t>(error) << 16 | event);
}
inline uint16_t SelectEvent(LPARAM lParam) { return static_cast<uint16_t>(lParam & 0xFFFF); }
inline uint16_t SelectError(LPARAM lParam) {
    return static_cast<uint16_t>((static_cast<uint32_t>(lParam) >> 16) & 0xFFFF);
}

// The "would block" condition of a non-blocking call (a connect in progress counts too).
bool IsWouldBlock(int error);

// Dotted-decimal IPv4 ("10.0.0.7") to a value in network byte order; empty for anything else
// (names are never looked up).
std::optional<uint32_t> ParseIpv4(const std::string &text);
// A value in network byte order as "a.b.c.d".
std::string FormatIpv4(uint32_t networkOrder);
// True for 255.255.255.255 and for an address whose last octet is 255 (a subnet broadcast of
// the usual /24 networks); such a destination needs the broadcast option on the socket.
bool LooksLikeBroadcast(uint32_t networkOrder);

constexpr uint32_t Ipv4Any = 0; // INADDR_ANY
uint32_t Ipv4Loopback();        // 127.0.0.1 in network order

enum class ShutdownHow { Receive, Send, Both };

struct IoResult {
    long count = 0; // bytes moved; 0 with error 0 means the peer closed (stream) or nothing
    int error = 0;
};

struct Datagram {
    long count = 0;
    int error = 0;
    uint32_t address = 0; // sender, network order
    uint16_t port = 0;    // sender, host order
};

class AsyncSelectWatcher;

// A socket, closed by its destructor (an asynchronous-select registration ends first).
class Socket {
public:
    Socket();
    ~Socket();
    Socket(Socket &&other) noexcept;
    Socket &operator=(Socket &&other) noexcept;
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;

    // A new IPv4 socket; invalid on failure with the error in *error.
    static Socket Tcp(int *error = nullptr);
    static Socket Udp(int *error = nullptr);

    bool Valid() const { return fd_ >= 0; }
    int Handle() const { return fd_; }
    // Ends any asynchronous select, then closes. Safe on an invalid socket.
    void Close();

    int SetBlocking(bool blocking);
    // SO_LINGER with the given on/off and time (seconds).
    int SetLinger(bool on, int seconds);
    int SetBroadcast(bool on);
    int SetReuseAddress(bool on);
    // Acknowledges what arrives at once instead of after the delayed-acknowledgement pause, until
    // the system's own rules switch back; called after each receive it keeps a peer that holds
    // back small replies until its last one is acknowledged (Nagle) from stalling. Where the
    // system has no such switch it does nothing.
    int QuickAck();
    // TCP_NODELAY: small writes go on the wire at once.
    int SetNoDelay(bool on);
    // SO_RCVBUF, in bytes.
    int SetReceiveBuffer(int bytes);
    // The outcome of a non-blocking connect once the socket is writable (SO_ERROR): 0 when it
    // connected.
    int PendingError() const;
    int Bind(uint32_t address, uint16_t port);
    int Listen(int backlog);
    // A connect on a non-blocking socket returns a would-block error while it is in progress.
    int Connect(uint32_t address, uint16_t port);
    // Accepts one connection (blocking unless the socket is non-blocking).
    Socket Accept(int *error = nullptr);
    int Shutdown(ShutdownHow how);
    // The port the socket is bound to (host order), 0 when unknown.
    uint16_t LocalPort() const;

    // Sends every byte (retrying short writes and interruptions); the first hard error ends it.
    int SendAll(const uint8_t *data, size_t count);
    // Sends what the socket takes without blocking; when it takes no more, waits up to
    // timeoutMs once for room and goes on. count is the bytes sent (possibly fewer than asked,
    // with error 0); error is set for a hard failure, with count what went before it.
    IoResult SendSome(const uint8_t *data, size_t count, int timeoutMs);
    // One receive of at most count bytes. A non-blocking socket with nothing waiting gives a
    // would-block error.
    IoResult Recv(uint8_t *data, size_t count);
    IoResult SendTo(const uint8_t *data, size_t count, uint32_t address, uint16_t port);
    Datagram RecvFrom(uint8_t *data, size_t count);
    // Waits up to timeoutMs (< 0: no limit) for data; 1 readable, 0 timed out, -1 error.
    int WaitReadable(int timeoutMs) const;

    // Asks for events (FD_* bits) to be posted as message msg to window; the notification
    // thread also makes the socket non-blocking, like WSAAsyncSelect. events 0 ends the
    // registration (and waits for its thread). FD_CONNECT and FD_CLOSE are posted once each;
    // FD_READ is posted once and again only after the next Recv, as Winsock re-enables it.
    int AsyncSelect(HWND window, UINT msg, uint16_t events);

private:
    explicit Socket(int fd);

    int fd_ = -1;
    // As SetBlocking last left it: Windows cannot be asked, and a send that must not wait
    // switches a blocking socket for the call only.
    bool nonBlocking_ = false;
    std::unique_ptr<AsyncSelectWatcher> watcher_;
};

} // namespace platform
