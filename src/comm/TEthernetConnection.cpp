#include "comm/TEthernetConnection.h"

#include <cerrno>
#include <cstring>

using namespace platform;

namespace {

// A send that finds the peer's window full waits this long for room before it lets the
// user-interface thread's messages through again.
constexpr int SendSliceMs = 20;

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

std::string TEthernetConnection::ConnectFailureDetail(int error) const {
    std::string reason = std::strerror(error);
    switch (error) {
    case ECONNREFUSED: reason = "connection refused: nothing listens on that port"; break;
    case ENETUNREACH:
    case EHOSTUNREACH: reason += ": check the address and this computer's network"; break;
    case ETIMEDOUT:
        reason += ": check the address, and that the device is powered and on this network";
        break;
    default: break;
    }
    return AboutTarget(reason);
}

TEthernetConnection::ConnectOutcome
TEthernetConnection::OpenStream(const char *address, uint16_t port, const ConnectCodes &codes) {
    int error = 0;
    socket_ = Socket::Tcp(&error);
    if (!socket_.Valid()) throw xConnectionErr(ConnCode::SocketCreateFailed);
    const std::string addressText = address ? address : "";
    target_ = addressText + ":" + std::to_string(port);
    try {
        // Only a dotted-decimal address is taken; anything else would go to a place nobody chose.
        const auto target = ParseIpv4(addressText);
        if (addressText.empty())
            throw xConnectionErr(codes.refused, "no address is set for the device: choose one in "
                                                "the Communications options or by discovery");
        if (!target)
            throw xConnectionErr(codes.refused,
                                 "\"" + addressText +
                                     "\" is not an IPv4 address such as 192.168.1.50");
        if (port == 0) throw xConnectionErr(codes.refused, AboutTarget("port 0 is not a TCP port"));
        if (socket_.AsyncSelect(Window(), UM_CONNECT, FD_CONNECT) != 0)
            throw xConnectionErr(codes.refused, AboutTarget("the connect could not be started"));
        error = socket_.Connect(*target, port);
        if (error != 0 && !IsWouldBlock(error))
            throw xConnectionErr(codes.refused, ConnectFailureDetail(error));

        switch (WaitForConnect(codes.refused)) {
        case WaitResult::Connected: return ConnectOutcome::Connected;
        case WaitResult::Quit: AbandonConnect(); return ConnectOutcome::Quit;
        case WaitResult::Cancelled: throw xConnectionErr(ConnCode::Cancelled);
        default:
            throw xConnectionErr(codes.timedOut,
                                 AboutTarget("no connection within " +
                                             std::to_string(connectWaitMs_) +
                                             " ms: check the address, and that the device is "
                                             "powered and on this network"));
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
    RemoveMessages(Window(), UM_CONNECT, UM_CONNECT);
}

TEthernetConnection::WaitResult TEthernetConnection::WaitForConnect(int32_t refusedCode) {
    WaitSpec spec;
    spec.timerWindow = Window();
    spec.timerId = ConnectTimerId;
    spec.cancel = cancel_;
    ScopedTimer timer(Window(), ConnectTimerId, connectWaitMs_);
    int notifiedError = -1;
    const auto takeNotification = [&](const MSG &msg) {
        if (msg.message != UM_CONNECT || msg.hwnd != Window()) return false;
        notifiedError = SelectError(msg.lParam);
        return true;
    };
    switch (PumpUntil(
        spec, [&] { return notifiedError >= 0; }, takeNotification)) {
    case WaitEnd::Condition:
        if (notifiedError != 0)
            throw xConnectionErr(refusedCode, ConnectFailureDetail(notifiedError));
        return WaitResult::Connected;
    case WaitEnd::Cancelled: return WaitResult::Cancelled;
    case WaitEnd::Quit: return WaitResult::Quit;
    default: return WaitResult::TimedOut;
    }
}

void TEthernetConnection::HandOverSocket(bool lingerOn) {
    socket_.AsyncSelect(Window(), 0, 0);
    // A notification posted before the registration ended would reach a later wait.
    RemoveMessages(Window(), UM_CONNECT, UM_CONSOLE_READ);
    int error = socket_.SetBlocking(true);
    if (error == 0) error = socket_.SetLinger(lingerOn, 0);
    if (error != 0) {
        socket_.Close();
        throw xConnectionErr(error);
    }
}

// ---- sending ----

void TEthernetConnection::SendBytes(const uint8_t *data, uint32_t count, int32_t failCode) {
    // A peer that stops reading fills its window; the send then goes on in slices, serving the
    // user-interface thread's messages in between, so that Cancel, a reader that ended and the
    // reader's own messages to this thread are all seen while the output is backed up.
    uint32_t done = 0;
    while (socket_.Valid()) {
        const IoResult sent = socket_.SendSome(data + done, count - done, SendSliceMs);
        if (sent.error != 0 && !IsWouldBlock(sent.error)) break;
        done += static_cast<uint32_t>(sent.count);
        if (done >= count) return;
        LetMessagesThrough();
    }
    throw xConnectionErr(failCode);
}

// ---- the reader's side ----

void TEthernetConnection::WaitForData() {
    // The receive itself blocks; there is nothing to wait for before it.
    SetReaderProgress(8);
}

uint32_t TEthernetConnection::ReadAvailable() {
    if (stop_) EndReader(ConnCode::ReaderStopped);
    const IoResult got = socket_.Recv(chunk_, ChunkSize);
    // A device answers a run of writes with a run of small replies; acknowledging them at once
    // keeps its Nagle from holding the next ones back for our delayed acknowledgement, which is
    // all it waits for once we have nothing more to send.
    if (got.error == 0 && got.count > 0) socket_.QuickAck();
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
        count = got.count > static_cast<long>(ChunkSize) ? static_cast<uint32_t>(ChunkSize)
                                                         : static_cast<uint32_t>(got.count);
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

void TEthernetConnection::Close() {
    ShutDownReader();
    socket_.Close();
    mode_ = ConnMode::NotStarted;
}
