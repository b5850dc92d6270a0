// Everything a front end shares: the two paced directions between host and peer, the modem
// lines the peer drives, and its request to drop the host. The peer talks to it as its HostLink
// from any thread; the front end's I/O thread moves what is due and sleeps until the next item
// falls due or WakeFd() says something new was queued.
#pragma once

#include "PacedStream.h"
#include "Peer.h"

#include "platform/Poll.h"

#include <mutex>
#include <optional>
#include <vector>

namespace sim {

class HostChannel final : public HostLink {
public:
    HostChannel(Peer &peer, bool pace);

    // HostLink, any thread.
    void SendToHost(const uint8_t *data, size_t count) override;
    void SetModemLines(uint8_t lines) override;
    uint8_t ModemLines() const override;
    void Disconnect() override;

    // The I/O thread's side.
    int WakeFd() const { return wake_.Get(); }
    void DrainWake() const { wake_.Drain(); }
    bool WakeReady() const { return wake_.Valid(); }
    void FromHost(const uint8_t *data, size_t count, SimClock::time_point now);
    void LineChange(const LineEvent &event);
    void PurgeToPeer();
    void PurgeToHost();
    // Hands the peer what is due now (outside any lock, so the peer may call back at once).
    void DeliverDue(SimClock::time_point now);
    // Appends the bytes due for the host, at most limit of them.
    void TakeForHost(SimClock::time_point now, size_t limit, std::vector<uint8_t> &out);
    // Milliseconds until the next item falls due (rounded up), -1 when nothing waits.
    int MsUntilNextDue(SimClock::time_point now) const;
    // Polls fds until one is ready or the next item falls due, to the microsecond: pacing at
    // 460800 baud moves a byte every 22 us, and a wait rounded to whole milliseconds would add up
    // to a millisecond to every frame. capMs (-1: none) bounds the wait. As platform::Poll returns.
    int PollUntilDue(platform::PollEntry *fds, unsigned count, int capMs) const;
    bool TakeDisconnectRequest();
    // The modem lines, when they changed since the last call.
    std::optional<uint8_t> TakeModemChange();
    void HostConnected(bool connected);
    LineState DeliveredLine() const;

private:
    ByteTime CurrentByteTime() const; // mutex_ held
    std::optional<SimClock::time_point> NextDue() const;

    Peer &peer_;
    const bool pace_;
    platform::WakeFd wake_;
    mutable std::mutex mutex_;
    PacedStream toPeer_;
    PacedStream toHost_;
    LineState delivered_; // as far as the peer has seen it; the pacing follows it
    uint8_t modemLines_ = 0;
    bool modemChanged_ = false;
    bool disconnectRequested_ = false;
};

} // namespace sim
