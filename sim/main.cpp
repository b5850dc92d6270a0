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

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <pthread.h>
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

struct Arguments {
    bool pty = false;
    bool pace = false;
    uint16_t port = 0;
    std::vector<sim::PacketRule> rules;
};

std::optional<unsigned long> ParseNumber(const std::string &text, unsigned long max) {
    if (text.empty() || text.size() > 6 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    unsigned long value = std::stoul(text);
    if (value > max) return std::nullopt;
    return value;
}

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
    auto type = ParseNumber(parts[0], 255);
    auto code = ParseNumber(parts[1], sim::PacketPeer::CodeMask);
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

std::optional<Arguments> ParseArguments(int argc, char **argv) {
    if (argc < 2 || std::strcmp(argv[1], "packets") != 0) return std::nullopt;
    Arguments arguments;
    bool portGiven = false;
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "--pty") {
            arguments.pty = true;
        } else if (option == "--pace") {
            arguments.pace = true;
        } else if (option == "--rfc2217-port" && hasValue) {
            auto port = ParseNumber(argv[++i], 65535);
            if (!port) return std::nullopt;
            arguments.port = uint16_t(*port);
            portGiven = true;
        } else if (option == "--rule" && hasValue) {
            auto rule = ParseRule(argv[++i]);
            if (!rule) return std::nullopt;
            arguments.rules.push_back(*rule);
        } else {
            return std::nullopt;
        }
    }
    if (arguments.pty && portGiven) return std::nullopt;
    return arguments;
}

} // namespace

int main(int argc, char **argv) {
    if (argc >= 2 && std::strcmp(argv[1], "board") == 0) return sim::RunBoardCommand(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "link") == 0) return sim::RunLinkCommand(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "console") == 0)
        return sim::RunConsoleCommand(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "discovery") == 0)
        return sim::RunDiscoveryCommand(argc, argv);
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0))
        return sim::ShowUsage(Usage);
    auto arguments = ParseArguments(argc, argv);
    if (!arguments) {
        std::fputs(Usage, stderr);
        return 2;
    }
    // Before any thread starts, so that all of them inherit the mask.
    const sim::TerminationSignals termination;

    sim::PacketPeer peer;
    for (const auto &rule : arguments->rules) peer.SetRule(rule);
    std::string error;
    if (arguments->pty) {
        sim::PtyFrontEnd frontEnd(peer, {arguments->pace});
        if (!frontEnd.Start(&error)) {
            std::fprintf(stderr, "corvix-sim: %s\n", error.c_str());
            return 1;
        }
        std::printf("%s\n", frontEnd.SlavePath().c_str());
        std::fflush(stdout);
        termination.Wait();
    } else {
        sim::Rfc2217Server server(peer, {arguments->port, arguments->pace, true});
        if (!server.Start(&error)) {
            std::fprintf(stderr, "corvix-sim: %s\n", error.c_str());
            return 1;
        }
        std::printf("%s\n", server.Url().c_str());
        std::fflush(stdout);
        termination.Wait();
    }
    std::fprintf(stderr, "corvix-sim: %zu frames received, %zu bad\n", peer.Received().size(),
                 peer.BadFrames());
    return 0;
}
