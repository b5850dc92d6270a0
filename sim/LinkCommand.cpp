#include "LinkCommand.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <pthread.h>

namespace sim {

const char LinkUsage[] =
    "usage: corvix-sim link [--port N] [--passphrase TEXT] [--fault F] [--flash-id HEX]\n"
    "                       [--transcript FILE] [--flash-out FILE]\n"
    "  --port N          serve TCP on 127.0.0.1:N (default 0: a free port)\n"
    "  --passphrase TEXT challenge every host for this passphrase (default: no passphrase)\n"
    "  --fault F         silent | stop-acks:N | nak-write:N | close:N (N counts writes from 1)\n"
    "  --flash-id HEX    flash ID the board reports (default 00bf)\n"
    "  --transcript FILE write a JSON transcript on exit\n"
    "  --flash-out FILE  write the flash window 0x80000-0xFFFFF (512 KiB) on exit\n"
    "It prints 127.0.0.1:PORT on standard output and ends on SIGINT or SIGTERM.\n";

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

bool ApplyValue(const std::string &option, const std::string &value, LinkArguments &arguments) {
    if (option == "--port") {
        const auto port = ParseDecimal(value, 65535);
        arguments.link.port = uint16_t(port.value_or(0));
        return port.has_value();
    }
    if (option == "--passphrase") {
        arguments.link.passphrase = value;
        return true;
    }
    if (option == "--fault") {
        const auto fault = ParseLinkFault(value);
        arguments.link.fault = fault.value_or(LinkFault{});
        return fault.has_value();
    }
    if (option == "--flash-id") {
        const auto id = ParseHex16(value);
        arguments.link.board.flashId = id.value_or(0);
        return id.has_value();
    }
    if (option == "--transcript" || option == "--flash-out") {
        (option == "--transcript" ? arguments.transcriptPath : arguments.flashPath) = value;
        return !value.empty();
    }
    return false;
}

} // namespace

std::optional<LinkArguments> ParseLinkArguments(const std::vector<std::string> &options,
                                                std::string *error) {
    static const std::vector<std::string> valued{"--port",     "--passphrase", "--fault",
                                                 "--flash-id", "--transcript", "--flash-out"};
    LinkArguments arguments;
    for (size_t i = 0; i < options.size(); ++i) {
        const std::string &option = options[i];
        const bool known = std::find(valued.begin(), valued.end(), option) != valued.end();
        std::string why;
        if (!known)
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

int RunLinkCommand(int argc, char **argv) {
    std::vector<std::string> options(argv + std::min(argc, 1), argv + argc);
    if (!options.empty() && options.front() == "link")
        options.erase(options.begin());
    std::string error;
    const auto arguments = ParseLinkArguments(options, &error);
    if (!arguments) {
        std::fprintf(stderr, "corvix-sim: %s\n%s", error.c_str(), LinkUsage);
        return 2;
    }
    // Blocked before the device's thread starts, so that only the sigwait below takes them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    LinkDevice device(arguments->link);
    if (!device.Start(&error)) {
        std::fprintf(stderr, "corvix-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("127.0.0.1:%u\n", unsigned(device.Port()));
    std::fflush(stdout);
    int received = 0;
    sigwait(&signals, &received);
    device.Stop();

    bool ok = true;
    if (!arguments->transcriptPath.empty() && !device.SaveTranscript(arguments->transcriptPath, &error)) {
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
