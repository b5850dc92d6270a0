#include "BoardCommand.h"

#include "BoardPeer.h"
#include "PtyFrontEnd.h"
#include "Rfc2217Server.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <pthread.h>

namespace sim {

const char BoardUsage[] =
    "usage: corvix-sim board [--rfc2217-port N | --pty] [--pace] [--flash-id HEX]\n"
    "                        [--baud-rates R1,R2,...] [--no-processor]\n"
    "                        [--fault "
    "silent|silent-after-pilot|drop-reply:N|corrupt-reply:N|nak-write:N|close:N]\n"
    "                        [--transcript FILE] [--flash-out FILE]\n"
    "  --rfc2217-port N  serve RFC 2217 on 127.0.0.1:N (default 0: a free port)\n"
    "  --pty             serve a pseudo-terminal instead (no modem lines: the board starts in\n"
    "                    bootstrap mode and the start triplet 80 0E 20 begins a new bootstrap)\n"
    "  --pace            move bytes at the line rate (10 bits a byte)\n"
    "  --flash-id HEX    flash ID the pilot BIOS reports (default 00bf)\n"
    "  --baud-rates LIST rates SYS/SETBAUDRATE accepts (default 115200,230400,460800)\n"
    "  --no-processor    nothing reacts: DSR stays still and nothing answers\n"
    "  --fault F         misbehave as F (N counts from 1)\n"
    "  --transcript FILE write a JSON transcript on exit\n"
    "  --flash-out FILE  write the flash window 0x80000-0xFFFFF (512 KiB) on exit\n"
    "It prints the address or device to use on standard output and ends on SIGINT or SIGTERM.\n";

namespace {

std::optional<uint16_t> ParseHex16(const std::string &text) {
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits = digits.substr(2);
    if (digits.empty() || digits.size() > 4 ||
        digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return std::nullopt;
    return uint16_t(std::stoul(digits, nullptr, 16));
}

// Applies one option that takes a value. False when the value is not understood.
bool ApplyValue(const std::string &option, const std::string &value, BoardArguments &arguments) {
    if (option == "--rfc2217-port") {
        auto port = ParseDecimal(value, 65535);
        arguments.port = port ? uint16_t(*port) : 0;
        return port.has_value();
    }
    if (option == "--flash-id") {
        auto id = ParseHex16(value);
        arguments.board.flashId = id.value_or(0);
        return id.has_value();
    }
    if (option == "--baud-rates") {
        auto rates = ParseBaudRates(value);
        if (rates)
            arguments.board.baudRates = *rates;
        return rates.has_value();
    }
    if (option == "--fault") {
        auto fault = ParseBoardFault(value);
        arguments.board.fault = fault.value_or(BoardFault{});
        return fault.has_value();
    }
    if (option == "--transcript" || option == "--flash-out") {
        (option == "--transcript" ? arguments.transcriptPath : arguments.flashPath) = value;
        return !value.empty();
    }
    return false;
}

bool TakesValue(const std::string &option) {
    for (const char *name :
         {"--rfc2217-port", "--flash-id", "--baud-rates", "--fault", "--transcript", "--flash-out"})
        if (option == name)
            return true;
    return false;
}

// Writes the transcript and the flash window; false if either could not be written.
bool SaveResults(const BoardPeer &board, const BoardArguments &arguments) {
    bool ok = true;
    std::string error;
    if (!arguments.transcriptPath.empty() &&
        !board.SaveTranscript(arguments.transcriptPath, &error)) {
        std::fprintf(stderr, "corvix-sim: transcript: %s\n", error.c_str());
        ok = false;
    }
    if (!arguments.flashPath.empty() && !board.SaveFlashWindow(arguments.flashPath, &error)) {
        std::fprintf(stderr, "corvix-sim: flash: %s\n", error.c_str());
        ok = false;
    }
    return ok;
}

// Announces a started front end and serves until told to stop.
template <typename FrontEnd>
void Serve(FrontEnd &frontEnd, const std::string &address, std::FILE *out,
           const std::function<void()> &waitForStop) {
    std::fprintf(out, "%s\n", address.c_str());
    std::fflush(out);
    waitForStop();
    frontEnd.Stop(); // no byte reaches the board while its results are written
}

int StartFailed(const std::string &error) {
    std::fprintf(stderr, "corvix-sim: %s\n", error.c_str());
    return 1;
}

} // namespace

std::optional<BoardArguments> ParseBoardArguments(const std::vector<std::string> &options,
                                                  std::string *error) {
    BoardArguments arguments;
    bool portGiven = false;
    auto fail = [&](const std::string &why) -> std::optional<BoardArguments> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    for (size_t i = 0; i < options.size(); ++i) {
        const std::string &option = options[i];
        if (option == "--pty") {
            arguments.pty = true;
        } else if (option == "--pace") {
            arguments.pace = true;
        } else if (option == "--no-processor") {
            arguments.board.noProcessor = true;
        } else if (TakesValue(option)) {
            if (i + 1 >= options.size())
                return fail(option + " needs a value");
            if (!ApplyValue(option, options[++i], arguments))
                return fail("bad value for " + option + ": " + options[i]);
            portGiven = portGiven || option == "--rfc2217-port";
        } else {
            return fail("unknown option " + option);
        }
    }
    if (arguments.pty && portGiven)
        return fail("--pty and --rfc2217-port exclude each other");
    arguments.board.hasModemLines = !arguments.pty;
    return arguments;
}

int RunBoard(const BoardArguments &arguments, std::FILE *out,
             const std::function<void()> &waitForStop) {
    BoardPeer board(arguments.board);
    std::string error;
    if (arguments.pty) {
        PtyFrontEnd frontEnd(board, {arguments.pace});
        if (!frontEnd.Start(&error))
            return StartFailed(error);
        Serve(frontEnd, frontEnd.SlavePath(), out, waitForStop);
    } else {
        Rfc2217Server server(board, {arguments.port, arguments.pace, true});
        if (!server.Start(&error))
            return StartFailed(error);
        Serve(server, server.Url(), out, waitForStop);
    }
    return SaveResults(board, arguments) ? 0 : 1;
}

int RunBoardCommand(int argc, char **argv) {
    std::vector<std::string> options(argv + std::min(argc, 1), argv + argc);
    if (!options.empty() && options.front() == "board")
        options.erase(options.begin());
    std::string error;
    auto arguments = ParseBoardArguments(options, &error);
    if (!arguments) {
        std::fprintf(stderr, "corvix-sim: %s\n%s", error.c_str(), BoardUsage);
        return 2;
    }
    // Blocked before any thread starts, so that every thread inherits the mask and the signal
    // reaches only the sigwait below.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return RunBoard(*arguments, stdout, [&] {
        int received = 0;
        sigwait(&signals, &received);
    });
}

} // namespace sim
