#include "discovery/Discovery.h"

#include "comm/ConnectionErr.h"
#include "comm/PacketCodec.h"
#include "platform/Clock.h"
#include "platform/PrintableText.h"
#include "settings/Zepenvironment.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>

using namespace platform;

namespace {

constexpr size_t StatusOffset = 2;
constexpr size_t NameOffset = 4;
constexpr size_t NameSize = 40;
constexpr size_t IpOffset = 44;
constexpr size_t MacOffset = 48;
constexpr size_t PortOffset = 54;
constexpr char RequestName[] = "myname";

std::string FormatMac(const uint8_t *mac) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

} // namespace

DiscoveryRequestBytes BuildDiscoveryRequest() {
    DiscoveryRequestBytes request{};
    request[0] = 0x01; // 256 and 1, both big-endian
    request[3] = 0x01;
    std::memcpy(request.data() + 4, RequestName, sizeof RequestName); // with its zero byte
    return request;
}

bool IsDiscoveryRequest(const uint8_t *data, size_t count) {
    const DiscoveryRequestBytes expected = BuildDiscoveryRequest();
    return count == expected.size() && std::equal(expected.begin(), expected.end(), data);
}

const char *DiscoveryStatusText(uint16_t status) {
    switch (status) {
    case 0: return "Running";
    case 1: return "Programmed";
    case 2: return "Waiting";
    case 255: return "Error";
    default: return "unknown status";
    }
}

DiscoveryReply DecodeDiscoveryReply(const DiscoveryReplyBytes &bytes) {
    DiscoveryReply reply;
    reply.status = DiscoveryStatusText(packet::LoadLe16(bytes.data() + StatusOffset));
    // A name that fills its field has no terminator: it ends with the field.
    const auto nameBegin = bytes.begin() + NameOffset;
    reply.name.assign(nameBegin, std::find(nameBegin, nameBegin + NameSize, uint8_t{0}));
    const uint8_t *ip = bytes.data() + IpOffset;
    reply.ip = std::to_string(ip[0]) + '.' + std::to_string(ip[1]) + '.' + std::to_string(ip[2]) +
               '.' + std::to_string(ip[3]);
    reply.mac = FormatMac(bytes.data() + MacOffset);
    reply.port = std::to_string(packet::LoadLe16(bytes.data() + PortOffset));
    return reply;
}

// ---- DeviceDiscovery ----

DeviceDiscovery::DeviceDiscovery(TickFunction ticks) : ticks_(std::move(ticks)) {}

DeviceDiscovery::~DeviceDiscovery() = default;

uint32_t DeviceDiscovery::Now() const { return ticks_ ? ticks_() : GetTickCount(); }

bool DeviceDiscovery::Due(uint32_t when) const {
    // The tick count wraps; the difference does not.
    return static_cast<int32_t>(Now() - when) > 0;
}

void DeviceDiscovery::Start(uint16_t port, const std::string &destination) {
    Stop();
    port_ = port;
    const auto target = ParseIpv4(destination);
    if (!target) throw xConnectionErr(DiscoveryCode::RequestFailed);
    destination_ = *target;

    int error = 0;
    Socket receiver = Socket::Udp(&error);
    if (!receiver.Valid()) throw xConnectionErr(DiscoveryCode::SocketCreateFailed);
    // The replies come from the devices' own addresses on the LAN: every local address listens.
    // Port 65535 has no port above it to take replies on.
    if (port == 0xFFFF || receiver.Bind(Ipv4Any, static_cast<uint16_t>(port + 1)) != 0)
        throw xConnectionErr(DiscoveryCode::BindFailed);
    if (receiver.SetBlocking(false) != 0) throw xConnectionErr(DiscoveryCode::BindFailed);
    receiver_ = std::move(receiver);
    try {
        SendRequest();
    } catch (...) {
        receiver_.Close();
        throw;
    }
    resendsLeft_ = ResendsPerRound;
    nextResendDue_ = Now() + ResendSpacingMs;
}

void DeviceDiscovery::SendRequest() {
    int error = 0;
    Socket sender = Socket::Udp(&error);
    if (!sender.Valid()) throw xConnectionErr(DiscoveryCode::SocketCreateFailed);
    // Broadcasting needs the option; any other destination goes out without it.
    if (LooksLikeBroadcast(destination_) && sender.SetBroadcast(true) != 0)
        throw xConnectionErr(DiscoveryCode::RequestFailed);
    const DiscoveryRequestBytes request = BuildDiscoveryRequest();
    const IoResult sent = sender.SendTo(request.data(), request.size(), destination_, port_);
    if (sent.error != 0 || sent.count != static_cast<long>(request.size()))
        throw xConnectionErr(DiscoveryCode::RequestFailed);
}

bool DeviceDiscovery::Poll(DiscoveryReply &reply) {
    if (!receiver_.Valid()) return false;
    if (resendsLeft_ > 0 && Due(nextResendDue_)) {
        --resendsLeft_;
        SendRequest();
        nextResendDue_ = Now() + ResendSpacingMs;
    }
    DiscoveryReplyBytes bytes{};
    const Datagram first = receiver_.RecvFrom(bytes.data(), bytes.size());
    if (first.error != 0) {
        if (IsWouldBlock(first.error)) return false;
        throw xConnectionErr(DiscoveryCode::ReplyFailed);
    }
    const size_t have =
        static_cast<size_t>(std::min<long>(first.count, static_cast<long>(bytes.size())));
    if (have < bytes.size() && !ReceiveRest(bytes, have)) return false;
    reply = DecodeDiscoveryReply(bytes);
    return true;
}

bool DeviceDiscovery::ReceiveRest(DiscoveryReplyBytes &bytes, size_t have) {
    // Measured on the real clock: this wait blocks the caller, whatever drives the resends.
    const uint32_t deadline = GetTickCount() + ReplyRestWaitMs;
    while (have < bytes.size()) {
        const int32_t left = static_cast<int32_t>(deadline - GetTickCount());
        if (left <= 0) return false; // the partial reply is dropped
        const int ready = receiver_.WaitReadable(left);
        if (ready < 0) throw xConnectionErr(DiscoveryCode::ReplyRestFailed);
        if (ready == 0) continue;
        const Datagram part = receiver_.RecvFrom(bytes.data() + have, bytes.size() - have);
        if (part.error != 0) {
            if (IsWouldBlock(part.error)) continue;
            throw xConnectionErr(DiscoveryCode::ReplyRestFailed);
        }
        have +=
            static_cast<size_t>(std::min<long>(part.count, static_cast<long>(bytes.size() - have)));
    }
    return true;
}

void DeviceDiscovery::Stop() { receiver_.Close(); }

// ---- the engine's operations ----

namespace {

DeviceDiscovery &ProcessDiscovery() {
    // Created on first use and kept for the rest of the process, like the engine's object.
    static DeviceDiscovery discovery;
    return discovery;
}

} // namespace

void StartDiscovery(uint16_t port) {
    ProcessDiscovery().Start(port, Env().DiscoveryBroadcastAddress);
}

bool PollDiscovery(std::string &name, std::string &ip, std::string &port, std::string &status,
                   std::string &mac) {
    DiscoveryReply reply;
    if (!ProcessDiscovery().Poll(reply)) return false;
    name = std::move(reply.name);
    ip = std::move(reply.ip);
    port = std::move(reply.port);
    status = std::move(reply.status);
    mac = std::move(reply.mac);
    return true;
}

void StopDiscovery() { ProcessDiscovery().Stop(); }

namespace {

constexpr uint32_t PollSpacingMs = 100;
// Replies taken in one poll pass at most, so that a flood cannot keep a round from ending.
constexpr int MaxRepliesPerPass = 64;

// Closes the round however it ends.
struct RoundCloser {
    ~RoundCloser() { StopDiscovery(); }
};

} // namespace

void RunDiscoveryRound(uint32_t ms, uint16_t port,
                       const std::function<void(const DiscoveryReply &)> &newDevice) {
    RoundCloser closer;
    std::set<std::string> seen;
    StartDiscovery(port);
    const uint32_t start = GetTickCount();
    while (GetTickCount() - start < ms) {
        DiscoveryReply reply;
        for (int pass = 0; pass < MaxRepliesPerPass && ProcessDiscovery().Poll(reply); ++pass)
            if (seen.insert(reply.ip).second && newDevice) newDevice(reply);
        Sleep(PollSpacingMs);
    }
}

std::string DeviceLine(const DiscoveryReply &reply) {
    // Every text is escaped, not only the name: the line is for a terminal or a script, and
    // neither may see a field of a reply split or end it.
    std::string line = EscapeControls(reply.name);
    for (const std::string *text : {&reply.ip, &reply.port, &reply.status, &reply.mac}) {
        line += '\t';
        line += EscapeControls(*text);
    }
    return line;
}
