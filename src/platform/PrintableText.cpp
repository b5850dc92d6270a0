#include "platform/PrintableText.h"

#include <cstdint>
#include <cstdio>

namespace platform {

namespace {

void AppendHexEscape(std::string &out, uint8_t byte) {
    char text[5];
    std::snprintf(text, sizeof text, "\\x%02x", byte);
    out += text;
}

} // namespace

size_t Utf8SequenceLength(std::string_view text, uint32_t &codePoint) {
    const auto lead = static_cast<uint8_t>(text[0]);
    size_t length = 0;
    uint32_t minimum = 0;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2, codePoint = lead & 0x1fu, minimum = 0x80;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3, codePoint = lead & 0x0fu, minimum = 0x800;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4, codePoint = lead & 0x07u, minimum = 0x10000;
    } else {
        return 0;
    }
    if (text.size() < length) return 0;
    for (size_t i = 1; i < length; ++i) {
        const auto next = static_cast<uint8_t>(text[i]);
        if ((next & 0xc0u) != 0x80u) return 0;
        codePoint = (codePoint << 6) | (next & 0x3fu);
    }
    if (codePoint < minimum || codePoint > 0x10ffff) return 0;
    if (codePoint >= 0xd800 && codePoint <= 0xdfff) return 0;
    return length;
}

std::string EscapeControls(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const auto byte = static_cast<uint8_t>(text[0]);
        if (byte >= 0x20 && byte < 0x7f) {
            if (byte == '\\') out += '\\';
            out += static_cast<char>(byte);
            text.remove_prefix(1);
            continue;
        }
        if (byte == '\t' || byte == '\n' || byte == '\r') {
            out += byte == '\t' ? "\\t" : byte == '\n' ? "\\n" : "\\r";
            text.remove_prefix(1);
            continue;
        }
        uint32_t codePoint = 0;
        const size_t length = byte >= 0x80 ? Utf8SequenceLength(text, codePoint) : 0;
        if (length == 0 || codePoint < 0xa0) {
            // A C0 control, DEL, a C1 control (U+0080-U+009F), or a byte that is not UTF-8.
            const size_t count = length == 0 ? 1 : length;
            for (size_t i = 0; i < count; ++i) AppendHexEscape(out, static_cast<uint8_t>(text[i]));
            text.remove_prefix(count);
            continue;
        }
        out.append(text.substr(0, length));
        text.remove_prefix(length);
    }
    return out;
}

} // namespace platform
