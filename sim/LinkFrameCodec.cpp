#include "LinkFrameCodec.h"

namespace sim {

namespace {

uint16_t Le16(const uint8_t *at) { return uint16_t(at[0] | at[1] << 8); }

} // namespace

std::vector<uint8_t> EncodeLinkFrame(const Frame &frame) {
    std::vector<uint8_t> built = BuildFrame(frame);
    built.erase(built.begin()); // the device's side of the link has no flag
    return built;
}

void LinkFrameDecoder::Feed(const uint8_t *data, size_t count, std::vector<Frame> &frames) {
    pending_.insert(pending_.end(), data, data + count);
    while (TakeOne(frames)) {
    }
    // Keep the buffer from growing with what was already taken.
    if (start_ > 0 && (start_ == pending_.size() || start_ > 65536)) {
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
    }
}

bool LinkFrameDecoder::TakeOne(std::vector<Frame> &frames) {
    const size_t have = pending_.size() - start_;
    if (have == 0) return false;
    const uint8_t *at = pending_.data() + start_;
    if (at[0] != 0x02) {
        ++start_;
        return true;
    }
    if (have < LinkHeaderSize) return false;
    const uint16_t length = Le16(at + 4);
    if (at[1] != 0x00 || Le16(at + 6) != Fletcher8(at, 6) || length > MaxFramePayload) {
        ++start_; // not a header after all: look for the next 0x02
        return true;
    }
    const size_t total = LinkHeaderSize + length + LinkTrailerSize;
    if (have < total) return false;
    if (Le16(at + LinkHeaderSize + length) != Fletcher8(at, LinkHeaderSize + length)) {
        ++bad_;
    } else {
        Frame frame;
        frame.type = at[2];
        frame.subtype = at[3];
        frame.payload.assign(at + LinkHeaderSize, at + LinkHeaderSize + length);
        frames.push_back(std::move(frame));
    }
    start_ += total;
    return true;
}

} // namespace sim
