// tarnwick-cli settings: the settings as the desktop program keeps them, listed, read and changed
// one value at a time. Each function returns the process exit status.
#pragma once

#include <string>

// Every setting, then the recent files and the port map ("Ports" key), one "Name = value" line
// each under a heading per key. Reads only: the registry file stays as it is.
int ShowSettings(const std::string &programPath);
// The one value of NAME, as the listing shows it.
int ShowOneSetting(const std::string &programPath, const std::string &name);
// Checks VALUE against the setting's rule and writes that one value; a refusal writes nothing.
int SetOneSetting(const std::string &programPath, const std::string &name, const std::string &text);
// Maps COMn to a device in the port map ("Ports" key), for every program that reads it.
int SetPortMapEntry(const std::string &comName, const std::string &device);
