// Frames as the CorvixLink device sees them on its TCP side: the serial frame without its flag
// and without byte stuffing, 10 + n bytes: 02 00 type subtype length (LE16) header checksum
// (LE16, over the first six bytes) payload packet checksum (LE16, over the first eight bytes and
// the payload).
#pragma once

#include "FrameCodec.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

constexpr size_t LinkHeaderSize = 8;
constexpr size_t LinkTrailerSize = 2;

std::vector<uint8_t> EncodeLinkFrame(const Frame &frame);

// Finds frames in the byte stream. A byte that cannot begin a frame (anything but 0x02 followed
// by 0x00 and a right header checksum) is skipped, so the decoder finds the next frame after
// garbage; a frame with a wrong packet checksum or a length above MaxFramePayload is counted and
// dropped whole.
class LinkFrameDecoder {
public:
    void Feed(const uint8_t *data, size_t count, std::vector<Frame> &frames);
    size_t BadFrames() const { return bad_; }

private:
    // Takes one frame or one skipped byte from the front; false when more bytes are needed.
    bool TakeOne(std::vector<Frame> &frames);

    std::vector<uint8_t> pending_;
    size_t start_ = 0;
    size_t bad_ = 0;
};

} // namespace sim
