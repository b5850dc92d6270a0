// The flash stage: one SYS request of the pilot BIOS per operation, each through the current
// connection. Without a connection each sends nothing and succeeds.
#include "loader/LoaderEngine.h"
#include "loader/LoaderPayloads.h"
#include "loader/LoaderStage.h"

#include <array>

namespace {

constexpr uint8_t SysInfoProbe = 4;
constexpr uint8_t SysStartBios = 5;
constexpr uint8_t SysFlashData = 10;
constexpr uint8_t SysEraseFlash = 9;
constexpr uint8_t SysWrite = 3;

} // namespace

void LoaderEngine::ReadIdBlock(IdBlockInfo &info) {
    // Zero-filled first: the reply is copied over it only as far as it reaches, so the fields a
    // short reply does not carry read as zero, never as bytes of an earlier reply.
    std::array<uint8_t, InfoProbeReplySize> reply{};
    RaiseOnFailure(StageSysRequest(SysInfoProbe, reply.data(), 0, reply.size()));
    ParseInfoProbeReply(reply, info);
}

void LoaderEngine::SetFlashParameters(uint16_t flashSize, uint16_t sectorSize, uint16_t sectorCount,
                                      uint16_t writeMode) {
    auto payload = BuildFlashDataPayload(flashSize, sectorSize, sectorCount, writeMode);
    RaiseOnFailure(StageSysRequest(SysFlashData, payload.data(), payload.size(), payload.size()));
}

void LoaderEngine::EraseFlash(uint32_t value) {
    auto payload = BuildLe32Payload(value);
    RaiseOnFailure(StageSysRequest(SysEraseFlash, payload.data(), payload.size(), payload.size()));
}

void LoaderEngine::WriteBlock(uint32_t physicalAddress, uint16_t length, const uint8_t *data) {
    // One buffer for all blocks of a load: it grows to the block size once and is reused.
    BuildWriteBlockPayload(physicalAddress, length, data, writeBlockPayload_);
    RaiseOnFailure(StageSysRequest(SysWrite, writeBlockPayload_.data(),
                                   static_cast<uint32_t>(writeBlockPayload_.size()),
                                   writeBlockPayload_.size()));
}

void LoaderEngine::StartBios(uint8_t where) {
    uint8_t payload[1] = {where};
    RaiseOnFailure(StageSysRequest(SysStartBios, payload, sizeof payload, sizeof payload));
}
