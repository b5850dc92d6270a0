// "corvix-sim board": the simulated board behind a front end, as a command.
//
//   corvix-sim board [--rfc2217-port N | --pty] [--pace] [--flash-id HEX]
//                    [--baud-rates R1,R2,...] [--no-processor] [--fault F]
//                    [--text-after-writes N TEXT] [--transcript FILE] [--flash-out FILE]
//   corvix-sim board --os [--os-needs-wake] [--os-rate R] [--rfc2217-port N | --pty] [--pace]
//                    [--transcript FILE] [--memory-out FILE]
//   F: silent | silent-after-pilot | drop-reply:N | corrupt-reply:N | nak-write:N | close:N
//
// With --os the board already runs CorvixSys (OsBoardPeer): packets at the operating system's
// rate, the probe answered at once, or after a reset and the end triplet with --os-needs-wake.
//
// It prints one line on standard output, the RFC 2217 URL ("rfc2217://127.0.0.1:40123") or the
// pseudo-terminal's path ("/dev/pts/7"), and serves until SIGINT or SIGTERM. Standard input is
// not watched: scripts and services often start it with stdin closed or on /dev/null. On the way
// out it writes the JSON transcript and the flash window 0x80000-0xFFFFF (512 KiB, byte k of the
// file is physical address 0x80000 + k), each when asked for.
#pragma once

#include "BoardOptions.h"
#include "OsBoardPeer.h"

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct BoardArguments {
    bool helpAsked = false; // the options ask for the usage; nothing else is set
    bool pty = false;
    bool pace = false;
    uint16_t port = 0; // 0: an ephemeral port
    BoardOptions board;
    bool os = false; // a board running CorvixSys instead of one in bootstrap mode
    OsSerialOptions osSerial;
    std::string transcriptPath;
    std::string flashPath;  // bootstrap board only
    std::string memoryPath; // --os only
};

extern const char BoardUsage[];

// The options after "board". Empty, with a reason, when they are not understood.
std::optional<BoardArguments> ParseBoardArguments(const std::vector<std::string> &options,
                                                  std::string *error);

// Serves one board: starts the front end, prints its address on out, waits for waitForStop to
// return, then writes what was asked for. Returns the process exit status (0, 1 on failure).
int RunBoard(const BoardArguments &arguments, std::FILE *out,
             const std::function<void()> &waitForStop);

// The command as main() received it: argv[1] may be "board" (it is skipped) and the options
// follow. Status 2 on a usage error, 0 after --help.
int RunBoardCommand(int argc, char **argv);

} // namespace sim
