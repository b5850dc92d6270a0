#include "cli/JsonText.h"

#include "platform/PrintableText.h"

#include <cstdio>

namespace {

void AppendUnicodeEscape(std::string &out, uint32_t codePoint) {
    char text[8];
    std::snprintf(text, sizeof text, "\\u%04x", static_cast<unsigned>(codePoint));
    out += text;
}

// The short escapes JSON has for the common controls; 0 for the others.
char ShortEscape(uint8_t byte) {
    switch (byte) {
    case '\b': return 'b';
    case '\f': return 'f';
    case '\n': return 'n';
    case '\r': return 'r';
    case '\t': return 't';
    default: return 0;
    }
}

} // namespace

std::string JsonQuoted(std::string_view text) {
    std::string out = "\"";
    out.reserve(text.size() + 2);
    while (!text.empty()) {
        const auto byte = static_cast<uint8_t>(text[0]);
        if (byte >= 0x20 && byte < 0x7f) {
            if (byte == '"' || byte == '\\') out += '\\';
            out += static_cast<char>(byte);
            text.remove_prefix(1);
            continue;
        }
        if (byte < 0x80) {
            const char letter = ShortEscape(byte);
            if (letter != 0)
                out += {'\\', letter};
            else
                AppendUnicodeEscape(out, byte);
            text.remove_prefix(1);
            continue;
        }
        uint32_t codePoint = 0;
        const size_t length = platform::Utf8SequenceLength(text, codePoint);
        if (length == 0) {
            AppendUnicodeEscape(out, 0xfffd);
            text.remove_prefix(1);
        } else if (codePoint < 0xa0) {
            AppendUnicodeEscape(out, codePoint); // a C1 control
            text.remove_prefix(length);
        } else {
            out.append(text.substr(0, length));
            text.remove_prefix(length);
        }
    }
    out += '"';
    return out;
}

void JsonObjectText::AddKey(std::string_view key) {
    if (text_.size() > 1) text_ += ',';
    text_ += JsonQuoted(key);
    text_ += ':';
}

JsonObjectText &JsonObjectText::Add(std::string_view key, std::string_view value) {
    AddKey(key);
    text_ += JsonQuoted(value);
    return *this;
}

JsonObjectText &JsonObjectText::AddNumber(std::string_view key, int64_t value) {
    AddKey(key);
    text_ += std::to_string(value);
    return *this;
}

JsonObjectText &JsonObjectText::AddFlag(std::string_view key, bool value) {
    AddKey(key);
    text_ += value ? "true" : "false";
    return *this;
}

JsonObjectText &JsonObjectText::AddNull(std::string_view key) {
    AddKey(key);
    text_ += "null";
    return *this;
}
