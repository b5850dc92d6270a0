#include "DiscoverySupport.h"

#include "platform/Socket.h"

namespace discoverytest {

std::unique_ptr<sim::DiscoveryResponder> StartResponder(sim::DiscoveryOptions options) {
    options.port = 0;
    // An ephemeral port whose neighbour is taken is tried again; a few attempts always do.
    for (int attempt = 0; attempt < 20; ++attempt) {
        auto responder = std::make_unique<sim::DiscoveryResponder>(options);
        if (!responder->Start() || responder->Port() == 0xFFFF) continue;
        platform::Socket probe = platform::Socket::Udp();
        if (probe.Bind(platform::Ipv4Any, uint16_t(responder->Port() + 1)) == 0) return responder;
    }
    return nullptr;
}

} // namespace discoverytest
