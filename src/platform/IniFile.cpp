#include "platform/IniFile.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
namespace {

struct Entry {
    std::string key;
    std::optional<std::string> value; // none for a line without '='
};

std::string_view Trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

bool SameName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

// The name of a "[name]" line, or none for any other line.
std::optional<std::string_view> SectionName(std::string_view line) {
    if (line.empty() || line.front() != '[') return std::nullopt;
    const size_t close = line.rfind(']');
    if (close == std::string_view::npos || close == 0) return std::nullopt;
    return Trim(line.substr(1, close - 1));
}

// The entries of the first section called name in the file; none when the file cannot be read
// or has no such section.
std::optional<std::vector<Entry>> ReadSection(const char *fileName, const char *name) {
    if (fileName == nullptr || name == nullptr) return std::nullopt;
    std::error_code error;
    // A pipe or a device would block or never end; only a plain file is an ini file.
    if (!std::filesystem::is_regular_file(fileName, error)) return std::nullopt;
    std::ifstream in(fileName, std::ios::binary);
    if (!in) return std::nullopt;
    std::optional<std::vector<Entry>> entries;
    std::string raw;
    bool firstLine = true;
    while (std::getline(in, raw)) {
        std::string_view line = raw;
        if (firstLine && line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
        firstLine = false;
        line = Trim(line);
        if (const auto section = SectionName(line)) {
            if (entries) break; // the section has ended
            if (SameName(*section, name)) entries.emplace();
            continue;
        }
        if (!entries || line.empty() || line.front() == ';') continue;
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            entries->push_back({std::string(line), std::nullopt});
        else
            entries->push_back({std::string(Trim(line.substr(0, equals))),
                                std::string(Trim(line.substr(equals + 1)))});
    }
    return entries;
}

std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return value;
}

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

std::optional<uint32_t> ParseInteger(std::string_view text) {
    text = Trim(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    uint32_t base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') &&
        DigitValue(text[2]) < 16) {
        base = 16;
        text.remove_prefix(2);
    }
    uint32_t value = 0;
    size_t digits = 0;
    for (const char c : text) {
        const int digit = DigitValue(c);
        if (digit >= static_cast<int>(base)) break;
        value = value * base + static_cast<uint32_t>(digit); // wraps, like the platform's
        ++digits;
    }
    if (digits == 0) return std::nullopt;
    return negative ? 0u - value : value;
}

} // namespace

uint32_t GetPrivateProfileSectionA(const char *section, char *buffer, uint32_t size,
                                   const char *fileName) {
    if (buffer == nullptr || size == 0) return 0;
    std::string list; // every string with its zero, without the final extra zero
    if (const auto entries = ReadSection(fileName, section)) {
        for (const Entry &entry : *entries) {
            list += entry.key;
            if (entry.value) list += '=' + *entry.value;
            list += '\0';
        }
    }
    if (list.size() + 1 <= size) {
        std::copy(list.begin(), list.end(), buffer);
        buffer[list.size()] = '\0';
        if (list.empty() && size > 1)
            buffer[1] = '\0'; // an empty list is still two zeros where there is room
        return static_cast<uint32_t>(list.size());
    }
    // Too small: cut, and end with two zeros. With fewer than two characters there is room for
    // no text at all.
    if (size < 2) {
        buffer[0] = '\0';
        return 0;
    }
    const uint32_t kept = size - 2;
    std::copy_n(list.begin(), kept, buffer);
    buffer[kept] = '\0';
    buffer[kept + 1] = '\0';
    return kept;
}

uint32_t GetPrivateProfileIntA(const char *section, const char *key, int32_t defaultValue,
                               const char *fileName) {
    const auto fallback = static_cast<uint32_t>(defaultValue);
    if (key == nullptr) return fallback;
    const auto entries = ReadSection(fileName, section);
    if (!entries) return fallback;
    const auto found = std::find_if(entries->begin(), entries->end(),
                                    [key](const Entry &entry) { return SameName(entry.key, key); });
    if (found == entries->end() || !found->value) return fallback;
    return ParseInteger(Unquote(*found->value)).value_or(fallback);
}

} // namespace platform
