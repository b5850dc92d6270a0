#include "platform/SystemError.h"

#include <winsock2.h>
#include <windows.h>

namespace platform {

int LastSystemError() {
    // Winsock keeps its own last error; a socket call's failure is there, any other's in both.
    const int socketError = ::WSAGetLastError();
    if (socketError != 0) return socketError;
    const DWORD error = ::GetLastError();
    return error != 0 ? static_cast<int>(error) : static_cast<int>(ERROR_GEN_FAILURE);
}

std::string SystemErrorText(int code) {
    char buffer[512] = {};
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                         static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                         buffer, sizeof buffer, nullptr);
    std::string text(buffer, length);
    // The system's texts end in a full stop and a line break; ours go on after them.
    while (!text.empty() &&
           (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text.empty() ? "error " + std::to_string(code) : text;
}

const int ErrorInvalidArgument = WSAEINVAL;
const int ErrorNotFound = ERROR_FILE_NOT_FOUND;
const int ErrorTooManyHandles = WSAEMFILE;
const int ErrorConnectionRefused = WSAECONNREFUSED;
const int ErrorConnectionReset = WSAECONNRESET;
const int ErrorTimedOut = WSAETIMEDOUT;

} // namespace platform
