// A board already running CorvixSys behind a serial front end (RFC 2217 or a pseudo-terminal):
// packets in the serial framing at the operating system's rate, served by an OsBoard. Bytes
// that arrive while the host's rate differs from the board's are garbage and are dropped, with
// any frame they cut into.
//
// With needsWake the operating system does not answer at first (a user program has the board)
// and is woken the way a host restarts a board: a DTR reset pulse, then the end triplet
// 80 24 80 as raw bytes, at whatever rate the host set for them. A pseudo-terminal has no DTR
// line, so there the end triplet alone wakes it. A DTR pulse always stops the operating system
// until the end triplet follows, whether it needed waking at first or not.
//
//   Asleep --DTR on--> Reset --DTR off--> Bootstrap --80 24 80--> Running
//   Running --DTR on--> Reset
//   without modem lines: Asleep --80 24 80--> Running
//
// Thread safety: the front end calls the Peer methods from its I/O thread; the accessors may be
// called from any thread.
#pragma once

#include "BoardBootstrap.h"
#include "OsBoard.h"
#include "Peer.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace sim {

struct OsSerialOptions {
    bool hasModemLines = true;
    bool needsWake = false;
    uint32_t rate = 115200; // the rate the operating system talks at
};

enum class OsState { Asleep, Reset, Bootstrap, Running };

const char *OsStateName(OsState state);

class OsBoardPeer final : public Peer {
public:
    explicit OsBoardPeer(OsSerialOptions serial = {}, OsBoardOptions board = {});

    void OnAttach(HostLink &link) override { link_ = &link; }
    void OnHostBytes(const uint8_t *data, size_t count) override;
    void OnLineEvent(const LineEvent &event, const LineState &line) override;
    void OnHostConnection(bool connected) override;

    OsBoard &Board() { return board_; }
    const OsBoard &Board() const { return board_; }
    OsState State() const;
    bool WaitForState(OsState state, std::chrono::milliseconds timeout) const;

private:
    void Enter(OsState state, const char *why); // mutex_ held
    std::vector<uint8_t> TakePackets(const uint8_t *data, size_t count, bool &close);

    const OsSerialOptions serial_;
    OsBoard board_;
    HostLink *link_ = nullptr;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    OsState state_;
    LineState hostLine_;
    TripletScanner wake_{EndTriplet};
    FrameDecoder decoder_;
    bool garbling_ = false;
};

} // namespace sim
