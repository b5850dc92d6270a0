// The serial layer's error texts on POSIX: the system's words for errno, a hint for the codes
// users meet, and who holds a busy port.
#include "platform/PortInventory.h"
#include "platform/SerialBackends.h"

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

const char *HintFor(int code) {
    switch (code) {
    case EACCES:
    case EPERM: return "is the user in the dialout group?";
    case EBUSY: return "another program holds the port, often a modem manager or a screen reader";
    case ENOENT:
    case ENODEV:
    case ENXIO: return "is the adapter plugged in, and is the port mapped to the right device?";
    case ECONNREFUSED: return "is the serial server running and listening on that port?";
    default: return nullptr;
    }
}

} // namespace

void SetSerialError(SerialError *error, int code, const std::string &device) {
    if (!error) return;
    error->code = code;
    std::string text = device.empty() ? "" : device + ": ";
    text += std::strerror(code);
    if (const char *hint = HintFor(code)) text += std::string(" (") + hint + ")";
    // Where the system says who holds a busy port, the user need not guess.
    if (code == EBUSY) {
        if (const std::string holders = DescribeHolders(device); !holders.empty())
            text += "; held by " + holders;
    }
    error->description = std::move(text);
}

} // namespace platform
