// The options of "tarnwick-cli load" that stand in for settings in one run: a production line
// points each load at its own board, rate and log without touching the settings everyone shares.
// They change the Environment, the process's port map and its communication log in memory only;
// nothing of them is ever written to the registry.
#pragma once

#include "cli/CliDisplay.h"
#include "settings/Zepenvironment.h"

#include <cstdint>
#include <string>

enum class NetworkDevice { CorvixLink, CorvixSys };

struct LoadOptions {
    std::string port; // --port: "COM3", a device path, or "rfc2217://host:port"; empty: settings
    int32_t baud = 0; // --baud: the highest download rate; 0 keeps the setting
    std::string tcp;  // --tcp: "host:port" of a network device; empty: settings
    NetworkDevice device = NetworkDevice::CorvixLink; // --device, with --tcp
    bool corvixSys = false;                           // --corvixsys: the user program road
    std::string log;                                  // --log: the communication log's file
    CliOutputStyle style;
};

// The checks of the option texts: empty when the text is good, else a message saying what the
// option takes. Ranges and rates come from the settings table, so an option accepts exactly what
// "settings set" would for the setting it stands in for.
std::string CheckPortOption(const std::string &text);
std::string CheckBaudOption(const std::string &text);
std::string CheckTcpOption(const std::string &text);
std::string CheckDeviceOption(const std::string &text);
// The kind of device --device names ("corvixlink" or "corvixsys", checked before).
NetworkDevice NetworkDeviceNamed(const std::string &text);

// Applies checked options to env (loaded from the registry just before) and to the process.
void ApplyLoadOptions(const LoadOptions &options, Environment &env);
