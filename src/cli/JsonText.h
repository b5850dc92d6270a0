// JSON text for tarnwick-cli's --json lines: one object per line, built field by field. Small on
// purpose: the lines are flat objects of strings, integers and flags, nothing a library is needed
// for.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// text as a JSON string with its quotes. Quote, backslash and every control character (C0, DEL
// and the C1 controls) are escaped, so a line can never be broken or a terminal driven by what a
// board or a file said. A byte that is not part of valid UTF-8 becomes U+FFFD, one per byte: a
// JSON reader must get valid UTF-8, and the replacement character shows where the text was
// damaged without passing a guess at its encoding off as what the peer sent.
std::string JsonQuoted(std::string_view text);

// One flat JSON object, fields in the order they are added.
class JsonObjectText {
public:
    JsonObjectText &Add(std::string_view key, std::string_view value);
    JsonObjectText &AddNumber(std::string_view key, int64_t value);
    JsonObjectText &AddFlag(std::string_view key, bool value);
    JsonObjectText &AddNull(std::string_view key);
    // The object, without a line end.
    std::string Text() const { return text_ + "}"; }

private:
    void AddKey(std::string_view key);

    std::string text_ = "{";
};
