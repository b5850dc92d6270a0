#include "BoardTextMessage.h"

#include "BoardPilotBios.h"
#include "WireBytes.h"

#include <algorithm>

namespace sim {

Frame BoardTextPacket(const std::string &text) {
    const size_t length = std::min(text.size(), MaxBoardTextLength);
    Frame packet{0, sys::BoardText, {0, 0}};
    PutLe16(packet.payload, uint16_t(length + 1));
    packet.payload.insert(packet.payload.end(), text.begin(), text.begin() + long(length));
    packet.payload.push_back(0);
    return packet;
}

std::optional<Frame> BoardTextTrigger::AfterReply(const Frame &reply) {
    const bool writeAcknowledged = reply.type == 0 &&
                                   (reply.subtype & sys::CodeMask) == sys::Write &&
                                   (reply.subtype & sys::AckBit) != 0;
    // The count stops at the n-th, so the message goes out once per pilot BIOS.
    if (!writeAcknowledged || acknowledgedWrites_ >= message_.afterWrites) return std::nullopt;
    if (++acknowledgedWrites_ != message_.afterWrites) return std::nullopt;
    return BoardTextPacket(message_.text);
}

TranscriptEvent BoardTextTrigger::SentEvent() const {
    TranscriptEvent event("text-message");
    event.Add("afterWrites", int64_t(message_.afterWrites)).Add("text", message_.text);
    return event;
}

} // namespace sim
