// The payload of a SYS/WRITE request as the benchmarks build their bare baselines: mode 0, the
// byte count, the address, then the bytes.
#pragma once

#include "comm/PacketCodec.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace bench {

inline std::vector<uint8_t> WritePayload(uint32_t address, const uint8_t *data, size_t count) {
    std::vector<uint8_t> payload(7 + count);
    packet::StoreLe16(&payload[1], uint16_t(count));
    packet::StoreLe32(&payload[3], address);
    std::copy(data, data + count, payload.begin() + 7);
    return payload;
}

} // namespace bench
