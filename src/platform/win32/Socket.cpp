// Sockets on Winsock 2. Error numbers are Winsock's (WSAECONNREFUSED and so on).
#include "platform/Socket.h"

#include "platform/AsyncSelect.h"
#include "platform/win32/Winsock.h"

#include <mutex>
#include <utility>

namespace platform {

namespace {

sockaddr_in MakeAddress(uint32_t address, uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = address;
    return sa;
}

int LastError() {
    const int error = ::WSAGetLastError();
    return error != 0 ? error : WSAENETDOWN;
}

int Check(int result) { return result == 0 ? 0 : LastError(); }

int PendingError(int fd) {
    int value = 0;
    int size = sizeof value;
    if (::getsockopt(NativeSocket(fd), SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&value),
                     &size) != 0)
        return LastError();
    return value;
}

int NewSocket(int type, int protocol, int *error) {
    if (!EnsureWinsock()) {
        if (error) *error = WSASYSNOTREADY;
        return -1;
    }
    // Winsock handles are not inherited by the programs we might start: no flag needed.
    const SOCKET socket = ::socket(AF_INET, type, protocol);
    if (error) *error = socket == INVALID_SOCKET ? LastError() : 0;
    return HandleOf(socket);
}

// A receive that Shutdown cancelled or that comes after it: the end of the stream, as on POSIX.
bool IsShutDownReceive(int error) {
    return error == WSAESHUTDOWN || error == WSA_OPERATION_ABORTED || error == WSAEINTR;
}

int SetOption(int fd, int level, int name, int value) {
    return Check(::setsockopt(NativeSocket(fd), level, name, reinterpret_cast<const char *>(&value),
                              sizeof value));
}

// Winsock sends at most INT_MAX bytes a call.
int Clamp(size_t count) { return count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(count); }

} // namespace

bool EnsureWinsock() {
    static const bool started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

PeekResult PeekSocket(int handle, int *error) {
    char byte = 0;
    // The watcher made the socket non-blocking, so the peek never waits.
    const int n = ::recv(NativeSocket(handle), &byte, 1, MSG_PEEK);
    if (n > 0) return PeekResult::Data;
    if (n < 0 && ::WSAGetLastError() == WSAEWOULDBLOCK) return PeekResult::Nothing;
    *error = n == 0 ? 0 : LastError();
    return PeekResult::Closed;
}

int SocketPendingError(int handle) { return PendingError(handle); }

// ---- free helpers ----

bool IsWouldBlock(int error) {
    return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS || error == WSAEALREADY;
}

uint32_t Ipv4Loopback() { return htonl(INADDR_LOOPBACK); }

// ---- Socket ----

Socket Socket::Tcp(int *error) { return Socket(NewSocket(SOCK_STREAM, IPPROTO_TCP, error)); }
Socket Socket::Udp(int *error) { return Socket(NewSocket(SOCK_DGRAM, IPPROTO_UDP, error)); }

void Socket::Close() {
    // The watcher polls the handle: it ends before the number can be reused.
    watcher_.reset();
    if (fd_ >= 0) {
        ::closesocket(NativeSocket(fd_)); // the handle is released even when this fails
        fd_ = -1;
    }
}

int Socket::SetBlocking(bool blocking) {
    if (const int error = Check(SetNonBlocking(NativeSocket(fd_), !blocking))) return error;
    nonBlocking_ = !blocking;
    return 0;
}

int Socket::SetLinger(bool on, int seconds) {
    linger value{static_cast<u_short>(on ? 1 : 0), static_cast<u_short>(seconds)};
    return Check(::setsockopt(NativeSocket(fd_), SOL_SOCKET, SO_LINGER,
                              reinterpret_cast<const char *>(&value), sizeof value));
}

int Socket::SetBroadcast(bool on) { return SetOption(fd_, SOL_SOCKET, SO_BROADCAST, on ? 1 : 0); }

int Socket::SetReuseAddress(bool on) {
    // SO_REUSEADDR on Windows would let another program take a port we listen on; the exclusive
    // use it also grants on POSIX is what Windows gives without it.
    (void)on;
    return 0;
}

// Winsock has no per-receive switch for the delayed acknowledgement (its default timer is
// short): nothing to do on a stream, and the same refusal as elsewhere for anything else.
int Socket::QuickAck() {
    int type = 0;
    int size = sizeof type;
    if (const int error = Check(::getsockopt(NativeSocket(fd_), SOL_SOCKET, SO_TYPE,
                                             reinterpret_cast<char *>(&type), &size));
        error != 0)
        return error;
    return type == SOCK_STREAM ? 0 : WSAENOPROTOOPT;
}

int Socket::SetNoDelay(bool on) { return SetOption(fd_, IPPROTO_TCP, TCP_NODELAY, on ? 1 : 0); }

int Socket::SetReceiveBuffer(int bytes) { return SetOption(fd_, SOL_SOCKET, SO_RCVBUF, bytes); }

int Socket::PendingError() const { return platform::PendingError(fd_); }

int Socket::Bind(uint32_t address, uint16_t port) {
    const sockaddr_in sa = MakeAddress(address, port);
    return Check(::bind(NativeSocket(fd_), reinterpret_cast<const sockaddr *>(&sa), sizeof sa));
}

int Socket::Listen(int backlog) { return Check(::listen(NativeSocket(fd_), backlog)); }

int Socket::Connect(uint32_t address, uint16_t port) {
    const sockaddr_in sa = MakeAddress(address, port);
    const int error =
        Check(::connect(NativeSocket(fd_), reinterpret_cast<const sockaddr *>(&sa), sizeof sa));
    if (watcher_) {
        if (error == 0)
            watcher_->ConnectDone(0);
        else if (IsWouldBlock(error))
            watcher_->ConnectStarted();
    }
    return error;
}

Socket Socket::Accept(int *error) {
    const SOCKET accepted = ::accept(NativeSocket(fd_), nullptr, nullptr);
    if (error) *error = accepted == INVALID_SOCKET ? LastError() : 0;
    return Socket(HandleOf(accepted));
}

int Socket::Shutdown(ShutdownHow how) {
    const int value = how == ShutdownHow::Receive ? SD_RECEIVE
                      : how == ShutdownHow::Send  ? SD_SEND
                                                  : SD_BOTH;
    const int error = Check(::shutdown(NativeSocket(fd_), value));
    // POSIX wakes a receive blocked in another thread when the receiving side is shut down, and
    // the connections stop their readers that way; Windows does not, so that receive is
    // cancelled (Recv then reports the end of the stream).
    if (how != ShutdownHow::Send)
        ::CancelIoEx(reinterpret_cast<HANDLE>(NativeSocket(fd_)), nullptr);
    return error;
}

uint16_t Socket::LocalPort() const {
    sockaddr_in sa{};
    int size = sizeof sa;
    if (::getsockname(NativeSocket(fd_), reinterpret_cast<sockaddr *>(&sa), &size) != 0) return 0;
    return ntohs(sa.sin_port);
}

int Socket::SendAll(const uint8_t *data, size_t count) {
    size_t done = 0;
    while (done < count) {
        const int n = ::send(NativeSocket(fd_), reinterpret_cast<const char *>(data + done),
                             Clamp(count - done), 0);
        if (n < 0) {
            const int error = LastError();
            if (error == WSAEWOULDBLOCK) {
                // A non-blocking socket with a full send buffer: wait for room, then go on.
                PollEntry entry{fd_, PollOut, 0};
                if (Poll(&entry, 1, -1) < 0) return LastError();
                continue;
            }
            return error;
        }
        done += static_cast<size_t>(n);
    }
    return 0;
}

IoResult Socket::SendSome(const uint8_t *data, size_t count, int timeoutMs) {
    IoResult result;
    size_t done = 0;
    // Winsock has no per-call "don't wait": a blocking socket is non-blocking for the call.
    const bool wasBlocking = !nonBlocking_;
    if (wasBlocking) SetBlocking(false);
    while (done < count) {
        const int n = ::send(NativeSocket(fd_), reinterpret_cast<const char *>(data + done),
                             Clamp(count - done), 0);
        if (n >= 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        const int error = LastError();
        if (error != WSAEWOULDBLOCK) {
            result.error = error;
            break;
        }
        // The peer's window is full: wait for room once, for at most the slice.
        if (timeoutMs <= 0) break;
        PollEntry entry{fd_, PollOut, 0};
        const int ready = Poll(&entry, 1, timeoutMs);
        timeoutMs = 0;
        if (ready < 0) {
            result.error = LastError();
            break;
        }
        if (ready > 0 && (entry.revents & (PollErr | PollHup)) != 0 &&
            (entry.revents & PollOut) == 0) {
            result.error = WSAECONNRESET;
            break;
        }
    }
    if (wasBlocking) SetBlocking(true);
    result.count = static_cast<long>(done);
    return result;
}

IoResult Socket::Recv(uint8_t *data, size_t count) {
    IoResult result;
    const int n = ::recv(NativeSocket(fd_), reinterpret_cast<char *>(data), Clamp(count), 0);
    if (n >= 0) {
        result.count = n;
    } else if (const int error = LastError(); !IsShutDownReceive(error)) {
        result.error = error;
    }
    if (watcher_) watcher_->ReadTaken();
    return result;
}

IoResult Socket::SendTo(const uint8_t *data, size_t count, uint32_t address, uint16_t port) {
    const sockaddr_in sa = MakeAddress(address, port);
    IoResult result;
    const int n = ::sendto(NativeSocket(fd_), reinterpret_cast<const char *>(data), Clamp(count), 0,
                           reinterpret_cast<const sockaddr *>(&sa), sizeof sa);
    if (n < 0)
        result.error = LastError();
    else
        result.count = n;
    return result;
}

Datagram Socket::RecvFrom(uint8_t *data, size_t count) {
    sockaddr_in sa{};
    int size = sizeof sa;
    Datagram result;
    int n = ::recvfrom(NativeSocket(fd_), reinterpret_cast<char *>(data), Clamp(count), 0,
                       reinterpret_cast<sockaddr *>(&sa), &size);
    // A datagram longer than the buffer fills it and the rest is gone, as on POSIX; Windows
    // reports that as an error.
    if (n < 0 && ::WSAGetLastError() == WSAEMSGSIZE) n = Clamp(count);
    if (n < 0) {
        result.error = LastError();
    } else {
        result.count = n;
        result.address = sa.sin_addr.s_addr;
        result.port = ntohs(sa.sin_port);
    }
    if (watcher_) watcher_->ReadTaken();
    return result;
}

int Socket::WaitReadable(int timeoutMs) const {
    PollEntry entry{fd_, PollIn, 0};
    const int ready = Poll(&entry, 1, timeoutMs);
    if (ready < 0) return -1;
    return ready > 0 ? 1 : 0;
}

int Socket::AsyncSelect(HWND window, UINT msg, uint16_t events) {
    watcher_.reset();
    if (events == 0) return 0;
    if (const int error = SetBlocking(false)) return error;
    auto watcher = std::make_unique<AsyncSelectWatcher>(fd_, window, msg, events);
    if (!watcher->Start()) return WSAENOBUFS;
    watcher_ = std::move(watcher);
    return 0;
}

} // namespace platform
