// The listening socket every simulated peer serves from: TCP on 127.0.0.1 only, so nothing the
// simulator plays is ever reachable from the network.
#pragma once

#include "platform/Socket.h"

#include <cstdint>
#include <string>

namespace sim {

// A TCP socket bound to 127.0.0.1:port (0: a free port), not yet listening; receiveBuffer > 0
// asks for that small a receive window (inherited by accepted connections). Invalid, with the
// reason in *error, on failure.
platform::Socket BindLoopbackTcp(uint16_t port, std::string *error, int receiveBuffer = 0);
// Starts listening, non-blocking for an accept loop that polls. False with the reason in *error.
bool ListenForHosts(platform::Socket &socket, std::string *error);

} // namespace sim
