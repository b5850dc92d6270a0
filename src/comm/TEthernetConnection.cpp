#include "comm/TEthernetConnection.h"

using namespace platform;

namespace {

// The connection's own messages, which nobody may take once the connection is closing.
constexpr UINT FirstConnectionMessage = WM_USER;
constexpr UINT LastConnectionMessage = WM_USER + 11;

// Stops the connect timer on every way out of the wait, so that no stray WM_TIMER 1000 reaches
// the reply waits that come later.
class ConnectTimer {
public:
    ConnectTimer(HWND window, UINT ms) : window_(window) { SetTimer(window_, ConnectTimerId, ms); }
    ~ConnectTimer() { KillTimer(window_, ConnectTimerId); }
    ConnectTimer(const ConnectTimer &) = delete;
    ConnectTimer &operator=(const ConnectTimer &) = delete;

private:
    HWND window_;
};

// Answers every message with 0 while the queue is drained: a packet a stopping reader still
// hands over must not reach its handler.
LRESULT DrainProc(HWND, UINT, WPARAM, LPARAM) { return 0; }

// Removes the queued messages of the range. A quit comes out of PeekMessage whatever the
// filter; it is not ours to take, so it goes back for the loop that owns the thread.
void RemoveQueued(HWND window, UINT first, UINT last) {
    MSG msg;
    while (PeekMessage(&msg, window, first, last, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
    }
}

} // namespace

TEthernetConnection::TEthernetConnection(HWND window) : TConnection(window) {}

TEthernetConnection::~TEthernetConnection() {
    // A kind above may already have stopped it; stopping twice is harmless.
    StopReader();
}

void TEthernetConnection::WriteRaw(const uint8_t *, uint32_t) {
    if (mode_ != ConnMode::Raw) throw xConnectionErr(ConnCode::NotRawMode);
}

void TEthernetConnection::ReadRaw(uint8_t *, uint32_t) {
    if (mode_ != ConnMode::Raw) throw xConnectionErr(ConnCode::NotRawMode);
}

// ---- connecting ----

TEthernetConnection::ConnectOutcome TEthernetConnection::OpenStream(const char *address, uint16_t port) {
    int error = 0;
    socket_ = Socket::Tcp(&error);
    if (!socket_.Valid()) throw xConnectionErr(ConnCode::SocketCreateFailed);
    try {
        // Only a dotted-decimal address is taken; anything else would go to a place nobody chose.
        const auto target = ParseIpv4(address ? address : "");
        if (!target) throw xConnectionErr(ConnCode::TcpConnectFailed);
        if (socket_.AsyncSelect(Window(), UM_CONNECT, FD_CONNECT) != 0)
            throw xConnectionErr(ConnCode::TcpConnectFailed);
        error = socket_.Connect(*target, port);
        if (error != 0 && !IsWouldBlock(error)) throw xConnectionErr(ConnCode::TcpConnectFailed);

        switch (WaitForConnect()) {
        case WaitResult::Connected:
            FinishConnect();
            return ConnectOutcome::Connected;
        case WaitResult::Quit:
            AbandonConnect();
            return ConnectOutcome::Quit;
        case WaitResult::Cancelled:
            cancel_ = false;
            throw xConnectionErr(ConnCode::Cancelled);
        default:
            throw xConnectionErr(ConnCode::NoReply);
        }
    } catch (...) {
        AbandonConnect();
        throw;
    }
}

void TEthernetConnection::AbandonConnect() {
    // A failed connect leaves nothing behind: no socket, no notification thread, and no late
    // notification in the queue.
    socket_.Close();
    RemoveQueued(Window(), UM_CONNECT, UM_CONNECT);
}

TEthernetConnection::WaitResult TEthernetConnection::WaitForConnect() {
    ConnectTimer timer(Window(), connectWaitMs_);
    WaitResult result = WaitResult::Pending;
    while (result == WaitResult::Pending) {
        // A cancel may come from another thread without any message of ours behind it.
        if (cancel_) return WaitResult::Cancelled;
        WaitMessage();
        MSG msg;
        while (result == WaitResult::Pending && PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (cancel_) return WaitResult::Cancelled;
            result = TakeConnectMessage(msg);
        }
    }
    return result;
}

TEthernetConnection::WaitResult TEthernetConnection::TakeConnectMessage(const MSG &msg) {
    if (msg.message == WM_TIMER && msg.hwnd == Window() && msg.wParam == ConnectTimerId)
        return WaitResult::TimedOut;
    if (msg.message == WM_QUIT) {
        // The loop that owns the thread must still see it.
        PostQuitMessage(static_cast<int>(msg.wParam));
        return WaitResult::Quit;
    }
    if (msg.message == UM_CONNECT && msg.hwnd == Window()) {
        if (SelectError(msg.lParam) != 0) throw xConnectionErr(ConnCode::TcpConnectFailed);
        return WaitResult::Connected;
    }
    TranslateMessage(&msg);
    DispatchMessage(&msg);
    return WaitResult::Pending;
}

void TEthernetConnection::FinishConnect() {
    socket_.AsyncSelect(Window(), 0, 0);
    if (const int error = socket_.SetBlocking(true)) throw xConnectionErr(error);
    if (const int error = socket_.SetLinger(false, 0)) throw xConnectionErr(error);
}

// ---- sending ----

void TEthernetConnection::SendBytes(const uint8_t *data, uint32_t count) {
    // A blocking send of all bytes stands in for the overlapped send and its event wait: the
    // caller waited for that completion anyway, so 4101, 4103 and 4104 cannot arise here.
    if (!socket_.Valid() || socket_.SendAll(data, count) != 0) throw xConnectionErr(ConnCode::WriteFailed);
}

// ---- the reader's side ----

void TEthernetConnection::WaitForData() {
    // The receive itself blocks; there is nothing to wait for before it.
    SetReaderProgress(8);
}

uint32_t TEthernetConnection::ReadAvailable() {
    if (stop_) EndReader(ConnCode::ReaderStopped);
    const IoResult got = socket_.Recv(chunk_, ChunkSize);
    // Our own Close shuts the socket down to wake this receive: that end is an ordinary stop.
    if (stop_) EndReader(ConnCode::ReaderStopped);
    if (got.error == 0 && got.count == 0) EndReader(ConnCode::PeerClosed);
    uint32_t count = 0;
    if (got.error != 0) {
        if (!IsWouldBlock(got.error)) {
            SendMessage(Window(), UM_SOCKET_ERROR, static_cast<WPARAM>(got.error), 0);
            EndReader(ConnCode::ReaderStopped);
        }
    } else {
        count = static_cast<uint32_t>(got.count > static_cast<long>(ChunkSize) ? ChunkSize : got.count);
    }
    chunkAvailable_ = count;
    chunkPosition_ = 0;
    return count;
}

bool TEthernetConnection::NextByte(uint8_t &out) {
    if (!TakeChunkByte(out)) return false;
    // On TCP a new frame always begins with 0x02; after a finished or broken frame that byte
    // starts the next one, so one bad frame does not cost the frames behind it.
    if (out == packet::FrameMarker) {
        ParserState state = parserState_.load();
        while ((state == ParserState::Complete || state == ParserState::Bad) &&
               !parserState_.compare_exchange_weak(state, ParserState::Hunt)) {
        }
    }
    return true;
}

void TEthernetConnection::WakeReader() {
    // Both directions: a receive blocked on this socket returns only when its side is shut.
    if (socket_.Valid()) socket_.Shutdown(ShutdownHow::Both);
}

// ---- closing ----

void TEthernetConnection::DrainConnectionMessages() {
    RemoveQueued(nullptr, FirstConnectionMessage, LastConnectionMessage);
}

void TEthernetConnection::Close() {
    SetClosing(true);
    if (ReaderStarted()) {
        stop_ = true;
        WakeReader();
        // Until the reader is gone, whatever it still hands to the window is answered with 0
        // unseen: its handlers belong to a connection that no longer exists for the engine.
        const WNDPROC previous = SetWindowProc(Window(), &DrainProc);
        DrainConnectionMessages();
        // A reader blocked in a message this thread is handling right now is released here.
        if (InSendMessage()) ReplyMessage(0);
        StopReader();
        if (previous) SetWindowProc(Window(), previous);
    }
    socket_.Close();
    mode_ = ConnMode::NotStarted;
}
