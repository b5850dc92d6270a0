#include "BoardInfo.h"

#include "FrameCodec.h"

#include <cstring>

namespace sim {

namespace {

class LittleEndianWriter {
public:
    explicit LittleEndianWriter(uint8_t *base) : base_(base) {}
    void Put8(size_t offset, uint8_t value) { base_[offset] = value; }
    void Put16(size_t offset, uint16_t value) {
        base_[offset] = uint8_t(value);
        base_[offset + 1] = uint8_t(value >> 8);
    }
    void Put32(size_t offset, uint32_t value) {
        Put16(offset, uint16_t(value));
        Put16(offset + 2, uint16_t(value >> 16));
    }
    // Zero-padded text in a field of the given size (the caller keeps it shorter than the field).
    void PutText(size_t offset, size_t size, const char *text) {
        std::strncpy(reinterpret_cast<char *>(base_ + offset), text, size);
    }

private:
    uint8_t *base_;
};

void FillIdBlock(uint8_t *block, const BoardIdentity &identity) {
    LittleEndianWriter id(block);
    id.Put16(0, 1);                  // tableVersion
    id.Put16(2, identity.productId); // productID
    id.Put16(4, 0x5456);             // vendorID
    // Build time 05/17/2024 12:00:00; readers take month (8), day (9), century (6), year (7).
    id.Put8(6, 20);
    id.Put8(7, 24);
    id.Put8(8, 5);
    id.Put8(9, 17);
    id.Put8(10, 12);
    id.Put8(11, 0);
    id.Put8(12, 0);
    id.Put32(13, identity.flashId); // flashID
    id.Put16(17, 1);                // flashType
    id.Put16(19, 512);              // flashSize (KiB): the 0x80000-0xFFFFF window
    id.Put16(21, 4096);             // sectorSize
    id.Put16(23, 128);              // numSectors
    id.Put16(25, 70);               // flashSpeed (ns)
    // No second flash chip: its fields stay zero (27-40).
    id.Put32(41, 0x0000C0DE);                                    // ramID
    id.Put16(45, InfoRamKiB * 1024 / 4096);                      // ramSize in 4 KiB units
    id.Put16(47, 55);                                            // ramSpeed (ns)
    id.Put16(49, 3000);                                          // cpuID
    id.Put32(51, 22'118'400);                                    // crystal (Hz)
    const uint8_t mac[6] = {0x02, 0x00, 0x5E, 0x10, 0x00, 0x01}; // locally administered
    std::memcpy(block + 55, mac, sizeof mac);
    id.PutText(61, 24, "CVXSIM-000001");
    id.PutText(85, 61, "corvix-sim simulated board");
    id.Put32(147, uint32_t(IdBlockSize)); // idBlockSize
    id.Put16(151, 0);                     // userBlockSize
    id.Put16(153, 0);                     // userBlockLoc
    id.Put16(155, Fletcher8(block, 155)); // idBlockCRC
    id.PutText(157, 6, "CVXID");
}

} // namespace

std::vector<uint8_t> BuildInfoReply(const BoardIdentity &identity) {
    std::vector<uint8_t> reply(InfoReplySize, 0);
    LittleEndianWriter info(reply.data());
    info.Put32(0, identity.pilotAddress);
    info.Put16(4, identity.flashId);
    info.Put8(6, InfoRevision);
    info.Put8(7, 1);
    info.Put16(8, InfoRamKiB);
    FillIdBlock(reply.data() + IdBlockOffset, identity);
    return reply;
}

} // namespace sim
