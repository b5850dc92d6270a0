#include "OsBoardPeer.h"

namespace sim {

const char *OsStateName(OsState state) {
    switch (state) {
    case OsState::Asleep: return "asleep";
    case OsState::Reset: return "reset";
    case OsState::Bootstrap: return "bootstrap";
    case OsState::Running: return "running";
    }
    return "?";
}

OsBoardPeer::OsBoardPeer(OsSerialOptions serial, OsBoardOptions board)
    : serial_(serial), board_(board),
      state_(serial_.needsWake ? OsState::Asleep : OsState::Running) {
    board_.Record(TranscriptEvent("os-serial")
                      .Add("state", OsStateName(state_))
                      .Add("modemLines", serial_.hasModemLines)
                      .Add("rate", int64_t(serial_.rate)));
}

void OsBoardPeer::Enter(OsState state, const char *why) {
    if (state == state_) return;
    state_ = state;
    // A frame cut by a reset means nothing to the program that runs afterwards.
    decoder_ = FrameDecoder();
    wake_.Reset();
    board_.Record(TranscriptEvent("state").Add("state", OsStateName(state)).Add("why", why));
}

OsState OsBoardPeer::State() const {
    std::lock_guard lock(mutex_);
    return state_;
}

bool OsBoardPeer::WaitForState(OsState state, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return state_ == state; });
}

void OsBoardPeer::OnLineEvent(const LineEvent &event, const LineState &line) {
    {
        std::lock_guard lock(mutex_);
        hostLine_ = line;
        if (event.kind == LineEventKind::BaudRate) garbling_ = false;
        if (event.kind == LineEventKind::Dtr) {
            // DTR holds the processor in reset; released, it waits in its bootstrap ROM for the
            // end triplet that starts what the flash holds.
            if (event.value)
                Enter(OsState::Reset, "dtr on");
            else if (state_ == OsState::Reset)
                Enter(OsState::Bootstrap, "dtr off");
        }
    }
    changed_.notify_all();
}

void OsBoardPeer::OnHostConnection(bool connected) {
    {
        std::lock_guard lock(mutex_);
        decoder_ = FrameDecoder();
        garbling_ = false;
    }
    board_.Record(TranscriptEvent("host").Add("connected", connected));
}

void OsBoardPeer::OnHostBytes(const uint8_t *data, size_t count) {
    std::vector<uint8_t> out;
    bool close = false;
    {
        std::lock_guard lock(mutex_);
        for (size_t i = 0; i < count; ++i) {
            const bool wakes = state_ == OsState::Bootstrap ||
                               (state_ == OsState::Asleep && !serial_.hasModemLines);
            if (wakes) {
                if (wake_.Take(data[i])) Enter(OsState::Running, "end triplet");
                continue;
            }
            if (state_ != OsState::Running) continue; // nothing on the board listens
            // Bytes cannot stop a running system, so the rest goes to the packet service whole.
            out = TakePackets(data + i, count - i, close);
            break;
        }
    }
    changed_.notify_all();
    if (link_ && !out.empty()) link_->SendToHost(out.data(), out.size());
    if (link_ && close) link_->Disconnect();
}

std::vector<uint8_t> OsBoardPeer::TakePackets(const uint8_t *data, size_t count, bool &close) {
    if (hostLine_.baudRate != serial_.rate) {
        if (!garbling_) {
            garbling_ = true;
            decoder_ = FrameDecoder(); // whatever frame these bytes cut into is lost with them
            board_.Record(TranscriptEvent("garbled-input")
                              .Add("hostRate", int64_t(hostLine_.baudRate))
                              .Add("boardRate", int64_t(serial_.rate)));
        }
        return {};
    }
    garbling_ = false;
    return board_.TakeStream(decoder_, data, count, close);
}

} // namespace sim
