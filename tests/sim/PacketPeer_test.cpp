// The scriptable packet peer on its own, with a host link that keeps what the peer sends back.
#include "PacketPeer.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

class FakeHostLink final : public sim::HostLink {
public:
    void SendToHost(const uint8_t *data, size_t count) override {
        sent.insert(sent.end(), data, data + count);
    }
    void SetModemLines(uint8_t lines) override { modem = lines; }
    uint8_t ModemLines() const override { return modem; }
    void Disconnect() override { ++disconnects; }

    Bytes sent;
    uint8_t modem = 0;
    int disconnects = 0;
};

class PacketPeerTest : public ::testing::Test {
protected:
    PacketPeerTest() { peer.OnAttach(link); }

    void Send(uint8_t type, uint8_t subtype, const Bytes &payload = {}) {
        const Bytes bytes = sim::EncodeFrame({type, subtype, payload});
        peer.OnHostBytes(bytes.data(), bytes.size());
    }
    // Decodes what the peer sent since the last call.
    std::vector<sim::Frame> Replies() {
        std::vector<sim::Frame> frames;
        replyDecoder.Feed(link.sent.data(), link.sent.size(), frames);
        link.sent.clear();
        return frames;
    }

    FakeHostLink link;
    sim::PacketPeer peer;
    sim::FrameDecoder replyDecoder;
};

TEST_F(PacketPeerTest, AnswersByRuleWithAckOrNak) {
    peer.SetRule({0, 4, sim::ReplyKind::Ack, {0xAA, 0x7E, 0x01}});
    peer.SetRule({1, 2, sim::ReplyKind::Nak, {3}});
    Send(0, 4);
    Send(1, 2, {9, 9});
    auto replies = Replies();
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].type, 0);
    EXPECT_EQ(replies[0].subtype, 0x84);
    EXPECT_EQ(replies[0].payload, (Bytes{0xAA, 0x7E, 0x01}));
    EXPECT_EQ(replies[1].type, 1);
    EXPECT_EQ(replies[1].subtype, 0x42);
    EXPECT_EQ(replies[1].payload, Bytes{3});

    auto received = peer.Received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[1].frame.payload, (Bytes{9, 9}));
}

TEST_F(PacketPeerTest, RecordsButDoesNotAnswerUnknownRequestsOrReplies) {
    peer.SetRule({0, 1, sim::ReplyKind::Ack, {}});
    Send(0, 5);        // no rule
    Send(0, 0x80 | 1); // the host's own ACK is no request
    Send(0, 1);
    auto replies = Replies();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].subtype, 0x81);
    EXPECT_EQ(peer.Received().size(), 3u);
}

TEST_F(PacketPeerTest, DropsOnlyTheNthReply) {
    peer.SetRule({0, 3, sim::ReplyKind::Ack, {}, sim::PacketFault::Drop, 2});
    for (int i = 0; i < 3; ++i) Send(0, 3);
    EXPECT_EQ(Replies().size(), 2u);
    EXPECT_EQ(peer.Received().size(), 3u);
}

TEST_F(PacketPeerTest, CorruptedRepliesFailTheirChecks) {
    peer.SetRule({0, 2, sim::ReplyKind::Ack, {1}, sim::PacketFault::CorruptHeaderChecksum, 1});
    peer.SetRule({0, 3, sim::ReplyKind::Ack, {1}, sim::PacketFault::CorruptPacketChecksum, 0});
    Send(0, 2);
    Send(0, 2);
    Send(0, 3);
    auto replies = Replies();
    ASSERT_EQ(replies.size(), 1u) << "only the second read reply is whole";
    EXPECT_EQ(replies[0].subtype, 0x82);
    EXPECT_EQ(replyDecoder.BadFrames(), 2u);
}

TEST_F(PacketPeerTest, CloseFaultDropsTheHostInsteadOfAnswering) {
    peer.SetRule({0, 9, sim::ReplyKind::Ack, {}, sim::PacketFault::Close, 0});
    peer.SetRule({0, 1, sim::ReplyKind::Ack, {}});
    Bytes two = sim::EncodeFrame({0, 9, {}});
    const Bytes noop = sim::EncodeFrame({0, 1, {}});
    two.insert(two.end(), noop.begin(), noop.end());
    peer.OnHostBytes(two.data(), two.size());
    EXPECT_EQ(link.disconnects, 1);
    EXPECT_TRUE(Replies().empty()) << "nothing more is answered on a line being dropped";
}

TEST_F(PacketPeerTest, SilentPeerAndReplacedRules) {
    peer.SetRule({0, 1, sim::ReplyKind::Ack, {1}});
    peer.SetSilent(true);
    Send(0, 1);
    EXPECT_TRUE(Replies().empty());
    peer.SetSilent(false);
    peer.SetRule({0, 1, sim::ReplyKind::Nak, {2}});
    Send(0, 1);
    auto replies = Replies();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].subtype, 0x41);
    peer.ClearRules();
    Send(0, 1);
    EXPECT_TRUE(Replies().empty());
}

TEST_F(PacketPeerTest, CountsBadFramesAndForgetsHalfFramesOnReconnect) {
    Bytes broken = sim::BuildFrame({0, 1, {5}});
    broken.back() ^= 1;
    broken = sim::StuffFrame(broken);
    peer.OnHostBytes(broken.data(), broken.size());
    EXPECT_EQ(peer.BadFrames(), 1u);

    peer.SetRule({0, 1, sim::ReplyKind::Ack, {}});
    const Bytes frame = sim::EncodeFrame({0, 1, {}});
    peer.OnHostBytes(frame.data(), 5); // half a frame, then the host goes away
    peer.OnHostConnection(false);
    peer.OnHostConnection(true);
    peer.OnHostBytes(frame.data() + 5, frame.size() - 5);
    EXPECT_TRUE(Replies().empty());
    EXPECT_TRUE(peer.Received().empty());
    EXPECT_FALSE(peer.WaitForFrames(1, 10ms));
}

} // namespace
