// The packet kinds the engine registers, and the messages of the three that carry one.
#include "EngineTestSupport.h"

#include "loader/PacketKinds.h"

#include <gtest/gtest.h>

#include <set>

using namespace enginetest;

namespace {

using Bytes = std::vector<uint8_t>;

TEST(PacketKindTable, TwentyKindsInRegistrationOrder) {
    const auto kinds = EnginePacketKinds();
    ASSERT_EQ(kinds.size(), 20u);
    const std::vector<std::pair<int, int>> order = {
        {0, 2},  {0, 3},  {0, 1},  {0, 0},  {0, 63}, {0, 4},  {0, 5},  {0, 10}, {0, 11}, {0, 12},
        {1, 62}, {1, 61}, {1, 60}, {1, 59}, {1, 58}, {1, 55}, {1, 57}, {1, 54}, {0, 9},  {0, 6}};
    for (size_t i = 0; i < kinds.size(); ++i)
        EXPECT_EQ(std::make_pair(int(kinds[i].type), int(kinds[i].subtype)), order[i]) << i;
    // Only the message kinds have handlers, and they never copy a reply.
    for (const PacketKind &kind : kinds)
        EXPECT_EQ(kind.handler != nullptr, !kind.copy)
            << int(kind.type) << "/" << int(kind.subtype);
    // Requests that are not answered: STARTBIOS, device cold load, device 62, loader dropped.
    std::set<std::pair<int, int>> noWait;
    for (const PacketKind &kind : kinds)
        if (!kind.waits) noWait.insert({kind.type, kind.subtype});
    EXPECT_EQ(noWait, (std::set<std::pair<int, int>>{{0, 5}, {1, 61}, {1, 62}, {1, 57}}));
}

TEST(PacketKindHandlers, MessagesStayWithinThePayload) {
    MessageCapture messages;
    const Bytes nak = {0x05, 0x00, 0x0A};
    ShowSystemNak(nak.data(), static_cast<uint16_t>(nak.size()), nullptr);
    // A short NAK shows zeros for what it does not carry.
    ShowSystemNak(nak.data(), 1, nullptr);
    // The board's text: bytes 2-3 its length (little-endian), the zero-terminated text from 4.
    const Bytes text = {0xAA, 0xBB, 6, 0, 'h', 'e', 'l', 'l', 'o', 0, 'j', 'u', 'n', 'k'};
    const auto size = static_cast<uint16_t>(text.size());
    ShowTargetMessage(text.data(), size, nullptr);
    ShowTargetMessage(text.data(), 7, nullptr); // no terminator inside the packet
    const Bytes shortStated = {0, 0, 2, 0, 'h', 'e', 'l', 'l', 'o', 0};
    ShowTargetMessage(shortStated.data(), static_cast<uint16_t>(shortStated.size()), nullptr);
    const Bytes hugeStated = {0, 0, 0xFF, 0xFF, 'o', 'k'}; // says more than the packet holds
    ShowTargetMessage(hugeStated.data(), static_cast<uint16_t>(hugeStated.size()), nullptr);
    ShowTargetMessage(text.data(), 4, nullptr); // a header and no text
    ShowTargetMessage(nullptr, 0, nullptr);
    ShowLoaderDropped(nullptr, 0, nullptr);
    EXPECT_EQ(messages.Texts(), (std::vector<std::string>{
                                    "System Nak - reason: 05 type: 00, subtype: 0a",
                                    "System Nak - reason: 05 type: 00, subtype: 00", "hello", "hel",
                                    "he", "ok", "", "", "Loader dropped connection with Selvane"}));
}

class PacketKindsTest : public EngineTest {};

TEST_F(PacketKindsTest, RegisteredOnTheConnectionAndShownFromTheBoard) {
    // The board first complains with a SYS/NAK and a text, then answers.
    PacketBoard pilot([](const sim::Frame &request) -> std::optional<sim::Frame> {
        return sim::Frame{request.type, static_cast<uint8_t>(request.subtype | 0x80), {}};
    });
    StartBoard([answerer = pilot.AsResponder()](const uint8_t *data, size_t count) {
        const Bytes answer = answerer(data, count);
        if (answer.empty()) return answer; // the request is not complete yet
        Bytes reply;
        for (const sim::Frame &notice : {sim::Frame{0, 0, {0x01, 0x00, 0x06}},
                                         sim::Frame{0, 63, {0, 0, 5, 0, 'b', 'u', 's', 'y', 0}}}) {
            const Bytes bytes = sim::EncodeFrame(notice);
            reply.insert(reply.end(), bytes.begin(), bytes.end());
        }
        reply.insert(reply.end(), answer.begin(), answer.end());
        return reply;
    });
    ConnectAt(57600, 1);
    const HandlerEntry startBios = engine->GetPacketKind(0, 5);
    EXPECT_TRUE(startBios.registered);
    EXPECT_FALSE(startBios.waitForReply);
    EXPECT_TRUE(startBios.copyReply);
    const HandlerEntry dropped = engine->GetPacketKind(1, 57);
    EXPECT_TRUE(dropped.registered);
    EXPECT_EQ(dropped.handler, &ShowLoaderDropped);

    EXPECT_TRUE(engine->SetTargetBaudRate(115200));
    EXPECT_EQ(messages.Texts(),
              (std::vector<std::string>{"System Nak - reason: 01 type: 00, subtype: 06", "busy"}));
}

} // namespace
