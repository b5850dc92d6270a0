#include "cli/CliDiscover.h"

#include "comm/ConnectionErr.h"
#include "discovery/Discovery.h"
#include "loader/LoaderErrors.h"
#include "settings/Zepenvironment.h"

#include <iostream>

int RunCliDiscover(const std::string &programPath, unsigned seconds) {
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
