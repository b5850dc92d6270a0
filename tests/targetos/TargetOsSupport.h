// Pieces of the console connection tests: options that point a connection at a console on
// 127.0.0.1 with the console's own texts, a window of the test thread that runs an action when a
// wait pumps it, and a connection that shows its socket.
#pragma once

#include "support/ActionWindow.h"
#include "support/StartConsole.h"

#include "comm/CommOptions.h"
#include "targetos/TCorvixSysConnection.h"

#include "ConsoleServer.h"

#include <functional>
#include <memory>

namespace ostest {

// The simulated console's address, user, password and texts, with a short reply wait.
CommOptions ConsoleOptionsFor(uint16_t port);

// A console connection whose socket a test may look at.
class InspectableConsole : public TCorvixSysConnection {
public:
    using TCorvixSysConnection::TCorvixSysConnection;
    int SocketHandle() const { return socket_.Handle(); }
};

// Runs fn and returns the code of the xConnectionErr it raised, or 0.
int32_t ConnectionCodeOf(const std::function<void()> &fn);

} // namespace ostest
