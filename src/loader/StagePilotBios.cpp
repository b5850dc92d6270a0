// The pilot BIOS stage: the framed raw upload that the cold loader takes (header, echoed header
// checksum, marker, payload, returned checksum), and the baud-rate request the pilot BIOS
// answers once it runs.
#include "loader/LoaderEngine.h"
#include "loader/LoaderPayloads.h"
#include "loader/LoaderStage.h"

#include "comm/PacketCodec.h"
#include "files/SupportFiles.h"

#include <cstdio>
#include <vector>

void LoaderEngine::GetPilotBiosLength(std::FILE *file, uint16_t &length) {
    RaiseOnFailure(PilotBiosLength(file, length));
}

void LoaderEngine::SendPilotBios(const std::string &path, int32_t baudRate) {
    RaiseOnFailure(StageSendPilotBios(path, baudRate));
}

int32_t LoaderEngine::StageSendPilotBios(const std::string &path, int32_t baudRate) {
    return RunStage([&] {
        BusyScope busy(*this);
        if (lastOptions_.UseTCP != 0)
            SendPilotBiosNetwork(path, baudRate);
        else
            SendPilotBiosSerial(path, baudRate);
    });
}

namespace {

constexpr uint8_t DbgPilotHeader = 54;
constexpr uint8_t DbgPilotData = 60;

// The payload: everything after the marker, read whole before anything is sent, so that a file
// that changed since it was measured is refused rather than sent short of its header's length.
std::vector<uint8_t> ReadPilotPayload(std::FILE *file, uint16_t length) {
    std::vector<uint8_t> payload(length - 1u);
    if (!payload.empty() && std::fread(payload.data(), 1, payload.size(), file) != payload.size())
        throw xConnectionErr(SupportFileCode::PilotBiosUnusable);
    return payload;
}

} // namespace

void LoaderEngine::SendPilotBiosSerial(const std::string &path, int32_t baudRate) {
    CommOptions line = lastOptions_;
    line.UseTCP = 0;
    line.BaudRate = baudRate;
    line.DtrControl = 0;
    line.RtsControl = 1;
    line.StopBits = 0;
    if (serial_ != nullptr) ReconfigureSerial(line, true);

    const FileHandle file = OpenForReading(path);
    if (!file) throw xConnectionErr(SupportFileCode::PilotBiosUnusable);
    uint16_t length = 0;
    if (const int32_t code = PilotBiosLength(file.get(), length); code != 0)
        throw xConnectionErr(code);
    const PilotHeader header =
        BuildPilotHeader(static_cast<uint32_t>(lastOptions_.PilotBiosPhysicalAdress), length);
    const std::vector<uint8_t> payload = ReadPilotPayload(file.get(), length);

    if (serial_ != nullptr) serial_->PurgeInput();
    for (const uint8_t byte : header) SendRawByte(byte);
    // The cold loader echoes the header checksum before it takes the payload; no byte at all
    // is a read failure of its own (2002) and passes on unchanged.
    uint8_t echo = 0;
    Current().ReadRaw(&echo, 1);
    if (echo != PilotHeaderChecksum(header))
        throw xConnectionErr(EngineCode::PilotBiosNotAcknowledged);
    SendRawByte(PilotBiosMarker);

    try {
        if (serial_ != nullptr) serial_->WaitOutputRoom();
        Current().WriteRaw(payload.data(), static_cast<uint32_t>(payload.size()));
        uint8_t answer[2] = {};
        Current().ReadRaw(answer, sizeof answer);
        if (packet::LoadLe16(answer) != PilotUploadChecksum(payload.data(), payload.size()))
            throw xConnectionErr(EngineCode::PilotBiosNotAcknowledged);
    } catch (const xConnectionErr &error) {
        // Whatever went wrong once the payload was under way, the board did not take the pilot
        // BIOS; only a cancel keeps its own meaning.
        if (error.InternalCode == ConnCode::Cancelled) throw;
        throw xConnectionErr(EngineCode::PilotBiosNotAcknowledged);
    }
    if (serial_ != nullptr) serial_->WaitOutputEmpty();
}

// The device runs the upload's conversation with the cold loader itself: it takes the header,
// then the whole record from the marker on. The record goes whole (head and all its bytes), so
// the device gets every byte of the pilot BIOS.
void LoaderEngine::SendPilotBiosNetwork(const std::string &path, int32_t baudRate) {
    const FileHandle file = OpenForReading(path);
    if (!file) throw xConnectionErr(EngineCode::NetworkFileNotOpened);
    uint16_t length = 0;
    if (const int32_t code = PilotBiosLength(file.get(), length); code != 0)
        throw xConnectionErr(code);
    const auto rate = static_cast<uint32_t>(baudRate);
    auto header = BuildNetworkPilotHeader(
        rate,
        BuildPilotHeader(static_cast<uint32_t>(lastOptions_.PilotBiosPhysicalAdress), length));

    // Refused before the header goes out: a device that took a header whose data never follows
    // would wait for it.
    const size_t recordSize = NetworkPilotDataHeadSize + length;
    if (recordSize > packet::MaxSendPayload) throw xConnectionErr(ConnCode::PayloadTooLong);
    std::vector<uint8_t> record(recordSize);
    BuildNetworkPilotDataHead(rate, length, record.data());
    // PilotBiosLength left the file just after the marker, which the record starts with.
    if (std::fseek(file.get(), -1, SEEK_CUR) != 0 ||
        std::fread(record.data() + NetworkPilotDataHeadSize, 1, length, file.get()) != length)
        throw xConnectionErr(SupportFileCode::PilotBiosUnusable);

    SendWithoutRetries(packet::TypeDbg, DbgPilotHeader, header.data(),
                       static_cast<uint32_t>(header.size()));
    SendWithoutRetries(packet::TypeDbg, DbgPilotData, record.data(),
                       static_cast<uint32_t>(record.size()));
}

bool LoaderEngine::SetTargetBaudRate(int32_t baudRate) {
    auto payload = BuildLe32Payload(static_cast<uint32_t>(baudRate));
    const int32_t code = StageSysRequest(6, payload.data(), payload.size(), payload.size());
    // A refusal is an answer, not a failure: the session then tries a lower rate.
    if (code == ConnCode::NakReply) return false;
    RaiseOnFailure(code);
    return true;
}
