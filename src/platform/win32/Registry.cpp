// The registry on Windows: the user's real HKEY_CURRENT_USER through the Reg* calls. Windows
// itself keeps each value whole and enumerates values in the order they were created, so what
// the POSIX backend does with its file (lock, merge, atomic replace) is the system's job here.
// A value written as unchanged is written only where the registry still holds what this
// program last read or wrote there, or nothing: another program's newer value stays.
#include "platform/Registry.h"

#include "platform/SystemError.h"

#include <windows.h>

#include <map>
#include <mutex>

namespace platform {

namespace {

std::string Folded(std::string_view text) {
    std::string folded(text);
    for (char &c : folded)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

std::string NormalizedPath(const std::string &path) {
    size_t begin = path.find_first_not_of('\\');
    size_t end = path.find_last_not_of('\\');
    if (begin == std::string::npos) return {};
    return path.substr(begin, end - begin + 1);
}

[[noreturn]] void Raise(const std::string &what, const std::string &path, LSTATUS status) {
    throw RegistryError("HKEY_CURRENT_USER\\" + path + ": " + what + ": " +
                        SystemErrorText(static_cast<int>(status)));
}

// An open key, closed by its destructor.
class Key {
public:
    explicit Key(const std::string &path) {
        const LSTATUS status =
            ::RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key_, nullptr);
        if (status != ERROR_SUCCESS) Raise("cannot open the key", path, status);
    }
    ~Key() { ::RegCloseKey(key_); }
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

std::optional<RegValue> ReadValue(HKEY key, const std::string &name) {
    DWORD type = 0;
    DWORD size = 0;
    LSTATUS status = ::RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size);
    // A value can grow between the two calls; ask again with the new size.
    for (int attempt = 0; attempt < 4 && status == ERROR_SUCCESS; ++attempt) {
        RegValue value{name, static_cast<RegType>(type), std::vector<uint8_t>(size)};
        DWORD got = size;
        status = ::RegQueryValueExA(key, name.c_str(), nullptr, &type, value.data.data(), &got);
        if (status == ERROR_MORE_DATA) {
            size = got;
            status = ERROR_SUCCESS;
            continue;
        }
        if (status != ERROR_SUCCESS) break;
        value.type = static_cast<RegType>(type);
        value.data.resize(got);
        return value;
    }
    return std::nullopt;
}

// What this program last read from or wrote to each value, by folded key path and name.
struct Seen {
    std::mutex mutex;
    std::map<std::string, std::optional<RegValue>> values;
};

Seen &TheSeen() {
    static Seen seen;
    return seen;
}

std::string SeenName(const std::string &keyPath, const std::string &name) {
    return Folded(NormalizedPath(keyPath)) + '\\' + Folded(name);
}

void Remember(const std::string &keyPath, const std::string &name,
              const std::optional<RegValue> &value) {
    Seen &seen = TheSeen();
    std::lock_guard lock(seen.mutex);
    seen.values[SeenName(keyPath, name)] = value;
}

bool SameContent(const RegValue &a, const RegValue &b) {
    return a.type == b.type && a.data == b.data;
}

// An unchanged value is written where the registry holds nothing, or what this program saw.
bool StillOurs(const std::string &keyPath, const std::string &name,
               const std::optional<RegValue> &current) {
    if (!current) return true;
    Seen &seen = TheSeen();
    std::lock_guard lock(seen.mutex);
    const auto found = seen.values.find(SeenName(keyPath, name));
    return found != seen.values.end() && found->second && SameContent(*found->second, *current);
}

void WriteValue(const Key &key, const std::string &path, const RegValue &value) {
    const LSTATUS status =
        ::RegSetValueExA(key.Get(), value.name.c_str(), 0, static_cast<DWORD>(value.type),
                         value.data.data(), static_cast<DWORD>(value.data.size()));
    if (status != ERROR_SUCCESS) Raise("cannot store " + value.name, path, status);
}

} // namespace

void RegBatch::Commit() {
    for (const Write &write : writes_) {
        const std::string path = NormalizedPath(write.keyPath);
        const Key key(path);
        if (write.erase) {
            const LSTATUS status = ::RegDeleteValueA(key.Get(), write.value.name.c_str());
            if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
                Raise("cannot remove " + write.value.name, path, status);
            Remember(path, write.value.name, std::nullopt);
            continue;
        }
        if (write.merge == RegMerge::Unchanged &&
            !StillOurs(path, write.value.name, ReadValue(key.Get(), write.value.name)))
            continue;
        WriteValue(key, path, write.value);
        Remember(path, write.value.name, write.value);
    }
}

RegKey::RegKey(const std::string &path) : path_(NormalizedPath(path)) { const Key key(path_); }

std::optional<RegValue> RegKey::Query(const std::string &name) const {
    const Key key(path_);
    std::optional<RegValue> value = ReadValue(key.Get(), name);
    Remember(path_, name, value);
    return value;
}

std::vector<std::string> RegKey::ValueNames() const {
    const Key key(path_);
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        char name[16384]; // the longest value name the registry allows, and its zero
        DWORD length = sizeof name;
        const LSTATUS status =
            ::RegEnumValueA(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS) Raise("cannot list the values", path_, status);
        names.emplace_back(name, length);
    }
    return names;
}

std::string RegistryFilePath() { return "HKEY_CURRENT_USER"; }

void ReloadRegistry() {
    // Every call reads the registry itself; only what this program saw is forgotten.
    Seen &seen = TheSeen();
    std::lock_guard lock(seen.mutex);
    seen.values.clear();
}

} // namespace platform
