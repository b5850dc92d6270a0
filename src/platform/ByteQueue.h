// ByteQueue: bytes taken at the back and given out at the front, in one buffer that is used again
// and again. A reader thread hands a serial stream over through it packet after packet; once the
// buffer has grown to what the stream needs, nothing is allocated (a deque takes and frees a
// block of its own every few hundred bytes).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {

class ByteQueue {
public:
    size_t size() const { return bytes_.size() - front_; }
    bool empty() const { return size() == 0; }

    void Append(const uint8_t *data, size_t count) {
        if (empty()) {
            clear();
        } else if (front_ > bytes_.size() / 2) {
            // Most of the buffer has been given out: move the rest to its start, rather than
            // growing it, before the new bytes go in.
            bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(front_));
            front_ = 0;
        }
        bytes_.insert(bytes_.end(), data, data + count);
    }

    // Gives out up to count bytes; returns how many.
    size_t Take(uint8_t *out, size_t count) {
        const size_t taken = std::min(count, size());
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(front_), taken, out);
        front_ += taken;
        return taken;
    }

    void clear() {
        bytes_.clear();
        front_ = 0;
    }

private:
    std::vector<uint8_t> bytes_;
    size_t front_ = 0; // bytes_[0, front_) are given out already
};

} // namespace platform
