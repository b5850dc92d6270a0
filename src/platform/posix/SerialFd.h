// The owner of a file descriptor for the serial layer and corvix-sim's pseudo-terminal, closed by
// its destructor. The wake handle for a poll is WakeFd in platform/Poll.h.
#pragma once

#include "platform/Poll.h"

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

} // namespace platform
