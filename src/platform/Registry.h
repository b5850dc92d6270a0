// The user's registry (HKEY_CURRENT_USER) with the semantics of the Win32 calls the settings
// store needs. Keys are paths below HKCU such as "Software\\Vexlon\\ZEP\\3.02\\Communications".
//
// The Windows backend uses the real HKEY_CURRENT_USER (RegistryFilePath() is "HKEY_CURRENT_USER";
// TARNWICK_REGISTRY has no meaning there). The POSIX backend keeps HKCU in one text file in the
// .reg export format, named by the environment variable TARNWICK_REGISTRY or
// ${XDG_CONFIG_HOME:-$HOME/.config}/tarnwick/ registry.reg. The file is read on first use, and
// reading never changes it. Each RegKey Set call and each RegBatch commit replaces the file once,
// atomically (temporary file created with mode 0600, fsync, rename, fsync of the folder), after
// reading it again under a lock and merging: a value another program stored since this one read the
// file stays unless this program changed that value too. A line of the file that cannot be read is
// skipped with a warning; before a save would drop such lines, the file as it was is copied to
// <name>.bad.
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

enum class RegType : uint32_t {
    None = 0,
    String = 1,
    ExpandString = 2,
    Binary = 3,
    Dword = 4,
    MultiString = 7
};

struct RegValue {
    std::string name;
    RegType type = RegType::None;
    std::vector<uint8_t> data; // exactly the bytes Win32 would store (strings: text and a zero)
};

// A 32-bit registry integer and a registry string (the text and one zero) of that name.
RegValue DwordValue(const std::string &name, uint32_t number);
RegValue StringValue(const std::string &name, const std::string &text);

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
    // Creation order; on Windows the system's own order, which is creation order there and
    // name order under Wine.
    std::vector<std::string> ValueNames() const;
    // Each call is one RegBatch commit of that value as changed. Throws RegistryError when the
    // value cannot be stored (the file cannot be written).
    void SetDword(const std::string &name, uint32_t value);
    void SetString(const std::string &name, const std::string &text);
    void SetRaw(const std::string &name, RegType type, const std::vector<uint8_t> &data);
    bool DeleteValue(const std::string &name);

private:
    std::string path_;
};

// How a value written by a batch meets a file that another program may have changed since this
// one read it.
enum class RegMerge {
    Changed,   // this program changed the value: it is written whatever the file holds now
    Unchanged, // written only where the file still holds what this program read, or nothing
};

// Values written to the registry together, with one replacement of its file.
class RegBatch {
public:
    void Set(const std::string &keyPath, RegValue value, RegMerge merge = RegMerge::Changed);
    void Erase(const std::string &keyPath, const std::string &name);
    bool Empty() const { return writes_.empty(); }
    // Reads the file again under its lock, merges the values into what it holds now, and replaces
    // it once. Throws RegistryError naming the file and the reason; nothing is written then.
    void Commit();

    struct Write {
        std::string keyPath;
        RegValue value;
        RegMerge merge = RegMerge::Changed;
        bool erase = false; // removes the value instead
    };

private:
    std::vector<Write> writes_;
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
