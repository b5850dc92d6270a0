// PacketBatch: the callback packets a reader thread has parsed but not yet handed to the
// user-interface thread. The packets of one received chunk travel together in one synchronous
// message instead of one message each, so a run of acknowledgements costs one thread hand-off,
// not one per packet. The storage is fixed and lives with the connection: nothing is allocated
// per packet.
//
// Threads: filled and cleared by the reader thread; read by the user-interface thread only while
// the reader waits in the message that hands it over.
#pragma once

#include "comm/PacketCodec.h"

#include <cstddef>
#include <cstdint>

struct HandlerEntry;

class PacketBatch {
public:
    static constexpr size_t MaxPackets = 512;
    // Room for the largest payload the parser can hold, and then some.
    static constexpr size_t StoreSize = 2 * packet::PayloadBufferSize;
    static_assert(StoreSize >= packet::PayloadBufferSize, "an empty batch takes any packet");

    struct Packet {
        HandlerEntry *entry = nullptr;
        const uint8_t *payload = nullptr;
        uint16_t length = 0;
    };

    bool Empty() const { return count_ == 0; }
    size_t Count() const { return count_; }
    // Whether a packet of length payload bytes still fits; a full batch is handed over first.
    bool Fits(size_t length) const { return count_ < MaxPackets && length <= StoreSize - used_; }
    // Copies the payload in behind the packets already queued; false (nothing taken) when it
    // does not fit.
    [[nodiscard]] bool Add(HandlerEntry *entry, const uint8_t *payload, uint16_t length);
    void Clear() {
        count_ = 0;
        used_ = 0;
    }
    const Packet &operator[](size_t index) const { return packets_[index]; }
    const Packet *begin() const { return packets_; }
    const Packet *end() const { return packets_ + count_; }

private:
    Packet packets_[MaxPackets];
    size_t count_ = 0;
    size_t used_ = 0;
    uint8_t store_[StoreSize];
};
