// The readable form of a frame in the communication log: the name line of its SYS or DBG code
// and, for the codes that carry them, the detail lines.
#pragma once

#include "comm/LogText.h"

#include <cstdint>

namespace commlog {

// The ID block the board reports in its INFOPROBE reply, from payload offset 12.
inline constexpr uint32_t IdBlockOffset = 12;
inline constexpr uint32_t IdBlockSize = 163;

// frame: the frame as it went over the line, flag first; stuffed tells whether 0x7D escapes
// the byte after it (the serial and console framing) or stands for itself (the device link).
// A frame of another type than SYS or DBG, or too short for its header, writes nothing; a
// detail line is written only when the frame carries every byte it shows.
void DecodeFrame(const uint8_t *frame, uint32_t count, bool stuffed, LogText &out);

// The ID block, one field a line (block: IdBlockSize bytes).
void DumpIdBlock(const uint8_t *block, LogText &out);

} // namespace commlog
