// The serial layer's error texts on Windows: the system's words for the code and a hint for the
// codes users meet.
#include "platform/SerialBackends.h"
#include "platform/SystemError.h"

#include <winsock2.h>
#include <windows.h>

namespace platform {

namespace {

const char *HintFor(int code) {
    switch (code) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return "another program holds the port; close it, or the port's other user";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return "is the adapter plugged in, and is the port mapped to the right device?";
    case WSAECONNREFUSED: return "is the serial server running and listening on that port?";
    default: return nullptr;
    }
}

} // namespace

void SetSerialError(SerialError *error, int code, const std::string &device) {
    if (!error) return;
    error->code = code;
    std::string text = device.empty() ? "" : device + ": ";
    text += SystemErrorText(code);
    if (const char *hint = HintFor(code)) text += std::string(" (") + hint + ")";
    error->description = std::move(text);
}

} // namespace platform
