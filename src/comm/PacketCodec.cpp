#include "comm/PacketCodec.h"

#include <array>
#include <cstring>

namespace packet {

uint16_t Checksum(const uint8_t *data, size_t count, uint16_t state) {
    unsigned a = state >> 8;
    unsigned b = state & 0xFF;
    for (size_t i = 0; i < count; ++i) {
        a += data[i];
        if (a > 255) a -= 255; // ones'-complement: the carry goes round, 255 stays 255
        b += a;
        if (b > 255) b -= 255;
    }
    return static_cast<uint16_t>(a << 8 | b);
}

void BuildHeader(uint8_t *header, uint8_t type, uint8_t subtype, uint16_t length) {
    header[0] = Flag;
    header[1] = FrameMarker;
    header[2] = 0;
    header[OffType] = type;
    header[OffSubtype] = subtype;
    StoreLe16(header + OffLength, length);
    StoreLe16(header + OffHeaderSum, Checksum(header + 1, 6, 0));
}

bool HeaderValid(const uint8_t *header) {
    return LoadLe16(header + OffLength) <= MaxReceivePayload &&
           Checksum(header + 1, 6, 0) == LoadLe16(header + OffHeaderSum);
}

uint16_t PacketChecksum(const uint8_t *header, const uint8_t *payload, size_t length) {
    return Checksum(payload, length, Checksum(header + 1, HeaderSize - 1, 0));
}

namespace {

// Appends count bytes stuffed; out has room for the worst case (checked by the caller).
uint8_t *StuffInto(uint8_t *out, const uint8_t *data, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const uint8_t byte = data[i];
        if (byte == Flag || byte == Escape) {
            *out++ = Escape;
            *out++ = static_cast<uint8_t>(byte ^ EscapeXor);
        } else {
            *out++ = byte;
        }
    }
    return out;
}

} // namespace

size_t EncodeStuffed(const uint8_t *header, const uint8_t *payload, size_t length,
                     const uint8_t *checksum, uint8_t *out, size_t capacity) {
    if (capacity < StuffedFrameBound(length)) return 0;
    uint8_t *at = out;
    *at++ = Flag;
    at = StuffInto(at, header + 1, HeaderSize - 1);
    if (length > 0) at = StuffInto(at, payload, length);
    at = StuffInto(at, checksum, TrailerSize);
    return static_cast<size_t>(at - out);
}

size_t EncodePlain(const uint8_t *header, const uint8_t *payload, size_t length,
                   const uint8_t *checksum, uint8_t *out, size_t capacity) {
    const size_t total = HeaderSize + length + TrailerSize;
    if (capacity < total) return 0;
    std::memcpy(out, header, HeaderSize);
    if (length > 0) std::memcpy(out + HeaderSize, payload, length);
    std::memcpy(out + HeaderSize + length, checksum, TrailerSize);
    return total - 1; // the flag at out[0] is not part of the frame on the link
}

std::vector<uint8_t> MakeFrame(uint8_t type, uint8_t subtype, const uint8_t *payload,
                               size_t length) {
    uint8_t header[HeaderSize];
    BuildHeader(header, type, subtype, static_cast<uint16_t>(length));
    uint8_t sum[TrailerSize];
    StoreLe16(sum, PacketChecksum(header, payload, length));
    std::vector<uint8_t> frame(StuffedFrameBound(length));
    frame.resize(EncodeStuffed(header, payload, length, sum, frame.data(), frame.size()));
    return frame;
}

namespace {

constexpr std::array<const char *, 11> SysNames = {
    "NAK",         "NOOP",       "READ",     "WRITE",      "INFOPROBE", "STARTBIOS",
    "SETBAUDRATE", "SETOPTIONS", "RELOCATE", "ERASEFLASH", "FLASHDATA"};

constexpr std::array<const char *, 26> DbgNames = {
    nullptr,        "SINGLESTEP",     "TOGGLEBP",    "CLEARBPS", "TOGGLEALLBPS", "ATBP",
    "STARTPROGRAM", "RUNPROGRAM",     "STOPPROGRAM", "ADDWATCH", "DELETEWATCH",  "DELETEALLWATCHES",
    "EXECWATCH",    "EXECALLWATCHES", "SENDCHAR",    "RESET",    "SETSENDFLAGS", "REGDATA",
    "WATCHDATA",    "ASMDATA",        "STACKDATA",   "STDIO",    "WRITEREGDATA", "CHARREADY",
    "NOOP",         "ENABLEDOPTIONS"};

} // namespace

const char *PacketName(uint8_t type, uint8_t code) {
    if (type == TypeSys && code < SysNames.size()) return SysNames[code];
    if (type == TypeDbg && code < DbgNames.size()) return DbgNames[code];
    return nullptr;
}

void FrameScanner::Restart() {
    bytes_.clear();
    inFrame_ = false;
    escape_ = false;
}

bool FrameScanner::Feed(const uint8_t *data, size_t count, size_t *consumed, DecodedFrame *frame) {
    for (size_t i = 0; i < count; ++i) {
        const uint8_t byte = data[i];
        if (byte == Flag) { // a flag always starts a new frame, abandoning a partial one
            Restart();
            bytes_.push_back(Flag);
            inFrame_ = true;
            continue;
        }
        if (!inFrame_) continue;
        if (byte == Escape) {
            escape_ = true;
            continue;
        }
        bytes_.push_back(escape_ ? static_cast<uint8_t>(byte ^ EscapeXor) : byte);
        escape_ = false;
        if (bytes_.size() < HeaderSize) continue;
        if (bytes_.size() == HeaderSize && !HeaderValid(bytes_.data())) {
            Restart();
            continue;
        }
        const size_t length = LoadLe16(bytes_.data() + OffLength);
        if (bytes_.size() < HeaderSize + length + TrailerSize) continue;
        frame->type = bytes_[OffType];
        frame->subtype = bytes_[OffSubtype];
        frame->payload.assign(bytes_.begin() + HeaderSize,
                              bytes_.begin() + static_cast<long>(HeaderSize + length));
        frame->good = PacketChecksum(bytes_.data(), bytes_.data() + HeaderSize, length) ==
                      LoadLe16(bytes_.data() + HeaderSize + length);
        Restart();
        *consumed = i + 1;
        return true;
    }
    *consumed = count;
    return false;
}

} // namespace packet
