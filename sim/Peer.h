// The seam between corvix-sim's front ends (an RFC 2217 server or a pseudo-terminal) and what
// plays the board behind them. A front end delivers the host's bytes and line changes to one
// Peer, in the order the host made them; the peer answers through the HostLink it was attached to.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace sim {

using SimClock = std::chrono::steady_clock;

enum class LineEventKind { BaudRate, DataSize, Parity, StopSize, FlowControl, Dtr, Rts, Break };

// One change the host made, stamped when the front end received it. Values: the rate; data bits;
// the RFC 2217 parity, stop-size and flow-control codes; 1/0 for DTR, RTS and break.
struct LineEvent {
    LineEventKind kind = LineEventKind::BaudRate;
    uint32_t value = 0;
    SimClock::time_point when{};
};

// The line as the host has set it so far.
struct LineState {
    uint32_t baudRate = 9600;
    uint32_t dataSize = 8;
    uint32_t parity = 1;      // none
    uint32_t stopSize = 1;    // one
    uint32_t flowControl = 1; // none
    bool dtr = false;
    bool rts = false;
    bool breakOn = false;

    void Apply(const LineEvent &event);
};

// Modem-status bits the board drives towards the host (the Windows MS_* values).
constexpr uint8_t ModemCts = 0x10, ModemDsr = 0x20, ModemRing = 0x40, ModemCd = 0x80;

// What a peer may call, from any thread.
class HostLink {
public:
    virtual ~HostLink() = default;
    virtual void SendToHost(const uint8_t *data, size_t count) = 0;
    virtual void SetModemLines(uint8_t lines) = 0; // ignored where the front end has no lines
    virtual uint8_t ModemLines() const = 0;
    virtual void Disconnect() = 0; // drops the host's connection (a fault to inject)
};

// Called on the front end's I/O thread only, never two calls at once.
class Peer {
public:
    virtual ~Peer() = default;
    virtual void OnAttach(HostLink &link) = 0;
    virtual void OnHostBytes(const uint8_t *data, size_t count) = 0;
    virtual void OnLineEvent(const LineEvent &, const LineState &) {}
    virtual void OnHostConnection(bool /*connected*/) {}
};

} // namespace sim
