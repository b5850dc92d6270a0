// The pieces behind ListSerialPorts that depend on the OS: the device folder, the device manager,
// file access and the process table. Callers outside the inventory use PortInventory.h only.
#pragma once

#include "platform/PortInventory.h"

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace platform {

// The names in root/dev of the tty families serial ports come from (ttyS*, ttyUSB*, ttyACM*),
// sorted. Throws PortInventoryError when the folder cannot be read.
std::vector<std::string> LocalTtyNames(const std::filesystem::path &root);

// The device path of one of those names ("/dev/ttyUSB0").
std::string LocalDeviceOf(const std::string &name);

// Facts about a tty by name from the system's device manager (udev on Linux).
std::function<TtyFacts(const std::string &ttyName)> SystemTtyDescriber();

// Whether user (this process when empty) may read and write the file at path, and its group.
// Nothing when the file cannot be examined.
std::optional<PortAccess> CheckPortAccess(const std::filesystem::path &path,
                                          const std::optional<UserIds> &user);

struct ProcessScan {
    std::map<std::string, std::vector<PortHolder>> holders; // by device path, as /proc shows it
    std::set<std::string> commands;                         // command names of the processes seen
};

// The processes below root/proc, and which of them have one of devices open.
ProcessScan ScanProcesses(const std::filesystem::path &root, const std::set<std::string> &devices);

} // namespace platform
