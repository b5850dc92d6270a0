// The flash stage's SYS requests as the pilot BIOS receives them, and the INFOPROBE reply as the
// engine reads it back.
#include "EngineTestSupport.h"

#include "loader/LoaderPayloads.h"

#include <gtest/gtest.h>

using namespace enginetest;

namespace {

using Bytes = std::vector<uint8_t>;

class FlashTest : public EngineTest {
protected:
    // A pilot BIOS that acknowledges everything, connected in packet mode.
    void ConnectToPilot(PacketBoard &pilot) {
        StartBoard(pilot.AsResponder());
        ConnectAt(115200, 1);
    }
    static sim::Frame Only(const PacketBoard &pilot) {
        const std::vector<sim::Frame> requests = pilot.Requests();
        EXPECT_EQ(requests.size(), 1u);
        return requests.empty() ? sim::Frame{} : requests.front();
    }
};

TEST_F(FlashTest, WriteBlockCarriesModeLengthAddressAndData) {
    PacketBoard pilot(AckAll());
    ConnectToPilot(pilot);
    const Bytes data = {0x11, 0x7E, 0x7D, 0x44};
    engine->WriteBlock(0x80080, static_cast<uint16_t>(data.size()), data.data());
    const sim::Frame request = Only(pilot);
    EXPECT_EQ(request.subtype, 3);
    EXPECT_EQ(request.payload,
              (Bytes{0x00, 0x04, 0x00, 0x80, 0x00, 0x08, 0x00, 0x11, 0x7E, 0x7D, 0x44}));
}

TEST_F(FlashTest, FlashDataPutsSectorSizeFirst) {
    PacketBoard pilot(AckAll());
    ConnectToPilot(pilot);
    engine->SetFlashParameters(256, 4096, 64, 2);
    const sim::Frame request = Only(pilot);
    EXPECT_EQ(request.subtype, 10);
    EXPECT_EQ(request.payload, (Bytes{0x00, 0x10, 0x40, 0x00, 0x00, 0x01, 0x02, 0x00}));
}

TEST_F(FlashTest, EraseAndStartBiosPayloads) {
    PacketBoard pilot(AckAll());
    ConnectToPilot(pilot);
    engine->EraseFlash(0x80000 + 300);
    // STARTBIOS does not wait: the pilot BIOS hands over to the BIOS instead of answering.
    engine->StartBios(2);
    ASSERT_TRUE(pilot.WaitRequests(2, 2000));
    const std::vector<sim::Frame> requests = pilot.Requests();
    EXPECT_EQ(requests[0].subtype, 9);
    EXPECT_EQ(requests[0].payload, (Bytes{0x2C, 0x01, 0x08, 0x00}));
    EXPECT_EQ(requests[1].subtype, 5);
    EXPECT_EQ(requests[1].payload, Bytes{0x02});
}

Bytes InfoProbeReply() {
    Bytes reply(InfoProbeReplySize);
    for (size_t i = 0; i < reply.size(); ++i) reply[i] = static_cast<uint8_t>(i * 7 + 1);
    return reply;
}

TEST_F(FlashTest, ReadIdBlockTakesEveryField) {
    const Bytes reply = InfoProbeReply();
    PacketBoard pilot(AckAll(reply));
    ConnectToPilot(pilot);
    IdBlockInfo info;
    engine->ReadIdBlock(info);
    EXPECT_TRUE(Only(pilot).payload.empty());
    EXPECT_EQ(info.Value0, 0x16'0F'08'01u);
    EXPECT_EQ(info.FlashId, reply[4] | reply[5] << 8);
    EXPECT_EQ(info.Byte6, reply[6]);
    EXPECT_EQ(info.Byte7, reply[7]);
    EXPECT_EQ(info.Value8, reply[8] | reply[9] << 8);
    EXPECT_TRUE(
        std::equal(info.IdBlock, info.IdBlock + IdBlockInfo::IdBlockSize, reply.begin() + 12));
    EXPECT_EQ(info.ProductId, reply[14] | reply[15] << 8);
}

TEST_F(FlashTest, ShortIdReplyLeavesNoStaleBytes) {
    // First a full reply, then one that stops after the flash ID.
    int calls = 0;
    PacketBoard pilot([&calls](const sim::Frame &request) -> std::optional<sim::Frame> {
        Bytes payload = InfoProbeReply();
        if (++calls > 1) payload = {0xAA, 0xBB, 0xCC, 0xDD, 0xBF, 0x00};
        return sim::Frame{request.type, static_cast<uint8_t>(request.subtype | 0x80), payload};
    });
    ConnectToPilot(pilot);
    IdBlockInfo full;
    engine->ReadIdBlock(full);
    IdBlockInfo info;
    engine->ReadIdBlock(info);
    EXPECT_EQ(info.Value0, 0xDDCCBBAAu);
    EXPECT_EQ(info.FlashId, 0x00BF);
    EXPECT_EQ(info.Byte6, 0);
    EXPECT_EQ(info.Value8, 0);
    EXPECT_EQ(info.ProductId, 0);
    EXPECT_TRUE(std::all_of(info.IdBlock, info.IdBlock + IdBlockInfo::IdBlockSize,
                            [](uint8_t b) { return b == 0; }));
}

TEST_F(FlashTest, RefusalAndOversizeBlockAreCommunicationErrors) {
    PacketBoard pilot(NakAll());
    ConnectToPilot(pilot);
    const Bytes data(16, 0x55);
    EXPECT_EQ(LoaderErrorOf([&] { engine->WriteBlock(0x80000, 16, data.data()); }),
              LoaderErrorCommunication);
    // 16384 - 7 data bytes fill the largest packet; one more is refused before anything is sent.
    const Bytes big(16384 - WriteBlockHeaderSize + 1, 0x00);
    EXPECT_EQ(LoaderErrorOf([&] {
                  engine->WriteBlock(0x80000, static_cast<uint16_t>(big.size()), big.data());
              }),
              LoaderErrorCommunication);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Data too long"});
    EXPECT_EQ(pilot.Requests().size(), 1u);
}

TEST(FlashWithoutConnection, StagesSendNothingAndSucceed) {
    LoaderEngine engine;
    IdBlockInfo info;
    info.FlashId = 0x1234;
    const uint8_t byte = 0;
    EXPECT_NO_THROW(engine.SetFlashParameters(16, 128, 1, 2));
    EXPECT_NO_THROW(engine.WriteBlock(0x80000, 1, &byte));
    EXPECT_NO_THROW(engine.ReadIdBlock(info));
    EXPECT_EQ(info.FlashId, 0);
    EXPECT_FALSE(engine.ProbeTarget());
}

} // namespace
