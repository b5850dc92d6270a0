// The bytes the loader engine puts on the wire and takes off it, apart from any connection: the
// pilot BIOS upload header and checksum, and the payloads of the SYS requests of the flash
// stage. Pure functions, so that every layout can be checked byte for byte.
#pragma once

#include "loader/LoaderEngineApi.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// Bootstrap-mode control triplets the engine sends around the cold loader's own triplets: the
// first announces the load, the second comes just before the end triplet and makes a Corvix
// processor toggle DSR.
inline constexpr std::array<uint8_t, 3> ColdLoadStartTriplet = {0x80, 0x0E, 0x20};
inline constexpr std::array<uint8_t, 3> ColdLoadEndingTriplet = {0x80, 0x0E, 0x30};

// The pilot BIOS upload header: load address (LE32), length from the marker on (LE16), and the
// sum of those six bytes modulo 256, which the cold loader echoes before it takes the payload.
inline constexpr size_t PilotHeaderSize = 7;
using PilotHeader = std::array<uint8_t, PilotHeaderSize>;
PilotHeader BuildPilotHeader(uint32_t loadAddress, uint16_t length);
inline uint8_t PilotHeaderChecksum(const PilotHeader &header) { return header[6]; }

// The cold loader answers the payload with two ones'-complement sums (running sum high, sum of
// sums low) that it starts after the marker byte, hence the start value.
inline constexpr uint16_t PilotUploadChecksumStart = 0xCCCC;
uint16_t PilotUploadChecksum(const uint8_t *payload, size_t count,
                             uint16_t start = PilotUploadChecksumStart);

// Through a network device the pilot BIOS goes in two packets. The header packet: the line rate
// for the board (LE32), the size of the header (7, LE16), the header, one pad byte.
inline constexpr size_t NetworkPilotHeaderSize = 14;
std::array<uint8_t, NetworkPilotHeaderSize> BuildNetworkPilotHeader(uint32_t baudRate,
                                                                    const PilotHeader &header);
// The data record: rate (LE32) and the header's length (LE16) in front of that many bytes from
// the marker on. Fills the head of a record of NetworkPilotDataHeadSize + length bytes.
inline constexpr size_t NetworkPilotDataHeadSize = 6;
void BuildNetworkPilotDataHead(uint32_t baudRate, uint16_t length, uint8_t *head);

// Through a network device the cold loader goes whole in one packet behind its length (LE16).
inline constexpr size_t NetworkColdLoadHeadSize = 2;

// SYS/FLASHDATA: sector size, number of sectors, flash size, write mode, each LE16. The order
// is the pilot BIOS's, not that of SetFlashParameters' arguments.
inline constexpr size_t FlashDataSize = 8;
std::array<uint8_t, FlashDataSize> BuildFlashDataPayload(uint16_t flashSize, uint16_t sectorSize,
                                                         uint16_t sectorCount, uint16_t writeMode);

// SYS/WRITE: address mode 0 (a 20-bit physical address), length LE16, address LE32, then the
// data. Fills payload (resized to length + 7).
inline constexpr size_t WriteBlockHeaderSize = 7;
inline constexpr uint8_t PhysicalAddressMode = 0;
void BuildWriteBlockPayload(uint32_t physicalAddress, uint16_t length, const uint8_t *data,
                            std::vector<uint8_t> &payload);

// A 32-bit value as the four LE bytes of SYS/SETBAUDRATE and SYS/ERASEFLASH.
std::array<uint8_t, 4> BuildLe32Payload(uint32_t value);

// SYS/INFOPROBE reply: 12 bytes of fields, then the board's ID block.
inline constexpr size_t InfoProbeIdBlockOffset = 12;
inline constexpr size_t InfoProbeReplySize = InfoProbeIdBlockOffset + IdBlockInfo::IdBlockSize;
// Reads the fields of a reply buffer of InfoProbeReplySize bytes.
void ParseInfoProbeReply(const std::array<uint8_t, InfoProbeReplySize> &reply, IdBlockInfo &info);
