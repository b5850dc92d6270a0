// The cold-load stage: the DTR reset pulse that puts the processor into its bootstrap mode, and
// the cold loader fed to that mode one raw byte at a time.
#include "loader/LoaderEngine.h"
#include "loader/LoaderPayloads.h"
#include "loader/LoaderStage.h"

#include "comm/PacketCodec.h"
#include "files/SupportFiles.h"
#include "platform/Clock.h"
#include "platform/Messages.h"
#include "platform/Serial.h"

#include <cstdio>
#include <vector>

namespace {

// The reset line is held for this long in each state; the bootstrap mode needs the pulse.
constexpr uint32_t ResetHoldMs = 500;
// The processor answers the start triplet within this time; DSR is sampled after it.
constexpr uint32_t StartSettleMs = 30;
// ... and toggles DSR within this time of the ending triplet.
constexpr uint32_t EndingSettleMs = 100;
// The cold loader needs a moment after its end triplet before the line is used again.
constexpr uint32_t LoadedSettleMs = 250;

constexpr uint8_t DbgColdLoad = 61;

} // namespace

// Every step that reconfigures the port behind the remembered options goes through here, so
// that the next Connect knows to apply its own options again.
void LoaderEngine::ReconfigureSerial(const CommOptions &settings, bool usbPause) {
    serial_->SetSettings(settings);
    portReconfigured_ = true;
    // The converter's pause is a wait like any other: Cancel reaches it.
    if (usbPause && usbSerialFlag_ != 0 && usbSerialDelayMs_ > 0)
        serial_->Delay(static_cast<uint32_t>(usbSerialDelayMs_));
    serial_->Open(ConnMode::Raw);
}

void LoaderEngine::ResetTarget(int32_t baudRate) {
    RaiseOnFailure(RunStage([&] { ResetPulse(baudRate); }));
}

void LoaderEngine::ResetPulse(int32_t baudRate) {
    CommOptions line = lastOptions_;
    line.UseTCP = 0;
    line.BaudRate = baudRate;
    line.DtrControl = 1;
    line.RtsControl = 1;
    line.StopBits = 0;
    BusyScope busy(*this);
    if (serial_ != nullptr) {
        ReconfigureSerial(line, false);
        serial_->Delay(ResetHoldMs);
    }
    line.DtrControl = 0;
    if (serial_ != nullptr) {
        ReconfigureSerial(line, false);
        serial_->Delay(ResetHoldMs);
    }
}

void LoaderEngine::SendBootstrapByte(uint8_t byte) {
    RaiseOnFailure(RunStage([&] { SendRawByte(byte); }));
}

void LoaderEngine::SendRawByte(uint8_t byte) {
    if (serial_ != nullptr) serial_->WaitOutputRoom();
    if (current_ == nullptr) return;
    BusyScope busy(*this);
    current_->WriteRaw(&byte, 1);
    // The pending messages go through at every byte: the window stays alive, and a cancel (even
    // one that came without any message) stops the load at the next byte.
    current_->LetMessagesThrough();
}

void LoaderEngine::SendTriplet(const uint8_t *triplet) {
    for (int i = 0; i < 3; ++i) SendRawByte(triplet[i]);
}

void LoaderEngine::SendEndTriplet() {
    RaiseOnFailure(RunStage([&] { SendTriplet(ColdLoaderEndTriplet); }));
}

bool LoaderEngine::SendColdLoader(const std::string &path, int32_t baudRate) {
    RaiseOnFailure(StageSendColdLoader(path, baudRate));
    return true;
}

int32_t LoaderEngine::StageSendColdLoader(const std::string &path, int32_t baudRate) {
    return RunStage([&] {
        // The whole stage counts as running, so that a Disconnect from a handler dispatched in
        // one of its pauses cannot delete the connection under it.
        BusyScope busy(*this);
        if (lastOptions_.UseTCP != 0)
            SendColdLoaderNetwork(path);
        else
            SendColdLoaderSerial(path, baudRate);
    });
}

void LoaderEngine::SendColdLoaderSerial(const std::string &path, int32_t baudRate) {
    ResetPulse(baudRate);
    if (serial_ != nullptr) serial_->PurgeInput();
    // Read whole before the first byte goes out: a file without an end triplet is refused
    // rather than fed to the bootstrap mode, which would then wait for ever.
    std::vector<uint8_t> triplets;
    if (const int32_t code = ReadColdLoaderTriplets(path, triplets); code != 0)
        throw xConnectionErr(code);

    SendTriplet(ColdLoadStartTriplet.data());
    uint32_t before = 0;
    if (serial_ != nullptr) {
        serial_->Delay(StartSettleMs);
        serial_->GetModemStatus(before);
    }
    for (const uint8_t byte : triplets) SendRawByte(byte);
    SendTriplet(ColdLoadEndingTriplet.data());
    uint32_t after = 0;
    if (serial_ != nullptr) {
        serial_->Delay(EndingSettleMs);
        serial_->GetModemStatus(after);
    }
    SendTriplet(ColdLoaderEndTriplet);
    if (serial_ != nullptr) {
        serial_->Delay(LoadedSettleMs);
        serial_->WaitOutputEmpty();
    }
    // A Corvix processor toggles DSR when its cold loader takes over.
    if (lastOptions_.DetectProcessor != 0 && ((before ^ after) & platform::MS_DSR_ON) == 0)
        throw xConnectionErr(EngineCode::NoProcessor);
}

namespace {

// The rest of file, read behind head bytes of room at the front of buffer. False when the file
// holds more than maxBytes: what is read so far never grows past maxBytes + 1.
bool ReadBehindHead(std::FILE *file, size_t head, size_t maxBytes, std::vector<uint8_t> &buffer) {
    buffer.assign(head, 0);
    uint8_t block[4096];
    for (;;) {
        const size_t count = std::fread(block, 1, sizeof block, file);
        if (count == 0) return !std::ferror(file);
        if (buffer.size() - head + count > maxBytes) return false;
        buffer.insert(buffer.end(), block, block + count);
    }
}

} // namespace

// The device feeds the bootstrap mode itself, so it gets the file as it is, in one packet.
void LoaderEngine::SendColdLoaderNetwork(const std::string &path) {
    const FileHandle file = OpenForReading(path);
    if (!file) throw xConnectionErr(EngineCode::NetworkFileNotOpened);
    constexpr size_t MaxFileBytes = packet::MaxSendPayload - NetworkColdLoadHeadSize;
    std::vector<uint8_t> payload;
    if (!ReadBehindHead(file.get(), NetworkColdLoadHeadSize, MaxFileBytes, payload)) {
        // Too long for one packet: the packet layer's own refusal, before anything is sent.
        if (!std::ferror(file.get())) throw xConnectionErr(ConnCode::PayloadTooLong);
        throw xConnectionErr(EngineCode::NetworkFileNotOpened);
    }
    packet::StoreLe16(payload.data(),
                      static_cast<uint16_t>(payload.size() - NetworkColdLoadHeadSize));
    SendWithoutRetries(packet::TypeDbg, DbgColdLoad, payload.data(),
                       static_cast<uint32_t>(payload.size()));
}
