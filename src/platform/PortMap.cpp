#include "platform/Registry.h"
#include "platform/Serial.h"
#include "platform/SerialBackends.h"

#include <cerrno>

namespace platform {

namespace {

const char PortMapKey[] = "Software\\Vexlon\\ZEP\\Ports";

// A mapped value is text; a value of another type, or an empty one, maps nothing.
std::string RegistryOverride(int comPort) {
    try {
        RegKey key(PortMapKey);
        auto value = key.Query("COM" + std::to_string(comPort));
        if (!value) return {};
        return StringOf(*value).value_or(std::string());
    } catch (const RegistryError &) {
        // A registry that cannot be read leaves the default mapping, which still finds the usual
        // devices; the open reports what is wrong with the device itself.
        return {};
    }
}

std::string DefaultDevice(int comPort) {
    if (comPort >= 1 && comPort <= 32) return "/dev/ttyS" + std::to_string(comPort - 1);
    if (comPort >= 33 && comPort <= 64) return "/dev/ttyUSB" + std::to_string(comPort - 33);
    if (comPort >= 65 && comPort <= 96) return "/dev/ttyACM" + std::to_string(comPort - 65);
    return "/dev/ttyS" + std::to_string(comPort - 1);
}

} // namespace

std::string MapComPort(int comPort) {
    if (comPort < 1) return {}; // there is no COM0 or below, on Windows either
    std::string mapped = RegistryOverride(comPort);
    return mapped.empty() ? DefaultDevice(comPort) : mapped;
}

std::unique_ptr<SerialPort> OpenSerialPort(int comPort, SerialError *error) {
    const std::string device = MapComPort(comPort);
    if (device.empty()) {
        SetSerialError(error, ENOENT, "COM" + std::to_string(comPort));
        return nullptr;
    }
    return OpenSerialDevice(device, error);
}

} // namespace platform
