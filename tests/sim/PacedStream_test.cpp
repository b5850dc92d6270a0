// Pacing on a simulated wire, on a clock the test supplies: bytes leave one byte time (10 bits at
// the line rate) apart, line changes travel in order with the bytes and retime what follows.
#include "HostChannel.h"
#include "PacedStream.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace std::chrono_literals;
using sim::SimClock;

const SimClock::time_point T0 = SimClock::time_point() + 1h;

TEST(PacedStream, ByteTimeIsTenBitsAtTheRate) {
    EXPECT_EQ(sim::ByteTimeAt(1000), 10ms);
    EXPECT_EQ(sim::ByteTimeAt(115200), sim::ByteTime(86805));
    EXPECT_EQ(sim::ByteTimeAt(0), sim::ByteTime::zero());
}

TEST(PacedStream, BytesLeaveOneByteTimeApart) {
    sim::PacedStream stream;
    const uint8_t bytes[] = {1, 2, 3};
    stream.PushBytes(bytes, 3, T0);
    sim::PacedStream::Item item;
    EXPECT_FALSE(stream.TakeDue(T0 + 9ms, 10ms, &item));
    EXPECT_EQ(stream.NextDue(10ms), T0 + 10ms);
    ASSERT_TRUE(stream.TakeDue(T0 + 10ms, 10ms, &item));
    EXPECT_EQ(item.byte, 1);
    EXPECT_FALSE(stream.TakeDue(T0 + 19ms, 10ms, &item));
    // A late look takes everything that is due by then, at once.
    ASSERT_TRUE(stream.TakeDue(T0 + 35ms, 10ms, &item));
    ASSERT_TRUE(stream.TakeDue(T0 + 35ms, 10ms, &item));
    EXPECT_EQ(item.byte, 3);
    EXPECT_TRUE(stream.Empty());
    EXPECT_FALSE(stream.NextDue(10ms).has_value());
}

TEST(PacedStream, AnIdleWireStartsWhenTheByteArrives) {
    sim::PacedStream stream;
    const uint8_t first = 1, second = 2;
    sim::PacedStream::Item item;
    stream.PushBytes(&first, 1, T0);
    ASSERT_TRUE(stream.TakeDue(T0 + 10ms, 10ms, &item));
    stream.PushBytes(&second, 1, T0 + 100ms);
    EXPECT_EQ(stream.NextDue(10ms), T0 + 110ms);
}

TEST(PacedStream, UnpacedItemsAreDueAtOnceAndEventsTakeNoTime) {
    sim::PacedStream stream;
    const uint8_t byte = 7;
    stream.PushBytes(&byte, 1, T0);
    stream.PushEvent({sim::LineEventKind::Dtr, 1, T0}, T0);
    sim::PacedStream::Item item;
    ASSERT_TRUE(stream.TakeDue(T0, sim::ByteTime::zero(), &item));
    ASSERT_TRUE(stream.TakeDue(T0, sim::ByteTime::zero(), &item));
    EXPECT_TRUE(item.isEvent);
}

// Records what the channel delivers, with the time of the delivery round.
class DeliveryLog final : public sim::Peer {
public:
    void OnAttach(sim::HostLink &) override { attached = true; }
    void OnHostBytes(const uint8_t *data, size_t count) override {
        bytes.insert(bytes.end(), data, data + count);
    }
    void OnLineEvent(const sim::LineEvent &event, const sim::LineState &line) override {
        events.push_back(event);
        bytesBeforeEvent.push_back(bytes.size());
        lastLine = line;
    }
    bool attached = false;
    std::vector<uint8_t> bytes;
    std::vector<sim::LineEvent> events;
    std::vector<size_t> bytesBeforeEvent;
    sim::LineState lastLine;
};

TEST(HostChannel, PacesTheHostsBytesAtTheRateTheHostSet) {
    DeliveryLog peer;
    sim::HostChannel channel(peer, true);
    EXPECT_TRUE(peer.attached);
    channel.LineChange({sim::LineEventKind::BaudRate, 1000, T0});
    const uint8_t bytes[] = {1, 2, 3};
    channel.FromHost(bytes, 3, T0);
    channel.DeliverDue(T0 + 5ms);
    ASSERT_EQ(peer.events.size(), 1u);
    EXPECT_EQ(peer.lastLine.baudRate, 1000u);
    EXPECT_TRUE(peer.bytes.empty());
    EXPECT_EQ(channel.MsUntilNextDue(T0 + 5ms), 5);
    channel.DeliverDue(T0 + 10ms);
    EXPECT_EQ(peer.bytes.size(), 1u);
    channel.DeliverDue(T0 + 30ms);
    EXPECT_EQ(peer.bytes, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(channel.MsUntilNextDue(T0 + 30ms), -1);
}

TEST(HostChannel, ARateChangeRetimesOnlyWhatFollowsIt) {
    DeliveryLog peer;
    sim::HostChannel channel(peer, true);
    channel.LineChange({sim::LineEventKind::BaudRate, 1000, T0});
    const uint8_t slow = 1, fast[] = {2, 3};
    channel.FromHost(&slow, 1, T0);
    channel.LineChange({sim::LineEventKind::BaudRate, 10000, T0});
    channel.FromHost(fast, 2, T0);
    channel.DeliverDue(T0 + 9ms);
    EXPECT_TRUE(peer.bytes.empty()) << "the first byte still takes 10 ms at 1000 baud";
    channel.DeliverDue(T0 + 12ms);
    EXPECT_EQ(peer.bytes, (std::vector<uint8_t>{1, 2, 3})) << "then 1 ms each at 10000 baud";
    EXPECT_EQ(peer.bytesBeforeEvent, (std::vector<size_t>{0, 1}));
}

TEST(HostChannel, PeerOutputIsPacedAndPurgeable) {
    DeliveryLog peer;
    sim::HostChannel channel(peer, true);
    channel.LineChange({sim::LineEventKind::BaudRate, 1000, T0});
    channel.DeliverDue(T0);
    const uint8_t reply[] = {9, 8, 7, 6};
    channel.SendToHost(reply, sizeof reply); // stamped with the real clock, long after T0
    std::vector<uint8_t> out;
    const auto now = SimClock::now();
    channel.TakeForHost(now, 100, out);
    EXPECT_TRUE(out.empty());
    channel.TakeForHost(now + 20ms, 100, out);
    EXPECT_EQ(out, (std::vector<uint8_t>{9, 8}));
    channel.TakeForHost(now + 1s, 1, out);
    EXPECT_EQ(out.size(), 3u) << "the limit holds";
    channel.PurgeToHost();
    channel.TakeForHost(now + 2s, 100, out);
    EXPECT_EQ(out.size(), 3u);
}

TEST(HostChannel, ReportsModemChangesAndDisconnectRequestsOnce) {
    DeliveryLog peer;
    sim::HostChannel channel(peer, false);
    EXPECT_FALSE(channel.TakeModemChange());
    channel.SetModemLines(sim::ModemDsr);
    channel.SetModemLines(sim::ModemDsr); // no change
    EXPECT_EQ(channel.TakeModemChange(), sim::ModemDsr);
    EXPECT_FALSE(channel.TakeModemChange());
    channel.Disconnect();
    EXPECT_TRUE(channel.TakeDisconnectRequest());
    EXPECT_FALSE(channel.TakeDisconnectRequest());
}

} // namespace
