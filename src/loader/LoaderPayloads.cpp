#include "loader/LoaderPayloads.h"

#include "comm/PacketCodec.h"

#include <algorithm>
#include <stdexcept>

PilotHeader BuildPilotHeader(uint32_t loadAddress, uint16_t length) {
    PilotHeader header{};
    packet::StoreLe32(header.data(), loadAddress);
    packet::StoreLe16(header.data() + 4, length);
    unsigned sum = 0;
    for (size_t i = 0; i + 1 < header.size(); ++i) sum += header[i];
    header[6] = static_cast<uint8_t>(sum & 0xFF);
    return header;
}

uint16_t PilotUploadChecksum(const uint8_t *payload, size_t count, uint16_t start) {
    // The same end-around-carry Fletcher sums as the packet trailer, continued from start.
    return packet::Checksum(payload, count, start);
}

std::array<uint8_t, NetworkPilotHeaderSize> BuildNetworkPilotHeader(uint32_t baudRate,
                                                                    const PilotHeader &header) {
    std::array<uint8_t, NetworkPilotHeaderSize> payload{};
    packet::StoreLe32(payload.data(), baudRate);
    packet::StoreLe16(payload.data() + 4, static_cast<uint16_t>(header.size()));
    std::copy(header.begin(), header.end(), payload.begin() + 6);
    return payload; // the pad byte stays 0
}

void BuildNetworkPilotDataHead(uint32_t baudRate, uint16_t length, uint8_t *head) {
    packet::StoreLe32(head, baudRate);
    packet::StoreLe16(head + 4, length);
}

std::array<uint8_t, FlashDataSize> BuildFlashDataPayload(uint16_t flashSize, uint16_t sectorSize,
                                                         uint16_t sectorCount, uint16_t writeMode) {
    std::array<uint8_t, FlashDataSize> payload{};
    packet::StoreLe16(payload.data() + 0, sectorSize);
    packet::StoreLe16(payload.data() + 2, sectorCount);
    packet::StoreLe16(payload.data() + 4, flashSize);
    packet::StoreLe16(payload.data() + 6, writeMode);
    return payload;
}

void BuildWriteBlockPayload(uint32_t physicalAddress, uint16_t length, const uint8_t *data,
                            std::vector<uint8_t> &payload) {
    if (data == nullptr && length > 0)
        throw std::invalid_argument("BuildWriteBlockPayload: no data for a non-empty block");
    payload.assign(WriteBlockHeaderSize + length, 0);
    payload[0] = PhysicalAddressMode;
    packet::StoreLe16(payload.data() + 1, length);
    packet::StoreLe32(payload.data() + 3, physicalAddress);
    if (length > 0) std::copy_n(data, length, payload.begin() + WriteBlockHeaderSize);
}

std::array<uint8_t, 4> BuildLe32Payload(uint32_t value) {
    std::array<uint8_t, 4> payload{};
    packet::StoreLe32(payload.data(), value);
    return payload;
}

void ParseInfoProbeReply(const std::array<uint8_t, InfoProbeReplySize> &reply, IdBlockInfo &info) {
    info.Value0 = packet::LoadLe32(reply.data());
    info.FlashId = packet::LoadLe16(reply.data() + 4);
    info.Byte6 = reply[6];
    info.Byte7 = reply[7];
    info.Value8 = packet::LoadLe16(reply.data() + 8);
    std::copy_n(reply.begin() + InfoProbeIdBlockOffset, IdBlockInfo::IdBlockSize, info.IdBlock);
    info.ProductId = packet::LoadLe16(info.IdBlock + 2);
}
