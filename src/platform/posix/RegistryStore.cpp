// RegKey over the one in-memory hive of the process, read from its file on first use and written
// back after every change.
#include "platform/posix/RegistryHive.h"

#include <mutex>

namespace platform {

namespace {

struct Store {
    std::mutex mutex;
    bool loaded = false;
    std::string path;
    regfile::LoadedHive file;
};

Store &TheStore() {
    static Store store;
    return store;
}

// Runs fn on the hive with the store locked and loaded.
template <typename Fn> auto WithHive(Fn &&fn) {
    Store &store = TheStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    if (!store.loaded) {
        store.path = RegistryFilePath();
        store.file = regfile::LoadHiveFile(store.path);
        store.loaded = true;
    }
    return fn(store);
}

// Applies a change to a copy of the hive and keeps it only once the file holds it, so memory never
// claims a value the file does not have.
template <typename Change> auto ChangeHive(const std::string &keyPath, Change &&change) {
    return WithHive([&](Store &store) {
        regfile::Hive changed = store.file.hive;
        auto result = change(changed.Key(keyPath));
        if (result) {
            if (!store.file.writable)
                throw RegistryError("Cannot write the registry: " + store.file.blockReason);
            regfile::SaveHiveFile(store.path, changed);
            store.file.hive = std::move(changed);
        }
        return result;
    });
}

} // namespace

RegKey::RegKey(const std::string &path) : path_(regfile::NormalizeKeyPath(path)) {
    // Creating a key alone writes nothing: reading settings must never touch the file.
    WithHive([&](Store &store) { return &store.file.hive.Key(path_); });
}

std::optional<RegValue> RegKey::Query(const std::string &name) const {
    return WithHive([&](Store &store) -> std::optional<RegValue> {
        const regfile::HiveKey *key = store.file.hive.FindKey(path_);
        const RegValue *value = key ? regfile::FindValue(*key, name) : nullptr;
        if (!value)
            return std::nullopt;
        return *value;
    });
}

std::vector<std::string> RegKey::ValueNames() const {
    return WithHive([&](Store &store) {
        std::vector<std::string> names;
        if (const regfile::HiveKey *key = store.file.hive.FindKey(path_))
            for (const RegValue &value : key->values)
                names.push_back(value.name);
        return names;
    });
}

void RegKey::SetDword(const std::string &name, uint32_t value) {
    SetRaw(name, RegType::Dword,
           {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)});
}

void RegKey::SetString(const std::string &name, const std::string &text) {
    std::vector<uint8_t> data(text.begin(), text.end());
    data.push_back(0);
    SetRaw(name, RegType::String, data);
}

void RegKey::SetRaw(const std::string &name, RegType type, const std::vector<uint8_t> &data) {
    ChangeHive(path_, [&](regfile::HiveKey &key) {
        regfile::PutValue(key, RegValue{name, type, data});
        return true;
    });
}

bool RegKey::DeleteValue(const std::string &name) {
    return ChangeHive(path_, [&](regfile::HiveKey &key) { return regfile::RemoveValue(key, name); });
}

void ReloadRegistry() {
    Store &store = TheStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    store.loaded = false;
    store.file = {};
}

} // namespace platform
