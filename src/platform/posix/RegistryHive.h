// The POSIX registry backend's inside: HKEY_CURRENT_USER held in memory as a list of keys, its
// text form (the .reg export format of "Windows Registry Editor Version 5.00"), the file that
// holds it, and the save that merges into that file. RegKey and RegBatch (Registry.h) are the
// only public face; this header exists for the backend's own units and its tests.
#pragma once

#include "platform/Registry.h"

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform::regfile {

// Longest registry file we agree to read; anything bigger is not one of ours.
constexpr size_t MaxFileSize = 16u << 20;
// Longest logical line (a value line with its continuation lines) we agree to read.
constexpr size_t MaxLineLength = 1u << 20;

// Keys and values are found through an index of their names folded to lower case, so that a
// large or hostile file is read in linear time. Only Key, PutValue and RemoveValue change them.
struct HiveKey {
    std::string path;             // below HKCU, no leading or trailing backslash
    std::vector<RegValue> values; // creation order
    std::unordered_map<std::string, size_t> valueIndex; // folded name -> position in values
};

struct Hive {
    std::vector<HiveKey> keys;                        // creation order
    std::unordered_map<std::string, size_t> keyIndex; // folded path -> position in keys

    const HiveKey *FindKey(std::string_view path) const;
    HiveKey &Key(std::string_view path); // finds or appends
};

const RegValue *FindValue(const HiveKey &key, std::string_view name);
// Replaces the value of that name in place (keeping its position and the case of its stored
// name), or appends it.
void PutValue(HiveKey &key, RegValue value);
bool RemoveValue(HiveKey &key, std::string_view name);
// The value at keyPath\name, or nullptr.
const RegValue *FindValue(const Hive &hive, std::string_view keyPath, std::string_view name);

// Key paths are kept without leading or trailing backslashes, so "A\\B\\" and "A\\B" are one key.
std::string NormalizeKeyPath(std::string_view path);

// A line of the file that reading left out, and why. line counts from 1; a value continued over
// several lines is reported at its first.
struct SkippedLine {
    size_t line = 0;
    std::string reason;
};

struct ParsedRegFile {
    Hive hive;
    std::vector<SkippedLine> skipped;
};

// Parses the text of a registry file and never throws. Every line that is not a header, a
// comment, a blank line, an HKEY_CURRENT_USER section or a value line is skipped, and so are the
// values below a section line that was skipped (they belong to no key we could name); all else
// is kept.
ParsedRegFile ParseRegFile(std::string_view text);
// The text of a registry file. Strings and 4-byte integers are written in their readable forms
// when that keeps every byte; everything else as hex(n): so that it reads back byte for byte.
// Throws RegistryError when a key path or value name cannot be written (a line break in it).
std::string FormatRegFile(const Hive &hive);

// The file's bytes as the text the parser reads. A file starting with the UTF-16LE byte order
// mark (as the Windows registry editor exports) is converted to UTF-8; any other is kept as it
// is. A code unit that has no UTF-8 form (half a surrogate pair, a lone last byte) becomes a zero
// byte, which makes its line unreadable instead of silently different.
struct RegFileText {
    std::string text;
    bool converted = false;
};
RegFileText DecodeRegFileBytes(std::string_view bytes);

// What reading the file gave. Reading never changes anything on disk and prints nothing.
struct HiveFile {
    enum class State { Missing, Read, Unreadable };
    State state = State::Missing;
    Hive hive;
    std::vector<SkippedLine> skipped;
    bool converted = false; // it was UTF-16: a save writes it in another form
    std::string bytes;      // the file as read, for the copy set aside
    std::string problem;    // Unreadable: why

    // Rewriting this file would lose something of it: a skipped line, or its form.
    bool SaveDropsSomething() const { return !skipped.empty() || converted; }
};
HiveFile ReadHiveFile(const std::string &path);

// Tells the user, one line each, which lines of the file at path reading skipped. A file of
// garbage would fill the terminal, so after MaxSkippedWarnings lines one more gives the count.
constexpr size_t MaxSkippedWarnings = 20;
void WarnAboutSkippedLines(std::ostream &out, const std::string &path,
                           const std::vector<SkippedLine> &skipped);

// The exclusive lock that keeps saves of several programs from interleaving: flock on
// <path>.lock (mode 0600), held for the object's life. Gives up after a bounded wait rather than
// hang behind a program that never lets go. Throws RegistryError.
class HiveLock {
public:
    explicit HiveLock(const std::string &path);
    ~HiveLock();
    HiveLock(const HiveLock &) = delete;
    HiveLock &operator=(const HiveLock &) = delete;

private:
    int fd_ = -1;
};

// Keeps the file's original bytes before a save drops part of them: writes them to <path>.bad,
// or <path>.bad.2, .3, ... when that name holds something else; a copy already holding the same
// bytes is kept and reused, so one original is copied once. Returns the copy's path, or an empty
// text when it already existed. Throws RegistryError.
std::string CopyAside(const std::string &path, std::string_view bytes);

// Replaces the file with the hive: <path>.tmp created with mode 0600, written, fsynced, put in
// place of the file by the replace step, then the folder fsynced. The temporary's name is fixed,
// so the caller holds the HiveLock. Throws RegistryError, leaving the old file as it was.
void WriteHiveFile(const std::string &path, const Hive &hive);

// Creates the folders on the way to path. Throws RegistryError.
void CreateFoldersFor(const std::string &path);

// The step that puts a finished temporary file in place of the registry file; it answers like
// rename(2). Tests replace it to count replacements or to make one fail. Returns the step it
// replaces.
using ReplaceFileStep = std::function<int(const std::string &from, const std::string &to)>;
ReplaceFileStep SetReplaceFileStep(ReplaceFileStep step);

// Applies writes to current (what the file holds now). base is what this program last read from
// or wrote to the file: a Changed value is written, an Unchanged one only where current holds
// the same as base or nothing, so a value another program stored in the meantime stays.
Hive MergeWrites(Hive current, const Hive &base, std::span<const RegBatch::Write> writes);

// One save: creates the folders, takes the lock, reads the file again, copies it aside when the
// rewrite would drop part of it (one line on standard error says where), merges the writes and
// replaces the file once. Returns what the file holds now. Throws RegistryError naming the file
// and the reason; the file is then as it was.
Hive SaveWrites(const std::string &path, const Hive &base, std::span<const RegBatch::Write> writes);

} // namespace platform::regfile
