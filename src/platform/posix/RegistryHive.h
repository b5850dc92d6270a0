// The POSIX registry backend's inside: HKEY_CURRENT_USER held in memory as a list of keys, its
// text form (the .reg export format of "Windows Registry Editor Version 5.00"), and the file that
// holds it. RegKey (Registry.h) is the only public face; this header exists for the backend's
// own units, its tests and its fuzz target.
#pragma once

#include "platform/Registry.h"

#include <string>
#include <string_view>
#include <vector>

namespace platform::regfile {

// Longest registry file we agree to read; anything bigger is not one of ours.
constexpr size_t MaxFileSize = 16u << 20;

struct HiveKey {
    std::string path; // below HKCU, no leading or trailing backslash
    std::vector<RegValue> values; // creation order
};

struct Hive {
    std::vector<HiveKey> keys; // creation order

    const HiveKey *FindKey(std::string_view path) const;
    HiveKey &Key(std::string_view path); // finds or appends
};

const RegValue *FindValue(const HiveKey &key, std::string_view name);
// Replaces the value of that name in place (keeping its position and the case of its stored
// name), or appends it.
void PutValue(HiveKey &key, RegValue value);
bool RemoveValue(HiveKey &key, std::string_view name);

// Key paths are kept without leading or trailing backslashes, so "A\\B\\" and "A\\B" are one key.
std::string NormalizeKeyPath(std::string_view path);

// Parses the text of a registry file. Throws RegistryError("line N: ...") on anything that is
// not a header, a comment, a blank line, an HKEY_CURRENT_USER section or a value line.
Hive ParseRegFile(std::string_view text);
// The text of a registry file. Strings and 4-byte integers are written in their readable forms
// when that keeps every byte; everything else as hex(n): so that it reads back byte for byte.
// Throws RegistryError when a key path or value name cannot be written (a line break in it).
std::string FormatRegFile(const Hive &hive);

// What reading the file gave: the hive, and whether the file may be replaced by a save. A file
// that could be neither read nor set aside must not be overwritten, so writable is then false
// and blockReason says why.
struct LoadedHive {
    Hive hive;
    bool writable = true;
    std::string blockReason;
};
// Reads the file at path. A missing file gives an empty hive; a file that cannot be parsed is
// renamed to <path>.bad (with a line on standard error) and gives an empty hive. Never throws.
LoadedHive LoadHiveFile(const std::string &path);
// Replaces the file at path with the hive atomically (temporary file in the same folder, fsync,
// rename), mode 0600, creating the folders on the way. Throws RegistryError on any failure,
// leaving the old file untouched.
void SaveHiveFile(const std::string &path, const Hive &hive);

} // namespace platform::regfile
