// The settings store: the process-wide Environment record, loaded from the registry once at
// start-up and written back once at exit.
#pragma once

#include "settings/CommOptions.h"

#include <cstdint>
#include <string>
#include <vector>

struct Environment {
    CommOptions Comm;               // zero-filled, then loaded
    int32_t ColdloadBaudRate = 0;   // "Coldload Baud Rate"
    int32_t PilotBiosBaudRate = 0;  // "Pilot Bios Baud Rate"
    int32_t BiosBaudRate = 0;       // "Bios Baud Rate"
    uint8_t LoadThroughCorvixSys = 0; // "Load through CorvixSys"
    std::string ColdLoaderFile;     // "File Locations" / "ColdLoader"
    std::string PilotBiosFile;      // "File Locations" / "PilotBIOS"
    std::string FlashTableFile;     // "File Locations" / "Flash table"
    std::vector<std::string> RecentFiles; // most recent first
    std::string ProgramFolder;      // folder of the running program, ending in a separator
    std::string KeyPath;            // "Software\\Vexlon\\ZEP\\3.02\\"
};

// The one Environment of the process.
Environment &Env();

// Reads every setting (defaults where missing) and hands the converter option to the loader
// engine. programPath is the running program's own file (argument 0).
void LoadSettings(const std::string &programPath);
// Writes the settings back. Throws platform::RegistryError when a value cannot be written
// (the later values are then not written).
void SaveSettings();
