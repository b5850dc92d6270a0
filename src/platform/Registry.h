// The user's registry (HKEY_CURRENT_USER) with the semantics of the Win32 calls the settings
// store needs. Keys are paths below HKCU such as "Software\\Vexlon\\ZEP\\3.02\\Communications".
//
// The POSIX backend keeps HKCU in one text file in the .reg export format, named by the
// environment variable TARNWICK_REGISTRY or ${XDG_CONFIG_HOME:-$HOME/.config}/tarnwick/
// registry.reg. The file is read on first use; every change to a value is written back at once,
// atomically (temporary file, fsync, rename), with mode 0600. A file that cannot be parsed is
// renamed to <name>.bad, a line says so on standard error, and the registry starts empty.
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

enum class RegType : uint32_t { None = 0, String = 1, ExpandString = 2, Binary = 3, Dword = 4, MultiString = 7 };

struct RegValue {
    std::string name;
    RegType type = RegType::None;
    std::vector<uint8_t> data; // exactly the bytes Win32 would store (strings: text and a zero)
};

class RegistryError : public std::exception {
public:
    explicit RegistryError(std::string message) : message_(std::move(message)) {}
    const char *what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// An open key (created when missing). Value names match without regard to case; values are
// enumerated in the order they were created.
class RegKey {
public:
    explicit RegKey(const std::string &path); // opens or creates the key below HKCU
    const std::string &Path() const { return path_; }

    std::optional<RegValue> Query(const std::string &name) const;
    std::vector<std::string> ValueNames() const; // creation order
    // Throws RegistryError when the value cannot be stored (the file cannot be written).
    void SetDword(const std::string &name, uint32_t value);
    void SetString(const std::string &name, const std::string &text);
    void SetRaw(const std::string &name, RegType type, const std::vector<uint8_t> &data);
    bool DeleteValue(const std::string &name);

private:
    std::string path_;
};

// Registry names (keys and values) compare without regard to ASCII letter case.
bool SameRegistryName(std::string_view a, std::string_view b);
// The number held by a 32-bit registry integer; nothing for any other type or size.
std::optional<uint32_t> DwordOf(const RegValue &value);
// The text of a string value (String or ExpandString, unexpanded) up to its first zero; nothing
// for any other type.
std::optional<std::string> StringOf(const RegValue &value);

// The file the backend uses (for tests and messages).
std::string RegistryFilePath();
// Forgets what was read, so that the next use reads the file again (tests and tools).
void ReloadRegistry();

} // namespace platform
