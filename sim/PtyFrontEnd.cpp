#include "PtyFrontEnd.h"

#include "platform/posix/Termios2.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace sim {

namespace {

constexpr size_t MaxPendingOut = size_t{64} * 1024;

} // namespace

PtyFrontEnd::PtyFrontEnd(Peer &peer, PtyFrontEndOptions options) : channel_(peer, options.pace) {}

PtyFrontEnd::~PtyFrontEnd() { Stop(); }

bool PtyFrontEnd::Start(std::string *error) {
    auto fail = [&](const char *what) {
        if (error) *error = std::string(what) + ": " + std::strerror(errno);
        master_.Reset();
        slaveKeeper_.Reset();
        return false;
    };
    if (thread_.joinable()) return true;
    if (!channel_.WakeReady()) return fail("eventfd");
    master_.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!master_.Valid()) return fail("posix_openpt");
    if (::grantpt(master_.Get()) != 0 || ::unlockpt(master_.Get()) != 0) return fail("unlockpt");
    char name[128];
    if (::ptsname_r(master_.Get(), name, sizeof name) != 0) return fail("ptsname");
    slavePath_ = name;
    slaveKeeper_.Reset(::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!slaveKeeper_.Valid()) return fail("open slave");
    // Raw from the start, so that nothing the board sends is translated before the host
    // configures the port itself.
    platform::Termios2State state;
    if (platform::ReadTermios2(master_.Get(), &state) != 0) return fail("termios");
    platform::Termios2Settings raw;
    raw.baudRate = state.outputBaud ? state.outputBaud : 9600;
    if (int code = platform::ApplyTermios2(master_.Get(), raw)) {
        errno = code;
        return fail("termios");
    }
    {
        std::lock_guard lock(mutex_);
        line_.baudRate = raw.baudRate;
    }
    // The host's side exists from now on; the peer hears of it before the loop starts.
    channel_.HostConnected(true);
    channel_.LineChange({LineEventKind::BaudRate, raw.baudRate, SimClock::now()});
    stopping_ = false;
    thread_ = std::thread([this] { Loop(); });
    return true;
}

void PtyFrontEnd::Stop() {
    if (!thread_.joinable()) return;
    stopping_ = true;
    channel_.Disconnect(); // wakes the loop
    thread_.join();
    master_.Reset();
    slaveKeeper_.Reset();
}

void PtyFrontEnd::Loop() {
    while (!stopping_ && master_.Valid()) {
        platform::PollEntry fds[2] = {
            {master_.Get(), short(platform::PollIn | (out_.empty() ? 0 : platform::PollOut)), 0},
            {channel_.WakeFd(), platform::PollIn, 0}};
        if (channel_.PollUntilDue(fds, 2, PollMs) < 0) break;
        channel_.DrainWake();
        if (stopping_) break;
        CheckLineRate();
        if ((fds[0].revents & platform::PollIn) && !ReadMaster()) break;
        channel_.DeliverDue(SimClock::now());
        if (channel_.TakeDisconnectRequest()) break; // closing the master hangs the host's side up
        (void)channel_.TakeModemChange();            // no modem lines on a pseudo-terminal
        const size_t room = out_.size() < MaxPendingOut ? MaxPendingOut - out_.size() : 0;
        channel_.TakeForHost(SimClock::now(), room, out_);
        size_t sent = 0;
        while (sent < out_.size()) {
            ssize_t n = ::write(master_.Get(), out_.data() + sent, out_.size() - sent);
            if (n > 0)
                sent += size_t(n);
            else if (!(n < 0 && errno == EINTR))
                break; // full (EAGAIN): the rest waits for POLLOUT
        }
        out_.erase(out_.begin(), out_.begin() + long(sent));
    }
    if (!stopping_) {
        master_.Reset();
        slaveKeeper_.Reset();
    }
    channel_.HostConnected(false);
}

bool PtyFrontEnd::ReadMaster() {
    uint8_t chunk[4096];
    ssize_t n = ::read(master_.Get(), chunk, sizeof chunk);
    if (n > 0) {
        channel_.FromHost(chunk, size_t(n), SimClock::now());
        return true;
    }
    return n < 0 && (errno == EAGAIN || errno == EINTR);
}

void PtyFrontEnd::CheckLineRate() {
    platform::Termios2State state;
    if (platform::ReadTermios2(master_.Get(), &state) != 0) return;
    LineEvent event{LineEventKind::BaudRate, state.outputBaud, SimClock::now()};
    {
        std::lock_guard lock(mutex_);
        if (state.outputBaud == 0 || state.outputBaud == line_.baudRate) return;
        line_.Apply(event);
        events_.push_back(event);
    }
    channel_.LineChange(event);
}

LineState PtyFrontEnd::CurrentLine() const {
    std::lock_guard lock(mutex_);
    return line_;
}

std::vector<LineEvent> PtyFrontEnd::LineEvents() const {
    std::lock_guard lock(mutex_);
    return events_;
}

} // namespace sim
