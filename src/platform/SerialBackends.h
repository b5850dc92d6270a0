// The pieces behind OpenSerialDevice: one backend per kind of device and the error texts they
// share. Callers outside the serial layer use Serial.h only.
#pragma once

#include "platform/Serial.h"

#include <memory>
#include <string>

namespace platform {

// The local device backend of this OS (termios on POSIX). Null on failure, with error filled.
std::unique_ptr<SerialPort> OpenLocalSerialDevice(const std::string &path, SerialError *error);

// Fills error (when given) with code and the system's text for it, followed by a hint for the
// codes users meet (permissions, a port held by another program, a missing adapter).
void SetSerialError(SerialError *error, int code, const std::string &device);

} // namespace platform
