// The board's side of the packet frame, written apart from the product's packet layer so that
// each can check the other: 0x7E, 0x02, 0x00, type, subtype, length (LE16), header checksum over
// offsets 1-6, payload, packet checksum over offsets 1-8 and the payload; after the flag, 0x7E
// and 0x7D travel as 0x7D, byte ^ 0x20. Checksums are the 8-bit Fletcher sums with end-around
// carry, stored A*256+B little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

constexpr uint8_t FrameFlag = 0x7E;
constexpr uint8_t FrameEscape = 0x7D;
constexpr size_t FrameHeaderSize = 9; // flag up to the header checksum
constexpr size_t MaxFramePayload = 32768;

// Continues a checksum from state (A in the high byte, B in the low byte).
uint16_t Fletcher8(const uint8_t *data, size_t count, uint16_t state = 0);

struct Frame {
    uint8_t type = 0;
    uint8_t subtype = 0;
    std::vector<uint8_t> payload;
};

// The frame before stuffing, flag included.
std::vector<uint8_t> BuildFrame(const Frame &frame);
// Stuffs everything after the flag.
std::vector<uint8_t> StuffFrame(const std::vector<uint8_t> &built);
inline std::vector<uint8_t> EncodeFrame(const Frame &frame) {
    return StuffFrame(BuildFrame(frame));
}

// Finds frames in a byte stream. A flag inside a frame abandons it and starts a new one; a frame
// with a wrong checksum or a length above MaxFramePayload is counted and dropped.
class FrameDecoder {
public:
    void Feed(const uint8_t *data, size_t count, std::vector<Frame> &frames);
    size_t BadFrames() const { return bad_; }

private:
    enum class State { Hunt, Header, Payload, Trailer };
    void Take(uint8_t byte, std::vector<Frame> &frames);
    void Restart();

    State state_ = State::Hunt;
    bool escaped_ = false;
    uint8_t header_[FrameHeaderSize] = {};
    size_t headerLength_ = 0;
    uint16_t payloadLength_ = 0;
    std::vector<uint8_t> payload_;
    uint8_t trailer_[2] = {};
    size_t trailerLength_ = 0;
    size_t bad_ = 0;
};

} // namespace sim
