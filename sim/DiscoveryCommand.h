// "corvix-sim discovery": the discovery responder as a command.
//
//   corvix-sim discovery [--port P] [--control-port N] [--name NAME] [--status N]
//                        [--mac XX:XX:XX:XX:XX:XX] [--silent] [--transcript FILE]
//
// It prints the UDP port it listens on (127.0.0.1) and serves until SIGINT or SIGTERM. Replies
// go to port P + 1 of the requester.
#pragma once

#include "DiscoveryResponder.h"

#include <optional>
#include <string>
#include <vector>

namespace sim {

struct DiscoveryArguments {
    bool helpAsked = false; // the options ask for the usage; nothing else is set
    DiscoveryOptions responder;
    std::string transcriptPath;
};

extern const char DiscoveryUsage[];

std::optional<DiscoveryArguments> ParseDiscoveryArguments(const std::vector<std::string> &options,
                                                          std::string *error);
// "02:00:5e:10:00:01" (hexadecimal pairs, colons); empty for anything else.
std::optional<std::array<uint8_t, 6>> ParseMac(const std::string &text);

// argv[1] may be "discovery" (it is skipped). Status 2 on a usage error, 0 after --help.
int RunDiscoveryCommand(int argc, char **argv);

} // namespace sim
