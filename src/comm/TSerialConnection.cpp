#include "comm/TSerialConnection.h"

#include "platform/Clock.h"

#include <algorithm>

using namespace platform;

namespace {

constexpr uint32_t RawCheckSpacingMs = 10;
constexpr uint32_t NoProgressLimitMs = 5000;
constexpr int PacketReadPollMs = 100;
// The user-interface thread never blocks longer than this without pumping its messages: longer
// drains and output-room waits are cut into pieces of it.
constexpr int64_t PumpSliceMs = 20;
// Bits a byte takes on the line (start, 8 data, stop), for how long queued output still needs.
constexpr int64_t BitsPerByte = 10;

} // namespace

TSerialConnection::TSerialConnection(HWND window) : TConnection(window) {}

TSerialConnection::~TSerialConnection() {
    // The reader works on the port: it ends before the port goes.
    StopReader();
    port_.reset();
}

std::unique_ptr<SerialPort> TSerialConnection::OpenPort(int32_t comPort, SerialError *error) {
    return OpenSerialPort(comPort, error);
}

std::string TSerialConnection::TargetName() const {
    return "COM" + std::to_string(settings_.ComPort) + " (" + MapComPort(settings_.ComPort) + ")";
}

std::string TSerialConnection::OpenFailureDetail(const SerialError &error) const {
    // The port layer leads its reason with the device, which the target's name already gives.
    std::string reason = error.description;
    const std::string device = MapComPort(settings_.ComPort) + ": ";
    if (reason.rfind(device, 0) == 0) reason.erase(0, device.size());
    if (reason.empty()) reason = "the port could not be opened";
    return AboutTarget(reason);
}

void TSerialConnection::Open(uint8_t mode) {
    if (!port_) {
        SerialError error;
        port_ = OpenPort(settings_.ComPort, &error);
        if (!port_) throw xConnectionErr(ConnCode::SerialOpenFailed, OpenFailureDetail(error));
    }
    portSettings_ = SerialSettings{};
    portSettings_.baudRate = static_cast<uint32_t>(settings_.BaudRate);
    portSettings_.stopBits = settings_.StopBits;
    portSettings_.dtrControl = settings_.DtrControl;
    portSettings_.rtsControl = settings_.RtsControl;
    if (!port_->Configure(portSettings_)) {
        LogPortEvent(&portSettings_, settings_.ComPort, false);
        throw xConnectionErr(ConnCode::SerialConfigRefused,
                             AboutTarget("the port does not take " +
                                         std::to_string(portSettings_.baudRate) +
                                         " baud with these stop bits and DTR/RTS settings"));
    }
    // Queue sizes, event mask and time-outs are fixed by the port layer (reads never wait).
    SetMode(mode);
    LogPortEvent(&portSettings_, settings_.ComPort, true);
}

void TSerialConnection::SetMode(uint8_t mode) {
    if (mode == mode_) return;
    if (mode == ConnMode::Packet) {
        const uint8_t previous = mode_;
        mode_ = mode;
        try {
            StartReader();
        } catch (...) {
            mode_ = previous; // no reader runs, so a later SetMode(1) must try again
            throw;
        }
        return;
    }
    // The reader exists only in packet mode; the port stays open.
    StopReader();
    mode_ = mode;
}

void TSerialConnection::Close() {
    ShutDownReader();
    mode_ = ConnMode::NotStarted;
    port_.reset();
    LogPortClosed();
}

void TSerialConnection::WakeReader() {
    if (port_) port_->Wake();
}

// ---- raw mode ----

void TSerialConnection::WriteRaw(const uint8_t *data, uint32_t count) {
    if (mode_ != ConnMode::Raw) throw xConnectionErr(ConnCode::NotRawMode);
    WaitOutputRoom();
    // The bootstrap loader takes the cold loader one byte at a time.
    for (uint32_t i = 0; i < count; ++i) Write(data + i, 1);
    if (LogRawWrites()) {
        LogTraffic(LogHeading::Send, data, count);
    }
}

void TSerialConnection::ReadRaw(uint8_t *data, uint32_t count) {
    if (mode_ != ConnMode::Raw) throw xConnectionErr(ConnCode::NotRawMode);
    // A read asks for at most one chunk; longer reads go chunk by chunk.
    for (uint32_t done = 0; done < count;) {
        const uint32_t piece = std::min<uint32_t>(count - done, ChunkSize);
        ReadRawPiece(data + done, piece);
        done += piece;
    }
}

void TSerialConnection::ReadRawPiece(uint8_t *data, uint32_t count) {
    chunkAvailable_ = 0;
    chunkPosition_ = 0;
    requestedCount_ = count;
    const uint32_t gathered = ReadAvailable(); // exactly count, or it raised
    if (gathered != count) return;
    if (LogRawReads()) {
        LogTraffic(LogHeading::Receive, chunk_, gathered);
    }
    for (uint32_t i = 0; i < count; ++i) NextByte(data[i]);
}

// ---- the packet machinery's port side ----

void TSerialConnection::Write(const uint8_t *data, uint32_t count) {
    if (!port_ || !port_->Write(data, count)) throw xConnectionErr(ConnCode::WriteFailed);
    // A write is complete when its bytes are on the wire, as a serial driver reports it: the
    // bootstrap's pauses and its DSR samples are timed from there, not from a full kernel queue.
    // A frame that takes no longer than a slice on the line is drained at once; only a longer
    // one asks the port how much is left.
    if (WireMs(count) <= PumpSliceMs) {
        if (!port_->DrainOutput()) throw xConnectionErr(ConnCode::WriteNotCompleted);
        return;
    }
    DrainPumping();
}

int64_t TSerialConnection::WireMs(int64_t bytes) const {
    const int64_t baud = std::max<int64_t>(portSettings_.baudRate, 1);
    return bytes < 0 ? 0 : (bytes * BitsPerByte * 1000 + baud - 1) / baud;
}

void TSerialConnection::DrainPumping() {
    for (;;) {
        const int64_t wireMs = WireMs(port_->OutputQueueCount());
        // The last piece is drained exactly, so a frame is timed from when it left; only what is
        // longer waits in the one wait, where Cancel and the reader's messages are served.
        if (wireMs <= PumpSliceMs) {
            if (!port_->DrainOutput()) throw xConnectionErr(ConnCode::WriteNotCompleted);
            return;
        }
        WaitSpec spec;
        spec.timeoutMs = std::min(PumpSliceMs, wireMs - PumpSliceMs);
        Wait(spec);
        if (!port_) throw xConnectionErr(ConnCode::WriteNotCompleted);
    }
}

void TSerialConnection::WaitForData() {
    SetReaderProgress(7);
    if (!port_) EndReader(ConnCode::PortEventWaitFailed);
    SetReaderProgress(8);
    const int result = port_->WaitReadable(-1);
    if (stop_) EndReader(ConnCode::ReaderStopped);
    if (result < 0) EndReader(ConnCode::PortEventWaitFailed);
    SetReaderProgress(9);
}

long TSerialConnection::QueuedInput() {
    const long queued = port_ ? port_->InputQueueCount() : -1;
    if (queued < 0) EndReader(ConnCode::SerialReadFailed);
    return queued;
}

uint32_t TSerialConnection::ReadAvailable() {
    // On the reader thread this is packet mode; raw reads run on the user-interface thread and
    // get every failure raised to them rather than ending a thread.
    const bool raw = !OnReaderThread();
    long queued = 0;
    for (int check = 0; check < 3; ++check) {
        queued = QueuedInput();
        if (queued > 0) break;
        if (raw && check < 2) Delay(RawCheckSpacingMs);
    }
    if (queued <= 0) {
        if (!raw) return 0;
        throw xConnectionErr(ConnCode::SerialReadFailed);
    }
    SetReaderProgress(3);
    // Packet mode takes what is queued, but never more than the chunk holds; the rest comes with
    // the next read.
    const uint32_t target = raw ? std::min<uint32_t>(requestedCount_, ChunkSize)
                                : static_cast<uint32_t>(std::min<long>(queued, ChunkSize));
    const uint32_t gathered = GatherInto(target, raw);
    SetReaderProgress(4);
    chunkAvailable_ = gathered;
    chunkPosition_ = 0;
    return gathered;
}

uint32_t TSerialConnection::GatherInto(uint32_t target, bool raw) {
    uint32_t gathered = 0;
    uint32_t deadline = GetTickCount() + NoProgressLimitMs;
    while (gathered < target) {
        const long got = port_->ReadNow(chunk_ + gathered, target - gathered);
        if (got < 0) EndReader(ConnCode::SerialReadFailed);
        if (got > 0) {
            gathered += static_cast<uint32_t>(std::min<int64_t>(got, target - gathered));
            deadline = GetTickCount() + NoProgressLimitMs;
            continue;
        }
        if (raw && static_cast<int32_t>(GetTickCount() - deadline) >= 0)
            throw xConnectionErr(ConnCode::SerialReadFailed);
        const int ready =
            port_->WaitReadable(raw ? static_cast<int>(RawCheckSpacingMs) : PacketReadPollMs);
        if (!raw && stop_) EndReader(ConnCode::ReaderStopped);
        if (ready < 0) EndReader(ConnCode::SerialReadFailed);
    }
    return gathered;
}

// ---- port services ----

void TSerialConnection::PurgeInput() {
    if (port_) port_->PurgeInput();
}

void TSerialConnection::WaitOutputEmpty() {
    if (port_) port_->DrainOutput();
}

void TSerialConnection::WaitOutputRoom() {
    auto room = [this] {
        const long queued = port_ ? port_->OutputQueueCount() : -1;
        return queued < OutputQueueSize;
    };
    WaitSpec spec;
    spec.timeoutMs = PumpSliceMs;
    while (Wait(spec, room) == WaitEnd::Deadline) {
    }
}

void TSerialConnection::Delay(uint32_t ms) {
    WaitSpec spec;
    spec.timeoutMs = ms;
    Wait(spec);
}

bool TSerialConnection::GetModemStatus(uint32_t &status) {
    status = 0;
    return port_ && port_->GetModemStatus(&status);
}

// ---- clock ----

uint32_t TSerialConnection::NowMs() {
    int64_t counter = 0;
    if (counterFrequency_ > 0 && QueryPerformanceCounter(&counter)) {
        lastCounter_ = counter;
        const long double ms =
            static_cast<long double>(static_cast<uint64_t>(counter)) / frequencyReal_ * 1000.0L +
            0.5L;
        // Through 64 bits: the millisecond count wraps at 32 bits like the tick count.
        return static_cast<uint32_t>(static_cast<uint64_t>(ms));
    }
    return GetTickCount();
}

uint32_t TSerialConnection::DeadlineMs(uint32_t ms) {
    if (!QueryPerformanceFrequency(&counterFrequency_)) counterFrequency_ = 0;
    frequencyReal_ = static_cast<long double>(counterFrequency_);
    const uint32_t deadline = NowMs() + ms;
    return deadline == 0 ? 1 : deadline; // 0 means "no deadline" to callers
}
