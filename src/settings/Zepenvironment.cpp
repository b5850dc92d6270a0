#include "settings/Zepenvironment.h"

#include "settings/Version.h"
#include "platform/Console.h"
#include "platform/PrintableText.h"
#include "platform/Registry.h"
#include "settings/SettingsTable.h"

#include <filesystem>
#include <initializer_list>
#include <iostream>
#include <map>

namespace {

// The first candidate that names an existing file, else the first candidate: the dialogs then
// show where the file was expected.
std::string FirstExisting(std::initializer_list<std::string> candidates) {
    for (const std::string &candidate : candidates)
        if (platform::IsExistingFile(candidate)) return candidate;
    return *candidates.begin();
}

// A file in a folder, or nothing when there is no such folder (never a name relative to the
// current folder).
std::string FileIn(const std::string &folder, const char *name) {
    return folder.empty() ? std::string() : folder + name;
}

void ReadCommunications(Environment &env) {
    platform::RegKey key(env.KeyPath + CommunicationsKey);
    for (const Setting &setting : CommunicationsSettings()) ReadSetting(setting, key, env);
}

void ReadRecentFiles(Environment &env) {
    platform::RegKey key(env.KeyPath + RecentFilesKey);
    for (const std::string &name : key.ValueNames()) {
        if (env.RecentFiles.size() == MaxRecentFiles)
            break; // each menu has ten slots; older names beyond them are never shown
        std::optional<platform::RegValue> value = key.Query(name);
        std::optional<std::string> file = value ? platform::StringOf(*value) : std::nullopt;
        if (!file) {
            // The name is the file's text, which may hold anything but a line break.
            std::cerr << "Tarnwick: registry value \"" << platform::EscapeControls(name) << "\" of "
                      << key.Path() << " is not a string; it is left out of the recent files\n";
            continue;
        }
        env.RecentFiles.push_back(*file);
    }
}

void ReadFileLocations(Environment &env) {
    platform::RegKey key(env.KeyPath + FileLocationsKey);
    const std::string &program = env.ProgramFolder;
    const std::string parent = ParentFolderOf(program);
    // An installed program lives in <prefix>/bin and its package puts the sample support files
    // in <prefix>/share/tarnwick/samples: the last place looked, so a user's own files beside
    // the program or in a bios folder win.
    const std::string installed = FileIn(InstalledDataFolderOf(program), "samples/");
    std::span<const Setting> rows = FileLocationSettings();
    if (!ReadSetting(rows[0], key, env))
        env.ColdLoaderFile =
            FirstExisting({program + "coldload.bin", program + "bios/coldload.bin",
                           parent + "bios/coldload.bin", FileIn(installed, "coldload.bin")});
    if (!ReadSetting(rows[1], key, env))
        env.PilotBiosFile =
            FirstExisting({program + "pilot.bin", program + "bios/pilot.bin",
                           parent + "bios/pilot.bin", FileIn(installed, "pilot.bin")});
    if (!ReadSetting(rows[2], key, env))
        env.FlashTableFile = FirstExisting(
            {program + "Flash.ini", parent + "Flash.ini", FileIn(installed, "Flash.ini")});
}

// What the saved values held right after LoadSettings. A save counts a value as changed by this
// program when it differs from this, and only then writes it over a value another program (such
// as "tarnwick-cli settings set") stored while this one ran.
struct LoadedValues {
    bool valid = false;
    std::map<const Setting *, platform::RegValue> rows;
    std::vector<std::string> recentFiles;
};

LoadedValues &Loaded() {
    static LoadedValues loaded;
    return loaded;
}

void RememberLoadedValues(const Environment &env) {
    LoadedValues &loaded = Loaded();
    loaded.rows.clear();
    for (auto rows : {CommunicationsSettings(), FileLocationSettings()})
        for (const Setting &setting : rows)
            if (setting.SavedAtExit) loaded.rows[&setting] = SettingValue(setting, env);
    loaded.recentFiles = env.RecentFiles;
    loaded.valid = true;
}

platform::RegMerge MergeOf(const Setting &setting, const platform::RegValue &now) {
    const LoadedValues &loaded = Loaded();
    auto it = loaded.rows.find(&setting);
    if (!loaded.valid || it == loaded.rows.end()) return platform::RegMerge::Changed;
    bool same = it->second.type == now.type && it->second.data == now.data;
    return same ? platform::RegMerge::Unchanged : platform::RegMerge::Changed;
}

void AddRows(platform::RegBatch &batch, std::span<const Setting> rows, const Environment &env) {
    for (const Setting &setting : rows) {
        if (!setting.SavedAtExit) continue;
        platform::RegValue value = SettingValue(setting, env);
        platform::RegMerge merge = MergeOf(setting, value);
        batch.Set(env.KeyPath + setting.Key, std::move(value), merge);
    }
}

void AddRecentFiles(platform::RegBatch &batch, const Environment &env) {
    const LoadedValues &loaded = Loaded();
    for (size_t i = 0; i < env.RecentFiles.size(); ++i) {
        bool same = loaded.valid && i < loaded.recentFiles.size() &&
                    loaded.recentFiles[i] == env.RecentFiles[i];
        batch.Set(env.KeyPath + RecentFilesKey,
                  platform::StringValue("File" + std::to_string(i), env.RecentFiles[i]),
                  same ? platform::RegMerge::Unchanged : platform::RegMerge::Changed);
    }
}

} // namespace

Environment &Env() {
    static Environment environment;
    return environment;
}

std::string DecodeNewline(std::string_view stored) {
    std::string out;
    for (size_t i = 0; i < stored.size(); ++i) {
        if (stored[i] != '\\') {
            out.push_back(stored[i]);
            continue;
        }
        char code = ++i < stored.size() ? stored[i] : 'n';
        switch (code) {
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'v': out.push_back('\v'); break;
        default: out.push_back('\n'); break;
        }
    }
    return out;
}

std::string EncodeNewline(std::string_view newline) {
    std::string out;
    for (char c : newline) {
        switch (c) {
        case '\b': out += "\\b"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\v': out += "\\v"; break;
        case '\f': out += "\\f"; break;
        case '\r': out += "\\r"; break;
        default: out.push_back(c); break;
        }
    }
    return out;
}

std::string ProgramFolderOf(const std::string &programPath) {
    std::string path = programPath;
    if (path.find('/') == std::string::npos)
        path = platform::ExecutablePath(); // started through PATH: argument 0 names no folder
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return std::string();
    std::string folder = path.substr(0, slash + 1);
    if (folder.front() != '/') {
        // Relative to where we started: fix it now, before anything changes the current folder.
        std::string current = platform::CurrentFolder();
        if (!current.empty())
            folder = (std::filesystem::path(current) / folder).lexically_normal().string();
    }
    return folder;
}

std::string ParentFolderOf(const std::string &folder) {
    std::string_view trimmed = folder;
    if (!trimmed.empty() && trimmed.back() == '/') trimmed.remove_suffix(1);
    size_t slash = trimmed.rfind('/');
    return slash == std::string_view::npos ? std::string()
                                           : std::string(trimmed.substr(0, slash + 1));
}

std::string InstalledDataFolderOf(const std::string &folder) {
    std::string parent = ParentFolderOf(folder);
    return parent.empty() ? std::string() : parent + "share/tarnwick/";
}

void LoadSettings(const std::string &programPath) {
    Environment &env = Env();
    env = Environment{};
    env.ProgramFolder = ProgramFolderOf(programPath);
    env.KeyPath = "Software\\Vexlon\\ZEP\\" + VersionText() + "\\";
    ReadCommunications(env);
    ReadRecentFiles(env);
    ReadFileLocations(env);
    RememberLoadedValues(env);
}

void SaveSettings() {
    const Environment &env = Env();
    platform::RegBatch batch;
    AddRows(batch, CommunicationsSettings(), env);
    AddRecentFiles(batch, env);
    AddRows(batch, FileLocationSettings(), env);
    batch.Commit();
}
