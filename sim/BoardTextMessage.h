// The board's text message on the wire, and the moment it is due. A board tells its host
// something of its own ("Flash voltage low") with an unsolicited SYS request of code 63: bytes
// 0-1 zero, bytes 2-3 the length of the text with its terminating zero (LE16), the text and the
// zero from byte 4. The board and the link device each keep one trigger and show it every reply
// they put on the line; it is restarted with each new pilot BIOS, like the pilot BIOS's counters.
#pragma once

#include "BoardOptions.h"
#include "FrameCodec.h"
#include "Transcript.h"

#include <optional>

namespace sim {

// The message packet. A text longer than MaxBoardTextLength (only possible when set in-process)
// is cut there, so that the stated length always matches what follows it.
Frame BoardTextPacket(const std::string &text);

class BoardTextTrigger {
public:
    explicit BoardTextTrigger(BoardTextMessage message) : message_(std::move(message)) {}

    // A new pilot BIOS counts its acknowledged writes from zero again.
    void Restart() { acknowledgedWrites_ = 0; }

    // For a reply that has just gone out intact: the message to send right after it, when the
    // reply is the SYS/WRITE acknowledgement the message waits for. Once per pilot BIOS.
    std::optional<Frame> AfterReply(const Frame &reply);

    // What the transcript records when the message goes out.
    TranscriptEvent SentEvent() const;

private:
    const BoardTextMessage message_;
    unsigned acknowledgedWrites_ = 0;
};

} // namespace sim
