// "corvix-sim console": the CorvixSys console of a simulated board, as a command.
//
//   corvix-sim console [--port N] [--user NAME] [--password TEXT] [--fault F]
//                      [--transcript FILE] [--memory-out FILE]
//   F: bad-login | greeting-off | silent | refuse | no-os | close:N
//
// It prints "127.0.0.1:PORT" on standard output and serves until SIGINT or SIGTERM; on the way
// out it writes the JSON transcript and the memory the host stored, each when asked for.
#pragma once

#include "ConsoleServer.h"

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct ConsoleArguments {
    bool helpAsked = false; // the options ask for the usage; nothing else is set
    ConsoleOptions console;
    std::string transcriptPath;
    std::string memoryPath;
};

extern const char ConsoleUsage[];

std::optional<ConsoleArguments> ParseConsoleArguments(const std::vector<std::string> &options,
                                                      std::string *error);

// Serves one console: starts it, prints its address on out, waits for waitForStop to return,
// then writes what was asked for. Returns the process exit status (0, 1 on failure).
int RunConsole(const ConsoleArguments &arguments, std::FILE *out,
               const std::function<void()> &waitForStop);

// argv[1] may be "console" (it is skipped). Status 2 on a usage error, 0 after --help.
int RunConsoleCommand(int argc, char **argv);

} // namespace sim
