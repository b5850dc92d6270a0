#include "PacketPeer.h"

namespace sim {

namespace {

uint16_t RuleKey(uint8_t type, uint8_t code) {
    return uint16_t(type << 8 | (code & PacketPeer::CodeMask));
}

} // namespace

void PacketPeer::SetRule(const PacketRule &rule) {
    std::lock_guard lock(mutex_);
    rules_[RuleKey(rule.type, rule.code)] = RuleState{rule, 0};
}

void PacketPeer::ClearRules() {
    std::lock_guard lock(mutex_);
    rules_.clear();
}

void PacketPeer::SetSilent(bool silent) {
    std::lock_guard lock(mutex_);
    silent_ = silent;
}

std::vector<ReceivedFrame> PacketPeer::Received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

size_t PacketPeer::BadFrames() const {
    std::lock_guard lock(mutex_);
    return bad_;
}

bool PacketPeer::WaitForFrames(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return received_.size() >= count; });
}

void PacketPeer::OnHostConnection(bool) {
    // A new host starts with a clean line: half a frame from the last one means nothing.
    decoder_ = FrameDecoder();
}

void PacketPeer::OnHostBytes(const uint8_t *data, size_t count) {
    std::vector<Frame> frames;
    const size_t badBefore = decoder_.BadFrames();
    decoder_.Feed(data, count, frames);
    {
        std::lock_guard lock(mutex_);
        bad_ += decoder_.BadFrames() - badBefore;
    }
    for (const Frame &frame : frames) {
        Action action = Decide(frame);
        arrived_.notify_all();
        if (!action.bytes.empty() && link_)
            link_->SendToHost(action.bytes.data(), action.bytes.size());
        if (action.close && link_) {
            link_->Disconnect();
            return; // nothing more is answered on a line being dropped
        }
    }
}

PacketPeer::Action PacketPeer::Decide(const Frame &request) {
    std::lock_guard lock(mutex_);
    received_.push_back({request, SimClock::now()});
    Action action;
    // Replies from the host (ACK/NAK bits set) and unknown requests are only recorded.
    if (silent_ || (request.subtype & (AckBit | NakBit))) return action;
    auto found = rules_.find(RuleKey(request.type, request.subtype));
    if (found == rules_.end()) return action;
    RuleState &state = found->second;
    const PacketRule &rule = state.rule;
    ++state.matched;
    const bool faultNow = rule.fault != PacketFault::None &&
                          (rule.faultOnNth == 0 || rule.faultOnNth == state.matched);
    if (faultNow && rule.fault == PacketFault::Close) {
        action.close = true;
        return action;
    }
    if (rule.reply == ReplyKind::None || (faultNow && rule.fault == PacketFault::Drop))
        return action;
    const uint8_t code = request.subtype & CodeMask;
    Frame reply{request.type, uint8_t(code | (rule.reply == ReplyKind::Ack ? AckBit : NakBit)),
                rule.payload};
    std::vector<uint8_t> built = BuildFrame(reply);
    if (faultNow && rule.fault == PacketFault::CorruptHeaderChecksum) built[7] ^= 0x01;
    if (faultNow && rule.fault == PacketFault::CorruptPacketChecksum)
        built[built.size() - 2] ^= 0x01;
    action.bytes = StuffFrame(built);
    return action;
}

} // namespace sim
