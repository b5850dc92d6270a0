#include "DiscoveryCommand.h"

#include "BoardOptions.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <pthread.h>

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
    if (text.size() != 17)
        return std::nullopt;
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

namespace {

bool ApplyValue(const std::string &option, const std::string &value, DiscoveryArguments &arguments) {
    DiscoveryOptions &r = arguments.responder;
    if (option == "--port" || option == "--control-port" || option == "--status") {
        const auto number = ParseDecimal(value, 65535);
        if (!number)
            return false;
        (option == "--port" ? r.port : option == "--status" ? r.status : r.controlPort) = uint16_t(*number);
        return true;
    }
    if (option == "--name") {
        r.name = value;
        return true;
    }
    if (option == "--mac") {
        const auto mac = ParseMac(value);
        if (mac)
            r.mac = *mac;
        return mac.has_value();
    }
    if (option == "--transcript") {
        arguments.transcriptPath = value;
        return !value.empty();
    }
    return false;
}

} // namespace

std::optional<DiscoveryArguments> ParseDiscoveryArguments(const std::vector<std::string> &options,
                                                          std::string *error) {
    static const std::vector<std::string> valued{"--port", "--control-port", "--name",
                                                 "--status", "--mac", "--transcript"};
    DiscoveryArguments arguments;
    for (size_t i = 0; i < options.size(); ++i) {
        const std::string &option = options[i];
        if (option == "--silent") {
            arguments.responder.silent = true;
            continue;
        }
        std::string why;
        if (std::find(valued.begin(), valued.end(), option) == valued.end())
            why = "unknown option " + option;
        else if (i + 1 >= options.size())
            why = option + " needs a value";
        else if (!ApplyValue(option, options[i + 1], arguments))
            why = "bad value for " + option + ": " + options[i + 1];
        if (!why.empty()) {
            if (error)
                *error = why;
            return std::nullopt;
        }
        ++i;
    }
    return arguments;
}

int RunDiscoveryCommand(int argc, char **argv) {
    std::vector<std::string> options(argv + std::min(argc, 1), argv + argc);
    if (!options.empty() && options.front() == "discovery")
        options.erase(options.begin());
    std::string error;
    const auto arguments = ParseDiscoveryArguments(options, &error);
    if (!arguments) {
        std::fprintf(stderr, "corvix-sim: %s\n%s", error.c_str(), DiscoveryUsage);
        return 2;
    }
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    DiscoveryResponder responder(arguments->responder);
    if (!responder.Start(&error)) {
        std::fprintf(stderr, "corvix-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%u\n", unsigned(responder.Port()));
    std::fflush(stdout);
    int received = 0;
    sigwait(&signals, &received);
    responder.Stop();
    if (!arguments->transcriptPath.empty() &&
        !responder.SaveTranscript(arguments->transcriptPath, &error)) {
        std::fprintf(stderr, "corvix-sim: transcript: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

} // namespace sim
