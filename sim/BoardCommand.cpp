#include "BoardCommand.h"

#include "BoardPeer.h"
#include "CommandLine.h"
#include "PtyFrontEnd.h"
#include "Rfc2217Server.h"

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

} // namespace

std::optional<BoardArguments> ParseBoardArguments(const std::vector<std::string> &options,
                                                  std::string *error) {
    BoardArguments arguments;
    bool portGiven = false;
    OptionParser parser;
    parser.Flag("--pty", [&] { arguments.pty = true; })
        .Flag("--pace", [&] { arguments.pace = true; })
        .Flag("--no-processor", [&] { arguments.board.noProcessor = true; })
        .Value("--rfc2217-port",
               [&](const std::string &value) {
                   auto port = ParseDecimal(value, 65535);
                   arguments.port = port ? uint16_t(*port) : 0;
                   portGiven = port.has_value();
                   return port.has_value();
               })
        .Value("--flash-id",
               [&](const std::string &value) {
                   auto id = ParseHex16(value);
                   arguments.board.flashId = id.value_or(0);
                   return id.has_value();
               })
        .Value("--baud-rates",
               [&](const std::string &value) {
                   auto rates = ParseBaudRates(value);
                   if (rates)
                       arguments.board.baudRates = *rates;
                   return rates.has_value();
               })
        .Value("--fault",
               [&](const std::string &value) {
                   auto fault = ParseBoardFault(value);
                   arguments.board.fault = fault.value_or(BoardFault{});
                   return fault.has_value();
               })
        .Path("--transcript", arguments.transcriptPath)
        .Path("--flash-out", arguments.flashPath);
    if (!parser.Parse(options, error))
        return std::nullopt;
    if (arguments.pty && portGiven) {
        if (error)
            *error = "--pty and --rfc2217-port exclude each other";
        return std::nullopt;
    }
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
            return CommandFailed(error);
        Serve(frontEnd, frontEnd.SlavePath(), out, waitForStop);
    } else {
        Rfc2217Server server(board, {arguments.port, arguments.pace, true});
        if (!server.Start(&error))
            return CommandFailed(error);
        Serve(server, server.Url(), out, waitForStop);
    }
    return SaveResults(board, arguments) ? 0 : 1;
}

int RunBoardCommand(int argc, char **argv) {
    std::string error;
    const std::vector<std::string> options = CommandOptions(argc, argv, "board");
    if (WantsHelp(options))
        return ShowUsage(BoardUsage);
    auto arguments = ParseBoardArguments(options, &error);
    if (!arguments)
        return UsageError(error, BoardUsage);
    const TerminationSignals signals; // before RunBoard starts the front end's threads
    return RunBoard(*arguments, stdout, [&] { signals.Wait(); });
}

} // namespace sim
