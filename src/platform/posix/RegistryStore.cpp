// RegKey and RegBatch over the one in-memory hive of the process: the file as this program last
// read or wrote it. It is read on first use; every commit merges into the file and keeps what the
// file then holds.
#include "platform/posix/RegistryHive.h"

#include <iostream>
#include <mutex>

namespace platform {

namespace {

struct Store {
    std::mutex mutex;
    bool loaded = false;
    std::string path;
    regfile::Hive hive;
};

Store &TheStore() {
    static Store store;
    return store;
}

void Load(Store &store) {
    store.path = RegistryFilePath();
    regfile::HiveFile file = regfile::ReadHiveFile(store.path);
    if (file.state == regfile::HiveFile::State::Unreadable)
        std::cerr << "Tarnwick: the registry file " << store.path << " cannot be read ("
                  << file.problem << "); the defaults are used, and nothing will be saved over it "
                  << "while it cannot be read\n";
    regfile::WarnAboutSkippedLines(std::cerr, store.path, file.skipped);
    store.hive = std::move(file.hive);
    store.loaded = true;
}

// Runs fn on the hive with the store locked and loaded.
template <typename Fn> auto WithHive(Fn &&fn) {
    Store &store = TheStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    if (!store.loaded) Load(store);
    return fn(store);
}

} // namespace

void RegBatch::Commit() {
    if (writes_.empty()) return;
    WithHive([&](Store &store) {
        // Memory changes only once the file holds the result, so it never claims a value the
        // file does not have.
        store.hive = regfile::SaveWrites(store.path, store.hive, writes_);
        return true;
    });
}

RegKey::RegKey(const std::string &path) : path_(regfile::NormalizeKeyPath(path)) {
    // Creating a key alone writes nothing: reading settings must never touch the file.
    WithHive([&](Store &store) { return &store.hive.Key(path_); });
}

std::optional<RegValue> RegKey::Query(const std::string &name) const {
    return WithHive([&](Store &store) -> std::optional<RegValue> {
        const RegValue *value = regfile::FindValue(store.hive, path_, name);
        if (!value) return std::nullopt;
        return *value;
    });
}

std::vector<std::string> RegKey::ValueNames() const {
    return WithHive([&](Store &store) {
        std::vector<std::string> names;
        if (const regfile::HiveKey *key = store.hive.FindKey(path_))
            for (const RegValue &value : key->values) names.push_back(value.name);
        return names;
    });
}

void ReloadRegistry() {
    Store &store = TheStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    store.loaded = false;
    store.hive = {};
}

} // namespace platform
