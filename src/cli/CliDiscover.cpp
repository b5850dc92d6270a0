#include "cli/CliDiscover.h"

#include "comm/ConnectionErr.h"
#include "discovery/Discovery.h"
#include "loader/LoaderErrors.h"
#include "settings/Zepenvironment.h"

#include <iostream>
#include <optional>

namespace {

constexpr unsigned DefaultSeconds = 5;
constexpr unsigned MaxSeconds = 3600;

std::optional<unsigned> ParseSeconds(const std::string &text) {
    if (text.empty() || text.size() > 4 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const unsigned value = static_cast<unsigned>(std::stoul(text));
    if (value == 0 || value > MaxSeconds) return std::nullopt;
    return value;
}

} // namespace

int RunCliDiscover(const std::string &programPath, const std::vector<std::string> &args) {
    unsigned seconds = DefaultSeconds;
    if (args.size() == 2 && args[0] == "--seconds") {
        const auto parsed = ParseSeconds(args[1]);
        if (!parsed) {
            std::cerr << "tarnwick-cli: --seconds takes a whole number from 1 to " << MaxSeconds
                      << "\n";
            return 2;
        }
        seconds = *parsed;
    } else if (!args.empty()) {
        std::cerr << "usage: tarnwick-cli discover [--seconds S]\n";
        return 2;
    }
    LoadSettings(programPath);
    try {
        RunDiscoveryRound(seconds * 1000, DefaultDiscoveryPort, [](const DiscoveryReply &reply) {
            std::cout << DeviceLine(reply) << '\n' << std::flush;
        });
    } catch (const xConnectionErr &e) {
        const int32_t code = LoaderErrorFor(e.InternalCode);
        const char *message = ErrorMessage(code);
        std::cerr << "Error: " << (message ? message : "discovery failed") << " (" << e.InternalCode
                  << ")\n";
        return code;
    }
    return 0;
}
