// The settings store: the process-wide Environment record, loaded from the registry once at
// start-up and written back once at exit.
#pragma once

#include "comm/CommOptions.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct Environment {
    CommOptions Comm;                     // zero-filled, then loaded
    int32_t ColdloadBaudRate = 0;         // "Coldload Baud Rate"
    int32_t PilotBiosBaudRate = 0;        // "Pilot Bios Baud Rate"
    int32_t BiosBaudRate = 0;             // "Bios Baud Rate"
    uint8_t LoadThroughCorvixSys = 0;     // "Load through CorvixSys"
    std::string ColdLoaderFile;           // "File Locations" / "ColdLoader"
    std::string PilotBiosFile;            // "File Locations" / "PilotBIOS"
    std::string FlashTableFile;           // "File Locations" / "Flash table"
    std::vector<std::string> RecentFiles; // most recent first, at most MaxRecentFiles
    std::string ProgramFolder;            // folder of the running program, ending in '/'
    std::string KeyPath;                  // "Software\\Vexlon\\ZEP\\3.02\\"
    // "Discovery Broadcast Address" of "Communications": where discovery requests go. Read at
    // start-up and never written, so tests and labs can pin discovery to one network.
    std::string DiscoveryBroadcastAddress;
};

constexpr size_t MaxRecentFiles = 10;

// The one Environment of the process.
Environment &Env();

// Reads every setting (defaults where missing) and hands the converter option to the loader
// engine and the log switches to the communication log. programPath is the running program's
// own file (argument 0). Writes nothing to the registry. A string value stored with another type
// takes its default, with one line on standard error.
void LoadSettings(const std::string &programPath);
// Writes the settings back with one replacement of the registry file, in the order of the
// tables. A value this program changed since LoadSettings is written; one it did not change is
// written only where the file still holds what was loaded, or nothing, so a value another program
// stored in the meantime stays. Throws platform::RegistryError when the file cannot be written;
// nothing is written then.
void SaveSettings();

// The console newline's registry notation: \b \f \r \t \v stand for their control characters,
// a backslash before anything else (n included), or at the very end, for a line feed.
std::string DecodeNewline(std::string_view stored);
// The reverse: the six control characters above (line feed as \n) in notation, all else as is.
std::string EncodeNewline(std::string_view newline);

// The folder of a program file, ending in '/'. A bare program name (started through PATH) is
// found through the running process's own executable instead; a relative path is made absolute.
std::string ProgramFolderOf(const std::string &programPath);
// The folder above a folder that ends in '/', itself ending in '/'; empty when there is none.
std::string ParentFolderOf(const std::string &folder);
// The folder where the package installs what a program in folder (ending in '/') reads besides
// its settings: <folder>/../share/tarnwick/, holding samples/ (the sample cold loader, pilot
// BIOS and flash table) and help/. Empty when folder has no parent.
std::string InstalledDataFolderOf(const std::string &folder);
