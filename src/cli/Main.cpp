// tarnwick-cli: the load session without windows, for scripts, build servers and production lines.
#include "cli/CliDiscover.h"
#include "cli/CliExitCodes.h"
#include "cli/CliLoad.h"
#include "cli/CliLoadOptions.h"
#include "cli/CliPorts.h"
#include "cli/CliSettings.h"
#include "platform/Console.h"
#include "platform/Registry.h"
#include "settings/Passphrase.h"
#include "settings/Version.h"

#include <CLI/CLI.hpp>

#include <cstdlib>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

namespace {

// What the command line asked for, filled by the parser; Run acts on it.
struct Request {
    std::string registry;
    std::string file;
    LoadOptions load;
    std::string device = "corvixlink";
    unsigned seconds = DiscoverDefaultSeconds;
    std::string name;
    std::string value;
    bool json = false;
    std::function<int(const std::string &programPath)> run;
};

// One of our option checks as a CLI11 validator; the option's type name shows its form.
CLI::Validator Check(std::string (*check)(const std::string &)) {
    return CLI::Validator([check](std::string &text) { return check(text); }, "");
}

void AddLoad(CLI::App &app, Request &request) {
    CLI::App *load = app.add_subcommand(
        "load", "Load FILE into the board, as the desktop program's load command would. The "
                "options hold for this run only; none is ever written to the registry.");
    LoadOptions &options = request.load;
    load->add_option("FILE", request.file, "the image (.bin) or user program (.upl)")->required();
    CLI::Option *port =
        load->add_option(
                "--port", options.port,
                "serial port: COMn, a device path (/dev/ttyUSB0) or rfc2217://ADDRESS:PORT")
            ->type_name("PORT")
            ->check(Check(&CheckPortOption));
    load->add_option("--baud", options.baud,
                     "highest download rate (\"Max Negotiated Baud\"; with negotiation disabled "
                     "also the BIOS rate): 57600, 115200, 230400 or 460800")
        ->type_name("N")
        ->check(Check(&CheckBaudOption));
    CLI::Option *tcp =
        load->add_option("--tcp", options.tcp, "network programming device at ADDRESS:PORT (IPv4)")
            ->type_name("ADDRESS:PORT")
            ->check(Check(&CheckTcpOption))
            ->excludes(port);
    load->add_option("--device", request.device,
                     "with --tcp: the kind of network device, corvixlink (default) or corvixsys")
        ->type_name("KIND")
        ->check(Check(&CheckDeviceOption))
        ->needs(tcp);
    load->add_flag("--corvixsys", options.corvixSys,
                   "load a user program through CorvixSys (\"Load through CorvixSys\")");
    load->add_option("--log", options.log,
                     "write the communication log to this file (instead of tcout.txt)")
        ->type_name("FILE");
    CLI::Option *quiet =
        load->add_flag("-q,--quiet", options.style.quiet, "only failures and the result");
    load->add_flag("-v,--verbose", options.style.verbose, "every status line as well")
        ->excludes(quiet);
    load->add_flag("--json", options.style.json, "one JSON object per line on standard output");
    load->callback([&request] {
        request.load.device = NetworkDeviceNamed(request.device);
        request.run = [&request](const std::string &programPath) {
            return RunCliLoad(programPath, request.file, request.load, CliPassphraseCallback());
        };
    });
}

void AddDiscover(CLI::App &app, Request &request) {
    CLI::App *discover =
        app.add_subcommand("discover", "List the network programming devices that answer, one "
                                       "line each: name, address, control port, status, MAC");
    discover->add_option("--seconds", request.seconds, "how long to listen (default 5)")
        ->type_name("S")
        ->check(CLI::Range(1u, DiscoverMaxSeconds).description(""));
    discover->callback([&request] {
        request.run = [&request](const std::string &programPath) {
            return RunCliDiscover(programPath, request.seconds);
        };
    });
}

void AddPorts(CLI::App &app, Request &request) {
    CLI::App *ports = app.add_subcommand(
        "ports", "List the serial ports: COM number, device, USB identity, whether you may open "
                 "each one and which program holds it");
    ports->add_flag("--json", request.json, "one JSON object per port and line");
    ports->callback([&request] {
        request.run = [&request](const std::string &programPath) {
            return RunCliPorts(programPath, request.json);
        };
    });
}

void AddSettings(CLI::App &app, Request &request) {
    CLI::App *settings = app.add_subcommand(
        "settings", "Print every setting and the port map; or read or change one value");
    settings->require_subcommand(0, 1);
    settings->callback([&request] {
        if (!request.run) request.run = ShowSettings;
    });

    CLI::App *get = settings->add_subcommand("get", "Print the value of NAME");
    get->add_option("NAME", request.name, "registry value name (any letter case)")->required();
    get->callback([&request] {
        request.run = [&request](const std::string &programPath) {
            return ShowOneSetting(programPath, request.name);
        };
    });

    CLI::App *set = settings->add_subcommand(
        "set", "Check VALUE and write it as NAME's value: an integer (decimal or 0x hex) for "
               "integer values, text otherwise; the console newline takes \\r \\n \\t \\b \\f \\v");
    set->add_option("NAME", request.name, "registry value name (any letter case)")->required();
    set->add_option("VALUE", request.value, "the new value")->required();
    set->callback([&request] {
        request.run = [&request](const std::string &programPath) {
            return SetOneSetting(programPath, request.name, request.value);
        };
    });

    CLI::App *setPort =
        settings->add_subcommand("set-port", "Map COMn to DEVICE in the port map (\"Ports\" key)");
    setPort->add_option("COMn", request.name, "the port name, e.g. COM3")->required();
    setPort->add_option("DEVICE", request.value, "a device path or rfc2217://ADDRESS:PORT")
        ->required();
    setPort->callback([&request] {
        request.run = [&request](const std::string &) {
            return SetPortMapEntry(request.name, request.value);
        };
    });
}

// CLI11 reports a mistyped command as a missing one; the word the user typed helps more.
std::string UsageErrorText(const CLI::App &app, const CLI::ParseError &error) {
    const std::vector<std::string> words = app.remaining();
    if (app.get_subcommands().empty() && !words.empty())
        return "unknown command \"" + words.front() + "\"";
    return error.what();
}

std::string Footer() {
    return std::string("The registry file is ") + platform::RegistryFilePath() +
           " (--registry or TARNWICK_REGISTRY selects another).\n\n" + ExitStatusTable;
}

} // namespace

int main(int argc, char **argv) {
    const std::string programPath = argc > 0 ? argv[0] : "";
    CLI::App app("Tarnwick " + VersionText() + " command line: loads programs into Corvix boards",
                 "tarnwick-cli");
    app.set_version_flag("--version", "Tarnwick " + VersionText());
    app.require_subcommand(1);
    // An argument that starts with a slash is a path on every system: CLI11 would take
    // "/home/me/image.bin" for a "/option" on Windows. Set before the commands, which inherit it.
    app.allow_windows_style_options(false);
    // The global options may also follow a command: "tarnwick-cli load --registry R FILE".
    app.fallthrough();
    Request request;
    app.add_option("--registry", request.registry,
                   "the registry file to use instead of the usual one (as TARNWICK_REGISTRY)")
        ->type_name("FILE");
    AddLoad(app, request);
    AddDiscover(app, request);
    AddPorts(app, request);
    AddSettings(app, request);
    app.footer(Footer());

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        std::cerr << "tarnwick-cli: " << UsageErrorText(app, e) << "\n"
                  << "Run \"tarnwick-cli --help\" (or COMMAND --help) for the usage.\n";
        return ExitUsage;
    }
    if (!request.registry.empty()) {
        // Before anything reads the registry, for this process and the ports it opens.
        platform::SetEnvironment("TARNWICK_REGISTRY", request.registry);
        platform::ReloadRegistry();
    }
    return request.run ? request.run(programPath) : ExitUsage;
}
