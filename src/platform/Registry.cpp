// Backend-independent parts of the registry: reading values the way the Win32 calls hand them
// over, and single changes made as batches of one.
#include "platform/Registry.h"

#include <algorithm>

namespace platform {

namespace {

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

} // namespace

RegValue DwordValue(const std::string &name, uint32_t number) {
    return RegValue{name,
                    RegType::Dword,
                    {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
                     static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 24)}};
}

RegValue StringValue(const std::string &name, const std::string &text) {
    RegValue value{name, RegType::String, std::vector<uint8_t>(text.begin(), text.end())};
    value.data.push_back(0);
    return value;
}

void RegBatch::Set(const std::string &keyPath, RegValue value, RegMerge merge) {
    writes_.push_back(Write{keyPath, std::move(value), merge, false});
}

void RegBatch::Erase(const std::string &keyPath, const std::string &name) {
    writes_.push_back(Write{keyPath, RegValue{name, RegType::None, {}}, RegMerge::Changed, true});
}

bool SameRegistryName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return AsciiLower(x) == AsciiLower(y);
           });
}

std::optional<uint32_t> DwordOf(const RegValue &value) {
    if (value.type != RegType::Dword || value.data.size() != 4) return std::nullopt;
    return static_cast<uint32_t>(value.data[0]) | static_cast<uint32_t>(value.data[1]) << 8 |
           static_cast<uint32_t>(value.data[2]) << 16 | static_cast<uint32_t>(value.data[3]) << 24;
}

std::optional<std::string> StringOf(const RegValue &value) {
    if (value.type != RegType::String && value.type != RegType::ExpandString) return std::nullopt;
    // Stored strings normally end in one zero, but a value written by another tool may lack it
    // or carry several; the text ends at the first zero either way.
    auto end = std::find(value.data.begin(), value.data.end(), uint8_t{0});
    return std::string(value.data.begin(), end);
}

// A single change is a batch of one, on every platform.

void RegKey::SetDword(const std::string &name, uint32_t value) {
    RegBatch batch;
    batch.Set(path_, DwordValue(name, value));
    batch.Commit();
}

void RegKey::SetString(const std::string &name, const std::string &text) {
    RegBatch batch;
    batch.Set(path_, StringValue(name, text));
    batch.Commit();
}

void RegKey::SetRaw(const std::string &name, RegType type, const std::vector<uint8_t> &data) {
    RegBatch batch;
    batch.Set(path_, RegValue{name, type, data});
    batch.Commit();
}

bool RegKey::DeleteValue(const std::string &name) {
    if (!Query(name)) return false;
    RegBatch batch;
    batch.Erase(path_, name);
    batch.Commit();
    return true;
}

} // namespace platform
