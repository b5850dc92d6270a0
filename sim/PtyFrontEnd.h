// corvix-sim's pseudo-terminal front end: the host opens the slave device (SlavePath()) like a
// serial port, and the simulator serves the master side. A pseudo-terminal has no modem lines,
// so the peer's DTR/RTS/DSR are not carried; the line rate is read from the terminal settings
// the host applied (checked whenever bytes move and every PollMs otherwise), so the peer still
// learns rate changes and pacing follows them.
#pragma once

#include "HostChannel.h"
#include "Peer.h"

#include "platform/posix/SerialFd.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sim {

struct PtyFrontEndOptions {
    bool pace = false;
};

class PtyFrontEnd {
public:
    static constexpr int PollMs = 100;

    PtyFrontEnd(Peer &peer, PtyFrontEndOptions options = {});
    ~PtyFrontEnd();
    PtyFrontEnd(const PtyFrontEnd &) = delete;
    PtyFrontEnd &operator=(const PtyFrontEnd &) = delete;

    bool Start(std::string *error = nullptr);
    void Stop();

    std::string SlavePath() const { return slavePath_; }
    HostLink &Link() { return channel_; }
    LineState CurrentLine() const;
    std::vector<LineEvent> LineEvents() const;

private:
    void Loop();
    void CheckLineRate();
    bool ReadMaster();

    HostChannel channel_;
    platform::UniqueFd master_;
    // Held open so that the master never sees a hang-up between the host's opens.
    platform::UniqueFd slaveKeeper_;
    std::string slavePath_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::vector<uint8_t> out_; // I/O thread only

    mutable std::mutex mutex_;
    LineState line_;
    std::vector<LineEvent> events_;
};

} // namespace sim
