// Finding CorvixLink devices on the local network: a request datagram goes to the discovery port
// of the configured destination (normally the broadcast address), and every device answers with
// a reply datagram to the discovery port + 1, where a round's receiving socket listens on every
// local address. A round sends at most three requests, one second apart, and is polled by its
// caller (every 100 ms or so) until the caller's own time for the round is over.
//
// Failures raise xConnectionErr with the internal codes below; the engine turns them into
// LoaderError 22. Not thread-safe: one thread runs a round (the user-interface thread, or the
// command line's main thread).
#pragma once

#include "platform/Socket.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace DiscoveryCode {
inline constexpr int32_t SocketCreateFailed = 3002;
inline constexpr int32_t ReplyRestFailed = 3008;
inline constexpr int32_t BindFailed = 3009;
inline constexpr int32_t RequestFailed = 3010;
inline constexpr int32_t ReplyFailed = 3011;
} // namespace DiscoveryCode

inline constexpr uint16_t DefaultDiscoveryPort = 4242;
inline constexpr size_t DiscoveryRequestSize = 84;
inline constexpr size_t DiscoveryReplySize = 86;

using DiscoveryRequestBytes = std::array<uint8_t, DiscoveryRequestSize>;
using DiscoveryReplyBytes = std::array<uint8_t, DiscoveryReplySize>;

// One device as a reply describes it, in the texts the discovery list shows.
struct DiscoveryReply {
    std::string name;   // at most 40 characters (a name filling the field has no terminator)
    std::string ip;     // "10.0.0.7"
    std::string port;   // "4244"
    std::string status; // "Running", "Programmed", "Waiting", "Error" or "unknown status"
    std::string mac;    // "00:1a:2b:3c:4d:5e"
};

// The request every round sends: 01 00 00 01 "myname" 0, zero-padded to 84 bytes.
DiscoveryRequestBytes BuildDiscoveryRequest();
bool IsDiscoveryRequest(const uint8_t *data, size_t count);
// The five texts of a reply.
DiscoveryReply DecodeDiscoveryReply(const DiscoveryReplyBytes &bytes);
// The status word's text.
const char *DiscoveryStatusText(uint16_t status);

// One discovery object of the process (see Discovery() below); a test may make its own.
class DeviceDiscovery {
public:
    using TickFunction = std::function<uint32_t()>;

    // ticks: the millisecond clock of the resends and the wait for a reply's rest (the tick
    // count unless a test steps time itself).
    explicit DeviceDiscovery(TickFunction ticks = {});
    ~DeviceDiscovery();
    DeviceDiscovery(const DeviceDiscovery &) = delete;
    DeviceDiscovery &operator=(const DeviceDiscovery &) = delete;

    // Opens a round: binds the receiving socket to port + 1 on every local address (3002, 3009)
    // and sends the first request to destination:port (3002, 3010). destination is a dotted-
    // decimal IPv4 address; anything else fails with 3010 rather than send somewhere unchosen.
    // A round still open is closed first.
    void Start(uint16_t port, const std::string &destination);
    // Sends a resend that is due, then takes one reply if one is waiting. True with reply
    // filled when a reply was taken; false with reply untouched otherwise. Fails 3002/3010
    // (resend), 3011 (receiving), 3008 (receiving the rest of a reply that came in parts).
    bool Poll(DiscoveryReply &reply);
    // Closes the receiving socket; a new round needs Start.
    void Stop();
    bool RoundOpen() const { return receiver_.Valid(); }

    static constexpr uint32_t ResendSpacingMs = 1000;
    static constexpr uint32_t ReplyRestWaitMs = 1000;
    static constexpr int ResendsPerRound = 2;

private:
    void SendRequest();
    uint32_t Now() const;
    bool Due(uint32_t when) const;
    // Collects the rest of a reply that came in parts; false when it did not come in time.
    bool ReceiveRest(DiscoveryReplyBytes &bytes, size_t have);

    TickFunction ticks_;
    platform::Socket receiver_;
    uint16_t port_ = DefaultDiscoveryPort;
    uint32_t destination_ = 0;
    int resendsLeft_ = 0;
    uint32_t nextResendDue_ = 0;
};

// The operations of the engine, on the process's one discovery object (created on first use).
// The destination is the "Discovery Broadcast Address" setting (Env().DiscoveryBroadcastAddress).
void StartDiscovery(uint16_t port);
// Fills the five texts when a reply was taken; leaves them untouched otherwise.
bool PollDiscovery(std::string &name, std::string &ip, std::string &port, std::string &status,
                   std::string &mac);
void StopDiscovery();

// One round of the process's discovery object, polled every 100 ms for ms milliseconds:
// newDevice is called once per IP address that answered (a device answering every request is
// reported once). Stops the round on every way out; failures raise as above.
void RunDiscoveryRound(uint32_t ms, uint16_t port,
                       const std::function<void(const DiscoveryReply &)> &newDevice);
// The five texts separated by tabs: name, IP address, control port, status, MAC address, each
// with its control characters escaped (platform::EscapeControls), so that a device's name can
// neither add a field or a line nor drive the terminal the line is printed on.
std::string DeviceLine(const DiscoveryReply &reply);
