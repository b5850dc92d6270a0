// Small owners of file descriptors for the serial layer and corvix-sim: a descriptor closed by
// its destructor, and an eventfd that wakes a poll from any thread.
#pragma once

#include <cerrno>
#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>
#include <utility>

namespace platform {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept {
        if (this != &other) Reset(std::exchange(other.fd_, -1));
        return *this;
    }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    ~UniqueFd() { Reset(); }

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    void Reset(int fd = -1) {
        if (fd_ >= 0)
            ::close(fd_); // nothing useful to do when close fails: the descriptor is gone anyway
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

// Signal() makes the descriptor readable until Drain() is called.
class WakeFd {
public:
    WakeFd() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    bool Valid() const { return fd_.Valid(); }
    int Get() const { return fd_.Get(); }
    void Signal() const {
        uint64_t one = 1;
        // A full counter (EAGAIN) is already readable, which is all a wake needs.
        while (::write(fd_.Get(), &one, sizeof one) < 0 && errno == EINTR) {
        }
    }
    // Returns true when the descriptor had been signalled.
    bool Drain() const {
        uint64_t count = 0;
        ssize_t got;
        while ((got = ::read(fd_.Get(), &count, sizeof count)) < 0 && errno == EINTR) {
        }
        return got == sizeof count && count > 0;
    }

private:
    UniqueFd fd_;
};

} // namespace platform
