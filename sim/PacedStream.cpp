#include "PacedStream.h"

#include <algorithm>

namespace sim {

ByteTime ByteTimeAt(uint32_t baudRate) {
    if (baudRate == 0) return ByteTime::zero();
    return ByteTime(10'000'000'000LL / baudRate);
}

void PacedStream::PushBytes(const uint8_t *data, size_t count, SimClock::time_point now) {
    for (size_t i = 0; i < count; ++i) {
        Item item;
        item.byte = data[i];
        item.arrived = now;
        items_.push_back(item);
    }
}

void PacedStream::PushEvent(const LineEvent &event, SimClock::time_point now) {
    Item item;
    item.isEvent = true;
    item.event = event;
    item.arrived = now;
    items_.push_back(item);
}

SimClock::time_point PacedStream::DueAt(const Item &item, ByteTime byteTime) const {
    if (item.isEvent || byteTime == ByteTime::zero()) return item.arrived;
    // The wire cannot start on a byte before it arrived, nor before the previous byte is out.
    return std::max(wireFreeAt_, item.arrived) + byteTime;
}

bool PacedStream::TakeDue(SimClock::time_point now, ByteTime byteTime, Item *item) {
    if (items_.empty()) return false;
    const SimClock::time_point due = DueAt(items_.front(), byteTime);
    if (due > now) return false;
    *item = items_.front();
    items_.pop_front();
    if (!item->isEvent) wireFreeAt_ = due;
    return true;
}

std::optional<SimClock::time_point> PacedStream::NextDue(ByteTime byteTime) const {
    if (items_.empty()) return std::nullopt;
    return DueAt(items_.front(), byteTime);
}

void PacedStream::Clear() { items_.clear(); }

} // namespace sim
