// The packet layer of TConnection: registration, sending, the reply wait and the receive parser.
#include "comm/TConnection.h"

#include <algorithm>
#include <cstring>

using namespace platform;

namespace {

constexpr uint32_t TagValid = 0x10000;

bool ValidType(uint8_t type) { return type <= packet::TypeDbg; }

} // namespace

// Keeps the connection's reply-wait depth right on every way out of a wait.
class ReplyWaitDepth {
public:
    explicit ReplyWaitDepth(TConnection &connection)
        : connection_(connection), depth_(++connection.waitDepth_) {}
    ~ReplyWaitDepth() { --connection_.waitDepth_; }
    ReplyWaitDepth(const ReplyWaitDepth &) = delete;
    ReplyWaitDepth &operator=(const ReplyWaitDepth &) = delete;
    int Depth() const { return depth_; }

private:
    TConnection &connection_;
    int depth_;
};

// ---- registration ----

void TConnection::RegisterHandler(uint8_t type, uint8_t code, PacketHandler handler, void *context,
                                  bool waitForReply, bool copyReply) {
    if (!ValidType(type)) return; // the table has rows for SYS and DBG only
    std::lock_guard lock(tableMutex_);
    HandlerEntry &entry = Entry(type, code);
    entry = HandlerEntry{};
    entry.handler = handler;
    entry.context = context;
    entry.registered = true;
    entry.copyReply = copyReply;
    entry.waitForReply = waitForReply;
}

void TConnection::SetReplyBuffer(uint8_t type, uint8_t code, bool copyReply, uint8_t *buffer,
                                 size_t capacity) {
    if (!ValidType(type)) return;
    std::lock_guard lock(tableMutex_);
    HandlerEntry &entry = Entry(type, code);
    entry.copyReply = copyReply;
    entry.replyBuffer = copyReply ? buffer : nullptr;
    entry.replyCapacity = copyReply && buffer ? capacity : 0;
}

HandlerEntry TConnection::CopyHandlerEntry(uint8_t type, uint8_t code) const {
    if (!ValidType(type)) return HandlerEntry{};
    std::lock_guard lock(tableMutex_);
    return handlers_[type][code & packet::CodeMask];
}

ReceiveError TConnection::TakeReceiveError() {
    std::lock_guard lock(errorMutex_);
    ReceiveError taken = receiveError_;
    receiveError_.present = false;
    return taken;
}

void TConnection::RecordReceiveError(uint8_t kind, uint32_t type, uint32_t subtype) {
    HandOverBatch();
    std::lock_guard lock(errorMutex_);
    receiveError_ = ReceiveError{kind, type, subtype, true};
}

// ---- sending ----

void TConnection::Send(uint8_t type, uint8_t subtype, uint8_t *data, uint32_t length,
                       size_t replyCapacity) {
    if (!readerRunning_) {
        // A reader that ended because the line or the peer went away says so; only a reader
        // that was never started is the connection's own fault.
        if (readerLost_) throw ReaderLostError();
        throw xConnectionErr(ConnCode::ReaderNotRunning);
    }
    if (!ValidType(type)) throw xConnectionErr(ConnCode::UnregisteredEntry);
    bool copyReply = false;
    bool waitForReply = false;
    {
        std::lock_guard lock(tableMutex_);
        const HandlerEntry &entry = Entry(type, subtype);
        if (!entry.registered) throw xConnectionErr(ConnCode::UnregisteredEntry);
        copyReply = entry.copyReply;
        waitForReply = entry.waitForReply;
    }
    if (length > packet::MaxSendPayload) throw xConnectionErr(ConnCode::PayloadTooLong);
    // The reply overwrites the request buffer, up to what the requester said it holds.
    if (copyReply) SetReplyBuffer(type, subtype, true, data, data ? replyCapacity : 0);
    if (waitForReply)
        SendAndWait(type, subtype, data, length, false);
    else
        SendPacket(type, subtype, data, length);
}

void TConnection::SendPacket(uint8_t type, uint8_t subtype, const uint8_t *data, uint32_t length) {
    // Bounds of our own buffers, whoever calls: the send payload buffer and the encode buffer.
    if (length > packet::MaxSendPayload) throw xConnectionErr(ConnCode::PayloadTooLong);
    packet::BuildHeader(sendHeader_, type, subtype, static_cast<uint16_t>(length));
    if (data && length > 0)
        std::memcpy(sendPayload_, data, length);
    else if (length > 0)
        std::memset(sendPayload_, 0, length);
    packet::StoreLe16(sendChecksum_, packet::PacketChecksum(sendHeader_, sendPayload_, length));
    const uint32_t frameLength = EncodeFrame(length);
    Write(encodeBuffer_, frameLength);
    LogTraffic(LogHeading::Send, encodeBuffer_, frameLength);
}

uint32_t TConnection::EncodeFrame(uint32_t payloadLength) {
    return static_cast<uint32_t>(packet::EncodeStuffed(sendHeader_, sendPayload_, payloadLength,
                                                       sendChecksum_, encodeBuffer_,
                                                       sizeof encodeBuffer_));
}

void TConnection::SendAndWait(uint8_t type, uint8_t subtype, const uint8_t *data, uint32_t length,
                              bool alreadySent) {
    if (!ValidType(type)) throw xConnectionErr(ConnCode::UnregisteredEntry);
    const uint8_t code = subtype & packet::CodeMask;
    int32_t retries = GetRetryCount();
    closing_ = false;
    ReplyWaitDepth depth(*this);
    HandlerEntry &entry = Entry(type, code); // arrived is touched by this thread only
    entry.arrived = false;
    // However the wait ends, the reply's wake-up and arrival do not outlive it.
    struct EndOfWait {
        HWND window;
        HandlerEntry &entry;
        ~EndOfWait() {
            RemoveMessages(window, UM_WAKE, UM_WAKE);
            entry.arrived = false;
        }
    } endOfWait{window_, entry};
    if (!alreadySent) SendPacket(type, subtype, data, length);

    WaitSpec spec;
    spec.window = window_;
    spec.timerId = WaitTimerBase + static_cast<UINT_PTR>(depth.Depth());
    ScopedTimer timer(window_, spec.timerId, GetResponseTimeout());
    // A Close from a handler (closing_) ends the wait too: nothing more is coming for it.
    while (Wait(spec, [&] { return entry.arrived || closing_; }) == WaitEnd::Deadline) {
        timer.Stop();
        if (entry.arrived || closing_) break; // came in with the timer's own message
        if (retries-- <= 0) throw NoReplyError(type, code);
        if (!alreadySent) {
            entry.arrived = false;
            // A half-received copy of the old reply must not count as the answer to the new send.
            if (ParsingFrameIs(type, code)) parserState_ = ParserState::Reset;
            SendPacket(type, subtype, data, length);
        }
        timer.Start();
    }
    const ReceiveError error = TakeReceiveError();
    if (error.present && error.kind == ReceiveErrorKind::NakReply)
        throw xConnectionErr(ConnCode::NakReply);
}

namespace {

// "SYS/WRITE", "DBG/7": how the user and the communication log name a request.
std::string RequestName(uint8_t type, uint8_t code) {
    const char *name = packet::PacketName(type, code);
    return std::string(type == packet::TypeDbg ? "DBG/" : "SYS/") +
           (name != nullptr ? std::string(name) : std::to_string(code));
}

} // namespace

xConnectionErr TConnection::NoReplyError(uint8_t type, uint8_t code) const {
    const int32_t tries = GetRetryCount() + 1;
    return {ConnCode::NoReply,
            AboutTarget("no answer to " + RequestName(type, code) + " within " +
                        std::to_string(GetResponseTimeout()) + " ms, " + std::to_string(tries) +
                        (tries == 1 ? " try" : " tries") +
                        "; is the board powered, connected and on this port or address?")};
}

// ---- receiving ----

void TConnection::ServiceReceive() {
    CheckStop();
    WaitForData();
    CheckStop();
    while (ReadAvailable() > 0) {
        uint8_t byte = 0;
        while (NextByte(byte)) ParseByte(byte);
        // Before the next read, which may block: what came together is handled together.
        HandOverBatch();
    }
}

void TConnection::MoveParser(ParserState from, ParserState to) {
    parserState_.compare_exchange_strong(from, to);
}

void TConnection::ClearReceiveBuffers() {
    std::memset(recvHeader_, 0, sizeof recvHeader_);
    std::memset(recvTrailer_, 0, sizeof recvTrailer_);
    // The payload buffer is cleared only as far as a frame can have filled it.
    std::memset(recvPayload_, 0, std::min<size_t>(expectedLength_, sizeof recvPayload_));
    parsingTag_ = 0;
}

void TConnection::PublishFrameTag() {
    if (sectionCount_ > packet::OffSubtype)
        parsingTag_ = TagValid | static_cast<uint32_t>(recvHeader_[packet::OffType]) << 8 |
                      (recvHeader_[packet::OffSubtype] & packet::CodeMask);
}

bool TConnection::ParsingFrameIs(uint8_t type, uint8_t code) const {
    return parsingTag_ == (TagValid | static_cast<uint32_t>(type) << 8 | code);
}

void TConnection::AppendByte(uint8_t *buffer, uint32_t &counter, uint32_t capacity, uint8_t byte) {
    if (escapePending_) {
        escapePending_ = false;
        byte ^= packet::EscapeXor;
    } else if (byte == packet::Escape) {
        escapePending_ = true;
        return;
    }
    if (counter < capacity) buffer[counter++] = byte;
}

bool TConnection::StartFrame(uint8_t byte, uint32_t &counter) {
    if (byte != packet::Flag) return false;
    recvHeader_[0] = byte;
    counter = 1;
    return true;
}

void TConnection::ParseByte(uint8_t byte) {
    const ParserState state = parserState_.load();
    if (state == ParserState::Reset) {
        ClearReceiveBuffers();
        parserState_ = ParserState::Hunt;
        return;
    }
    if (state == ParserState::Bad) {
        // A failed header check is handled on the byte after it; that byte goes with it.
        HandleFrameEnd(false);
        return;
    }
    if (state == ParserState::Hunt) {
        sectionCount_ = 0;
        expectedLength_ = 0;
        rawCopyLength_ = 0;
        escapePending_ = false;
        parsingTag_ = 0;
        if (StartFrame(byte, sectionCount_)) {
            rawCopy_[rawCopyLength_++] = byte;
            MoveParser(ParserState::Hunt, ParserState::Header);
        }
        return;
    }
    if (rawCopyLength_ < sizeof rawCopy_) rawCopy_[rawCopyLength_++] = byte;

    if (state == ParserState::Header) {
        AppendByte(recvHeader_, sectionCount_, packet::HeaderSize, byte);
        PublishFrameTag();
        if (sectionCount_ < packet::HeaderSize) return;
        expectedLength_ = packet::LoadLe16(recvHeader_ + packet::OffLength);
        if (packet::HeaderValid(recvHeader_)) {
            sectionCount_ = 0;
            MoveParser(ParserState::Header, ParserState::Payload);
        } else {
            expectedLength_ = 0; // nothing of the payload buffer was used
            MoveParser(ParserState::Header, ParserState::Bad);
        }
        return;
    }
    if (state == ParserState::Payload) {
        if (expectedLength_ > 0) {
            AppendByte(recvPayload_, sectionCount_, static_cast<uint32_t>(sizeof recvPayload_),
                       byte);
            if (sectionCount_ == expectedLength_) {
                sectionCount_ = 0;
                MoveParser(ParserState::Payload, ParserState::Trailer);
            }
            return;
        }
        // An empty payload: this byte is already the first checksum byte.
        sectionCount_ = 0;
        MoveParser(ParserState::Payload, ParserState::Trailer);
    }
    // Trailer (also reached at once from an empty payload).
    AppendByte(recvTrailer_, sectionCount_, packet::TrailerSize, byte);
    if (sectionCount_ < packet::TrailerSize) return;
    const bool good = packet::PacketChecksum(recvHeader_, recvPayload_, expectedLength_) ==
                      packet::LoadLe16(recvTrailer_);
    MoveParser(ParserState::Trailer, good ? ParserState::Complete : ParserState::Bad);
    HandleFrameEnd(good);
}

void TConnection::HandleFrameEnd(bool good) {
    // A bad frame is logged as bytes without a heading.
    LogTraffic(good ? LogHeading::Receive : LogHeading::None, rawCopy_, rawCopyLength_);
    Dispatch(good);
    ClearReceiveBuffers();
    // Back to Hunt unless a Reset came in meanwhile (it then drops nothing more than this frame).
    ParserState state = parserState_.load();
    if (state != ParserState::Reset) parserState_.compare_exchange_strong(state, ParserState::Hunt);
}

void TConnection::Dispatch(bool good) {
    const uint8_t type = recvHeader_[packet::OffType];
    const uint8_t subtype = recvHeader_[packet::OffSubtype];
    // Only SYS and DBG have rows in the table; any other type is a broken frame.
    if (!good || !ValidType(type)) {
        RecordReceiveError(ReceiveErrorKind::BadFrame, type, subtype & packet::CodeMask);
        return;
    }
    HandlerEntry &entry = Entry(type, subtype);
    const auto length =
        static_cast<uint16_t>(std::min<size_t>(expectedLength_, sizeof recvPayload_));
    enum class Route { None, Callback, Copied } route = Route::None;
    for (;;) {
        std::unique_lock lock(tableMutex_);
        const bool callback = !entry.copyReply && entry.handler != nullptr;
        route = !entry.registered ? Route::None
                : entry.copyReply ? Route::Copied
                : callback        ? Route::Callback
                                  : Route::None;
        // Anything but a callback packet is handled after the packets queued before it, and
        // decided again afterwards: their handlers may have changed the registration.
        if (route != Route::Callback && !batch_.Empty()) {
            lock.unlock();
            HandOverBatch();
            continue;
        }
        if (route == Route::Copied && entry.replyBuffer)
            std::memcpy(entry.replyBuffer, recvPayload_,
                        std::min<size_t>(expectedLength_, entry.replyCapacity));
        break;
    }
    if (route == Route::None) {
        RecordReceiveError(ReceiveErrorKind::Unregistered, type, subtype & packet::CodeMask);
        EndReader(ConnCode::UnregisteredEntry);
    }
    if ((subtype & packet::NakBit) != 0)
        RecordReceiveError(ReceiveErrorKind::NakReply, type, subtype);
    if (route == Route::Callback) {
        // A full batch goes first; an empty one holds any payload the parser can.
        if (!batch_.Add(&entry, recvPayload_, length)) {
            HandOverBatch();
            (void)batch_.Add(&entry, recvPayload_, length);
        }
        return;
    }
    HandOver(UM_PACKET_COPIED, reinterpret_cast<LPARAM>(&entry));
}

void TConnection::HandOver(UINT message, LPARAM lParam) {
    CheckStop();
    SetReaderProgress(5);
    SendMessage(window_, message, 0, lParam);
    SetReaderProgress(6);
    CheckStop();
}

void TConnection::HandOverBatch() {
    if (batch_.Empty()) return;
    HandOver(UM_PACKET, reinterpret_cast<LPARAM>(&batch_));
    batch_.Clear();
}
