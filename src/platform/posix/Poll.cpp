#include "platform/Poll.h"

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

// poll(2)'s bits are the ones our constants name, but not by law: translate.
short ToNative(short events) {
    short native = 0;
    if (events & PollIn) native |= POLLIN;
    if (events & PollOut) native |= POLLOUT;
    return native;
}

short FromNative(short native) {
    short events = 0;
    if (native & POLLIN) events |= PollIn;
    if (native & POLLOUT) events |= PollOut;
    if (native & POLLERR) events |= PollErr;
    if (native & POLLHUP) events |= PollHup;
    if (native & POLLNVAL) events |= PollNval;
    return events;
}

} // namespace

int Poll(PollEntry *entries, size_t count, std::chrono::nanoseconds timeout) {
    // Two entries are the common case: no allocation for them.
    pollfd few[4];
    std::vector<pollfd> many;
    pollfd *fds = few;
    if (count > 4) {
        many.resize(count);
        fds = many.data();
    }
    for (size_t i = 0; i < count; ++i)
        fds[i] = pollfd{entries[i].handle, ToNative(entries[i].events), 0};
    timespec limit{};
    const timespec *limitPointer = nullptr;
    if (timeout.count() >= 0) {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout);
        limit = timespec{time_t(seconds.count()), long((timeout - seconds).count())};
        limitPointer = &limit;
    }
    int ready;
    while ((ready = ::ppoll(fds, nfds_t(count), limitPointer, nullptr)) < 0 && errno == EINTR) {
    }
    for (size_t i = 0; i < count; ++i) entries[i].revents = FromNative(fds[i].revents);
    return ready;
}

WakeFd::WakeFd() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), signal_(fd_) {}

WakeFd::~WakeFd() {
    if (fd_ >= 0) ::close(fd_); // nothing useful to do when close fails
}

void WakeFd::Signal() const {
    uint64_t one = 1;
    // A full counter (EAGAIN) is already readable, which is all a wake needs.
    while (::write(signal_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

bool WakeFd::Drain() const {
    uint64_t count = 0;
    ssize_t got;
    while ((got = ::read(fd_, &count, sizeof count)) < 0 && errno == EINTR) {
    }
    return got == sizeof count && count > 0;
}

} // namespace platform
