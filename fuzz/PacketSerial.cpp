// The packet parser on the serial framing: a frame starts at a flag, 0x7D escapes the byte after
// it, and a flag anywhere sends the parser back to look for a frame. The bytes go through the
// serial connection's own receive hooks and the parser its reader thread runs.
#include "FuzzSupport.h"

#include "comm/TSerialConnection.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return fuzz::RunPacketInput<TSerialConnection>(data, size, true);
}
