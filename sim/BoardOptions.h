// What kind of board corvix-sim plays: the identity it reports, the rates its pilot BIOS will
// take, and the one misbehaviour (if any) it was asked to show.
#pragma once

#include "CommandLine.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

enum class BoardFaultKind {
    None,
    Silent,           // answers nothing at all, not even the pilot header echo
    SilentAfterPilot, // takes the pilot BIOS and answers its checksum, then never a packet
    DropReply,        // the n-th packet reply is not sent
    CorruptReply,     // the n-th packet reply goes out with a broken packet checksum
    NakWrite,         // the n-th SYS/WRITE is refused and not written
    Close,            // the host's connection is dropped at the n-th packet request
};

struct BoardFault {
    BoardFaultKind kind = BoardFaultKind::None;
    unsigned n = 0; // 1-based; only for the counted kinds

    bool operator==(const BoardFault &) const = default;
};

// The longest text the board's message carries, without its terminating zero.
constexpr size_t MaxBoardTextLength = 255;

// The board's own text message (SYS 63), sent once, right after the n-th SYS/WRITE it has
// acknowledged. None when afterWrites is 0.
struct BoardTextMessage {
    unsigned afterWrites = 0; // 1-based
    std::string text;         // 1 to MaxBoardTextLength characters, no zero byte

    bool operator==(const BoardTextMessage &) const = default;
};

struct BoardOptions {
    // RFC 2217 carries DTR and DSR, so a DTR pulse enters bootstrap mode. A pseudo-terminal has no
    // modem lines: there the board starts in bootstrap mode and the start triplet begins a new one.
    bool hasModemLines = true;
    uint16_t flashId = 0x00BF;
    uint16_t productId = 0x2A01;
    std::vector<uint32_t> baudRates{115200, 230400, 460800};
    bool noProcessor = false; // nothing on the board reacts: DSR stays still, nothing answers
    BoardFault fault;
    BoardTextMessage textMessage;
};

// "silent", "silent-after-pilot", "drop-reply:N", "corrupt-reply:N", "nak-write:N", "close:N"
// with N from 1. Empty when the text is none of these.
std::optional<BoardFault> ParseBoardFault(std::string_view text);
// The name ParseBoardFault takes, without the count.
const char *BoardFaultName(BoardFaultKind kind);
// The two words after --text-after-writes: a count from 1 and a text of 1 to MaxBoardTextLength
// characters. Empty when either is refused.
std::optional<BoardTextMessage> ParseBoardTextMessage(std::string_view count,
                                                      std::string_view text);
// "115200,230400,460800": decimal rates above zero, comma-separated, at least one.
std::optional<std::vector<uint32_t>> ParseBaudRates(std::string_view text);

} // namespace sim
