#include "platform/Registry.h"
#include "platform/Rfc2217Client.h"
#include "platform/Serial.h"
#include "platform/SerialBackends.h"

#include <cerrno>
#include <charconv>
#include <map>
#include <mutex>

namespace platform {

namespace {

struct PortOverrides {
    std::mutex mutex;
    std::map<int, std::string> devices;
};

PortOverrides &Overrides() {
    static PortOverrides overrides;
    return overrides;
}

std::string OverrideOf(int comPort) {
    PortOverrides &overrides = Overrides();
    std::lock_guard lock(overrides.mutex);
    auto it = overrides.devices.find(comPort);
    return it == overrides.devices.end() ? std::string() : it->second;
}

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
    std::string mapped = OverrideOf(comPort);
    if (mapped.empty()) mapped = RegistryOverride(comPort);
    return mapped.empty() ? DefaultDevice(comPort) : mapped;
}

void SetPortOverride(int comPort, std::string device) {
    PortOverrides &overrides = Overrides();
    std::lock_guard lock(overrides.mutex);
    if (device.empty())
        overrides.devices.erase(comPort);
    else
        overrides.devices[comPort] = std::move(device);
}

std::optional<int> ComNumberOf(std::string_view name) {
    if (name.size() < 4 || !SameRegistryName(name.substr(0, 3), "COM")) return std::nullopt;
    const std::string_view digits = name.substr(3);
    int number = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return number;
}

bool IsSerialDeviceName(const std::string &device) {
    if (device.rfind(Rfc2217Scheme, 0) == 0) {
        uint32_t address = 0;
        uint16_t port = 0;
        return ParseRfc2217Url(device, &address, &port);
    }
    return device.size() > 1 && device.front() == '/';
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
