// The devices' side of discovery, on loopback: a UDP socket on 127.0.0.1 port P (4242 unless
// configured) takes each 84-byte request and answers it with an 86-byte reply sent to the
// requester's address on port P + 1, where a discovery round listens. The reply names the
// simulated device: status, name, IP 127.0.0.1, MAC and the control port of the link device.
// Silent, it only counts the requests (for the resend timing of a round).
//
// Thread safety: the responder serves on its own thread; the accessors may be called from any
// thread.
#pragma once

#include "Peer.h"
#include "Transcript.h"

#include "platform/Socket.h"
#include "platform/Poll.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sim {

struct DiscoveryOptions {
    uint16_t port = 4242; // 0: an ephemeral port (tests)
    std::string name = "CorvixLink-sim";
    uint16_t status = 0; // 0 Running, 1 Programmed, 2 Waiting, 255 Error
    std::array<uint8_t, 6> mac{0x02, 0x00, 0x5e, 0x10, 0x00, 0x01};
    uint16_t controlPort = 0; // the link device's TCP port
    bool silent = false;
};

// The 86-byte reply for these options (name cut to the 40-byte field).
std::array<uint8_t, 86> BuildDiscoveryReply(const DiscoveryOptions &options);

class DiscoveryResponder {
public:
    explicit DiscoveryResponder(DiscoveryOptions options = {});
    ~DiscoveryResponder();
    DiscoveryResponder(const DiscoveryResponder &) = delete;
    DiscoveryResponder &operator=(const DiscoveryResponder &) = delete;

    bool Start(std::string *error = nullptr);
    void Stop();
    uint16_t Port() const { return port_; }

    // When each well-formed request arrived.
    std::vector<SimClock::time_point> Requests() const;
    size_t IgnoredDatagrams() const;
    bool WaitForRequests(size_t count, std::chrono::milliseconds timeout) const;
    bool SaveTranscript(const std::string &path, std::string *error = nullptr) const;

private:
    void Run();
    void TakeDatagram();

    const DiscoveryOptions options_;
    platform::Socket socket_;
    uint16_t port_ = 0;
    platform::WakeFd wake_;
    std::atomic<bool> stop_{false};
    std::thread thread_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<SimClock::time_point> requests_;
    size_t ignored_ = 0;
    Transcript transcript_;
};

} // namespace sim
