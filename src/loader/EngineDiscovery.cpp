// The engine's discovery entry points: the round itself lives with the discovery operations;
// here their socket failures become the user-facing LoaderError.
#include "loader/LoaderEngine.h"
#include "loader/LoaderStage.h"

#include "discovery/Discovery.h"

void LoaderEngine::StartDiscovery(uint16_t port) {
    RaiseOnFailure(RunStage([&] { ::StartDiscovery(port); }));
}

bool LoaderEngine::PollDiscovery(std::string &name, std::string &ip, std::string &port,
                                 std::string &status, std::string &mac) {
    bool taken = false;
    RaiseOnFailure(RunStage([&] { taken = ::PollDiscovery(name, ip, port, status, mac); }));
    return taken;
}

void LoaderEngine::StopDiscovery() {
    RaiseOnFailure(RunStage([] { ::StopDiscovery(); }));
}
