// The hand-over of received packets in batches: the batch's own bounds, and through a connection
// that every packet of a run reaches its handler once, in order, with its own receive record.
#include "CommTestSupport.h"

#include "comm/PacketBatch.h"

#include <gtest/gtest.h>

#include <thread>

using namespace commtest;
using namespace platform;

namespace {

// A payload that says which packet it is and how long it should be.
std::vector<uint8_t> Numbered(uint32_t index, size_t size) {
    std::vector<uint8_t> payload(std::max<size_t>(size, 4));
    packet::StoreLe32(payload.data(), index);
    for (size_t i = 4; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(index + i);
    return payload;
}

} // namespace

// ---- the batch itself ----

struct BatchFill {
    const char *name;
    size_t payloadSize;
    size_t fitting; // how many such packets one batch takes
};

class BatchBounds : public ::testing::TestWithParam<BatchFill> {};

TEST_P(BatchBounds, TakesPacketsInOrderUntilFullAndAgainAfterClear) {
    const BatchFill fill = GetParam();
    PacketBatch batch;
    HandlerEntry entries[2];
    for (int round = 0; round < 2; ++round) { // the second round runs on a cleared batch
        for (size_t i = 0; i < fill.fitting; ++i) {
            const auto payload = Numbered(static_cast<uint32_t>(i), fill.payloadSize);
            ASSERT_TRUE(
                batch.Add(&entries[i % 2], payload.data(), static_cast<uint16_t>(fill.payloadSize)))
                << "packet " << i;
        }
        const auto refused = Numbered(99999, fill.payloadSize);
        EXPECT_FALSE(batch.Fits(fill.payloadSize));
        EXPECT_FALSE(
            batch.Add(&entries[0], refused.data(), static_cast<uint16_t>(fill.payloadSize)));
        ASSERT_EQ(batch.Count(), fill.fitting);
        size_t index = 0;
        for (const PacketBatch::Packet &packet : batch) {
            EXPECT_EQ(packet.entry, &entries[index % 2]);
            ASSERT_EQ(packet.length, fill.payloadSize);
            const auto expected = Numbered(static_cast<uint32_t>(index), fill.payloadSize);
            EXPECT_TRUE(
                std::equal(expected.begin(), expected.begin() + fill.payloadSize, packet.payload))
                << "packet " << index;
            ++index;
        }
        batch.Clear();
        EXPECT_TRUE(batch.Empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    PacketBatch, BatchBounds,
    ::testing::Values(BatchFill{"FullByCount", 4, PacketBatch::MaxPackets},
                      BatchFill{"FullByBytes", 20000, PacketBatch::StoreSize / 20000},
                      BatchFill{"LargestPayload", packet::PayloadBufferSize,
                                PacketBatch::StoreSize / packet::PayloadBufferSize}),
    [](const auto &test) { return std::string(test.param.name); });

TEST(PacketBatch, EmptyPayloadsTakeAPlaceButNoBytes) {
    PacketBatch batch;
    HandlerEntry entry;
    for (size_t i = 0; i < PacketBatch::MaxPackets; ++i) ASSERT_TRUE(batch.Add(&entry, nullptr, 0));
    EXPECT_FALSE(batch.Fits(0));
    batch.Clear();
    EXPECT_TRUE(batch.Fits(PacketBatch::StoreSize));
    EXPECT_FALSE(batch.Fits(PacketBatch::StoreSize + 1));
}

// ---- through a connection ----

namespace {

constexpr uint8_t Code = 3;

// What a handler saw: the index of each packet, and whether the receive record it found said
// NAK (as the download's counter looks at it).
struct Seen {
    TConnection *connection = nullptr;
    std::vector<uint32_t> order;
    std::vector<bool> nak;
    size_t closeAfter = 0; // close the connection from the handler of this packet (1-based)
};

void Record(const uint8_t *payload, uint16_t length, void *context) {
    auto *seen = static_cast<Seen *>(context);
    seen->order.push_back(length >= 4 ? packet::LoadLe32(payload) : 0xFFFFFFFF);
    const ReceiveError error = seen->connection->TakeReceiveError();
    seen->nak.push_back(error.present && error.kind == ReceiveErrorKind::NakReply);
    if (seen->order.size() == seen->closeAfter) seen->connection->Close();
}

struct DeliveryRun {
    const char *name;
    uint32_t packets;
    size_t payloadSize;
    std::vector<uint32_t> naks; // indices of the packets that come back refused
};

class BatchedDelivery : public ::testing::TestWithParam<DeliveryRun> {};

// The frames of a run, written in one go from another thread (the reader hands them to this one).
std::vector<uint8_t> Wire(const DeliveryRun &run) {
    std::vector<uint8_t> wire;
    for (uint32_t i = 0; i < run.packets; ++i) {
        const bool nak = std::find(run.naks.begin(), run.naks.end(), i) != run.naks.end();
        const auto frame =
            Reply(0, static_cast<uint8_t>((nak ? packet::NakBit : packet::AckBit) | Code),
                  Numbered(i, run.payloadSize));
        wire.insert(wire.end(), frame.begin(), frame.end());
    }
    return wire;
}

} // namespace

TEST_P(BatchedDelivery, EveryPacketOnceInOrderWithItsOwnRecord) {
    const DeliveryRun run = GetParam();
    TestWindow window;
    TPipeConnection conn(window.Handle());
    Seen seen;
    seen.connection = &conn;
    conn.RegisterHandler(0, Code, &Record, &seen, false, false);
    conn.SetMode(ConnMode::Packet);
    const std::vector<uint8_t> wire = Wire(run);
    std::thread writer([&] { WriteAll(conn.PeerFd(), wire); });
    const bool all = PumpUntil([&] { return seen.order.size() >= run.packets; }, 10000);
    writer.join();
    ASSERT_TRUE(all) << seen.order.size() << " of " << run.packets;
    PumpUntil([] { return false; }, 20); // nothing more may come
    ASSERT_EQ(seen.order.size(), run.packets);
    for (uint32_t i = 0; i < run.packets; ++i) {
        EXPECT_EQ(seen.order[i], i);
        const bool nak = std::find(run.naks.begin(), run.naks.end(), i) != run.naks.end();
        EXPECT_EQ(seen.nak[i], nak) << "packet " << i;
    }
    conn.Close();
}

INSTANTIATE_TEST_SUITE_P(
    Connection, BatchedDelivery,
    ::testing::Values(DeliveryRun{"ShortRun", 5, 4, {}},
                      DeliveryRun{
                          "MorePacketsThanABatchHolds", 3 * PacketBatch::MaxPackets + 7, 4, {}},
                      DeliveryRun{"MoreBytesThanABatchHolds", 12, 20000, {}},
                      DeliveryRun{"RefusalsKeepTheirPlace", 40, 8, {0, 17, 18, 39}}),
    [](const auto &test) { return std::string(test.param.name); });

TEST(BatchedDelivery, CloseFromAHandlerEndsTheRestOfItsBatch) {
    TestWindow window;
    TPipeConnection conn(window.Handle());
    Seen seen;
    seen.connection = &conn;
    seen.closeAfter = 2;
    conn.RegisterHandler(0, Code, &Record, &seen, false, false);
    conn.SetMode(ConnMode::Packet);
    // One write: the packets behind the second are in its batch or behind it, never delivered.
    WriteAll(conn.PeerFd(), Wire(DeliveryRun{"", 6, 4, {}}));
    PumpUntil([&] { return !conn.ReaderRunning() || seen.order.size() > 2; }, 5000);
    PumpUntil([] { return false; }, 20);
    EXPECT_EQ(seen.order, (std::vector<uint32_t>{0, 1}));
    EXPECT_FALSE(conn.ReaderRunning());
}
