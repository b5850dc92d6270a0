#include "platform/Serial.h"

#include "platform/Rfc2217Client.h"
#include "platform/SerialBackends.h"

namespace platform {

std::unique_ptr<SerialPort> OpenSerialDevice(const std::string &device, SerialError *error) {
    if (device.rfind(Rfc2217Scheme, 0) == 0) return OpenRfc2217Device(device, error);
    return OpenLocalSerialDevice(device, error);
}

} // namespace platform
