#include "HostChannel.h"

#include <utility>

namespace sim {

HostChannel::HostChannel(Peer &peer, bool pace) : peer_(peer), pace_(pace) {
    peer_.OnAttach(*this);
}

void HostChannel::SendToHost(const uint8_t *data, size_t count) {
    {
        std::lock_guard lock(mutex_);
        toHost_.PushBytes(data, count, SimClock::now());
    }
    wake_.Signal();
}

void HostChannel::SetModemLines(uint8_t lines) {
    {
        std::lock_guard lock(mutex_);
        if (lines == modemLines_) return;
        modemLines_ = lines;
        modemChanged_ = true;
    }
    wake_.Signal();
}

uint8_t HostChannel::ModemLines() const {
    std::lock_guard lock(mutex_);
    return modemLines_;
}

void HostChannel::Disconnect() {
    {
        std::lock_guard lock(mutex_);
        disconnectRequested_ = true;
    }
    wake_.Signal();
}

void HostChannel::FromHost(const uint8_t *data, size_t count, SimClock::time_point now) {
    std::lock_guard lock(mutex_);
    toPeer_.PushBytes(data, count, now);
}

void HostChannel::LineChange(const LineEvent &event) {
    std::lock_guard lock(mutex_);
    toPeer_.PushEvent(event, event.when);
}

void HostChannel::PurgeToPeer() {
    std::lock_guard lock(mutex_);
    toPeer_.Clear();
}

void HostChannel::PurgeToHost() {
    std::lock_guard lock(mutex_);
    toHost_.Clear();
}

ByteTime HostChannel::CurrentByteTime() const {
    return pace_ ? ByteTimeAt(delivered_.baudRate) : ByteTime::zero();
}

void HostChannel::DeliverDue(SimClock::time_point now) {
    std::vector<uint8_t> bytes;
    for (;;) {
        PacedStream::Item item;
        LineState line;
        {
            std::lock_guard lock(mutex_);
            if (!toPeer_.TakeDue(now, CurrentByteTime(), &item)) break;
            if (!item.isEvent) {
                bytes.push_back(item.byte);
                continue;
            }
            delivered_.Apply(item.event);
            line = delivered_;
        }
        // Bytes before a line change reach the peer before the change does.
        if (!bytes.empty()) {
            peer_.OnHostBytes(bytes.data(), bytes.size());
            bytes.clear();
        }
        peer_.OnLineEvent(item.event, line);
    }
    if (!bytes.empty()) peer_.OnHostBytes(bytes.data(), bytes.size());
}

void HostChannel::TakeForHost(SimClock::time_point now, size_t limit, std::vector<uint8_t> &out) {
    std::lock_guard lock(mutex_);
    PacedStream::Item item;
    for (size_t taken = 0; taken < limit && toHost_.TakeDue(now, CurrentByteTime(), &item); ++taken)
        out.push_back(item.byte);
}

std::optional<SimClock::time_point> HostChannel::NextDue() const {
    std::lock_guard lock(mutex_);
    std::optional<SimClock::time_point> next;
    for (const PacedStream *stream : {&toPeer_, &toHost_}) {
        auto due = stream->NextDue(CurrentByteTime());
        if (due && (!next || *due < *next)) next = due;
    }
    return next;
}

int HostChannel::PollUntilDue(platform::PollEntry *fds, unsigned count, int capMs) const {
    const auto now = SimClock::now();
    std::optional<std::chrono::nanoseconds> wait;
    if (const auto next = NextDue())
        wait = *next <= now ? std::chrono::nanoseconds(0) : *next - now;
    if (capMs >= 0 && (!wait || *wait > std::chrono::milliseconds(capMs)))
        wait = std::chrono::milliseconds(capMs);
    return platform::Poll(fds, count, wait ? *wait : std::chrono::nanoseconds(-1));
}

int HostChannel::MsUntilNextDue(SimClock::time_point now) const {
    const std::optional<SimClock::time_point> next = NextDue();
    if (!next) return -1;
    if (*next <= now) return 0;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - now);
    return int(std::min<int64_t>(wait.count(), 60'000));
}

bool HostChannel::TakeDisconnectRequest() {
    std::lock_guard lock(mutex_);
    return std::exchange(disconnectRequested_, false);
}

std::optional<uint8_t> HostChannel::TakeModemChange() {
    std::lock_guard lock(mutex_);
    if (!std::exchange(modemChanged_, false)) return std::nullopt;
    return modemLines_;
}

void HostChannel::HostConnected(bool connected) {
    {
        std::lock_guard lock(mutex_);
        // What was under way belongs to the connection that ended.
        toPeer_.Clear();
        toHost_.Clear();
        disconnectRequested_ = false;
    }
    peer_.OnHostConnection(connected);
}

LineState HostChannel::DeliveredLine() const {
    std::lock_guard lock(mutex_);
    return delivered_;
}

} // namespace sim
