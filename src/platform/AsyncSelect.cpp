#include "platform/AsyncSelect.h"

#include <system_error>

namespace platform {

namespace {

uint16_t ErrorWord(int error) { return static_cast<uint16_t>(error > 0xFFFF ? 0xFFFF : error); }

} // namespace

bool AsyncSelectWatcher::Start() {
    if (!wake_.Valid()) return false;
    try {
        thread_ = std::thread(&AsyncSelectWatcher::Run, this);
    } catch (const std::system_error &) {
        return false;
    }
    return true;
}

void AsyncSelectWatcher::Stop() {
    if (!thread_.joinable()) return;
    stop_ = true;
    wake_.Signal();
    thread_.join();
}

void AsyncSelectWatcher::ConnectStarted() {
    connectPending_ = true;
    wake_.Signal();
}

void AsyncSelectWatcher::ReadTaken() {
    if (readArmed_.exchange(true)) return;
    wake_.Signal();
}

void AsyncSelectWatcher::Post(uint16_t event, int error) {
    if (events_ & event)
        PostMessage(window_, msg_, static_cast<WPARAM>(fd_),
                    MakeSelectLParam(event, ErrorWord(error)));
}

void AsyncSelectWatcher::Run() {
    bool closed = false;
    while (!stop_) {
        short want = 0;
        const bool connecting = connectPending_;
        if (connecting)
            want |= PollOut;
        else if (!closed && readArmed_ && (events_ & (FD_READ | FD_CLOSE)))
            want |= PollIn;
        // Nothing to watch on the socket: leave it out, or a hang-up would spin the loop.
        PollEntry fds[2] = {{want ? fd_ : -1, want, 0}, {wake_.Get(), PollIn, 0}};
        if (Poll(fds, 2, -1) < 0)
            return; // nothing more can be watched; the owner still ends us through Stop
        if (fds[1].revents) wake_.Drain();
        if (stop_) return;
        const short got = fds[0].revents;
        if (got == 0) continue;
        if (connecting) {
            connectPending_ = false;
            Post(FD_CONNECT, SocketPendingError(fd_));
            continue;
        }
        closed = CheckReadable();
    }
}

// Tells FD_READ from FD_CLOSE by peeking; true when the connection is over.
bool AsyncSelectWatcher::CheckReadable() {
    int error = 0;
    switch (PeekSocket(fd_, &error)) {
    case PeekResult::Data:
        readArmed_ = false;
        Post(FD_READ, 0);
        return false;
    case PeekResult::Nothing: return false;
    case PeekResult::Closed: Post(FD_CLOSE, error); return true;
    }
    return false;
}

} // namespace platform
