#include "comm/TConnection.h"

#include <cstring>
#include <system_error>

using namespace platform;

namespace {

// One set for all connections: the hook is a plain window procedure, so what it needs lives here.
struct ProcessWide {
    std::atomic<WNDPROC> savedProc{nullptr};
    std::atomic<int> waitCounter{0};
    std::atomic<bool> closing{false};
    std::atomic<bool> drain{false};
    std::atomic<uint8_t> readerProgress{0};
    std::atomic<LogHeadingHook> sendHeading{nullptr};
    std::atomic<LogHeadingHook> receiveHeading{nullptr};
    std::atomic<LogDataHook> data{nullptr};
    std::atomic<LogPortEventHook> portEvent{nullptr};
    std::atomic<LogHeadingHook> portClosed{nullptr};
    std::atomic<LogHeadingHook> timeStamp{nullptr};
    std::atomic<bool> logRawWrites{false};
    std::atomic<bool> logRawReads{false};
};

ProcessWide &Shared() {
    static ProcessWide shared;
    return shared;
}

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
int TConnection::WaitCounter() { return Shared().waitCounter; }
std::atomic<int> &TConnection::SharedWaitCounter() { return Shared().waitCounter; }
bool TConnection::Closing() { return Shared().closing; }
void TConnection::SetReaderProgress(uint8_t step) { Shared().readerProgress = step; }
void TConnection::SetClosing(bool closing) { Shared().closing = closing; }

void TConnection::LogTimeStamp() { CallHook(Shared().timeStamp); }
void TConnection::LogSendHeading() { CallHook(Shared().sendHeading); }
void TConnection::LogReceiveHeading() { CallHook(Shared().receiveHeading); }
void TConnection::LogPortClosed() { CallHook(Shared().portClosed); }
bool TConnection::LogRawWrites() { return Shared().logRawWrites; }
bool TConnection::LogRawReads() { return Shared().logRawReads; }

void TConnection::LogData(const uint8_t *bytes, uint32_t count) {
    if (LogDataHook fn = Shared().data.load()) fn(bytes, count);
}

void TConnection::LogPortEvent(const SerialSettings *settings, int32_t port, bool opened) {
    if (LogPortEventHook fn = Shared().portEvent.load())
        fn(settings, static_cast<uint32_t>(sizeof(SerialSettings)), port, opened ? 1 : 0);
}

// ---- the window hook ----

LRESULT TConnection::HookProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    ProcessWide &s = Shared();
    if (s.drain) return 0;
    switch (msg) {
    case WM_QUERYENDSESSION:
    case WM_QUIT:
        s.closing = true;
        break;
    case UM_PACKET: {
        auto *entry = reinterpret_cast<HandlerEntry *>(lParam);
        try {
            if (entry->handler) entry->handler(entry->payload, entry->length, entry->context);
        } catch (...) {
            // A failing handler must not stop the wait that delivered its packet: the packet
            // still counts as arrived and the exception goes no further than this message.
        }
        entry->arrived = true;
        PostMessage(hwnd, UM_WAKE, 0, 0);
        return 0;
    }
    case UM_PACKET_COPIED: {
        auto *entry = reinterpret_cast<HandlerEntry *>(lParam);
        entry->arrived = true;
        PostMessage(hwnd, UM_WAKE, 0, 0);
        return 0;
    }
    default:
        break;
    }
    WNDPROC saved = s.savedProc.load();
    return saved ? CallWindowProc(saved, hwnd, msg, wParam, lParam) : 0;
}

void TConnection::HookWindow() {
    WNDPROC current = GetWindowProc(window_);
    if (!current) throw xConnectionErr(ConnCode::WindowProcUnreadable);
    // Hooked already (packet, raw, packet): keep what was saved at the first hooking, so the
    // saved procedure is never the hook itself.
    if (current != &TConnection::HookProc) {
        Shared().savedProc = current;
        SetWindowProc(window_, &TConnection::HookProc);
    }
    hooked_ = true;
}

void TConnection::UnhookWindow() {
    if (!hooked_) return;
    hooked_ = false;
    if (GetWindowProc(window_) == &TConnection::HookProc) {
        if (WNDPROC saved = Shared().savedProc.load()) SetWindowProc(window_, saved);
    }
}

// ---- the reader thread ----

void TConnection::StartReader() {
    stop_ = false;
    SetReaderProgress(0);
    readerEnded_.Reset();
    readerGo_.Reset();
    readerExitCode_ = 0;
    parserState_ = ParserState::Hunt;
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
    readerRunning_ = false;
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
