// A discovery responder on 127.0.0.1 whose port P has P + 1 free for a round's replies.
#pragma once

#include "DiscoveryResponder.h"

#include <memory>

namespace discoverytest {

std::unique_ptr<sim::DiscoveryResponder> StartResponder(sim::DiscoveryOptions options);

// A millisecond clock the test moves by hand.
struct ManualClock {
    uint32_t now = 0;
    uint32_t operator()() const { return now; }
};

} // namespace discoverytest
