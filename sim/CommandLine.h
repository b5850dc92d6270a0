// What the corvix-sim commands (board, link, discovery) have in common on their way in and out:
// the words after the verb, the options among them, the usage error, and the wait for the signal
// that ends them.
#pragma once

#include "platform/Interrupts.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sim {

// "01a4", "0x01A4", "BF": one to four hexadecimal digits, "0x" or "0X" in front allowed. Empty for
// anything else.
std::optional<uint16_t> ParseHex16(const std::string &text);

// Decimal digits only, within max.
std::optional<uint32_t> ParseDecimal(std::string_view text, uint32_t max);

// How a command spells one of its faults after --fault: "name", or "name:N" with N from 1 for
// a counted fault.
template <typename Kind> struct FaultSpelling {
    Kind kind;
    const char *name;
    bool counted;
};

// The kind and count (0 for an uncounted fault) that text names in table; empty for anything
// else.
template <typename Kind, size_t Count>
std::optional<std::pair<Kind, unsigned>>
ParseFaultSpelling(std::string_view text, const std::array<FaultSpelling<Kind>, Count> &table) {
    const size_t colon = text.find(':');
    const std::string_view name = text.substr(0, colon);
    for (const auto &entry : table) {
        if (name != entry.name) continue;
        if (!entry.counted)
            return colon == std::string_view::npos
                       ? std::optional(std::pair<Kind, unsigned>{entry.kind, 0})
                       : std::nullopt;
        if (colon == std::string_view::npos) return std::nullopt;
        const auto n = ParseDecimal(text.substr(colon + 1), UINT32_MAX);
        if (!n || *n == 0) return std::nullopt;
        return std::pair<Kind, unsigned>{entry.kind, *n};
    }
    return std::nullopt;
}

// The name of kind in table, "none" when it has none.
template <typename Kind, size_t Count>
const char *FaultSpellingName(Kind kind, const std::array<FaultSpelling<Kind>, Count> &table) {
    for (const auto &entry : table)
        if (entry.kind == kind) return entry.name;
    return "none";
}

// Prints a command's usage on standard output, for --help. Returns the exit status for it, 0.
int ShowUsage(const char *usage);

// The words after the program name, without the verb when it comes first: main() hands the
// command its whole argv, while the tests may leave the verb out.
std::vector<std::string> CommandOptions(int argc, char **argv, std::string_view verb);

// Options that stand alone ("--pty") and options followed by their value ("--port 4000"), taken in
// the order they are given. "--help" or "-h" where an option may stand asks for the usage: it is
// an answer of its own, not a refused option, and what follows it is not looked at, since the
// user is asking how to write the rest. The handlers usually write into the caller's arguments,
// so the parser must not outlive them.
class OptionParser {
public:
    // helpAsked is set when the options ask for the usage.
    explicit OptionParser(bool &helpAsked) : helpAsked_(helpAsked) {}

    // False when the value is not understood.
    using ValueHandler = std::function<bool(const std::string &value)>;
    using PairHandler = std::function<bool(const std::string &first, const std::string &second)>;

    OptionParser &Flag(std::string name, std::function<void()> set);
    OptionParser &Value(std::string name, ValueHandler apply);
    // An option followed by two values ("--text-after-writes 3 TEXT"), judged together.
    OptionParser &Pair(std::string name, PairHandler apply);
    // A file to write: any name but the empty one, which would only fail much later, on exit.
    OptionParser &Path(std::string name, std::string &path);

    // Applies the options one by one, up to "--help" or "-h" if one comes. False at the first one
    // that is unknown, lacks its value or has a value its handler refuses, with the reason in
    // *error when error is given.
    bool Parse(const std::vector<std::string> &options, std::string *error) const;

private:
    struct Option {
        std::string name;
        size_t valueCount = 0;
        std::function<bool(const std::vector<std::string> &values)> apply;
    };

    const Option *Find(const std::string &name) const;

    bool &helpAsked_;
    std::vector<Option> options_;
};

// Reports a command line that was not understood, with the command's usage text, on standard
// error. Returns the exit status for it, 2.
int UsageError(const std::string &error, const char *usage);

// The exit status of a command whose command line ends it before it runs: 2 after a usage error
// (reported with the usage, on standard error), 0 after the usage asked for (on standard output).
// Empty when the command is to run with arguments.
template <typename Arguments>
std::optional<int> EndsBeforeRunning(const std::optional<Arguments> &arguments,
                                     const std::string &error, const char *usage) {
    if (!arguments) return UsageError(error, usage);
    if (arguments->helpAsked) return ShowUsage(usage);
    return std::nullopt;
}

// Reports, on standard error, why the command cannot go on (a front end that would not start, a
// file that could not be written). Returns the exit status for it, 1.
int CommandFailed(const std::string &error);

// The signals that end a command, held back for its Wait() (platform/Interrupts.h).
using TerminationSignals = platform::TerminationSignals;

} // namespace sim
