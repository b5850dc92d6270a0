// Poll on WSAPoll, and a wake handle made of two UDP sockets on loopback: Windows polls sockets
// only, and a datagram to itself is the one event a socket poll can be woken by.
#include "platform/Poll.h"

#include "platform/win32/Winsock.h"

#include <vector>

namespace platform {

namespace {

short ToNative(short events) {
    short native = 0;
    if (events & PollIn) native |= POLLRDNORM;
    if (events & PollOut) native |= POLLWRNORM;
    return native;
}

short FromNative(short native) {
    short events = 0;
    if (native & (POLLRDNORM | POLLRDBAND)) events |= PollIn;
    if (native & POLLWRNORM) events |= PollOut;
    if (native & POLLERR) events |= PollErr;
    if (native & POLLHUP) events |= PollHup;
    if (native & POLLNVAL) events |= PollNval;
    return events;
}

} // namespace

int Poll(PollEntry *entries, size_t count, std::chrono::nanoseconds timeout) {
    // WSAPoll would refuse the skipped entries: it is given only the others.
    std::vector<WSAPOLLFD> fds;
    std::vector<size_t> positions;
    for (size_t i = 0; i < count; ++i) {
        entries[i].revents = 0;
        if (entries[i].handle < 0) continue;
        fds.push_back(WSAPOLLFD{NativeSocket(entries[i].handle), ToNative(entries[i].events), 0});
        positions.push_back(i);
    }
    // Rounded up: a wait for 22 us must not become a busy loop of zero-length waits.
    const INT ms =
        timeout.count() < 0
            ? -1
            : static_cast<INT>(std::chrono::ceil<std::chrono::milliseconds>(timeout).count());
    if (fds.empty()) {
        ::Sleep(ms < 0 ? INFINITE : static_cast<DWORD>(ms));
        return 0;
    }
    const int ready = ::WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), ms);
    if (ready < 0) return -1;
    for (size_t i = 0; i < fds.size(); ++i)
        entries[positions[i]].revents = FromNative(fds[i].revents);
    return ready;
}

WakeFd::WakeFd() {
    if (!EnsureWinsock()) return;
    SOCKET receiver = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    SOCKET sender = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    const bool ready =
        receiver != INVALID_SOCKET && sender != INVALID_SOCKET &&
        ::bind(receiver, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        ::getsockname(receiver, reinterpret_cast<sockaddr *>(&address), &length) == 0 &&
        ::connect(sender, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        SetNonBlocking(receiver, true) == 0 && SetNonBlocking(sender, true) == 0;
    if (!ready) {
        if (receiver != INVALID_SOCKET) ::closesocket(receiver);
        if (sender != INVALID_SOCKET) ::closesocket(sender);
        return;
    }
    fd_ = HandleOf(receiver);
    signal_ = HandleOf(sender);
}

WakeFd::~WakeFd() {
    if (fd_ >= 0) ::closesocket(NativeSocket(fd_));
    if (signal_ >= 0) ::closesocket(NativeSocket(signal_));
}

void WakeFd::Signal() const {
    const char one = 1;
    // A full queue (would-block) is already readable, which is all a wake needs.
    (void)::send(NativeSocket(signal_), &one, 1, 0);
}

bool WakeFd::Drain() const {
    char buffer[64];
    bool signalled = false;
    while (::recv(NativeSocket(fd_), buffer, sizeof buffer, 0) > 0) signalled = true;
    return signalled;
}

} // namespace platform
