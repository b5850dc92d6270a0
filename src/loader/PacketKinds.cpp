#include "loader/PacketKinds.h"

#include "comm/PacketCodec.h"
#include "loader/LoaderErrors.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

using packet::TypeDbg;
using packet::TypeSys;

// Where the text of the board's message starts, behind its length in bytes 2-3.
constexpr uint16_t TargetTextOffset = 4;

constexpr PacketKind Kinds[] = {
    {TypeSys, 2, nullptr, true, true}, // SYS/READ
    {TypeSys, 3, nullptr, true, true}, // SYS/WRITE
    {TypeSys, 1, nullptr, true, true}, // SYS/NOOP
    {TypeSys, 0, &ShowSystemNak, true, false},
    {TypeSys, 63, &ShowTargetMessage, true, false},
    {TypeSys, 4, nullptr, true, true},  // SYS/INFOPROBE
    {TypeSys, 5, nullptr, false, true}, // SYS/STARTBIOS: the pilot BIOS is gone once it obeys
    {TypeSys, 10, nullptr, true, true}, // SYS/FLASHDATA
    {TypeSys, 11, nullptr, true, true}, // probe of the board's own operating system
    {TypeSys, 12, nullptr, true, true}, // start of a user program
    {TypeDbg, 62, nullptr, false, true},
    {TypeDbg, 61, nullptr, false, true}, // device cold load
    {TypeDbg, 60, nullptr, true, true},  // device pilot data
    {TypeDbg, 59, nullptr, true, true},
    {TypeDbg, 58, nullptr, true, true},
    {TypeDbg, 55, nullptr, true, true},
    {TypeDbg, 57, &ShowLoaderDropped, false, false},
    {TypeDbg, 54, nullptr, true, true}, // device pilot header
    {TypeSys, 9, nullptr, true, true},  // SYS/ERASEFLASH
    {TypeSys, 6, nullptr, true, true},  // SYS/SETBAUDRATE
};

uint8_t ByteAt(const uint8_t *payload, uint16_t length, uint16_t index) {
    return payload != nullptr && index < length ? payload[index] : 0;
}

} // namespace

std::span<const PacketKind> EnginePacketKinds() { return Kinds; }

void ShowSystemNak(const uint8_t *payload, uint16_t length, void *) {
    char text[80];
    std::snprintf(text, sizeof text, "System Nak - reason: %02x type: %02x, subtype: %02x",
                  ByteAt(payload, length, 0), ByteAt(payload, length, 1),
                  ByteAt(payload, length, 2));
    ShowError(text);
}

void ShowTargetMessage(const uint8_t *payload, uint16_t length, void *) {
    // The board's text: a 16-bit little-endian length in bytes 2-3, the zero-terminated text
    // from byte 4. Neither the stated length nor a missing terminator may take the copy past
    // what the packet carried.
    std::string text;
    if (payload != nullptr && length > TargetTextOffset) {
        const uint16_t stated =
            static_cast<uint16_t>(ByteAt(payload, length, 2) | ByteAt(payload, length, 3) << 8);
        const size_t carried = std::min<size_t>(stated, length - TargetTextOffset);
        const auto *chars = reinterpret_cast<const char *>(payload + TargetTextOffset);
        text.assign(chars, ::strnlen(chars, carried));
    }
    ShowError(text);
}

void ShowLoaderDropped(const uint8_t *, uint16_t, void *) {
    ShowError("Loader dropped connection with Selvane");
}
