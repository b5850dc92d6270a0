#include "CommandLine.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace sim {

std::optional<uint16_t> ParseHex16(const std::string &text) {
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits = digits.substr(2);
    if (digits.empty() || digits.size() > 4 ||
        digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return std::nullopt;
    return uint16_t(std::stoul(digits, nullptr, 16));
}

std::optional<uint32_t> ParseDecimal(std::string_view text, uint32_t max) {
    // Ten digits hold any 32-bit value; more can only overflow.
    if (text.empty() || text.size() > 10) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + uint64_t(c - '0');
    }
    if (value > max) return std::nullopt;
    return uint32_t(value);
}

int ShowUsage(const char *usage) {
    std::fputs(usage, stdout);
    return 0;
}

std::vector<std::string> CommandOptions(int argc, char **argv, std::string_view verb) {
    std::vector<std::string> options(argv + std::min(argc, 1), argv + argc);
    if (!options.empty() && options.front() == verb) options.erase(options.begin());
    return options;
}

OptionParser &OptionParser::Flag(std::string name, std::function<void()> set) {
    options_.push_back({std::move(name), 0, [set = std::move(set)](const auto &) {
                            set();
                            return true;
                        }});
    return *this;
}

OptionParser &OptionParser::Value(std::string name, ValueHandler apply) {
    options_.push_back({std::move(name), 1, [apply = std::move(apply)](const auto &values) {
                            return apply(values[0]);
                        }});
    return *this;
}

OptionParser &OptionParser::Pair(std::string name, PairHandler apply) {
    options_.push_back({std::move(name), 2, [apply = std::move(apply)](const auto &values) {
                            return apply(values[0], values[1]);
                        }});
    return *this;
}

OptionParser &OptionParser::Path(std::string name, std::string &path) {
    return Value(std::move(name), [&path](const std::string &value) {
        path = value;
        return !value.empty();
    });
}

const OptionParser::Option *OptionParser::Find(const std::string &name) const {
    auto found = std::find_if(options_.begin(), options_.end(),
                              [&](const Option &option) { return option.name == name; });
    return found == options_.end() ? nullptr : &*found;
}

bool OptionParser::Parse(const std::vector<std::string> &options, std::string *error) const {
    auto fail = [error](const std::string &why) {
        if (error) *error = why;
        return false;
    };
    for (size_t i = 0; i < options.size(); ++i) {
        const std::string &name = options[i];
        if (name == "--help" || name == "-h") {
            helpAsked_ = true;
            return true;
        }
        const Option *option = Find(name);
        if (!option) return fail("unknown option " + name);
        if (options.size() - i - 1 < option->valueCount)
            return fail(name + " needs " +
                        (option->valueCount == 1 ? std::string("a value")
                                                 : std::to_string(option->valueCount) + " values"));
        const std::vector<std::string> values(options.begin() + long(i) + 1,
                                              options.begin() + long(i + 1 + option->valueCount));
        i += option->valueCount;
        if (!option->apply(values)) {
            std::string why = "bad value for " + name + ":";
            for (const std::string &value : values) {
                why += ' ';
                why += value;
            }
            return fail(why);
        }
    }
    return true;
}

int UsageError(const std::string &error, const char *usage) {
    std::fprintf(stderr, "corvix-sim: %s\n%s", error.c_str(), usage);
    return 2;
}

int CommandFailed(const std::string &error) {
    std::fprintf(stderr, "corvix-sim: %s\n", error.c_str());
    return 1;
}

} // namespace sim
