#include "DiscoveryCommand.h"

#include "BoardOptions.h"
#include "CommandLine.h"

#include <cstdio>

namespace sim {

const char DiscoveryUsage[] =
    "usage: corvix-sim discovery [--port P] [--control-port N] [--name NAME] [--status N]\n"
    "                            [--mac XX:XX:XX:XX:XX:XX] [--silent] [--transcript FILE]\n"
    "  --port P          take requests on UDP 127.0.0.1:P (default 4242); replies go to P + 1\n"
    "  --control-port N  the link device's TCP port the reply names\n"
    "  --name NAME       the device name (at most 40 characters are sent)\n"
    "  --status N        0 Running, 1 Programmed, 2 Waiting, 255 Error (default 0)\n"
    "  --mac MAC         the MAC address the reply names\n"
    "  --silent          count requests, answer none\n"
    "  --transcript FILE write a JSON transcript on exit\n"
    "It prints the port on standard output and ends on SIGINT or SIGTERM.\n";

std::optional<std::array<uint8_t, 6>> ParseMac(const std::string &text) {
    if (text.size() != 17) return std::nullopt;
    std::array<uint8_t, 6> mac{};
    for (size_t i = 0; i < 6; ++i) {
        const std::string pair = text.substr(i * 3, 2);
        if (pair.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos ||
            (i < 5 && text[i * 3 + 2] != ':'))
            return std::nullopt;
        mac[i] = uint8_t(std::stoul(pair, nullptr, 16));
    }
    return mac;
}

std::optional<DiscoveryArguments> ParseDiscoveryArguments(const std::vector<std::string> &options,
                                                          std::string *error) {
    DiscoveryArguments arguments;
    DiscoveryOptions &r = arguments.responder;
    // --port, --control-port and --status alike: decimal, at most 65535.
    auto number = [](uint16_t &field) {
        return [&field](const std::string &value) {
            const auto parsed = ParseDecimal(value, 65535);
            if (parsed) field = uint16_t(*parsed);
            return parsed.has_value();
        };
    };
    OptionParser parser(arguments.helpAsked);
    parser.Flag("--silent", [&] { r.silent = true; })
        .Value("--port", number(r.port))
        .Value("--control-port", number(r.controlPort))
        .Value("--name",
               [&](const std::string &value) {
                   r.name = value;
                   return true;
               })
        .Value("--status", number(r.status))
        .Value("--mac",
               [&](const std::string &value) {
                   const auto mac = ParseMac(value);
                   if (mac) r.mac = *mac;
                   return mac.has_value();
               })
        .Path("--transcript", arguments.transcriptPath);
    if (!parser.Parse(options, error)) return std::nullopt;
    return arguments;
}

int RunDiscoveryCommand(int argc, char **argv) {
    std::string error;
    const std::vector<std::string> options = CommandOptions(argc, argv, "discovery");
    const auto arguments = ParseDiscoveryArguments(options, &error);
    if (const auto status = EndsBeforeRunning(arguments, error, DiscoveryUsage)) return *status;
    const TerminationSignals signals; // before the responder's thread starts

    DiscoveryResponder responder(arguments->responder);
    if (!responder.Start(&error)) return CommandFailed(error);
    std::printf("%u\n", unsigned(responder.Port()));
    std::fflush(stdout);
    signals.Wait();
    responder.Stop();
    if (!arguments->transcriptPath.empty() &&
        !responder.SaveTranscript(arguments->transcriptPath, &error)) {
        std::fprintf(stderr, "corvix-sim: transcript: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

} // namespace sim
