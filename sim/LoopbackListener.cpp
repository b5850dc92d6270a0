#include "LoopbackListener.h"

namespace sim {

namespace {

bool Fail(std::string *error, const std::string &why) {
    if (error) *error = why;
    return false;
}

} // namespace

platform::Socket BindLoopbackTcp(uint16_t port, std::string *error, int receiveBuffer) {
    int code = 0;
    platform::Socket socket = platform::Socket::Tcp(&code);
    if (!socket.Valid()) {
        Fail(error, "socket: error " + std::to_string(code));
        return socket;
    }
    socket.SetReuseAddress(true);
    if (receiveBuffer > 0)
        (void)socket.SetReceiveBuffer(receiveBuffer); // refused: the default size still serves
    if ((code = socket.Bind(platform::Ipv4Loopback(), port)) != 0) {
        Fail(error,
             "cannot bind 127.0.0.1:" + std::to_string(port) + ": error " + std::to_string(code));
        socket.Close();
    }
    return socket;
}

bool ListenForHosts(platform::Socket &socket, std::string *error) {
    int code = 0;
    if ((code = socket.Listen(4)) != 0 || (code = socket.SetBlocking(false)) != 0) {
        socket.Close();
        return Fail(error, "listen: error " + std::to_string(code));
    }
    return true;
}

} // namespace sim
