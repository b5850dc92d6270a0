// The packet frame on the wire, without any connection: the Fletcher checksum, the header, byte
// stuffing and the names of the packet codes. Pure functions; the connection's receive parser,
// the pilot BIOS upload and the simulated board all build on them.
//
// Frame (before stuffing): 7E 02 00 type subtype len-lo len-hi hsum-lo hsum-hi payload psum-lo
// psum-hi. The header checksum covers offsets 1-6; the packet checksum runs over offsets 1-8
// and then the payload. Stuffing escapes 0x7E and 0x7D after the flag as 0x7D, byte ^ 0x20.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace packet {

inline constexpr uint8_t Flag = 0x7E;
inline constexpr uint8_t Escape = 0x7D;
inline constexpr uint8_t EscapeXor = 0x20;
inline constexpr uint8_t FrameMarker = 0x02; // header byte 1 of every frame

inline constexpr size_t HeaderSize = 9;
inline constexpr size_t TrailerSize = 2;
inline constexpr size_t MaxSendPayload = 16384;    // a longer send fails with 4100
inline constexpr size_t MaxReceivePayload = 32768; // a longer received length is a bad frame
inline constexpr size_t PayloadBufferSize = 32768;
inline constexpr size_t EncodeBufferSize = 65584; // holds the largest stuffed frame

inline constexpr uint8_t TypeSys = 0;
inline constexpr uint8_t TypeDbg = 1;
inline constexpr uint8_t CodeMask = 0x3F;
inline constexpr uint8_t NakBit = 0x40;
inline constexpr uint8_t AckBit = 0x80;

// Header offsets.
inline constexpr size_t OffType = 3, OffSubtype = 4, OffLength = 5, OffHeaderSum = 7;

inline void StoreLe16(uint8_t *at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value & 0xFF);
    at[1] = static_cast<uint8_t>(value >> 8);
}
inline uint16_t LoadLe16(const uint8_t *at) { return static_cast<uint16_t>(at[0] | (at[1] << 8)); }
inline void StoreLe32(uint8_t *at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}
inline uint32_t LoadLe32(const uint8_t *at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
           static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

// 8-bit Fletcher with end-around carry, continuing from state (A high byte, B low byte).
uint16_t Checksum(const uint8_t *data, size_t count, uint16_t state);

// Fills all nine header bytes, the header checksum included.
void BuildHeader(uint8_t *header, uint8_t type, uint8_t subtype, uint16_t length);
// The header checksum over offsets 1-6 matches and the length is at most MaxReceivePayload.
bool HeaderValid(const uint8_t *header);
// Packet checksum: from 0 over header offsets 1-8, then the payload.
uint16_t PacketChecksum(const uint8_t *header, const uint8_t *payload, size_t length);

// Largest stuffed frame for a payload of length bytes.
constexpr size_t StuffedFrameBound(size_t length) {
    return 1 + 2 * (HeaderSize - 1 + length + TrailerSize);
}

// Writes flag, stuffed header (offsets 1-8), stuffed payload and stuffed checksum into out.
// Returns the frame length, or 0 when capacity could be too small for it.
size_t EncodeStuffed(const uint8_t *header, const uint8_t *payload, size_t length,
                     const uint8_t *checksum, uint8_t *out, size_t capacity);
// The CorvixLink form: the same bytes copied unstuffed (flag included at out[0]; the link sends
// from offset 1). Returns 10 + length, or 0 when capacity is too small.
size_t EncodePlain(const uint8_t *header, const uint8_t *payload, size_t length,
                   const uint8_t *checksum, uint8_t *out, size_t capacity);

// A whole stuffed frame in a fresh vector: for tests, peers and tools, not the send path.
std::vector<uint8_t> MakeFrame(uint8_t type, uint8_t subtype, const uint8_t *payload,
                               size_t length);

// The communication log's name of a code ("NOOP", "SINGLESTEP"), or nullptr when it has none.
const char *PacketName(uint8_t type, uint8_t code);

// A frame as a peer sees it after unstuffing.
struct DecodedFrame {
    uint8_t type = 0;
    uint8_t subtype = 0;
    std::vector<uint8_t> payload;
    bool good = false; // both checksums right
};

// Splits a stuffed byte stream into frames, for peers (simulated boards, test peers,
// benchmarks). The connection itself runs its own parser with the per-kind hooks.
class FrameScanner {
public:
    // Feeds bytes; returns true and fills frame when a frame ended with the last byte taken.
    // Call again with the remaining bytes (consumed tells how many were taken).
    bool Feed(const uint8_t *data, size_t count, size_t *consumed, DecodedFrame *frame);

private:
    void Restart();
    std::vector<uint8_t> bytes_; // unstuffed, flag at 0
    bool inFrame_ = false;
    bool escape_ = false;
};

} // namespace packet
