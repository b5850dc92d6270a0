// One save of the registry file: what this program writes, merged into what the file holds now.
#include "platform/posix/RegistryHive.h"

#include <iostream>

namespace platform::regfile {

namespace {

bool SameContents(const RegValue *a, const RegValue *b) {
    if (!a || !b) return a == b;
    return a->type == b->type && a->data == b->data;
}

// Whether another program stored something else in this value since this one read the file.
bool ChangedElsewhere(const Hive &current, const Hive &base, const RegBatch::Write &write) {
    const RegValue *now = FindValue(current, write.keyPath, write.value.name);
    // A value missing now is written back whatever happened to it: settings are never lost.
    return now && !SameContents(now, FindValue(base, write.keyPath, write.value.name));
}

std::string WhatIsDropped(const HiveFile &file) {
    std::string what;
    if (!file.skipped.empty())
        what = "leaves out " + std::to_string(file.skipped.size()) + " line" +
               (file.skipped.size() == 1 ? "" : "s") + " that could not be read";
    if (file.converted)
        what += std::string(what.empty() ? "" : " and ") + "writes UTF-8 instead of UTF-16";
    return what;
}

} // namespace

Hive MergeWrites(Hive current, const Hive &base, std::span<const RegBatch::Write> writes) {
    for (const RegBatch::Write &write : writes) {
        if (write.erase) {
            if (current.FindKey(write.keyPath))
                RemoveValue(current.Key(write.keyPath), write.value.name);
            continue;
        }
        if (write.merge == RegMerge::Unchanged && ChangedElsewhere(current, base, write)) continue;
        PutValue(current.Key(write.keyPath), write.value);
    }
    return current;
}

Hive SaveWrites(const std::string &path, const Hive &base,
                std::span<const RegBatch::Write> writes) {
    CreateFoldersFor(path);
    HiveLock lock(path);
    HiveFile file = ReadHiveFile(path);
    if (file.state == HiveFile::State::Unreadable)
        throw RegistryError("Cannot write the registry file " + path +
                            " (it cannot be read: " + file.problem + "; it is left as it is)");
    if (file.SaveDropsSomething()) {
        std::string copy = CopyAside(path, file.bytes);
        if (!copy.empty())
            std::cerr << "Tarnwick: " << path << " was copied to " << copy
                      << " as it was: this save " << WhatIsDropped(file) << "\n";
    }
    Hive merged = MergeWrites(std::move(file.hive), base, writes);
    WriteHiveFile(path, merged);
    return merged;
}

} // namespace platform::regfile
