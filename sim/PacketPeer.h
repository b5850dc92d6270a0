// A scriptable board that speaks packets: every frame from the host is recorded, and a rule
// table says what to answer for each type and code (ACK 0x80|code or NAK 0x40|code with a
// payload), and which faults to inject: drop the reply, corrupt a checksum, or drop the host.
// Rules and the record may be read and changed from any thread while the peer serves.
#pragma once

#include "FrameCodec.h"
#include "Peer.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <vector>

namespace sim {

enum class ReplyKind { Ack, Nak, None };
enum class PacketFault { None, Drop, CorruptHeaderChecksum, CorruptPacketChecksum, Close };

struct PacketRule {
    uint8_t type = 0;
    uint8_t code = 0; // the request's code, 0-63
    ReplyKind reply = ReplyKind::Ack;
    std::vector<uint8_t> payload;
    PacketFault fault = PacketFault::None;
    unsigned faultOnNth =
        0; // the fault hits only the n-th matching request (1-based); 0: every one
};

struct ReceivedFrame {
    Frame frame;
    SimClock::time_point when;
};

class PacketPeer final : public Peer {
public:
    static constexpr uint8_t AckBit = 0x80, NakBit = 0x40, CodeMask = 0x3F;

    // Replaces the rule for the rule's type and code.
    void SetRule(const PacketRule &rule);
    void ClearRules();
    // Silent: record frames but answer nothing (a board that has gone quiet).
    void SetSilent(bool silent);

    std::vector<ReceivedFrame> Received() const;
    size_t BadFrames() const;
    // Waits (bounded) until count frames have arrived.
    bool WaitForFrames(size_t count, std::chrono::milliseconds timeout) const;

    void OnAttach(HostLink &link) override { link_ = &link; }
    void OnHostBytes(const uint8_t *data, size_t count) override;
    void OnHostConnection(bool connected) override;

private:
    struct RuleState {
        PacketRule rule;
        unsigned matched = 0;
    };
    // What to send for one request, decided under the lock and sent outside it.
    struct Action {
        std::vector<uint8_t> bytes;
        bool close = false;
    };
    Action Decide(const Frame &request);

    HostLink *link_ = nullptr;
    FrameDecoder decoder_; // I/O thread only

    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::map<uint16_t, RuleState> rules_; // by type << 8 | code
    bool silent_ = false;
    std::vector<ReceivedFrame> received_;
    size_t bad_ = 0;
};

} // namespace sim
