// Bytes (and the line changes between them) on their way across a simulated wire. Unpaced, an
// item is due as soon as it is pushed; paced, each byte occupies the wire for its byte time
// (10 bits at the current rate) after the previous one, as a UART would send it.
#pragma once

#include "Peer.h"

#include <deque>
#include <optional>

namespace sim {

using ByteTime = std::chrono::nanoseconds;

// Ten bits (start, eight data, stop) at the given rate; zero (no pacing) for rate 0.
ByteTime ByteTimeAt(uint32_t baudRate);

class PacedStream {
public:
    struct Item {
        bool isEvent = false;
        uint8_t byte = 0;
        LineEvent event{};
        SimClock::time_point arrived{};
    };

    void PushBytes(const uint8_t *data, size_t count, SimClock::time_point now);
    void PushEvent(const LineEvent &event, SimClock::time_point now);
    // Takes the first item if it is due at now, given the byte time of the line.
    bool TakeDue(SimClock::time_point now, ByteTime byteTime, Item *item);
    // When the first item falls due; none when empty.
    std::optional<SimClock::time_point> NextDue(ByteTime byteTime) const;
    void Clear();
    bool Empty() const { return items_.empty(); }
    size_t Size() const { return items_.size(); }

private:
    SimClock::time_point DueAt(const Item &item, ByteTime byteTime) const;

    std::deque<Item> items_;
    SimClock::time_point wireFreeAt_{};
};

} // namespace sim
