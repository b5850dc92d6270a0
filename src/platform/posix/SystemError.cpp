#include "platform/SystemError.h"

#include <cerrno>
#include <cstring>

namespace platform {

int LastSystemError() { return errno != 0 ? errno : EIO; }

std::string SystemErrorText(int code) { return std::strerror(code); }

const int ErrorInvalidArgument = EINVAL;
const int ErrorNotFound = ENOENT;
const int ErrorTooManyHandles = EMFILE;
const int ErrorConnectionRefused = ECONNREFUSED;
const int ErrorConnectionReset = ECONNRESET;
const int ErrorTimedOut = ETIMEDOUT;

} // namespace platform
