#include "BoardOptions.h"

#include <array>
#include <utility>

namespace sim {

namespace {

constexpr std::array<FaultSpelling<BoardFaultKind>, 6> FaultNames{{
    {BoardFaultKind::Silent, "silent", false},
    {BoardFaultKind::SilentAfterPilot, "silent-after-pilot", false},
    {BoardFaultKind::DropReply, "drop-reply", true},
    {BoardFaultKind::CorruptReply, "corrupt-reply", true},
    {BoardFaultKind::NakWrite, "nak-write", true},
    {BoardFaultKind::Close, "close", true},
}};

} // namespace

std::optional<BoardFault> ParseBoardFault(std::string_view text) {
    const auto fault = ParseFaultSpelling(text, FaultNames);
    if (!fault) return std::nullopt;
    return BoardFault{fault->first, fault->second};
}

const char *BoardFaultName(BoardFaultKind kind) { return FaultSpellingName(kind, FaultNames); }

std::optional<BoardTextMessage> ParseBoardTextMessage(std::string_view count,
                                                      std::string_view text) {
    const auto n = ParseDecimal(count, UINT32_MAX);
    // The host reads the text up to its first zero byte: one inside would cut it short.
    if (!n || *n == 0 || text.empty() || text.size() > MaxBoardTextLength ||
        text.find('\0') != std::string_view::npos)
        return std::nullopt;
    return BoardTextMessage{*n, std::string(text)};
}

std::optional<std::vector<uint32_t>> ParseBaudRates(std::string_view text) {
    std::vector<uint32_t> rates;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        auto rate = ParseDecimal(
            text.substr(start, comma == std::string_view::npos ? comma : comma - start),
            UINT32_MAX);
        if (!rate || *rate == 0) return std::nullopt;
        rates.push_back(*rate);
        if (comma == std::string_view::npos) return rates;
        start = comma + 1;
    }
}

} // namespace sim
