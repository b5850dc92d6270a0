// The registry hive in memory and its .reg text form.
#include "platform/posix/RegistryHive.h"

#include "platform/PrintableText.h"

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
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    return s;
}

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::string_view Trim(std::string_view s) { return TrimRight(TrimLeft(s)); }

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && SameRegistryName(s.substr(0, prefix.size()), prefix);
}

// Why one line cannot be read; the parser skips that line and goes on.
struct LineError {
    std::string reason;
};

[[noreturn]] void Fail(const std::string &reason) { throw LineError{reason}; }

// A piece of the file quoted in a message: short, on one line of the terminal, and unable to drive
// it (DEL and the C1 controls are escaped as well as the C0 ones).
std::string Excerpt(std::string_view text) { return EscapeControls(text.substr(0, 40)); }

// Hands out logical lines: physical lines without their line ends, joined where a line ends in a
// backslash (regedit continues long hex lists that way, indenting the next line). A logical line
// longer than MaxLineLength is consumed whole, kept only up to that bound, and says so.
class LineReader {
public:
    explicit LineReader(std::string_view text) : text_(text) {}

    bool Next(std::string &line, size_t &lineNumber, bool &tooLong) {
        if (pos_ >= text_.size()) return false;
        line.clear();
        tooLong = false;
        lineNumber = number_ + 1;
        bool first = true;
        while (pos_ < text_.size()) {
            std::string_view physical = NextPhysical();
            std::string_view part = first ? physical : TrimLeft(physical);
            std::string_view trimmed = TrimRight(part);
            bool comment = first && !TrimLeft(trimmed).empty() && TrimLeft(trimmed).front() == ';';
            first = false;
            bool continued = !comment && !trimmed.empty() && trimmed.back() == '\\';
            if (continued) part = trimmed.substr(0, trimmed.size() - 1);
            size_t room = MaxLineLength - line.size(); // line never grows past the bound
            if (part.size() > room) tooLong = true;
            line.append(part.substr(0, room));
            if (!continued) break;
        }
        return true;
    }

private:
    std::string_view NextPhysical() {
        size_t end = text_.find('\n', pos_);
        if (end == std::string_view::npos) end = text_.size();
        std::string_view physical = text_.substr(pos_, end - pos_);
        pos_ = end + 1;
        ++number_;
        if (!physical.empty() && physical.back() == '\r') physical.remove_suffix(1);
        return physical;
    }

    std::string_view text_;
    size_t pos_ = 0;
    size_t number_ = 0;
};

// Reads a quoted text starting at s[pos] == '"'; pos ends after the closing quote. Only \\ and \"
// are escapes; a backslash before anything else is kept as it is, as regedit does.
std::string ReadQuoted(std::string_view s, size_t &pos) {
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
    Fail("a quoted text has no closing quote");
}

template <typename Number> bool ParseHex(std::string_view digits, size_t maxDigits, Number &value) {
    if (digits.empty() || digits.size() > maxDigits) return false;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
    return ec == std::errc() && end == digits.data() + digits.size();
}

std::vector<uint8_t> ParseHexList(std::string_view list) {
    std::vector<uint8_t> bytes;
    list = Trim(list);
    while (!list.empty()) {
        size_t comma = list.find(',');
        std::string_view token = Trim(list.substr(0, comma));
        uint8_t byte = 0;
        if (!ParseHex(token, 2, byte)) Fail("\"" + Excerpt(token) + "\" is not a hex byte");
        bytes.push_back(byte);
        if (comma == std::string_view::npos) break;
        list = Trim(list.substr(comma + 1));
    }
    return bytes;
}

RegValue ParseValueData(std::string_view data) {
    RegValue value;
    if (!data.empty() && data.front() == '"') {
        size_t pos = 0;
        std::string text = ReadQuoted(data, pos);
        if (!Trim(data.substr(pos)).empty()) Fail("unexpected text after a string value");
        value.type = RegType::String;
        value.data.assign(text.begin(), text.end());
        value.data.push_back(0);
        return value;
    }
    data = TrimRight(data);
    if (StartsWithNoCase(data, "dword:")) {
        uint32_t number = 0;
        if (!ParseHex(data.substr(6), 8, number))
            Fail("a dword value needs one to eight hex digits");
        value.type = RegType::Dword;
        value.data = {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
                      static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 24)};
        return value;
    }
    if (StartsWithNoCase(data, "hex:")) {
        value.type = RegType::Binary;
        value.data = ParseHexList(data.substr(4));
        return value;
    }
    if (StartsWithNoCase(data, "hex(")) {
        size_t close = data.find("):");
        uint32_t type = 0;
        if (close == std::string_view::npos || !ParseHex(data.substr(4, close - 4), 8, type))
            Fail("a hex(n): value needs its type in hex digits");
        value.type = static_cast<RegType>(type);
        value.data = ParseHexList(data.substr(close + 2));
        return value;
    }
    if (data == "-") Fail("deleting a value is not supported here");
    // Not quoted back: the damaged data may be a password the user typed.
    Fail("the value's data is of no known form");
}

RegValue ParseValueLine(std::string_view line) {
    std::string name;
    size_t pos = 0;
    if (line.front() == '@') {
        pos = 1; // the key's default value, whose name is empty
    } else {
        name = ReadQuoted(line, pos);
    }
    // A name with a line break could never be written back: every later save would fail.
    if (name.find_first_of("\r\n") != std::string::npos) Fail("a value name holds a line break");
    std::string_view rest = TrimLeft(line.substr(pos));
    if (rest.empty() || rest.front() != '=') Fail("a value name must be followed by '='");
    RegValue value = ParseValueData(TrimLeft(rest.substr(1)));
    value.name = std::move(name);
    return value;
}

std::string ParseSectionPath(std::string_view line) {
    if (line.back() != ']') Fail("a key line must end with ']'");
    std::string_view inner = line.substr(1, line.size() - 2);
    if (!inner.empty() && inner.front() == '-') Fail("deleting a key is not supported here");
    if (!StartsWithNoCase(inner, RootName) ||
        (inner.size() > RootName.size() && inner[RootName.size()] != '\\'))
        Fail("only keys below HKEY_CURRENT_USER belong in this file");
    if (inner.find_first_of("\r\n") != std::string_view::npos) Fail("a key holds a line break");
    return NormalizeKeyPath(inner.substr(RootName.size()));
}

bool NeedsHexForm(const RegValue &value) {
    if (value.type == RegType::Dword) return value.data.size() != 4;
    if (value.type != RegType::String) return true;
    // The quoted form stands for the text plus exactly one terminating zero, on one line.
    if (value.data.empty() || value.data.back() != 0) return true;
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
        if (c == '\\' || c == '"') out.push_back('\\');
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
        if (i + 1 < bytes.size()) line.push_back(',');
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
    while (!path.empty() && path.front() == '\\') path.remove_prefix(1);
    while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    return std::string(path);
}

namespace {

// Registry names match without regard to ASCII letter case: the index holds them folded.
std::string Folded(std::string_view name) {
    std::string folded(name);
    for (char &c : folded)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

} // namespace

const HiveKey *Hive::FindKey(std::string_view path) const {
    const auto it = keyIndex.find(Folded(NormalizeKeyPath(path)));
    return it == keyIndex.end() ? nullptr : &keys[it->second];
}

HiveKey &Hive::Key(std::string_view path) {
    std::string normalized = NormalizeKeyPath(path);
    const auto [it, added] = keyIndex.try_emplace(Folded(normalized), keys.size());
    if (added) keys.push_back(HiveKey{std::move(normalized), {}, {}});
    return keys[it->second];
}

const RegValue *FindValue(const HiveKey &key, std::string_view name) {
    const auto it = key.valueIndex.find(Folded(name));
    return it == key.valueIndex.end() ? nullptr : &key.values[it->second];
}

void PutValue(HiveKey &key, RegValue value) {
    const auto [it, added] = key.valueIndex.try_emplace(Folded(value.name), key.values.size());
    if (added) {
        key.values.push_back(std::move(value));
        return;
    }
    RegValue &existing = key.values[it->second];
    existing.type = value.type;
    existing.data = std::move(value.data);
}

bool RemoveValue(HiveKey &key, std::string_view name) {
    const auto it = key.valueIndex.find(Folded(name));
    if (it == key.valueIndex.end()) return false;
    const size_t removed = it->second;
    key.values.erase(key.values.begin() + static_cast<std::ptrdiff_t>(removed));
    key.valueIndex.erase(it);
    for (auto &entry : key.valueIndex)
        if (entry.second > removed) --entry.second;
    return true;
}

const RegValue *FindValue(const Hive &hive, std::string_view keyPath, std::string_view name) {
    const HiveKey *key = hive.FindKey(keyPath);
    return key ? FindValue(*key, name) : nullptr;
}

namespace {

// Reads logical lines into a hive, skipping those it cannot read.
class Parser {
public:
    ParsedRegFile Run(std::string_view text) {
        if (text.substr(0, 3) == "\xEF\xBB\xBF")
            text.remove_prefix(3); // a byte order mark left by an editor
        LineReader reader(text);
        std::string line;
        bool tooLong = false;
        while (reader.Next(line, lineNumber_, tooLong)) {
            std::string_view trimmed = Trim(line);
            if (trimmed.empty() || trimmed.front() == ';') continue;
            try {
                Take(trimmed, tooLong);
            } catch (const LineError &error) {
                Skip(error.reason);
                if (trimmed.front() == '[')
                    skippedSection_ = lineNumber_; // its values have no key to go to
            }
            firstLine_ = false;
        }
        return std::move(result_);
    }

private:
    void Take(std::string_view trimmed, bool tooLong) {
        if (tooLong) Fail("longer than " + std::to_string(MaxLineLength) + " bytes");
        if (trimmed.find('\0') != std::string_view::npos)
            Fail("it holds a zero character, which no text line of the file has");
        if (trimmed == Header) return;
        if (trimmed.front() == '[') {
            std::string path = ParseSectionPath(trimmed);
            currentKey_ = &result_.hive.Key(path) - result_.hive.keys.data();
            inKey_ = true;
            skippedSection_ = 0;
        } else if (trimmed.front() == '"' || trimmed.front() == '@') {
            if (skippedSection_ != 0)
                Fail("its key, on line " + std::to_string(skippedSection_) + ", was skipped");
            if (!inKey_) Fail("a value comes before any key");
            PutValue(result_.hive.keys[static_cast<size_t>(currentKey_)], ParseValueLine(trimmed));
        } else if (firstLine_) {
            Fail("\"" + Excerpt(trimmed) + "\" is not the header \"" + std::string(Header) + "\"");
        } else {
            Fail("unexpected text \"" + Excerpt(trimmed) + "\"");
        }
    }

    void Skip(std::string reason) { result_.skipped.push_back({lineNumber_, std::move(reason)}); }

    ParsedRegFile result_;
    size_t lineNumber_ = 0;
    bool firstLine_ = true;
    bool inKey_ = false;
    std::ptrdiff_t currentKey_ = 0; // an index: the key list grows
    size_t skippedSection_ = 0;     // line of the section line that was skipped, or 0
};

} // namespace

ParsedRegFile ParseRegFile(std::string_view text) { return Parser().Run(text); }

std::string FormatRegFile(const Hive &hive) {
    std::string out(Header);
    out.append("\n\n");
    for (const HiveKey &key : hive.keys) {
        CheckWritableName(key.path, "key");
        out.append("[").append(RootName);
        if (!key.path.empty()) out.append("\\").append(key.path);
        out.append("]\n");
        for (const RegValue &value : key.values) AppendValue(out, value);
        out.push_back('\n');
    }
    return out;
}

} // namespace platform::regfile
