#include "discovery/ControlPictures.h"

#include <cstdint>

namespace {

constexpr char Replacement[] = "\xEF\xBF\xBD"; // U+FFFD

// The control picture of a C0 control or DEL, in UTF-8: U+2400 + code, U+2421 for DEL.
void AppendControlPicture(std::string &out, uint8_t code) {
    const int offset = code == 0x7F ? 0x21 : code;
    out += '\xE2';
    out += '\x90';
    out += static_cast<char>(0x80 + offset);
}

// The length of the control without a picture (a C1 control, U+2028, U+2029) that starts text, or
// 0. Looking at bytes alone is safe: 0xC2 and 0xE2 only ever lead a sequence in UTF-8.
size_t UnpicturedControlLength(std::string_view text) {
    const auto byte = [&](size_t i) { return i < text.size() ? static_cast<uint8_t>(text[i]) : 0; };
    if (byte(0) == 0xC2 && byte(1) >= 0x80 && byte(1) <= 0x9F) return 2;
    if (byte(0) == 0xE2 && byte(1) == 0x80 && (byte(2) == 0xA8 || byte(2) == 0xA9)) return 3;
    return 0;
}

} // namespace

std::string WithControlPictures(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const auto lead = static_cast<uint8_t>(text.front());
        if (lead < 0x20 || lead == 0x7F) {
            AppendControlPicture(out, lead);
            text.remove_prefix(1);
        } else if (const size_t length = UnpicturedControlLength(text); length != 0) {
            out += Replacement;
            text.remove_prefix(length);
        } else {
            out += text.front();
            text.remove_prefix(1);
        }
    }
    return out;
}
