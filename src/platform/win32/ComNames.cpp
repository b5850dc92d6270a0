// How COM numbers meet device names on Windows: COMn is the system's own "\\.\COMn" (the form
// that reaches COM10 and above too), and a local device is named by that form or a bare "COMn".
#include "platform/Serial.h"
#include "platform/SerialBackends.h"

namespace platform {

namespace {

constexpr std::string_view DevicePrefix = "\\\\.\\";

} // namespace

std::string DefaultDevice(int comPort) {
    return std::string(DevicePrefix) + "COM" + std::to_string(comPort);
}

int DefaultComPortOf(const std::string &device) {
    std::string_view name = device;
    if (name.substr(0, DevicePrefix.size()) == DevicePrefix)
        name.remove_prefix(DevicePrefix.size());
    return ComNumberOf(name).value_or(0);
}

bool IsLocalDeviceName(const std::string &device) { return DefaultComPortOf(device) > 0; }

} // namespace platform
