// How COM numbers meet device names on POSIX: COM1-32 are /dev/ttyS0-31, COM33-64
// /dev/ttyUSB0-31, COM65-96 /dev/ttyACM0-31, above that /dev/ttyS<n-1>; a local device is named
// by its absolute path.
#include "platform/Serial.h"
#include "platform/SerialBackends.h"

namespace platform {

namespace {

// The number after prefix in device ("/dev/ttyUSB12" after "/dev/ttyUSB" is 12), or -1.
int DeviceIndex(std::string_view device, std::string_view prefix) {
    if (device.substr(0, prefix.size()) != prefix) return -1;
    return PlainNumber(device.substr(prefix.size()));
}

} // namespace

std::string DefaultDevice(int comPort) {
    if (comPort >= 1 && comPort <= 32) return "/dev/ttyS" + std::to_string(comPort - 1);
    if (comPort >= 33 && comPort <= 64) return "/dev/ttyUSB" + std::to_string(comPort - 33);
    if (comPort >= 65 && comPort <= 96) return "/dev/ttyACM" + std::to_string(comPort - 65);
    return "/dev/ttyS" + std::to_string(comPort - 1);
}

int DefaultComPortOf(const std::string &device) {
    if (int index = DeviceIndex(device, "/dev/ttyS"); index >= 0) {
        // COM33-96 belong to the USB and ACM ranges, so ttyS32-95 have no COM number of their own.
        if (index <= 31 || index >= 96) return index + 1;
        return 0;
    }
    if (int index = DeviceIndex(device, "/dev/ttyUSB"); index >= 0 && index <= 31)
        return index + 33;
    if (int index = DeviceIndex(device, "/dev/ttyACM"); index >= 0 && index <= 31)
        return index + 65;
    return 0;
}

bool IsLocalDeviceName(const std::string &device) {
    return device.size() > 1 && device.front() == '/';
}

} // namespace platform
