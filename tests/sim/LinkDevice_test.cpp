// The simulated CorvixLink device, driven by the product's own link connection on loopback.
#include "LinkCommand.h"
#include "LinkSimSupport.h"

#include <gtest/gtest.h>

using linksim::LinkHost;
using linksim::PumpUntil;
using sim::LinkDevice;
using sim::LinkFault;
using sim::LinkFaultKind;
using sim::LinkOptions;

namespace {

constexpr uint8_t Dbg = 1;

int32_t CodeOf(const std::function<void()> &action) {
    try {
        action();
    } catch (const xConnectionErr &e) {
        return e.InternalCode;
    }
    return -1;
}

std::unique_ptr<LinkDevice> Started(LinkOptions options = {}) {
    auto device = std::make_unique<LinkDevice>(std::move(options));
    std::string error;
    EXPECT_TRUE(device->Start(&error)) << error;
    return device;
}

std::vector<uint8_t> Pattern(size_t count) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = uint8_t(i * 31 + 7);
    return bytes;
}

// Sends the image as writes of 128 bytes from address without waiting; returns the count sent.
int SendImage(LinkHost &host, uint32_t address, const std::vector<uint8_t> &image) {
    int sent = 0;
    for (size_t offset = 0; offset < image.size(); offset += 128, ++sent) {
        const uint16_t n = uint16_t(std::min<size_t>(128, image.size() - offset));
        host.SendWrite(address + uint32_t(offset), image.data() + offset, n);
    }
    return sent;
}

// ---- the challenge ----

TEST(LinkDeviceChallenge, RightPassphraseOpensTheDevice) {
    LinkOptions options;
    options.passphrase = "secret";
    auto device = Started(options);
    LinkHost host(device->Port(), "secret");
    host.Authenticate();
    EXPECT_EQ(host.Outcome(), DeviceAuthOutcome::Answered);
    ASSERT_TRUE(device->WaitForEvents("answer", 1, std::chrono::seconds(2)));
    EXPECT_TRUE(device->Authenticated());
    // Served now: the exchange the engine makes after the challenge.
    host.Link().RegisterHandler(Dbg, sim::dbg::Exchange, nullptr, nullptr, true, true);
    uint8_t exchange[1] = {3};
    host.Link().Send(Dbg, sim::dbg::Exchange, exchange, 1);
    EXPECT_EQ(exchange[0], 1);
}

TEST(LinkDeviceChallenge, WrongPassphraseIsTurnedAwayAndTheConnectionClosed) {
    LinkOptions options;
    options.passphrase = "secret";
    auto device = Started(options);
    LinkHost host(device->Port(), "Secret");
    host.Authenticate();
    ASSERT_TRUE(host.Link().WaitReaderEnded(2000));
    EXPECT_EQ(host.Link().ReaderExitCode(), ConnCode::PeerClosed);
    EXPECT_FALSE(device->Authenticated());
    const auto events = device->Events();
    const auto answer =
        std::find_if(events.begin(), events.end(), [](auto &e) { return e.Name() == "answer"; });
    ASSERT_NE(answer, events.end());
    EXPECT_EQ(answer->Flag("ok"), false);
}

TEST(LinkDeviceChallenge, WithoutPassphraseSixteenZeroBytesOpenIt) {
    auto device = Started();
    LinkHost host(device->Port());
    host.Authenticate();
    ASSERT_TRUE(device->WaitForEvents("answer", 1, std::chrono::seconds(2)));
    EXPECT_TRUE(device->Authenticated());
}

TEST(LinkDeviceChallenge, SilentDeviceNeverChallenges) {
    LinkOptions options;
    options.fault = {LinkFaultKind::Silent, 0};
    auto device = Started(options);
    LinkHost host(device->Port());
    host.Link().SetResponseTimeout(200);
    EXPECT_EQ(CodeOf([&] { host.Authenticate(); }), ConnCode::NoReply);
}

// ---- bootstrap records ----

TEST(LinkDeviceBootstrap, ColdLoaderPilotHeaderAndPilotDataAreTakenAndChecked) {
    auto device = Started();
    LinkHost host(device->Port());
    host.Authenticate();
    TCorvixLinkConnection &link = host.Link();

    std::vector<uint8_t> cold{5, 0, 0x80, 0x0E, 0x20, 0x11, 0x22};
    link.RegisterHandler(Dbg, sim::dbg::ColdLoader, nullptr, nullptr, false, false);
    link.Send(Dbg, sim::dbg::ColdLoader, cold.data(), uint32_t(cold.size()));
    ASSERT_TRUE(device->WaitForEvents("cold-loader", 1, std::chrono::seconds(2)));
    EXPECT_EQ(device->ColdLoader(), std::vector<uint8_t>(cold.begin() + 2, cold.end()));

    // Pilot at 0x01234, 4 bytes from the marker on.
    const std::vector<uint8_t> header{0x34, 0x12, 0, 0, 4, 0, uint8_t(0x34 + 0x12 + 4)};
    std::vector<uint8_t> head{0x00, 0xC2, 0x01, 0x00, 7, 0};
    head.insert(head.end(), header.begin(), header.end());
    head.push_back(0);
    ASSERT_EQ(head.size(), sim::dbg::PilotHeaderPayload);
    link.RegisterHandler(Dbg, sim::dbg::PilotHeader, nullptr, nullptr, true, true);
    link.Send(Dbg, sim::dbg::PilotHeader, head.data(), uint32_t(head.size()));

    link.RegisterHandler(Dbg, sim::dbg::PilotData, nullptr, nullptr, true, true);
    std::vector<uint8_t> wrong{0x00, 0xC2, 0x01, 0x00, 4, 0, 0xCD, 1, 2, 3}; // no marker
    EXPECT_EQ(
        CodeOf([&] { link.Send(Dbg, sim::dbg::PilotData, wrong.data(), uint32_t(wrong.size())); }),
        ConnCode::NakReply);
    std::vector<uint8_t> record{0x00, 0xC2, 0x01, 0x00, 4, 0, 0xCC, 1, 2, 3};
    EXPECT_EQ(CodeOf([&] {
                  link.Send(Dbg, sim::dbg::PilotData, record.data(), uint32_t(record.size()));
              }),
              -1);
    EXPECT_EQ(device->CountEvents("pilot-data"), 2u);
}

// ---- the windowed download ----

TEST(LinkDeviceDownload, WritesSentWithoutWaitingAreAllAcknowledgedAndStored) {
    auto device = Started();
    LinkHost host(device->Port());
    host.Authenticate();
    host.CountWriteReplies();
    const auto image = Pattern(300);
    const int sent = SendImage(host, 0x80000, image);
    EXPECT_EQ(sent, 3);
    EXPECT_TRUE(PumpUntil([&] { return host.WriteReplies() == sent; }, 3000));
    EXPECT_FALSE(host.Link().TakeReceiveError().present);
    EXPECT_EQ(device->ReadFlash(0x80000, 300), image);

    uint8_t start[1] = {4};
    host.Link().RegisterHandler(Dbg, sim::dbg::EndDownload, nullptr, nullptr, true, true);
    host.Link().Send(Dbg, sim::dbg::EndDownload, start, 1);
    EXPECT_EQ(device->CountEvents("end-download"), 1u);
}

TEST(LinkDeviceDownload, StopAcksFaultStoresButLeavesTheLaterWritesUnanswered) {
    LinkOptions options;
    options.fault = {LinkFaultKind::StopAcks, 2};
    auto device = Started(options);
    LinkHost host(device->Port());
    host.Authenticate();
    host.CountWriteReplies();
    const auto image = Pattern(300);
    SendImage(host, 0x80000, image);
    EXPECT_TRUE(PumpUntil([&] { return device->WritesTaken() == 3; }, 3000));
    PumpUntil([] { return false; }, 100); // a third reply, if any, would be here by now
    EXPECT_EQ(host.WriteReplies(), 2);
    EXPECT_EQ(device->ReadFlash(0x80000, 300), image);
}

TEST(LinkDeviceDownload, NakWriteFaultRefusesOneWriteAndLeavesItUnwritten) {
    LinkOptions options;
    options.fault = {LinkFaultKind::NakWrite, 2};
    auto device = Started(options);
    LinkHost host(device->Port());
    host.Authenticate();
    host.CountWriteReplies();
    SendImage(host, 0x80000, Pattern(300));
    EXPECT_TRUE(PumpUntil([&] { return host.WriteReplies() == 3; }, 3000));
    const ReceiveError error = host.Link().TakeReceiveError();
    EXPECT_TRUE(error.present);
    EXPECT_EQ(error.kind, ReceiveErrorKind::NakReply);
    EXPECT_EQ(device->ReadFlash(0x80080, 128), std::vector<uint8_t>(128, 0xFF));
}

TEST(LinkDeviceDownload, CloseFaultDropsTheHostMidStream) {
    LinkOptions options;
    options.fault = {LinkFaultKind::Close, 2};
    auto device = Started(options);
    LinkHost host(device->Port());
    host.Authenticate();
    host.CountWriteReplies();
    SendImage(host, 0x80000, Pattern(256));
    // Pumping: the reader hands the first acknowledgement over before it meets the close.
    ASSERT_TRUE(PumpUntil([&] { return !host.Link().ReaderRunning(); }, 2000));
    EXPECT_EQ(host.Link().ReaderExitCode(), ConnCode::PeerClosed);
    EXPECT_EQ(device->WritesTaken(), 2u);
}

// ---- pieces ----

TEST(LinkFrameDecoder, SkipsGarbageAndDropsAFrameWithABadChecksum) {
    auto good = sim::EncodeLinkFrame(sim::Frame{0, 0x83, {1, 2, 3}});
    auto bad = good;
    bad.back() ^= 0x01;
    std::vector<uint8_t> stream{0x7E, 0x02, 0x05};
    stream.insert(stream.end(), bad.begin(), bad.end());
    stream.insert(stream.end(), good.begin(), good.end());
    sim::LinkFrameDecoder decoder;
    std::vector<sim::Frame> frames;
    // In two pieces, split inside the good frame.
    decoder.Feed(stream.data(), stream.size() - 4, frames);
    decoder.Feed(stream.data() + stream.size() - 4, 4, frames);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].subtype, 0x83);
    EXPECT_EQ(frames[0].payload, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(decoder.BadFrames(), 1u);
}

TEST(LinkCommandLine, OptionsAndFaultsAreParsedAndBadOnesRefused) {
    std::string error;
    const auto arguments = sim::ParseLinkArguments(
        {"--port", "4100", "--passphrase", "pw", "--fault", "stop-acks:5", "--flash-id", "0x1F"},
        &error);
    ASSERT_TRUE(arguments) << error;
    EXPECT_EQ(arguments->link.port, 4100);
    EXPECT_EQ(arguments->link.passphrase, "pw");
    EXPECT_EQ(arguments->link.fault, (LinkFault{LinkFaultKind::StopAcks, 5}));
    EXPECT_EQ(arguments->link.board.flashId, 0x1F);
    EXPECT_FALSE(sim::ParseLinkArguments({"--fault", "close:0"}, &error));
    EXPECT_FALSE(sim::ParseLinkArguments({"--port"}, &error));
    EXPECT_FALSE(sim::ParseLinkArguments({"--bogus", "1"}, &error));
    EXPECT_EQ(sim::ParseLinkFault("silent"), (LinkFault{LinkFaultKind::Silent, 0}));
}

} // namespace
