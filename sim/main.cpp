// corvix-sim: the far side of Tarnwick's roads on this machine. "board" plays a board in its
// bootstrap mode (or already running CorvixSys) behind an RFC 2217 port or a pseudo-terminal;
// "link" a network programming device with a board behind it; "console" the CorvixSys console
// of a board on TCP; "discovery" answers discovery requests on 127.0.0.1;
// "packets" serves the scriptable
// packet peer there instead, for experiments with single requests.
#include "BoardCommand.h"
#include "CommandLine.h"
#include "ConsoleCommand.h"
#include "DiscoveryCommand.h"
#include "LinkCommand.h"
#include "PacketPeer.h"
#include "PtyFrontEnd.h"
#include "Rfc2217Server.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

const char Usage[] =
    "usage: corvix-sim board [options]     a board in bootstrap mode, or running CorvixSys with\n"
    "                                      --os (board --help lists the options)\n"
    "       corvix-sim link [options]      a network programming device (link --help)\n"
    "       corvix-sim console [options]   the CorvixSys console of a board (console --help)\n"
    "       corvix-sim discovery [options] a discovery responder (discovery --help)\n"
    "       corvix-sim packets [--rfc2217-port N | --pty] [--pace] [--rule "
    "TYPE:CODE:ack|nak|none[:HEX]]...\n"
    "  --rfc2217-port N  serve RFC 2217 on 127.0.0.1:N (default: a free port)\n"
    "  --pty             serve a pseudo-terminal instead\n"
    "  --pace            move bytes at the line rate (10 bits a byte)\n"
    "  --rule            answer requests of TYPE and CODE (decimal) with an ACK, a NAK or "
    "nothing,\n"
    "                    carrying the payload HEX (pairs of hexadecimal digits)\n"
    "It prints the address or device to use on standard output, and ends on SIGINT or SIGTERM.\n";

struct PacketsArguments {
    bool helpAsked = false;
    bool pty = false;
    bool pace = false;
    uint16_t port = 0;
    std::vector<sim::PacketRule> rules;
};

std::optional<std::vector<uint8_t>> ParseHex(const std::string &text) {
    if (text.size() % 2 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return std::nullopt;
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < text.size(); i += 2)
        bytes.push_back(uint8_t(std::stoul(text.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::optional<sim::PacketRule> ParseRule(const std::string &text) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t colon; (colon = text.find(':', start)) != std::string::npos; start = colon + 1)
        parts.push_back(text.substr(start, colon - start));
    parts.push_back(text.substr(start));
    if (parts.size() < 3 || parts.size() > 4) return std::nullopt;
    auto type = sim::ParseDecimal(parts[0], 255);
    auto code = sim::ParseDecimal(parts[1], sim::PacketPeer::CodeMask);
    if (!type || !code) return std::nullopt;
    sim::PacketRule rule;
    rule.type = uint8_t(*type);
    rule.code = uint8_t(*code);
    if (parts[2] == "ack")
        rule.reply = sim::ReplyKind::Ack;
    else if (parts[2] == "nak")
        rule.reply = sim::ReplyKind::Nak;
    else if (parts[2] == "none")
        rule.reply = sim::ReplyKind::None;
    else
        return std::nullopt;
    if (parts.size() == 4) {
        auto payload = ParseHex(parts[3]);
        if (!payload) return std::nullopt;
        rule.payload = *payload;
    }
    return rule;
}

std::optional<PacketsArguments> ParsePacketsArguments(const std::vector<std::string> &options,
                                                      std::string *error) {
    PacketsArguments arguments;
    bool portGiven = false;
    sim::OptionParser parser(arguments.helpAsked);
    parser.Flag("--pty", [&] { arguments.pty = true; })
        .Flag("--pace", [&] { arguments.pace = true; })
        .Value("--rfc2217-port",
               [&](const std::string &value) {
                   const auto port = sim::ParseDecimal(value, 65535);
                   arguments.port = uint16_t(port.value_or(0));
                   portGiven = port.has_value();
                   return port.has_value();
               })
        .Value("--rule", [&](const std::string &value) {
            const auto rule = ParseRule(value);
            if (rule) arguments.rules.push_back(*rule);
            return rule.has_value();
        });
    if (!parser.Parse(options, error)) return std::nullopt;
    if (!arguments.helpAsked && arguments.pty && portGiven) {
        if (error) *error = "--pty and --rfc2217-port exclude each other";
        return std::nullopt;
    }
    return arguments;
}

int RunPacketsCommand(int argc, char **argv) {
    std::string error;
    const auto arguments =
        ParsePacketsArguments(sim::CommandOptions(argc, argv, "packets"), &error);
    if (const auto status = sim::EndsBeforeRunning(arguments, error, Usage)) return *status;
    // Before any thread starts, so that all of them inherit the mask.
    const sim::TerminationSignals termination;

    sim::PacketPeer peer;
    for (const auto &rule : arguments->rules) peer.SetRule(rule);
    if (arguments->pty) {
        sim::PtyFrontEnd frontEnd(peer, {arguments->pace});
        if (!frontEnd.Start(&error)) return sim::CommandFailed(error);
        std::printf("%s\n", frontEnd.SlavePath().c_str());
        std::fflush(stdout);
        termination.Wait();
    } else {
        sim::Rfc2217Server server(peer, {arguments->port, arguments->pace, true});
        if (!server.Start(&error)) return sim::CommandFailed(error);
        std::printf("%s\n", server.Url().c_str());
        std::fflush(stdout);
        termination.Wait();
    }
    std::fprintf(stderr, "corvix-sim: %zu frames received, %zu bad\n", peer.Received().size(),
                 peer.BadFrames());
    return 0;
}

struct Command {
    const char *verb;
    int (*run)(int argc, char **argv);
};

constexpr Command Commands[] = {
    {"board", sim::RunBoardCommand},     {"link", sim::RunLinkCommand},
    {"console", sim::RunConsoleCommand}, {"discovery", sim::RunDiscoveryCommand},
    {"packets", RunPacketsCommand},
};

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) return sim::UsageError("which command?", Usage);
    const std::string verb = argv[1];
    if (verb == "--help" || verb == "-h") return sim::ShowUsage(Usage);
    for (const Command &command : Commands)
        if (verb == command.verb) return command.run(argc, argv);
    return sim::UsageError("unknown command " + verb, Usage);
}
