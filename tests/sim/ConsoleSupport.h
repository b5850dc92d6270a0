// A scripted host for the simulated CorvixSys console: a plain TCP client on 127.0.0.1 that
// reads exactly what it expects, each read bounded by a time limit, and speaks the negotiation,
// the login and the packets in the serial framing.
#pragma once

#include "ConsoleServer.h"
#include "FrameCodec.h"

#include "platform/Socket.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace consoletest {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

class ConsoleClient {
public:
    // Connects to 127.0.0.1:port; Connected() says whether it worked, ConnectError() why not.
    explicit ConsoleClient(uint16_t port);

    bool Connected() const { return connected_; }
    int ConnectError() const { return connectError_; }

    bool Send(const Bytes &bytes);
    bool SendLine(const std::string &text); // with CR LF
    // Exactly count bytes, or what came before the peer closed or the time ran out.
    Bytes Read(size_t count, std::chrono::milliseconds timeout = 3s);
    std::string ReadText(size_t count, std::chrono::milliseconds timeout = 3s);
    // True when the console closes the connection within the time (data before it is dropped).
    bool ClosedWithin(std::chrono::milliseconds timeout);

    // The two negotiation steps, answered as a host does; false at the first unexpected byte.
    bool Negotiate();
    // Negotiation, greeting, user name and password; returns the reply line after the password
    // (with its newline), as many bytes as the logged-in message and its newline.
    std::string Login(const std::string &user, const std::string &password);
    // Login with the console's defaults, the prompt, then "targetmd" and its reply; false when
    // any of it differs.
    bool EnterTargetMode(const std::string &user = sim::ConsoleOptions::DefaultUser,
                         const std::string &password = sim::ConsoleOptions::DefaultPassword);
    // Sends one request in the serial framing and waits for one frame back.
    std::optional<sim::Frame> Ask(uint8_t code, const Bytes &payload,
                                  std::chrono::milliseconds timeout = 3s);

private:
    platform::Socket socket_;
    bool connected_ = false;
    int connectError_ = 0;
    Bytes pending_;
    sim::FrameDecoder decoder_;
    std::vector<sim::Frame> frames_;
};

// SYS/WRITE payload: mode 0, length, address, data.
Bytes WritePayload(uint32_t address, const Bytes &data);

} // namespace consoletest
