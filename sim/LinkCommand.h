// "corvix-sim link": the simulated CorvixLink device as a command.
//
//   corvix-sim link [--port N] [--passphrase TEXT] [--fault F] [--flash-id HEX]
//                   [--text-after-writes N TEXT] [--transcript FILE] [--flash-out FILE]
//   F: silent | stop-acks:N | nak-write:N | close:N
//
// It prints "127.0.0.1:PORT" on standard output and serves until SIGINT or SIGTERM; on the way
// out it writes the JSON transcript and the flash window 0x80000-0xFFFFF, each when asked for.
#pragma once

#include "LinkDevice.h"

#include <optional>
#include <string>
#include <vector>

namespace sim {

struct LinkArguments {
    bool helpAsked = false; // the options ask for the usage; nothing else is set
    LinkOptions link;
    std::string transcriptPath;
    std::string flashPath;
};

extern const char LinkUsage[];

std::optional<LinkArguments> ParseLinkArguments(const std::vector<std::string> &options,
                                                std::string *error);

// argv[1] may be "link" (it is skipped). Status 2 on a usage error, 0 after --help, 1 when the
// device cannot start or its results cannot be written.
int RunLinkCommand(int argc, char **argv);

} // namespace sim
