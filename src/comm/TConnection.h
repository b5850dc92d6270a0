// TConnection: the connection between Tarnwick and a board, with the packet machinery every kind
// shares: the handler table, the frame encoder, the receive parser that runs on the connection's
// reader thread, and the hook on a window of the user-interface thread through which received
// packets reach the loader engine (the reader hands the packets of each received chunk over
// together in one synchronous message, so handlers always run on the user-interface thread).
//
// Threads: every public operation runs on the user-interface thread (the thread that owns the
// window given to the constructor); ServiceReceive and the kinds' WaitForData, ReadAvailable and
// NextByte run on the reader thread in packet mode (on the user-interface thread in raw mode).
// Failures are raised as xConnectionErr with the codes of ConnectionErr.h.
#pragma once

#include "comm/ConnectionErr.h"
#include "comm/PacketBatch.h"
#include "comm/PacketCodec.h"
#include "platform/Event.h"
#include "platform/MessageIds.h"
#include "platform/Messages.h"
#include "platform/Wait.h"
#include "platform/Serial.h"
#include "comm/CommOptions.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

// Called on the user-interface thread for a packet of a callback entry.
using PacketHandler = void (*)(const uint8_t *payload, uint16_t length, void *context);

// The registration of one type and code.
struct HandlerEntry {
    PacketHandler handler = nullptr;
    void *context = nullptr;
    uint8_t *replyBuffer = nullptr;   // copy entries: where the reply's payload goes
    size_t replyCapacity = 0;         // ... and how many bytes it may take there
    const uint8_t *payload = nullptr; // callback entries: the received payload
    uint16_t length = 0;
    bool arrived = false;
    bool copyReply = false;
    bool registered = false;
    bool waitForReply = false;
};

// What went wrong with a received frame; overwritten by each event.
struct ReceiveError {
    uint8_t kind = 0; // ReceiveErrorKind
    uint32_t type = 0;
    uint32_t subtype = 0;
    bool present = false;
};
namespace ReceiveErrorKind {
inline constexpr uint8_t NakReply = 0;
inline constexpr uint8_t Unregistered = 1;
inline constexpr uint8_t BadFrame = 2;
} // namespace ReceiveErrorKind

// Connection modes.
namespace ConnMode {
inline constexpr uint8_t Raw = 0;
inline constexpr uint8_t Packet = 1;
inline constexpr uint8_t NotStarted = 2;
} // namespace ConnMode

// Parser states of the receive side.
enum class ParserState : uint8_t {
    Hunt = 0,
    Header = 1,
    Payload = 2,
    Trailer = 3,
    Complete = 4,
    Bad = 5,
    Reset = 6
};

// The communication log's hooks. All optional; each is called only when set.
using LogHeadingHook = void (*)();
using LogDataHook = void (*)(const uint8_t *bytes, uint32_t count);
using LogPortEventHook = void (*)(const platform::SerialSettings *portSettings, uint32_t size,
                                  int32_t port, uint8_t opened);

class TConnection {
public:
    static constexpr size_t ChunkSize = 16384;

    explicit TConnection(platform::HWND window);
    TConnection(const TConnection &) = delete;
    TConnection &operator=(const TConnection &) = delete;
    // The most-derived kind stops the reader in its destructor (the reader calls its virtual
    // operations, so it must end before any destructor runs); this
    // one only joins what is left and gives the window its procedure back.
    virtual ~TConnection();

    // Packet layer (PacketLayer.cpp).
    // Builds and writes one frame. Fails 4100 above 16384 bytes, 4099 for a type other than 0/1.
    virtual void SendPacket(uint8_t type, uint8_t subtype, const uint8_t *data, uint32_t length);
    // Sends (unless alreadySent) and waits for the reply of entry (type, subtype & 0x3F),
    // re-sending at each time-out. Fails 4105 (no reply), 4122 (NAK), 4124 (cancel), 4125 (quit).
    virtual void SendAndWait(uint8_t type, uint8_t subtype, const uint8_t *data, uint32_t length,
                             bool alreadySent);
    // The engine's send: checks (4126 no reader, 4099 unregistered, 4100 too long), points a copy
    // entry's reply at data, then sends and waits or just sends as the entry says. A reply is
    // copied into data but never more than replyCapacity bytes (the request length if not given).
    void Send(uint8_t type, uint8_t subtype, uint8_t *data, uint32_t length, size_t replyCapacity);
    void Send(uint8_t type, uint8_t subtype, uint8_t *data, uint32_t length) {
        Send(type, subtype, data, length, length);
    }
    // copyReply set: replies go to buffer, at most capacity bytes. Clear: no reply buffer.
    void SetReplyBuffer(uint8_t type, uint8_t code, bool copyReply, uint8_t *buffer,
                        size_t capacity);
    void RegisterHandler(uint8_t type, uint8_t code, PacketHandler handler, void *context,
                         bool waitForReply, bool copyReply);
    HandlerEntry CopyHandlerEntry(uint8_t type, uint8_t code) const;
    ReceiveError TakeReceiveError();
    static uint16_t Checksum(const uint8_t *data, size_t count, uint16_t state) {
        return packet::Checksum(data, count, state);
    }

    // Kind-specific operations.
    virtual void SetMode(uint8_t mode) = 0;
    virtual void WriteRaw(const uint8_t *data, uint32_t count) = 0;
    virtual void ReadRaw(uint8_t *data, uint32_t count) = 0;
    virtual bool IsOpen() const = 0;
    virtual void Close() = 0;
    virtual void SetRetryCount(int32_t count) = 0;
    virtual int32_t GetRetryCount() const = 0;
    virtual int32_t GetResponseTimeout() const = 0;
    virtual void SetResponseTimeout(int32_t ms) = 0;

    // One pass of the receive side: wait for data, read and parse all that is there.
    virtual void ServiceReceive();
    // The token every wait of this connection watches: the load session's, or (until one is
    // given) the connection's own. The token must outlive the connection.
    void SetCancelToken(platform::CancelToken *token) {
        cancel_ = token != nullptr ? token : &ownCancel_;
    }
    void Cancel() { cancel_->Cancel(); }
    bool Cancelled() const { return cancel_->IsCancelled(); }

    void SetSettings(const CommOptions &options);
    const CommOptions &Settings() const { return settings_; }
    uint8_t Mode() const { return mode_; }
    platform::HWND Window() const { return window_; }

    // Reader state, for the engine's diagnostics and for tests.
    bool ReaderRunning() const { return readerRunning_; }
    int32_t ReaderExitCode() const { return readerExitCode_; }
    bool WaitReaderEnded(int64_t timeoutMs) const { return readerEnded_.Wait(timeoutMs); }
    // True once the reader has ended by itself (the peer closed, the port went away, a read
    // failed): nothing more can arrive. A stop of our own does not count.
    bool ReaderLost() const { return readerLost_.load(std::memory_order_acquire); }
    // The code a wait raises when the reader was lost: its exit code, or 3007 for a reader that
    // ended after reporting a socket error.
    int32_t ReaderLostCode() const;
    // The failure a wait or a send raises once the reader was lost: its code, and a detail that
    // names the other end and how it went away.
    xConnectionErr ReaderLostError() const;

    // What this connection talks to, for the user: "COM3 (/dev/ttyUSB0)", "10.0.0.5:4244";
    // empty before it knows.
    virtual std::string TargetName() const { return {}; }
    // text, led by the target's name when there is one.
    std::string AboutTarget(const std::string &text) const;

    // The one wait of this connection: pumps the messages of window (null: all of the thread's)
    // until condition holds, with this connection's cancel token and reader. Raises 4124 when
    // cancelled, the reader's code when it was lost, 4125 for a quit; returns Condition or
    // Deadline.
    platform::WaitEnd Wait(platform::WaitSpec spec, platform::CallableRef<bool()> condition = {},
                           platform::CallableRef<bool(const platform::MSG &)> intercept = {});
    // Lets pending messages through and raises as Wait does (a cancel, a lost reader, a quit).
    void LetMessagesThrough() { Wait(PendingOnly()); }
    // Raises as Wait would for a cancel or a lost reader, without pumping anything.
    void RaiseIfStopped() const;
    // The time-out of a reply wait: which request went unanswered, for how long, how often.
    xConnectionErr NoReplyError(uint8_t type, uint8_t code) const;

    // Nesting depth of the reply waits running on this connection; closing_ set by Close.
    int WaitDepth() const { return waitDepth_; }
    bool IsClosing() const { return closing_; }

    // Process-wide data shared by all connections.
    static void SetLogHooks(LogHeadingHook sendHeading, LogHeadingHook receiveHeading,
                            LogDataHook data, LogPortEventHook portEvent, LogHeadingHook portClosed,
                            LogHeadingHook timeStamp, bool logRawWrites, bool logRawReads);
    static uint8_t ReaderProgress();
    // The procedure every hooked window gets while a connection is in packet mode; it finds the
    // connection through the window.
    static platform::LRESULT HookProc(platform::HWND hwnd, platform::UINT msg,
                                      platform::WPARAM wParam, platform::LPARAM lParam);

protected:
    // Packet machinery hooks of the kinds.
    virtual void Write(const uint8_t *data, uint32_t count) = 0;
    virtual void WaitForData() = 0;
    virtual uint32_t ReadAvailable() = 0;
    // Takes the next byte of the chunk into out; false when the chunk is empty.
    virtual bool NextByte(uint8_t &out) = 0;
    // Serial framing: stores the byte in buffer[counter] undoing the stuffing (an escape is not
    // stored; the byte after it is stored XOR 0x20). Never writes at or past capacity.
    virtual void AppendByte(uint8_t *buffer, uint32_t &counter, uint32_t capacity, uint8_t byte);
    // Serial framing: only a flag starts a frame. Returns true when a frame was started.
    virtual bool StartFrame(uint8_t byte, uint32_t &counter);
    // Serial framing: flag and stuffing into the encode buffer; returns the frame length.
    virtual uint32_t EncodeFrame(uint32_t payloadLength);
    // Whether the framing escapes bytes with 0x7D (serial and console) or sends them as they are.
    virtual bool StuffsFrames() const { return true; }
    // Makes a blocked WaitForData return so the reader sees its stop flag.
    virtual void WakeReader() {}

    // Reader thread control.
    void StartReader();
    void StopReader();
    bool ReaderStarted() const { return reader_.joinable(); }
    bool OnReaderThread() const;
    // Ends the reader thread with code; outside the reader thread raises code instead.
    [[noreturn]] void EndReader(int32_t code);
    void CheckStop();

    // Chunk helpers for the kinds' ReadAvailable/NextByte.
    bool TakeChunkByte(uint8_t &out);
    // The serial resynchronisation rule: a flag sends the parser back to Hunt, except in Reset.
    bool NextByteResyncOnFlag(uint8_t &out);

    // Log entries, each through the hooks that are set. An entry is its time stamp, its heading
    // and its bytes written under one process-wide lock, so that the reader thread's receive
    // never lands between a send's heading and its bytes. The data hook runs with this
    // connection's mode and framing at hand.
    enum class LogHeading : uint8_t { Send, Receive, None };
    void LogTraffic(LogHeading heading, const uint8_t *bytes, uint32_t count) const;
    static void LogPortEvent(const platform::SerialSettings *settings, int32_t port, bool opened);
    static void LogPortClosed();
    static bool LogRawWrites();
    static bool LogRawReads();
    static void SetReaderProgress(uint8_t step);
    void SetClosing(bool closing) { closing_ = closing; }
    // The close every kind shares: stops the reader without letting anything it still hands
    // over reach a handler (answered with 0), removes this window's pending connection messages,
    // and releases a reader blocked in a message this thread is handling.
    void ShutDownReader();
    static platform::WaitSpec PendingOnly() {
        platform::WaitSpec spec;
        spec.timeoutMs = 0;
        return spec;
    }

    // Fields in the record's order.
    std::atomic<bool> stop_{false};
    HandlerEntry handlers_[2][64];
    uint8_t encodeBuffer_[packet::EncodeBufferSize];
    uint8_t rawCopy_[packet::EncodeBufferSize];
    uint8_t recvHeader_[packet::HeaderSize] = {};
    uint8_t sendHeader_[packet::HeaderSize] = {};
    uint8_t recvPayload_[packet::PayloadBufferSize];
    uint8_t sendPayload_[packet::PayloadBufferSize];
    uint8_t recvTrailer_[packet::TrailerSize] = {};
    uint8_t sendChecksum_[packet::TrailerSize] = {};
    std::atomic<uint8_t> mode_{ConnMode::NotStarted};
    CommOptions settings_{};
    uint32_t chunkAvailable_ = 0;
    uint32_t chunkPosition_ = 0;
    uint8_t chunk_[ChunkSize];
    std::atomic<ParserState> parserState_{ParserState::Hunt};
    std::thread reader_;
    platform::CancelToken ownCancel_;
    platform::CancelToken *cancel_ = &ownCancel_;
    bool escapePending_ = false;
    platform::ManualResetEvent readerEnded_;
    uint32_t rawCopyLength_ = 0;

private:
    void ReaderMain();
    void HookWindow();
    void UnhookWindow();
    void WaitForReaderEnd();
    void ClearReceiveBuffers();
    void ParseByte(uint8_t byte);
    void HandleFrameEnd(bool good);
    void Dispatch(bool good);
    // Reader thread: the callback packets queued in batch_ go to the handlers now, in one
    // synchronous message.
    void HandOverBatch();
    // Reader thread: one synchronous message to the hooked window; ends the reader when the
    // connection is stopping, before or after it.
    void HandOver(platform::UINT message, platform::LPARAM lParam);
    // User-interface thread: runs the handlers of a batch in order.
    void DeliverBatch(const PacketBatch &batch);
    // Also hands the queued packets over first: each handler sees the receive record of its
    // own packet, never one of a frame that came after it.
    void RecordReceiveError(uint8_t kind, uint32_t type, uint32_t subtype);
    HandlerEntry &Entry(uint8_t type, uint8_t subtype) {
        return handlers_[type][subtype & packet::CodeMask];
    }
    friend class ReplyWaitDepth;
    // Moves the parser from one state to another unless the user-interface thread asked for a
    // Reset in between (only the Reset handling leaves Reset).
    void MoveParser(ParserState from, ParserState to);
    void PublishFrameTag();
    bool ParsingFrameIs(uint8_t type, uint8_t code) const;

    platform::HWND window_;
    bool hooked_ = false;
    // The window's own procedure, saved by the first hooking; the hook forwards to it.
    std::atomic<platform::WNDPROC> savedProc_{nullptr};
    std::atomic<bool> closing_{false};
    int waitDepth_ = 0;
    std::atomic<bool> readerLost_{false};
    platform::ManualResetEvent readerGo_;
    std::atomic<bool> readerRunning_{false};
    std::atomic<int32_t> readerExitCode_{0};
    // Parser section counters (reader thread only).
    uint32_t sectionCount_ = 0;
    uint32_t expectedLength_ = 0;
    // Type and code of the frame being parsed, for the Reset of a half-received old reply.
    std::atomic<uint32_t> parsingTag_{0};
    // Guards the handler table against the reader's reads and the reply copy.
    mutable std::mutex tableMutex_;
    mutable std::mutex errorMutex_;
    ReceiveError receiveError_;
    PacketBatch batch_;
};
