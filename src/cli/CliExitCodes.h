// The exit status of tarnwick-cli. A failed load exits with its LoaderError code (1 to 54; 20 when
// cancelled), so a usage error takes 64, the status BSD's sysexits.h gives it, which no load
// failure uses: a script can tell "my command line is wrong" from "the board failed".
#pragma once

constexpr int ExitOk = 0;
// A failure with no code of its own (the registry file cannot be written, an unexpected error
// inside a load). The "Error:" line on standard error says which.
constexpr int ExitFailure = 1;
constexpr int ExitUsage = 64;
constexpr int ExitInterrupted = 130; // 128 + SIGINT, what shells report for an interrupt

// The table printed at the end of "tarnwick-cli --help".
inline constexpr const char ExitStatusTable[] =
    "Exit status:\n"
    "  0       success\n"
    "  1-54    a load failed: the number of its error (20 when cancelled with Ctrl-C);\n"
    "          the \"Error:\" line on standard error gives its message\n"
    "  1       also any failure without a number of its own (e.g. the registry file cannot be\n"
    "          written)\n"
    "  22      discover could not run its round\n"
    "  64      usage error: unknown command or option, or a value it does not take\n"
    "  130     interrupted: a second Ctrl-C during a load\n";
