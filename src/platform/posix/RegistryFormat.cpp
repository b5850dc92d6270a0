// The registry hive in memory and its .reg text form.
#include "platform/posix/RegistryHive.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace platform::regfile {

namespace {

constexpr std::string_view Header = "Windows Registry Editor Version 5.00";
constexpr std::string_view RootName = "HKEY_CURRENT_USER";
constexpr size_t WrapColumn = 76; // where regedit breaks its hex lists

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    return s;
}

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string_view Trim(std::string_view s) { return TrimRight(TrimLeft(s)); }

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && SameRegistryName(s.substr(0, prefix.size()), prefix);
}

[[noreturn]] void Fail(size_t lineNumber, const std::string &reason) {
    throw RegistryError("line " + std::to_string(lineNumber) + ": " + reason);
}

// Hands out logical lines: physical lines without their line ends, joined where a line ends in a
// backslash (regedit continues long hex lists that way, indenting the next line).
class LineReader {
public:
    explicit LineReader(std::string_view text) : text_(text) {}

    bool Next(std::string &line, size_t &lineNumber) {
        if (pos_ >= text_.size())
            return false;
        line.clear();
        lineNumber = number_ + 1;
        bool first = true;
        while (pos_ < text_.size()) {
            std::string_view physical = NextPhysical();
            std::string_view part = first ? physical : TrimLeft(physical);
            std::string_view trimmed = TrimRight(part);
            bool comment = first && !TrimLeft(trimmed).empty() && TrimLeft(trimmed).front() == ';';
            first = false;
            if (!comment && !trimmed.empty() && trimmed.back() == '\\') {
                trimmed.remove_suffix(1);
                line.append(trimmed);
                continue;
            }
            line.append(part);
            break;
        }
        return true;
    }

private:
    std::string_view NextPhysical() {
        size_t end = text_.find('\n', pos_);
        if (end == std::string_view::npos)
            end = text_.size();
        std::string_view physical = text_.substr(pos_, end - pos_);
        pos_ = end + 1;
        ++number_;
        if (!physical.empty() && physical.back() == '\r')
            physical.remove_suffix(1);
        return physical;
    }

    std::string_view text_;
    size_t pos_ = 0;
    size_t number_ = 0;
};

// Reads a quoted text starting at s[pos] == '"'; pos ends after the closing quote. Only \\ and \"
// are escapes; a backslash before anything else is kept as it is, as regedit does.
std::string ReadQuoted(std::string_view s, size_t &pos, size_t lineNumber) {
    std::string out;
    for (++pos; pos < s.size(); ++pos) {
        char c = s[pos];
        if (c == '"') {
            ++pos;
            return out;
        }
        if (c == '\\' && pos + 1 < s.size() && (s[pos + 1] == '\\' || s[pos + 1] == '"'))
            c = s[++pos];
        out.push_back(c);
    }
    Fail(lineNumber, "a quoted text has no closing quote");
}

template <typename Number>
bool ParseHex(std::string_view digits, size_t maxDigits, Number &value) {
    if (digits.empty() || digits.size() > maxDigits)
        return false;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
    return ec == std::errc() && end == digits.data() + digits.size();
}

std::vector<uint8_t> ParseHexList(std::string_view list, size_t lineNumber) {
    std::vector<uint8_t> bytes;
    list = Trim(list);
    while (!list.empty()) {
        size_t comma = list.find(',');
        std::string_view token = Trim(list.substr(0, comma));
        uint8_t byte = 0;
        if (!ParseHex(token, 2, byte))
            Fail(lineNumber, "\"" + std::string(token) + "\" is not a hex byte");
        bytes.push_back(byte);
        if (comma == std::string_view::npos)
            break;
        list = Trim(list.substr(comma + 1));
    }
    return bytes;
}

RegValue ParseValueData(std::string_view data, size_t lineNumber) {
    RegValue value;
    if (!data.empty() && data.front() == '"') {
        size_t pos = 0;
        std::string text = ReadQuoted(data, pos, lineNumber);
        if (!Trim(data.substr(pos)).empty())
            Fail(lineNumber, "unexpected text after a string value");
        value.type = RegType::String;
        value.data.assign(text.begin(), text.end());
        value.data.push_back(0);
        return value;
    }
    data = TrimRight(data);
    if (StartsWithNoCase(data, "dword:")) {
        uint32_t number = 0;
        if (!ParseHex(data.substr(6), 8, number))
            Fail(lineNumber, "a dword value needs one to eight hex digits");
        value.type = RegType::Dword;
        value.data = {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
                      static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 24)};
        return value;
    }
    if (StartsWithNoCase(data, "hex:")) {
        value.type = RegType::Binary;
        value.data = ParseHexList(data.substr(4), lineNumber);
        return value;
    }
    if (StartsWithNoCase(data, "hex(")) {
        size_t close = data.find("):");
        uint32_t type = 0;
        if (close == std::string_view::npos || !ParseHex(data.substr(4, close - 4), 8, type))
            Fail(lineNumber, "a hex(n): value needs its type in hex digits");
        value.type = static_cast<RegType>(type);
        value.data = ParseHexList(data.substr(close + 2), lineNumber);
        return value;
    }
    if (data == "-")
        Fail(lineNumber, "deleting a value is not supported here");
    Fail(lineNumber, "unknown value data \"" + std::string(data.substr(0, 40)) + "\"");
}

RegValue ParseValueLine(std::string_view line, size_t lineNumber) {
    std::string name;
    size_t pos = 0;
    if (line.front() == '@') {
        pos = 1; // the key's default value, whose name is empty
    } else {
        name = ReadQuoted(line, pos, lineNumber);
    }
    std::string_view rest = TrimLeft(line.substr(pos));
    if (rest.empty() || rest.front() != '=')
        Fail(lineNumber, "a value name must be followed by '='");
    RegValue value = ParseValueData(TrimLeft(rest.substr(1)), lineNumber);
    value.name = std::move(name);
    return value;
}

std::string ParseSectionPath(std::string_view line, size_t lineNumber) {
    if (line.back() != ']')
        Fail(lineNumber, "a key line must end with ']'");
    std::string_view inner = line.substr(1, line.size() - 2);
    if (!inner.empty() && inner.front() == '-')
        Fail(lineNumber, "deleting a key is not supported here");
    if (!StartsWithNoCase(inner, RootName) ||
        (inner.size() > RootName.size() && inner[RootName.size()] != '\\'))
        Fail(lineNumber, "only keys below HKEY_CURRENT_USER belong in this file");
    return NormalizeKeyPath(inner.substr(RootName.size()));
}

bool NeedsHexForm(const RegValue &value) {
    if (value.type == RegType::Dword)
        return value.data.size() != 4;
    if (value.type != RegType::String)
        return true;
    // The quoted form stands for the text plus exactly one terminating zero, on one line.
    if (value.data.empty() || value.data.back() != 0)
        return true;
    return std::any_of(value.data.begin(), value.data.end() - 1,
                       [](uint8_t b) { return b == 0 || b == '\n' || b == '\r'; });
}

void CheckWritableName(std::string_view name, std::string_view what) {
    if (name.find_first_of("\r\n") != std::string_view::npos)
        throw RegistryError("the " + std::string(what) + " \"" + std::string(name) +
                            "\" holds a line break and cannot be stored");
}

void AppendQuoted(std::string &out, std::string_view text) {
    out.push_back('"');
    for (char c : text) {
        if (c == '\\' || c == '"')
            out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
}

void AppendHexList(std::string &out, std::string line, const std::vector<uint8_t> &bytes) {
    static const char Digits[] = "0123456789abcdef";
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0 && line.size() >= WrapColumn) {
            out.append(line).append("\\\n");
            line = "  ";
        }
        line.push_back(Digits[bytes[i] >> 4]);
        line.push_back(Digits[bytes[i] & 0x0F]);
        if (i + 1 < bytes.size())
            line.push_back(',');
    }
    out.append(line).push_back('\n');
}

void AppendValue(std::string &out, const RegValue &value) {
    CheckWritableName(value.name, "value name");
    std::string line;
    if (value.name.empty())
        line = "@";
    else
        AppendQuoted(line, value.name);
    line.push_back('=');
    if (!NeedsHexForm(value)) {
        if (value.type == RegType::Dword) {
            char digits[16];
            std::snprintf(digits, sizeof digits, "dword:%08x", *DwordOf(value));
            line.append(digits);
        } else {
            AppendQuoted(line, std::string_view(reinterpret_cast<const char *>(value.data.data()),
                                                value.data.size() - 1));
        }
        out.append(line).push_back('\n');
        return;
    }
    if (value.type == RegType::Binary) {
        line.append("hex:");
    } else {
        char prefix[24];
        std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<uint32_t>(value.type));
        line.append(prefix);
    }
    AppendHexList(out, std::move(line), value.data);
}

} // namespace

std::string NormalizeKeyPath(std::string_view path) {
    while (!path.empty() && path.front() == '\\')
        path.remove_prefix(1);
    while (!path.empty() && path.back() == '\\')
        path.remove_suffix(1);
    return std::string(path);
}

const HiveKey *Hive::FindKey(std::string_view path) const {
    std::string wanted = NormalizeKeyPath(path);
    auto it = std::find_if(keys.begin(), keys.end(),
                           [&](const HiveKey &key) { return SameRegistryName(key.path, wanted); });
    return it == keys.end() ? nullptr : &*it;
}

HiveKey &Hive::Key(std::string_view path) {
    if (const HiveKey *found = FindKey(path))
        return const_cast<HiveKey &>(*found);
    keys.push_back(HiveKey{NormalizeKeyPath(path), {}});
    return keys.back();
}

const RegValue *FindValue(const HiveKey &key, std::string_view name) {
    auto it = std::find_if(key.values.begin(), key.values.end(),
                           [&](const RegValue &value) { return SameRegistryName(value.name, name); });
    return it == key.values.end() ? nullptr : &*it;
}

void PutValue(HiveKey &key, RegValue value) {
    if (const RegValue *found = FindValue(key, value.name)) {
        auto &existing = const_cast<RegValue &>(*found);
        existing.type = value.type;
        existing.data = std::move(value.data);
        return;
    }
    key.values.push_back(std::move(value));
}

bool RemoveValue(HiveKey &key, std::string_view name) {
    auto it = std::find_if(key.values.begin(), key.values.end(),
                           [&](const RegValue &value) { return SameRegistryName(value.name, name); });
    if (it == key.values.end())
        return false;
    key.values.erase(it);
    return true;
}

Hive ParseRegFile(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3); // a byte order mark left by an editor
    Hive hive;
    LineReader reader(text);
    std::string line;
    size_t lineNumber = 0;
    bool headerSeen = false;
    size_t currentKey = 0;
    bool inKey = false;
    while (reader.Next(line, lineNumber)) {
        std::string_view trimmed = Trim(line);
        if (trimmed.empty() || trimmed.front() == ';')
            continue;
        if (!headerSeen) {
            if (trimmed != Header)
                Fail(lineNumber, "the file does not start with \"" + std::string(Header) + "\"");
            headerSeen = true;
        } else if (trimmed.front() == '[') {
            std::string path = ParseSectionPath(trimmed, lineNumber);
            hive.Key(path);
            currentKey = static_cast<size_t>(hive.FindKey(path) - hive.keys.data());
            inKey = true;
        } else if (trimmed.front() == '"' || trimmed.front() == '@') {
            if (!inKey)
                Fail(lineNumber, "a value comes before any key");
            PutValue(hive.keys[currentKey], ParseValueLine(trimmed, lineNumber));
        } else {
            Fail(lineNumber, "unexpected text \"" + std::string(trimmed.substr(0, 40)) + "\"");
        }
    }
    // A file with nothing in it holds nothing to lose: it reads as an empty registry.
    if (!headerSeen && text.find_first_not_of(" \t\r\n") != std::string_view::npos)
        Fail(lineNumber, "the file does not start with \"" + std::string(Header) + "\"");
    return hive;
}

std::string FormatRegFile(const Hive &hive) {
    std::string out(Header);
    out.append("\n\n");
    for (const HiveKey &key : hive.keys) {
        CheckWritableName(key.path, "key");
        out.append("[").append(RootName);
        if (!key.path.empty())
            out.append("\\").append(key.path);
        out.append("]\n");
        for (const RegValue &value : key.values)
            AppendValue(out, value);
        out.push_back('\n');
    }
    return out;
}

} // namespace platform::regfile
