#include "BoardOptions.h"

#include <array>
#include <utility>

namespace sim {

namespace {

struct FaultNameEntry {
    BoardFaultKind kind;
    const char *name;
    bool counted;
};

constexpr std::array<FaultNameEntry, 6> FaultNames{{
    {BoardFaultKind::Silent, "silent", false},
    {BoardFaultKind::SilentAfterPilot, "silent-after-pilot", false},
    {BoardFaultKind::DropReply, "drop-reply", true},
    {BoardFaultKind::CorruptReply, "corrupt-reply", true},
    {BoardFaultKind::NakWrite, "nak-write", true},
    {BoardFaultKind::Close, "close", true},
}};

} // namespace

std::optional<uint32_t> ParseDecimal(std::string_view text, uint32_t max) {
    // Ten digits hold any 32-bit value; more can only overflow.
    if (text.empty() || text.size() > 10)
        return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + uint64_t(c - '0');
    }
    if (value > max)
        return std::nullopt;
    return uint32_t(value);
}

std::optional<BoardFault> ParseBoardFault(std::string_view text) {
    const size_t colon = text.find(':');
    const std::string_view name = text.substr(0, colon);
    for (const auto &entry : FaultNames) {
        if (name != entry.name)
            continue;
        if (!entry.counted)
            return colon == std::string_view::npos ? std::optional(BoardFault{entry.kind, 0})
                                                   : std::nullopt;
        if (colon == std::string_view::npos)
            return std::nullopt;
        auto n = ParseDecimal(text.substr(colon + 1), UINT32_MAX);
        if (!n || *n == 0)
            return std::nullopt;
        return BoardFault{entry.kind, *n};
    }
    return std::nullopt;
}

const char *BoardFaultName(BoardFaultKind kind) {
    for (const auto &entry : FaultNames)
        if (entry.kind == kind)
            return entry.name;
    return "none";
}

std::optional<std::vector<uint32_t>> ParseBaudRates(std::string_view text) {
    std::vector<uint32_t> rates;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        auto rate = ParseDecimal(
            text.substr(start, comma == std::string_view::npos ? comma : comma - start),
            UINT32_MAX);
        if (!rate || *rate == 0)
            return std::nullopt;
        rates.push_back(*rate);
        if (comma == std::string_view::npos)
            return rates;
        start = comma + 1;
    }
}

} // namespace sim
