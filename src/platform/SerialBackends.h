// The pieces behind OpenSerialDevice: one backend per kind of device and the error texts they
// share. Callers outside the serial layer use Serial.h only.
#pragma once

#include "platform/Serial.h"

#include <memory>
#include <string>
#include <string_view>

namespace platform {

// The local device backend of this OS (termios on POSIX). Null on failure, with error filled.
std::unique_ptr<SerialPort> OpenLocalSerialDevice(const std::string &path, SerialError *error);

// The device a COM number stands for when nothing maps it.
std::string DefaultDevice(int comPort);
// Whether device names a local serial device of this OS (an absolute path on POSIX).
bool IsLocalDeviceName(const std::string &device);
// A run of decimal digits as written by std::to_string (no sign, no leading zero), or -1.
int PlainNumber(std::string_view digits);

// Fills error (when given) with code and the system's text for it, followed by a hint for the
// codes users meet (permissions, a port held by another program, a missing adapter).
void SetSerialError(SerialError *error, int code, const std::string &device);

} // namespace platform
