#include "LinkCommand.h"

#include "CommandLine.h"

#include <cstdio>

namespace sim {

const char LinkUsage[] =
    "usage: corvix-sim link [--port N] [--passphrase TEXT] [--fault F] [--flash-id HEX]\n"
    "                       [--text-after-writes N TEXT] [--transcript FILE] [--flash-out FILE]\n"
    "  --port N          serve TCP on 127.0.0.1:N (default 0: a free port)\n"
    "  --passphrase TEXT challenge every host for this passphrase (default: no passphrase)\n"
    "  --fault F         silent | stop-acks:N | nak-write:N | close:N | stop-reading:N\n"
    "                    (N counts writes from 1)\n"
    "  --text-after-writes N TEXT\n"
    "                    right after acknowledging the N-th write (from 1), send the board's\n"
    "                    text message TEXT (1 to 255 characters) once\n"
    "  --flash-id HEX    flash ID the board reports (default 00bf)\n"
    "  --transcript FILE write a JSON transcript on exit\n"
    "  --flash-out FILE  write the flash window 0x80000-0xFFFFF (512 KiB) on exit\n"
    "It prints 127.0.0.1:PORT on standard output and ends on SIGINT or SIGTERM.\n";

std::optional<LinkArguments> ParseLinkArguments(const std::vector<std::string> &options,
                                                std::string *error) {
    LinkArguments arguments;
    OptionParser parser(arguments.helpAsked);
    parser
        .Value("--port",
               [&](const std::string &value) {
                   const auto port = ParseDecimal(value, 65535);
                   arguments.link.port = uint16_t(port.value_or(0));
                   return port.has_value();
               })
        .Value("--passphrase",
               [&](const std::string &value) {
                   arguments.link.passphrase = value;
                   return true;
               })
        .Value("--fault",
               [&](const std::string &value) {
                   const auto fault = ParseLinkFault(value);
                   arguments.link.fault = fault.value_or(LinkFault{});
                   return fault.has_value();
               })
        .Pair("--text-after-writes",
              [&](const std::string &count, const std::string &text) {
                  const auto message = ParseBoardTextMessage(count, text);
                  arguments.link.board.textMessage = message.value_or(BoardTextMessage{});
                  return message.has_value();
              })
        .Value("--flash-id",
               [&](const std::string &value) {
                   const auto id = ParseHex16(value);
                   arguments.link.board.flashId = id.value_or(0);
                   return id.has_value();
               })
        .Path("--transcript", arguments.transcriptPath)
        .Path("--flash-out", arguments.flashPath);
    if (!parser.Parse(options, error)) return std::nullopt;
    return arguments;
}

int RunLinkCommand(int argc, char **argv) {
    std::string error;
    const std::vector<std::string> options = CommandOptions(argc, argv, "link");
    const auto arguments = ParseLinkArguments(options, &error);
    if (const auto status = EndsBeforeRunning(arguments, error, LinkUsage)) return *status;
    const TerminationSignals signals; // before the device's thread starts

    LinkDevice device(arguments->link);
    if (!device.Start(&error)) return CommandFailed(error);
    std::printf("127.0.0.1:%u\n", unsigned(device.Port()));
    std::fflush(stdout);
    signals.Wait();
    device.Stop();

    bool ok = true;
    if (!arguments->transcriptPath.empty() &&
        !device.SaveTranscript(arguments->transcriptPath, &error)) {
        std::fprintf(stderr, "corvix-sim: transcript: %s\n", error.c_str());
        ok = false;
    }
    if (!arguments->flashPath.empty() && !device.SaveFlashWindow(arguments->flashPath, &error)) {
        std::fprintf(stderr, "corvix-sim: flash: %s\n", error.c_str());
        ok = false;
    }
    return ok ? 0 : 1;
}

} // namespace sim
