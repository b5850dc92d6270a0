// The discovery reply decoder, on a datagram of any length taken as a round takes it: into the
// reply's fixed size, zero-filled behind a short one, cut after a long one. The five texts must
// stay within what their fields can say.
#include "FuzzSupport.h"

#include "discovery/Discovery.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    DiscoveryReplyBytes bytes{};
    std::copy_n(data, std::min(size, bytes.size()), bytes.begin());
    const DiscoveryReply reply = DecodeDiscoveryReply(bytes);
    fuzz::Check(reply.name.size() <= 40, "a name longer than its field");
    fuzz::Check(reply.name.find('\0') == std::string::npos, "a name that runs past its terminator");
    fuzz::Check(reply.ip.size() >= 7 && reply.ip.size() <= 15,
                "an address that is not dotted decimal");
    fuzz::Check(reply.mac.size() == 17, "a MAC address of another length");
    fuzz::Check(!reply.port.empty() && reply.port.size() <= 5,
                "a port that is not a 16-bit number");
    (void)DeviceLine(reply);
    (void)IsDiscoveryRequest(data, size);
    return 0;
}
