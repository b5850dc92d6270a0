// Little-endian fields in the simulator's wire payloads and files, read with their bounds
// checked by the caller, and the SYS/WRITE payload that the pilot BIOS and CorvixSys both take.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace sim {

inline uint16_t Le16(const std::vector<uint8_t> &bytes, size_t offset) {
    return uint16_t(bytes[offset] | bytes[offset + 1] << 8);
}
inline uint32_t Le32(const std::vector<uint8_t> &bytes, size_t offset) {
    return uint32_t(Le16(bytes, offset)) | uint32_t(Le16(bytes, offset + 2)) << 16;
}
inline void PutLe16(std::vector<uint8_t> &out, uint16_t value) {
    out.push_back(uint8_t(value));
    out.push_back(uint8_t(value >> 8));
}
inline void PutLe32(std::vector<uint8_t> &out, uint32_t value) {
    PutLe16(out, uint16_t(value));
    PutLe16(out, uint16_t(value >> 16));
}

// SYS/WRITE: address mode (0: physical), length n (LE16), address (LE32), then n data bytes.
struct WriteRequest {
    static constexpr size_t HeaderSize = 7;

    uint8_t mode = 0;
    uint16_t count = 0;
    uint32_t address = 0;
    const uint8_t *data = nullptr; // into the payload it was read from

    // The header fields, or empty when the payload is shorter than the header. The length is
    // not checked against the payload here: each board refuses a mismatch in its own words.
    static std::optional<WriteRequest> Read(const std::vector<uint8_t> &payload) {
        if (payload.size() < HeaderSize) return std::nullopt;
        return WriteRequest{payload[0], Le16(payload, 1), Le32(payload, 3),
                            payload.data() + HeaderSize};
    }
    bool LengthMatches(const std::vector<uint8_t> &payload) const {
        return HeaderSize + count == payload.size();
    }
};

} // namespace sim
