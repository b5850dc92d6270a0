// BSD sockets.
#include "platform/Socket.h"

#include "platform/AsyncSelect.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
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

int LastError() { return errno != 0 ? errno : EIO; }

// A hard error of SO_ERROR, or the error of getsockopt itself.
int PendingError(int fd) {
    int value = 0;
    socklen_t size = sizeof value;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &value, &size) != 0) return LastError();
    return value;
}

int NewSocket(int type, int *error) {
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (error) *error = fd < 0 ? LastError() : 0;
    return fd;
}

} // namespace

PeekResult PeekSocket(int handle, int *error) {
    uint8_t byte = 0;
    const ssize_t n = ::recv(handle, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) return PeekResult::Data;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return PeekResult::Nothing;
    *error = n == 0 ? 0 : LastError();
    return PeekResult::Closed;
}

int SocketPendingError(int handle) { return PendingError(handle); }

// ---- free helpers ----

bool IsWouldBlock(int error) {
    return error == EWOULDBLOCK || error == EAGAIN || error == EINPROGRESS;
}

uint32_t Ipv4Loopback() { return htonl(INADDR_LOOPBACK); }

// ---- Socket ----

Socket Socket::Tcp(int *error) { return Socket(NewSocket(SOCK_STREAM, error)); }
Socket Socket::Udp(int *error) { return Socket(NewSocket(SOCK_DGRAM, error)); }

void Socket::Close() {
    // The watcher polls the descriptor: it ends before the number can be reused.
    watcher_.reset();
    if (fd_ >= 0) {
        ::close(fd_); // the descriptor is released even when close reports an error
        fd_ = -1;
    }
}

int Socket::SetBlocking(bool blocking) {
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags < 0) return LastError();
    const int wanted = blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK;
    if (::fcntl(fd_, F_SETFL, wanted) != 0) return LastError();
    nonBlocking_ = !blocking;
    return 0;
}

int Socket::SetLinger(bool on, int seconds) {
    linger value{on ? 1 : 0, seconds};
    return ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &value, sizeof value) == 0 ? 0 : LastError();
}

int Socket::SetBroadcast(bool on) {
    const int value = on ? 1 : 0;
    return ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &value, sizeof value) == 0 ? 0 : LastError();
}

int Socket::SetReuseAddress(bool on) {
    const int value = on ? 1 : 0;
    return ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &value, sizeof value) == 0 ? 0 : LastError();
}

int Socket::QuickAck() {
#ifdef TCP_QUICKACK
    const int value = 1;
    return ::setsockopt(fd_, IPPROTO_TCP, TCP_QUICKACK, &value, sizeof value) == 0 ? 0
                                                                                   : LastError();
#else
    return 0;
#endif
}

int Socket::SetNoDelay(bool on) {
    const int value = on ? 1 : 0;
    return ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &value, sizeof value) == 0 ? 0 : LastError();
}

int Socket::SetReceiveBuffer(int bytes) {
    return ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0 ? 0 : LastError();
}

int Socket::PendingError() const { return platform::PendingError(fd_); }

int Socket::Bind(uint32_t address, uint16_t port) {
    const sockaddr_in sa = MakeAddress(address, port);
    return ::bind(fd_, reinterpret_cast<const sockaddr *>(&sa), sizeof sa) == 0 ? 0 : LastError();
}

int Socket::Listen(int backlog) { return ::listen(fd_, backlog) == 0 ? 0 : LastError(); }

int Socket::Connect(uint32_t address, uint16_t port) {
    const sockaddr_in sa = MakeAddress(address, port);
    int result;
    while ((result = ::connect(fd_, reinterpret_cast<const sockaddr *>(&sa), sizeof sa)) != 0 &&
           errno == EINTR) {
    }
    const int error = result == 0 ? 0 : LastError();
    if (watcher_) {
        if (error == 0)
            watcher_->ConnectDone(0);
        else if (IsWouldBlock(error))
            watcher_->ConnectStarted();
    }
    return error;
}

Socket Socket::Accept(int *error) {
    int fd;
    while ((fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC)) < 0 && errno == EINTR) {
    }
    if (error) *error = fd < 0 ? LastError() : 0;
    return Socket(fd);
}

int Socket::Shutdown(ShutdownHow how) {
    const int value = how == ShutdownHow::Receive ? SHUT_RD
                      : how == ShutdownHow::Send  ? SHUT_WR
                                                  : SHUT_RDWR;
    return ::shutdown(fd_, value) == 0 ? 0 : LastError();
}

uint16_t Socket::LocalPort() const {
    sockaddr_in sa{};
    socklen_t size = sizeof sa;
    if (::getsockname(fd_, reinterpret_cast<sockaddr *>(&sa), &size) != 0) return 0;
    return ntohs(sa.sin_port);
}

int Socket::SendAll(const uint8_t *data, size_t count) {
    size_t done = 0;
    while (done < count) {
        // MSG_NOSIGNAL: a peer that went away is an error number here, not a SIGPIPE.
        const ssize_t n = ::send(fd_, data + done, count - done, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                // A non-blocking socket with a full send buffer: wait for room, then go on.
                pollfd pfd{fd_, POLLOUT, 0};
                if (::poll(&pfd, 1, -1) < 0 && errno != EINTR) return LastError();
                continue;
            }
            return LastError();
        }
        done += static_cast<size_t>(n);
    }
    return 0;
}

IoResult Socket::SendSome(const uint8_t *data, size_t count, int timeoutMs) {
    IoResult result;
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::send(fd_, data + done, count - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            result.error = LastError();
            break;
        }
        // The peer's window is full: wait for room once, for at most the slice.
        if (timeoutMs <= 0) break;
        pollfd pfd{fd_, POLLOUT, 0};
        const int ready = ::poll(&pfd, 1, timeoutMs);
        timeoutMs = 0;
        if (ready < 0 && errno != EINTR) {
            result.error = LastError();
            break;
        }
        if (ready > 0 && (pfd.revents & (POLLERR | POLLHUP)) != 0 && (pfd.revents & POLLOUT) == 0) {
            result.error = EPIPE;
            break;
        }
    }
    result.count = static_cast<long>(done);
    return result;
}

IoResult Socket::Recv(uint8_t *data, size_t count) {
    IoResult result;
    ssize_t n;
    while ((n = ::recv(fd_, data, count, 0)) < 0 && errno == EINTR) {
    }
    if (n < 0)
        result.error = LastError();
    else
        result.count = static_cast<long>(n);
    if (watcher_) watcher_->ReadTaken();
    return result;
}

IoResult Socket::SendTo(const uint8_t *data, size_t count, uint32_t address, uint16_t port) {
    const sockaddr_in sa = MakeAddress(address, port);
    IoResult result;
    ssize_t n;
    while ((n = ::sendto(fd_, data, count, MSG_NOSIGNAL, reinterpret_cast<const sockaddr *>(&sa),
                         sizeof sa)) < 0 &&
           errno == EINTR) {
    }
    if (n < 0)
        result.error = LastError();
    else
        result.count = static_cast<long>(n);
    return result;
}

Datagram Socket::RecvFrom(uint8_t *data, size_t count) {
    sockaddr_in sa{};
    socklen_t size = sizeof sa;
    Datagram result;
    ssize_t n;
    while ((n = ::recvfrom(fd_, data, count, 0, reinterpret_cast<sockaddr *>(&sa), &size)) < 0 &&
           errno == EINTR) {
    }
    if (n < 0) {
        result.error = LastError();
    } else {
        result.count = static_cast<long>(n);
        result.address = sa.sin_addr.s_addr;
        result.port = ntohs(sa.sin_port);
    }
    if (watcher_) watcher_->ReadTaken();
    return result;
}

int Socket::WaitReadable(int timeoutMs) const {
    pollfd pfd{fd_, POLLIN, 0};
    int ready;
    while ((ready = ::poll(&pfd, 1, timeoutMs)) < 0 && errno == EINTR) {
    }
    if (ready < 0) return -1;
    return ready > 0 ? 1 : 0;
}

int Socket::AsyncSelect(HWND window, UINT msg, uint16_t events) {
    watcher_.reset();
    if (events == 0) return 0;
    if (const int error = SetBlocking(false)) return error;
    auto watcher = std::make_unique<AsyncSelectWatcher>(fd_, window, msg, events);
    if (!watcher->Start()) return ENOMEM;
    watcher_ = std::move(watcher);
    return 0;
}

} // namespace platform
