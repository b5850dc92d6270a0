#include "comm/PacketBatch.h"

#include <cstring>

bool PacketBatch::Add(HandlerEntry *entry, const uint8_t *payload, uint16_t length) {
    if (!Fits(length)) return false;
    uint8_t *slot = store_ + used_;
    if (length > 0) std::memcpy(slot, payload, length);
    packets_[count_++] = Packet{entry, slot, length};
    used_ += length;
    return true;
}
