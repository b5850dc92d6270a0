// tarnwick-cli: the load session without windows, for scripts, build servers and production lines.
#include "settings/Version.h"
#include "cli/CliDiscover.h"
#include "cli/CliLoad.h"
#include "settings/Passphrase.h"
#include "platform/Registry.h"
#include "settings/SettingsTable.h"
#include "settings/Zepenvironment.h"

#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr int ExitOk = 0;
constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

void PrintUsage(std::ostream &out) {
    out << "Tarnwick " << VersionText() << " command line\n"
        << "Usage:\n"
        << "  tarnwick-cli load FILE                 load FILE into the board, as the desktop "
           "program would\n"
        << "  tarnwick-cli discover [--seconds S]    list the network programming devices\n"
        << "  tarnwick-cli settings                  print every setting\n"
        << "  tarnwick-cli settings set NAME VALUE   change one value of \"Communications\" or "
           "\"File Locations\"\n"
        << "\n"
        << "NAME is the registry value name (letter case does not matter); VALUE is an integer "
           "for integer values\n"
        << "(decimal or 0x hex), text otherwise; the console newline takes \\r \\n \\t \\b \\f "
           "\\v.\n"
        << "The registry file is " << platform::RegistryFilePath()
        << " (TARNWICK_REGISTRY selects another).\n";
}

int ShowSettings(const std::string &programPath) {
    LoadSettings(programPath);
    PrintSettings(std::cout, Env());
    return ExitOk;
}

// Changes one value only: the rest of the registry stays exactly as it is, whatever the
// defaults or searches of this start would have filled in.
int SetOneSetting(const std::string &programPath, const std::string &name,
                  const std::string &text) {
    const Setting *setting = FindSetting(name);
    if (!setting) {
        std::cerr << "tarnwick-cli: unknown setting \"" << name
                  << "\" (run \"tarnwick-cli settings\" for the names)\n";
        return ExitUsage;
    }
    LoadSettings(programPath);
    std::string error;
    if (!ApplySettingText(*setting, Env(), text, error)) {
        std::cerr << "tarnwick-cli: " << error << "\n";
        return ExitUsage;
    }
    try {
        WriteSetting(*setting, Env());
    } catch (const platform::RegistryError &e) {
        std::cerr << "Error: " << e.what() << "\n";
        return ExitFailure;
    }
    return ExitOk;
}

int RunSettings(const std::string &programPath, const std::vector<std::string> &args) {
    if (args.empty()) return ShowSettings(programPath);
    if (args[0] == "set" && args.size() == 3) return SetOneSetting(programPath, args[1], args[2]);
    PrintUsage(std::cerr);
    return ExitUsage;
}

} // namespace

int main(int argc, char **argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const std::string programPath = argc > 0 ? argv[0] : "";
    if (args.empty()) {
        PrintUsage(std::cerr);
        return ExitUsage;
    }
    const std::string verb = args[0];
    args.erase(args.begin());
    if (verb == "--help" || verb == "-h" || verb == "help") {
        PrintUsage(std::cout);
        return ExitOk;
    }
    if (verb == "settings") return RunSettings(programPath, args);
    if (verb == "load") {
        if (args.size() != 1) {
            PrintUsage(std::cerr);
            return ExitUsage;
        }
        return RunCliLoad(programPath, args[0], CliPassphraseCallback());
    }
    if (verb == "discover") return RunCliDiscover(programPath, args);
    std::cerr << "tarnwick-cli: unknown command \"" << verb << "\"\n";
    PrintUsage(std::cerr);
    return ExitUsage;
}
