#include "comm/TConnection.h"

#include "comm/CommLog.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <utility>
#include <vector>

using namespace platform;

namespace {

// What all connections share: the log hooks and the diagnostic progress byte.
struct ProcessWide {
    std::atomic<uint8_t> readerProgress{0};
    std::atomic<LogHeadingHook> sendHeading{nullptr};
    std::atomic<LogHeadingHook> receiveHeading{nullptr};
    std::atomic<LogDataHook> data{nullptr};
    std::atomic<LogPortEventHook> portEvent{nullptr};
    std::atomic<LogHeadingHook> portClosed{nullptr};
    std::atomic<LogHeadingHook> timeStamp{nullptr};
    std::atomic<bool> logRawWrites{false};
    std::atomic<bool> logRawReads{false};
    std::mutex logEntryMutex; // one log entry at a time, whichever thread writes it
};

ProcessWide &Shared() {
    static ProcessWide shared;
    return shared;
}

// The hook is a plain window procedure: it finds its connection through the window in this
// table. A handful of entries at most (one per hooked window), so a flat list serves.
struct HookedWindows {
    std::mutex mutex;
    std::vector<std::pair<HWND, TConnection *>> entries;

    void Add(HWND window, TConnection *connection) {
        std::lock_guard lock(mutex);
        for (auto &entry : entries) {
            if (entry.first == window) {
                entry.second = connection;
                return;
            }
        }
        entries.emplace_back(window, connection);
    }
    void Remove(HWND window, const TConnection *connection) {
        std::lock_guard lock(mutex);
        std::erase_if(entries, [&](const auto &entry) {
            return entry.first == window && entry.second == connection;
        });
    }
    TConnection *Find(HWND window) {
        std::lock_guard lock(mutex);
        for (const auto &entry : entries) {
            if (entry.first == window) return entry.second;
        }
        return nullptr;
    }
};

HookedWindows &Hooked() {
    static HookedWindows *const hooked = new HookedWindows; // hooks may run during exit
    return *hooked;
}

// Answers every message with 0 while a connection closes: a packet a stopping reader still hands
// over must not reach its handler, which belongs to a connection the engine is done with.
LRESULT DrainProc(HWND, UINT, WPARAM, LPARAM) { return 0; }

// Which connection the calling thread reads for, if it is a reader thread.
thread_local const TConnection *readerOf = nullptr;

// How a reader thread leaves ServiceReceive: unwound to ReaderMain, never seen by anyone else.
struct ReaderExit {
    int32_t code;
};

void CallHook(const std::atomic<LogHeadingHook> &hook) {
    if (LogHeadingHook fn = hook.load()) fn();
}

} // namespace

TConnection::TConnection(HWND window) : window_(window) {
    // The first two header bytes never change.
    sendHeader_[0] = packet::Flag;
    sendHeader_[1] = packet::FrameMarker;
}

TConnection::~TConnection() {
    // A kind that forgot to stop its reader would leave it running against a destroyed kind;
    // the kinds stop it in their destructors, so here only a finished thread is left to join.
    if (reader_.joinable()) {
        stop_ = true;
        WaitForReaderEnd();
        reader_.join();
    }
    UnhookWindow();
}

void TConnection::SetSettings(const CommOptions &options) {
    if (&options == &settings_) return;
    // Whole-record copy: the text fields are fixed arrays, so nothing can run past their end.
    settings_ = options;
}

// ---- process-wide data and the log hooks ----

void TConnection::SetLogHooks(LogHeadingHook sendHeading, LogHeadingHook receiveHeading,
                              LogDataHook data, LogPortEventHook portEvent,
                              LogHeadingHook portClosed, LogHeadingHook timeStamp,
                              bool logRawWrites, bool logRawReads) {
    ProcessWide &s = Shared();
    s.sendHeading = sendHeading;
    s.receiveHeading = receiveHeading;
    s.data = data;
    s.portEvent = portEvent;
    s.portClosed = portClosed;
    s.timeStamp = timeStamp;
    s.logRawWrites = logRawWrites;
    s.logRawReads = logRawReads;
}

uint8_t TConnection::ReaderProgress() { return Shared().readerProgress; }
void TConnection::SetReaderProgress(uint8_t step) { Shared().readerProgress = step; }

bool TConnection::LogRawWrites() { return Shared().logRawWrites; }
bool TConnection::LogRawReads() { return Shared().logRawReads; }

void TConnection::LogTraffic(LogHeading heading, const uint8_t *bytes, uint32_t count) const {
    ProcessWide &shared = Shared();
    const std::lock_guard entry(shared.logEntryMutex);
    CallHook(shared.timeStamp);
    if (heading == LogHeading::Send) CallHook(shared.sendHeading);
    if (heading == LogHeading::Receive) CallHook(shared.receiveHeading);
    if (LogDataHook fn = shared.data.load()) {
        const commlog::ScopedLogCaller caller({Mode(), StuffsFrames()});
        fn(bytes, count);
    }
}

void TConnection::LogPortEvent(const SerialSettings *settings, int32_t port, bool opened) {
    ProcessWide &shared = Shared();
    const std::lock_guard entry(shared.logEntryMutex);
    CallHook(shared.timeStamp);
    if (LogPortEventHook fn = shared.portEvent.load())
        fn(settings, static_cast<uint32_t>(sizeof(SerialSettings)), port, opened ? 1 : 0);
}

void TConnection::LogPortClosed() {
    ProcessWide &shared = Shared();
    const std::lock_guard entry(shared.logEntryMutex);
    CallHook(shared.timeStamp);
    CallHook(shared.portClosed);
}

// ---- the window hook ----

LRESULT TConnection::HookProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    TConnection *self = Hooked().Find(hwnd);
    if (self == nullptr) return 0;
    switch (msg) {
    case WM_QUERYENDSESSION:
    case WM_QUIT: self->closing_ = true; break;
    case UM_PACKET:
        self->DeliverBatch(*reinterpret_cast<const PacketBatch *>(lParam));
        // A thread busy sending a window of packets takes none of its posted messages meanwhile:
        // one wake-up waiting is enough, rather than one per batch.
        PostMessageUnlessPending(hwnd, UM_WAKE, 0, 0);
        return 0;
    case UM_PACKET_COPIED: {
        auto *entry = reinterpret_cast<HandlerEntry *>(lParam);
        entry->arrived = true;
        PostMessageUnlessPending(hwnd, UM_WAKE, 0, 0);
        return 0;
    }
    case UM_WAKE:
    case UM_READER_ENDED: return 0; // only there to end a wait, which looks at its own conditions
    default: break;
    }
    WNDPROC saved = self->savedProc_.load();
    return saved ? CallWindowProc(saved, hwnd, msg, wParam, lParam) : 0;
}

void TConnection::DeliverBatch(const PacketBatch &batch) {
    for (const PacketBatch::Packet &packet : batch) {
        // A released reader (a Close from a handler, a destroyed window) goes on parsing into
        // the batch: what is left of it is no longer ours to deliver.
        if ((InSendMessageEx() & ISMEX_REPLIED) != 0) return;
        HandlerEntry &entry = *packet.entry;
        entry.payload = packet.payload;
        entry.length = packet.length;
        try {
            if (entry.handler) entry.handler(packet.payload, packet.length, entry.context);
        } catch (...) {
            // A failing handler must not stop the wait that delivered its packet: the packet
            // still counts as arrived and the exception goes no further than this packet.
        }
        entry.arrived = true;
    }
}

void TConnection::HookWindow() {
    WNDPROC current = GetWindowProc(window_);
    if (!current) throw xConnectionErr(ConnCode::WindowProcUnreadable);
    // Hooked already (packet, raw, packet): keep what was saved at the first hooking, so the
    // saved procedure is never the hook itself.
    if (current != &TConnection::HookProc) savedProc_ = current;
    Hooked().Add(window_, this);
    if (current != &TConnection::HookProc) SetWindowProc(window_, &TConnection::HookProc);
    hooked_ = true;
}

void TConnection::UnhookWindow() {
    if (!hooked_) return;
    hooked_ = false;
    if (GetWindowProc(window_) == &TConnection::HookProc && Hooked().Find(window_) == this) {
        if (WNDPROC saved = savedProc_.load()) SetWindowProc(window_, saved);
    }
    Hooked().Remove(window_, this);
}

// ---- the one wait ----

int32_t TConnection::ReaderLostCode() const {
    const int32_t code = readerExitCode_;
    return code != ConnCode::ReaderStopped ? code : ConnCode::PeerClosed;
}

xConnectionErr TConnection::ReaderLostError() const {
    const int32_t code = ReaderLostCode();
    if (code == ConnCode::PeerClosed)
        return {code, AboutTarget("the other end closed the connection")};
    return {code, AboutTarget("reading from the connection failed; is the cable or adapter still "
                              "connected?")};
}

std::string TConnection::AboutTarget(const std::string &text) const {
    const std::string target = TargetName();
    return target.empty() ? text : target + ": " + text;
}

WaitEnd TConnection::Wait(WaitSpec spec, CallableRef<bool()> condition,
                          CallableRef<bool(const MSG &)> intercept) {
    spec.cancel = cancel_;
    if (ReaderStarted()) spec.readerEnded = &readerLost_;
    switch (PumpUntil(spec, condition, intercept)) {
    case WaitEnd::Cancelled: throw xConnectionErr(ConnCode::Cancelled);
    case WaitEnd::ReaderEnded: throw ReaderLostError();
    case WaitEnd::Quit: throw xConnectionErr(ConnCode::QuitDuringWait);
    case WaitEnd::Deadline: return WaitEnd::Deadline;
    default: return WaitEnd::Condition;
    }
}

void TConnection::RaiseIfStopped() const {
    if (cancel_->IsCancelled()) throw xConnectionErr(ConnCode::Cancelled);
    if (ReaderStarted() && readerLost_) throw ReaderLostError();
}

void TConnection::ShutDownReader() {
    closing_ = true;
    if (!ReaderStarted()) return;
    stop_ = true;
    WakeReader();
    const WNDPROC previous = SetWindowProc(window_, &DrainProc);
    RemoveMessages(window_, FirstConnectionMessage, LastConnectionMessage);
    // A reader blocked in a message this thread is handling right now is released here.
    if (InSendMessage()) ReplyMessage(0);
    StopReader();
    if (previous) SetWindowProc(window_, previous);
}

// ---- the reader thread ----

void TConnection::StartReader() {
    stop_ = false;
    readerLost_ = false;
    SetReaderProgress(0);
    readerEnded_.Reset();
    readerGo_.Reset();
    readerExitCode_ = 0;
    parserState_ = ParserState::Hunt;
    batch_.Clear(); // what a stopped reader left queued belongs to no one
    HookWindow();
    // The thread waits at readerGo_ until the hook is in place (created "suspended"). Priority:
    // the reader spends its time blocked on the port, so it keeps the default scheduling; a
    // real-time class would need privileges a desktop user does not have.
    readerRunning_ = true;
    try {
        reader_ = std::thread(&TConnection::ReaderMain, this);
    } catch (const std::system_error &) {
        readerRunning_ = false;
        throw xConnectionErr(ConnCode::ReaderCreateFailed);
    }
    readerGo_.Set();
}

void TConnection::ReaderMain() {
    readerGo_.Wait();
    readerOf = this;
    int32_t code = ConnCode::ReaderStopped;
    try {
        SetReaderProgress(2);
        while (!stop_) ServiceReceive();
    } catch (const ReaderExit &exit) {
        code = exit.code;
    } catch (...) {
        code = ConnCode::NoReply;
    }
    readerExitCode_ = code;
    // Nothing more can arrive: every wait on this connection must end now, not at its time-out.
    // The lost flag comes before the reader is seen as stopped, so that a send in between
    // reports the reader's reason; then the message that wakes a wait to look at it.
    const bool lost = !stop_;
    if (lost) readerLost_ = true;
    readerRunning_ = false;
    if (lost) PostMessage(window_, UM_READER_ENDED, 0, 0);
    readerEnded_.Set();
}

bool TConnection::OnReaderThread() const { return readerOf == this; }

void TConnection::EndReader(int32_t code) {
    if (OnReaderThread()) throw ReaderExit{code};
    // Raw mode reads on the user-interface thread: the caller gets the code instead.
    throw xConnectionErr(code);
}

void TConnection::CheckStop() {
    if (stop_ && OnReaderThread()) EndReader(ConnCode::ReaderStopped);
}

void TConnection::WaitForReaderEnd() {
    // The reader may be blocked in a synchronous message to this very thread: release one we are
    // handling, and keep servicing sent messages while waiting, or neither side would move.
    if (InSendMessage()) ReplyMessage(0);
    MsgWaitForEvent(readerEnded_);
}

void TConnection::StopReader() {
    if (!reader_.joinable()) return;
    stop_ = true;
    WakeReader();
    WaitForReaderEnd();
    reader_.join();
}

// ---- chunk helpers ----

bool TConnection::TakeChunkByte(uint8_t &out) {
    if (chunkPosition_ >= chunkAvailable_ || chunkPosition_ >= ChunkSize) return false;
    out = chunk_[chunkPosition_++];
    return true;
}

bool TConnection::NextByteResyncOnFlag(uint8_t &out) {
    const bool taken = TakeChunkByte(out);
    if (taken && out == packet::Flag) {
        ParserState state = parserState_.load();
        while (state != ParserState::Reset &&
               !parserState_.compare_exchange_weak(state, ParserState::Hunt)) {
        }
    }
    return taken;
}
