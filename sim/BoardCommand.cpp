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
    "                        [--text-after-writes N TEXT]\n"
    "                        [--transcript FILE] [--flash-out FILE]\n"
    "       corvix-sim board --os [--os-needs-wake] [--os-rate R]\n"
    "                        [--rfc2217-port N | --pty] [--pace] [--transcript FILE]\n"
    "                        [--memory-out FILE]\n"
    "  --rfc2217-port N  serve RFC 2217 on 127.0.0.1:N (default 0: a free port)\n"
    "  --pty             serve a pseudo-terminal instead (no modem lines: the board starts in\n"
    "                    bootstrap mode and the start triplet 80 0E 20 begins a new bootstrap)\n"
    "  --pace            move bytes at the line rate (10 bits a byte)\n"
    "  --flash-id HEX    flash ID the pilot BIOS reports (default 00bf)\n"
    "  --baud-rates LIST rates SYS/SETBAUDRATE accepts (default 115200,230400,460800)\n"
    "  --no-processor    nothing reacts: DSR stays still and nothing answers\n"
    "  --fault F         misbehave as F (N counts from 1)\n"
    "  --text-after-writes N TEXT\n"
    "                    right after acknowledging the N-th write (from 1), send the board's\n"
    "                    text message TEXT (1 to 255 characters) once\n"
    "  --transcript FILE write a JSON transcript on exit\n"
    "  --flash-out FILE  write the flash window 0x80000-0xFFFFF (512 KiB) on exit\n"
    "  --os              the board already runs CorvixSys: it answers the probe (SYS 11),\n"
    "                    stores writes (SYS 3) and starts the program (SYS 12)\n"
    "  --os-needs-wake   CorvixSys answers only after a DTR reset pulse and the end triplet\n"
    "                    80 24 80 (on a pseudo-terminal, without DTR, the triplet alone)\n"
    "  --os-rate R       the rate CorvixSys talks at (default 115200)\n"
    "  --memory-out FILE with --os: write the stored memory on exit, as records: address\n"
    "                    (LE32), length with the 8-byte record header (LE32), data\n"
    "It prints the address or device to use on standard output and ends on SIGINT or SIGTERM.\n";

namespace {

// Writes one result when a path is given; false (reported) when it could not be written.
template <typename Writer>
bool SaveResult(const char *what, const std::string &path, Writer write) {
    std::string error;
    if (path.empty() || write(path, &error)) return true;
    std::fprintf(stderr, "corvix-sim: %s: %s\n", what, error.c_str());
    return false;
}

// Writes the transcript and the flash window; false if either could not be written.
bool SaveResults(const BoardPeer &board, const BoardArguments &arguments) {
    const bool transcript =
        SaveResult("transcript", arguments.transcriptPath,
                   [&](auto &path, auto *error) { return board.SaveTranscript(path, error); });
    const bool flash = SaveResult("flash", arguments.flashPath, [&](auto &path, auto *error) {
        return board.SaveFlashWindow(path, error);
    });
    return transcript && flash;
}

// The transcript and the stored memory of a board running CorvixSys.
bool SaveResults(const OsBoard &board, const BoardArguments &arguments) {
    const bool transcript =
        SaveResult("transcript", arguments.transcriptPath,
                   [&](auto &path, auto *error) { return board.SaveTranscript(path, error); });
    const bool memory = SaveResult("memory", arguments.memoryPath, [&](auto &path, auto *error) {
        return board.SaveMemory(path, error);
    });
    return transcript && memory;
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
    OptionParser parser(arguments.helpAsked);
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
                   if (rates) arguments.board.baudRates = *rates;
                   return rates.has_value();
               })
        .Value("--fault",
               [&](const std::string &value) {
                   auto fault = ParseBoardFault(value);
                   arguments.board.fault = fault.value_or(BoardFault{});
                   return fault.has_value();
               })
        .Pair("--text-after-writes",
              [&](const std::string &count, const std::string &text) {
                  auto message = ParseBoardTextMessage(count, text);
                  arguments.board.textMessage = message.value_or(BoardTextMessage{});
                  return message.has_value();
              })
        .Flag("--os", [&] { arguments.os = true; })
        .Flag("--os-needs-wake", [&] { arguments.osSerial.needsWake = true; })
        .Value("--os-rate",
               [&](const std::string &value) {
                   const auto rate = ParseDecimal(value, UINT32_MAX);
                   arguments.osSerial.rate = rate.value_or(0);
                   return rate.value_or(0) != 0;
               })
        .Path("--transcript", arguments.transcriptPath)
        .Path("--flash-out", arguments.flashPath)
        .Path("--memory-out", arguments.memoryPath);
    if (!parser.Parse(options, error)) return std::nullopt;
    if (arguments.helpAsked) return arguments; // the checks below are for a board that runs
    auto refuse = [error](const char *why) {
        if (error) *error = why;
        return std::nullopt;
    };
    if (arguments.pty && portGiven) return refuse("--pty and --rfc2217-port exclude each other");
    const bool osOptions = arguments.osSerial.needsWake ||
                           arguments.osSerial.rate != OsSerialOptions{}.rate ||
                           !arguments.memoryPath.empty();
    if (!arguments.os && osOptions)
        return refuse("--os-needs-wake, --os-rate and --memory-out need --os");
    // A board running CorvixSys has no pilot BIOS: its options would silently mean nothing.
    const bool bootstrapOptions = !arguments.flashPath.empty() || arguments.board.noProcessor ||
                                  arguments.board.fault != BoardFault{} ||
                                  arguments.board.textMessage != BoardTextMessage{} ||
                                  arguments.board.flashId != BoardOptions{}.flashId ||
                                  arguments.board.baudRates != BoardOptions{}.baudRates;
    if (arguments.os && bootstrapOptions)
        return refuse("--os takes none of --flash-out, --flash-id, --baud-rates, "
                      "--no-processor, --fault and --text-after-writes");
    arguments.board.hasModemLines = !arguments.pty;
    arguments.osSerial.hasModemLines = !arguments.pty;
    return arguments;
}

namespace {

// Puts peer behind the front end the arguments ask for and serves until told to stop. False
// (reported) when the front end would not start.
bool ServePeer(Peer &peer, const BoardArguments &arguments, std::FILE *out,
               const std::function<void()> &waitForStop) {
    std::string error;
    if (arguments.pty) {
        PtyFrontEnd frontEnd(peer, {arguments.pace});
        if (!frontEnd.Start(&error)) {
            CommandFailed(error);
            return false;
        }
        Serve(frontEnd, frontEnd.SlavePath(), out, waitForStop);
    } else {
        Rfc2217Server server(peer, {arguments.port, arguments.pace, true});
        if (!server.Start(&error)) {
            CommandFailed(error);
            return false;
        }
        Serve(server, server.Url(), out, waitForStop);
    }
    return true;
}

} // namespace

int RunBoard(const BoardArguments &arguments, std::FILE *out,
             const std::function<void()> &waitForStop) {
    if (arguments.os) {
        OsBoardPeer board(arguments.osSerial);
        if (!ServePeer(board, arguments, out, waitForStop)) return 1;
        return SaveResults(board.Board(), arguments) ? 0 : 1;
    }
    BoardPeer board(arguments.board);
    if (!ServePeer(board, arguments, out, waitForStop)) return 1;
    return SaveResults(board, arguments) ? 0 : 1;
}

int RunBoardCommand(int argc, char **argv) {
    std::string error;
    const std::vector<std::string> options = CommandOptions(argc, argv, "board");
    const auto arguments = ParseBoardArguments(options, &error);
    if (const auto status = EndsBeforeRunning(arguments, error, BoardUsage)) return *status;
    const TerminationSignals signals; // before RunBoard starts the front end's threads
    return RunBoard(*arguments, stdout, [&] { signals.Wait(); });
}

} // namespace sim
