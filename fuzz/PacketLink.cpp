// The packet parser on the network device link's framing: no flag and no stuffing, any byte may
// begin a frame, and 0x02 after a finished or broken frame starts the next one. The bytes go
// through the link connection's own receive hooks and the parser its reader thread runs.
#include "FuzzSupport.h"

#include "comm/TCorvixLinkConnection.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return fuzz::RunPacketInput<TCorvixLinkConnection>(data, size, false);
}
