// The answer of the simulated pilot BIOS to SYS/INFOPROBE: 175 bytes, little-endian fields.
//   0  LE32  load address of the running pilot BIOS (from its upload header)
//   4  LE16  flash ID (the loader looks its flash table up with it)
//   6  u8    processor revision (InfoRevision)
//   7  u8    number of flash chips (1)
//   8  LE16  RAM size in KiB (InfoRamKiB)
//  10  2     zero
//  12  163   the ID block: a fixed, made-up identity for the simulator (product ID at 2-3,
//            flash geometry of the 512 KiB window, a locally administered MAC, serial number
//            and product name as text, and at 155 a Fletcher sum over bytes 0-154 as its CRC)
#pragma once

#include "BoardOptions.h"

#include <cstdint>
#include <vector>

namespace sim {

constexpr size_t InfoReplySize = 175;
constexpr size_t IdBlockOffset = 12;
constexpr size_t IdBlockSize = 163;
constexpr uint8_t InfoRevision = 2;
constexpr uint16_t InfoRamKiB = 128;

struct BoardIdentity {
    uint32_t pilotAddress = 0;
    uint16_t flashId = 0;
    uint16_t productId = 0;
};

std::vector<uint8_t> BuildInfoReply(const BoardIdentity &identity);

} // namespace sim
