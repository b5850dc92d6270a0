#include "platform/Registry.h"
#include "platform/Rfc2217Client.h"
#include "platform/Serial.h"
#include "platform/SerialBackends.h"
#include "platform/SystemError.h"

#include <cctype>
#include <map>
#include <mutex>
#include <string_view>

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

// Wide enough for any COM number Windows hands out; longer digit runs are not COM names.
constexpr size_t MaxComDigits = 6;

// A mapped value is text; a value of another type, or an empty one, maps nothing.
std::string MappedText(const std::optional<RegValue> &value) {
    if (!value) return {};
    return StringOf(*value).value_or(std::string());
}

std::string RegistryOverride(int comPort) {
    try {
        RegKey key(PortMapKey);
        return MappedText(key.Query("COM" + std::to_string(comPort)));
    } catch (const RegistryError &) {
        // A registry that cannot be read leaves the default mapping, which still finds the usual
        // devices; the open reports what is wrong with the device itself.
        return {};
    }
}

// The n of a value name "COMn" (any case), or 0.
int NumberOfComName(std::string_view name) {
    if (name.size() <= 3 || !SameRegistryName(name.substr(0, 3), "COM")) return 0;
    const int number = PlainNumber(name.substr(3));
    return number > 0 ? number : 0;
}

} // namespace

// A run of decimal digits as written by std::to_string (no sign, no leading zero), or -1: the
// registry is asked for "COM" + std::to_string(n), so "COM007" is not COM7.
int PlainNumber(std::string_view digits) {
    if (digits.empty() || digits.size() > MaxComDigits || (digits.size() > 1 && digits[0] == '0'))
        return -1;
    int number = 0;
    for (char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return -1;
        number = number * 10 + (c - '0');
    }
    return number;
}

std::string MapComPort(int comPort) {
    if (comPort < 1) return {}; // there is no COM0 or below, on Windows either
    std::string mapped = OverrideOf(comPort);
    if (mapped.empty()) mapped = RegistryOverride(comPort);
    return mapped.empty() ? DefaultDevice(comPort) : mapped;
}

std::vector<ComPortMapping> MappedComPorts() {
    std::vector<ComPortMapping> mappings;
    try {
        RegKey key(PortMapKey);
        for (const std::string &name : key.ValueNames()) {
            const int comPort = NumberOfComName(name);
            if (comPort < 1) continue;
            std::string device = MappedText(key.Query(name));
            if (!device.empty()) mappings.push_back({comPort, std::move(device)});
        }
    } catch (const RegistryError &) {
        // As in RegistryOverride: an unreadable registry leaves the built-in ranges alone.
        mappings.clear();
    }
    return mappings;
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
    const int number = NumberOfComName(name);
    if (number < 1) return std::nullopt;
    return number;
}

bool IsSerialDeviceName(const std::string &device) {
    if (device.rfind(Rfc2217Scheme, 0) == 0) {
        uint32_t address = 0;
        uint16_t port = 0;
        return ParseRfc2217Url(device, &address, &port);
    }
    return IsLocalDeviceName(device);
}

std::unique_ptr<SerialPort> OpenSerialPort(int comPort, SerialError *error) {
    const std::string device = MapComPort(comPort);
    if (device.empty()) {
        SetSerialError(error, ErrorNotFound, "COM" + std::to_string(comPort));
        return nullptr;
    }
    return OpenSerialDevice(device, error);
}

} // namespace platform
