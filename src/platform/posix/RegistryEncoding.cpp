// The registry file's bytes as text: the Windows registry editor exports UTF-16LE, we write and
// parse UTF-8.
#include "platform/posix/RegistryHive.h"

#include <cstdint>

namespace platform::regfile {

namespace {

constexpr std::string_view Utf16LeMark = "\xFF\xFE";

// What stands in for a code unit that has no UTF-8 form; the parser refuses lines holding it.
constexpr char Unconvertible = '\0';

void AppendUtf8(std::string &out, uint32_t code) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

bool IsHighSurrogate(uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

std::string Utf16LeToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() / 2);
    const size_t units = bytes.size() / 2;
    auto unitAt = [&](size_t i) {
        return static_cast<uint32_t>(static_cast<uint8_t>(bytes[2 * i])) |
               static_cast<uint32_t>(static_cast<uint8_t>(bytes[2 * i + 1])) << 8;
    };
    for (size_t i = 0; i < units; ++i) {
        uint32_t unit = unitAt(i);
        if (IsHighSurrogate(unit) && i + 1 < units && IsLowSurrogate(unitAt(i + 1))) {
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (unitAt(i + 1) - 0xDC00));
            ++i;
        } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
            out.push_back(Unconvertible);
        } else {
            AppendUtf8(out, unit);
        }
    }
    if (bytes.size() % 2 != 0) out.push_back(Unconvertible); // half a code unit at the end
    return out;
}

} // namespace

RegFileText DecodeRegFileBytes(std::string_view bytes) {
    if (bytes.substr(0, Utf16LeMark.size()) != Utf16LeMark)
        return RegFileText{std::string(bytes), false};
    return RegFileText{Utf16LeToUtf8(bytes.substr(Utf16LeMark.size())), true};
}

} // namespace platform::regfile
