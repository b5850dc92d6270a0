// Winsock for the Windows backend's own units: started once for the process, and our int handles
// (sockets are small kernel handles; -1 stands for INVALID_SOCKET).
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

namespace platform {

// Starts Winsock 2.2 the first time; true when it is usable.
bool EnsureWinsock();

inline SOCKET NativeSocket(int handle) {
    return handle < 0 ? INVALID_SOCKET : static_cast<SOCKET>(handle);
}
// FIONBIO is an unsigned code that ioctlsocket takes as a long.
inline int SetNonBlocking(SOCKET socket, bool nonBlocking) {
    u_long value = nonBlocking ? 1 : 0;
    return ::ioctlsocket(socket, static_cast<long>(FIONBIO), &value);
}

inline int HandleOf(SOCKET socket) {
    return socket == INVALID_SOCKET ? -1 : static_cast<int>(socket);
}

} // namespace platform
