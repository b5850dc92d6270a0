// The system's error numbers as the platform layer hands them on: errno values on POSIX, Win32
// and Winsock codes on Windows. 0 always means success.
#pragma once

#include <string>

namespace platform {

// The error of the last failed system call of this thread.
int LastSystemError();
// The system's own words for an error number ("Connection refused").
std::string SystemErrorText(int code);

// Errors the platform layer raises itself, in the system's numbering.
extern const int ErrorInvalidArgument;
extern const int ErrorNotFound;
extern const int ErrorTooManyHandles;
extern const int ErrorConnectionRefused;
extern const int ErrorConnectionReset;
extern const int ErrorTimedOut;

} // namespace platform
