#include "ConsoleCommand.h"

#include "CommandLine.h"

namespace sim {

const char ConsoleUsage[] =
    "usage: corvix-sim console [--port N] [--user NAME] [--password TEXT] [--fault F]\n"
    "                          [--transcript FILE] [--memory-out FILE]\n"
    "  --port N          serve the console on 127.0.0.1:N (default 0: a free port)\n"
    "  --user NAME       the user name the console takes (default \"corvix\")\n"
    "  --password TEXT   the password the console takes (default \"corvix\")\n"
    "  --fault F         bad-login     refuse every login (530) whatever is typed\n"
    "                    greeting-off  greet with the last character changed\n"
    "                    silent        accept the connection and say nothing\n"
    "                    refuse        let nothing listen on the port\n"
    "                    no-os         carry packets, but leave the probe unanswered\n"
    "                    close:N       drop the connection when the N-th write arrives\n"
    "  --transcript FILE write a JSON transcript on exit (\"app go\" among its events)\n"
    "  --memory-out FILE write the stored memory on exit, as records: address (LE32),\n"
    "                    length with the 8-byte record header (LE32), data\n"
    "Sessions follow one another on the same port: a load logs in, sends \"targetmd\" and its\n"
    "packets, then logs in again for \"app go\" and \"logout\".\n"
    "It prints 127.0.0.1:PORT on standard output and ends on SIGINT or SIGTERM.\n";

std::optional<ConsoleArguments> ParseConsoleArguments(const std::vector<std::string> &options,
                                                      std::string *error) {
    ConsoleArguments arguments;
    ConsoleOptions &console = arguments.console;
    // A name or password with a line break could never be typed as one line.
    auto oneLine = [](std::string &field) {
        return [&field](const std::string &value) {
            field = value;
            return value.find_first_of("\r\n") == std::string::npos &&
                   value.size() + 2 <= ConsoleServer::MaxLine;
        };
    };
    OptionParser parser(arguments.helpAsked);
    parser
        .Value("--port",
               [&](const std::string &value) {
                   const auto port = ParseDecimal(value, 65535);
                   console.port = uint16_t(port.value_or(0));
                   return port.has_value();
               })
        .Value("--user", oneLine(console.user))
        .Value("--password", oneLine(console.password))
        .Value("--fault",
               [&](const std::string &value) {
                   const auto fault = ParseConsoleFault(value);
                   console.fault = fault.value_or(ConsoleFault{});
                   return fault.has_value();
               })
        .Path("--transcript", arguments.transcriptPath)
        .Path("--memory-out", arguments.memoryPath);
    if (!parser.Parse(options, error)) return std::nullopt;
    return arguments;
}

int RunConsole(const ConsoleArguments &arguments, std::FILE *out,
               const std::function<void()> &waitForStop) {
    ConsoleServer server(arguments.console);
    std::string error;
    if (!server.Start(&error)) return CommandFailed(error);
    std::fprintf(out, "%s\n", server.Address().c_str());
    std::fflush(out);
    waitForStop();
    server.Stop(); // nothing more is stored while the results are written

    bool ok = true;
    if (!arguments.transcriptPath.empty() &&
        !server.Board().SaveTranscript(arguments.transcriptPath, &error)) {
        std::fprintf(stderr, "corvix-sim: transcript: %s\n", error.c_str());
        ok = false;
    }
    if (!arguments.memoryPath.empty() && !server.Board().SaveMemory(arguments.memoryPath, &error)) {
        std::fprintf(stderr, "corvix-sim: memory: %s\n", error.c_str());
        ok = false;
    }
    return ok ? 0 : 1;
}

int RunConsoleCommand(int argc, char **argv) {
    const std::vector<std::string> options = CommandOptions(argc, argv, "console");
    std::string error;
    const auto arguments = ParseConsoleArguments(options, &error);
    if (const auto status = EndsBeforeRunning(arguments, error, ConsoleUsage)) return *status;
    const TerminationSignals signals; // before the console's thread starts
    return RunConsole(*arguments, stdout, [&] { signals.Wait(); });
}

} // namespace sim
