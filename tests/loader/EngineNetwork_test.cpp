// The engine's network road against the simulated CorvixLink device on 127.0.0.1: the connect
// and the device's passphrase challenge, the cold loader and pilot BIOS packets, and the windowed
// download with its ways of ending.
#include "EngineTestSupport.h"

#include "LinkDevice.h"
#include "support/LinkOptions.h"

#include "comm/PacketCodec.h"
#include "settings/Passphrase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace enginetest;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t ReplyWaitMs = 400;
constexpr int32_t RetryCount = 2;

CommOptions LinkOptions(uint16_t port) {
    CommOptions options{};
    options.UseTCP = 1;
    options.UseCorvixLink = 1;
    SetField(options.CorvixLinkAddress, "127.0.0.1");
    options.CorvixLinkTcpPort = port;
    options.EthernetResponseTimeout = ReplyWaitMs;
    options.EthernetRetryCount = RetryCount;
    options.PilotBiosPhysicalAdress = 0x4000;
    return options;
}

std::vector<uint8_t> Pattern(size_t size, unsigned seed = 7) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 31 + seed) ^ (i >> 7));
    return bytes;
}

// The events of one name the device recorded, in order.
std::vector<sim::TranscriptEvent> EventsNamed(const sim::LinkDevice &device,
                                              const std::string &name) {
    std::vector<sim::TranscriptEvent> found;
    for (const sim::TranscriptEvent &event : device.Events())
        if (event.Name() == name) found.push_back(event);
    return found;
}

class NetworkEngineTest : public ::testing::Test {
protected:
    void StartDevice(sim::LinkOptions options = {}) {
        device = std::make_unique<sim::LinkDevice>(std::move(options));
        std::string why;
        ASSERT_TRUE(device->Start(&why)) << why;
    }

    void Connect(uint8_t packetMode, const CommOptions &options) {
        engine.Connect(window.Handle(), options, packetMode, passphrase);
        engine.RegisterPacketKinds();
    }
    void Connect(uint8_t packetMode = 1) { Connect(packetMode, LinkOptions(device->Port())); }

    // One windowed download of bytes written to a file; the reports it gave are kept.
    int32_t Download(const std::vector<uint8_t> &bytes, NetworkContinueCallback proceed = {}) {
        return DownloadFile(WriteTempFile("image.bin", bytes), static_cast<int32_t>(bytes.size()),
                            std::move(proceed));
    }
    int32_t DownloadFile(const std::string &path, int32_t byteCount,
                         NetworkContinueCallback proceed = {}) {
        reports.clear();
        return LoaderErrorOf([&] {
            engine.NetworkDownload(path, "bin", 0, byteCount, std::move(proceed), 128, 0,
                                   [this](std::string_view text) { reports.emplace_back(text); });
        });
    }

    ActionWindow window;
    MessageCapture messages;
    std::unique_ptr<sim::LinkDevice> device;
    std::string typed = "corvix";
    int passphraseAsks = 0;
    PassphraseCallback passphrase = [this] {
        ++passphraseAsks;
        return KeyOfPassphrase(typed);
    };
    std::vector<std::string> reports;
    LoaderEngine engine; // last: it lets go of the window before the window goes
};

// ---- connect ----

TEST_F(NetworkEngineTest, PassphraseChallengeIsAnsweredAndTheConnectionKeptAcrossModes) {
    StartDevice(WithPassphrase("corvix"));
    Connect(0);
    EXPECT_TRUE(device->Authenticated());
    EXPECT_EQ(passphraseAsks, 1);
    EXPECT_TRUE(device->WaitForEvents("exchange", 1, std::chrono::seconds(2)));
    const TConnection *first = engine.CurrentConnection();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(engine.GetConnectionMode(), 0);

    // Same device, only the packet mode differs: the connection switches in place.
    Connect(1);
    EXPECT_EQ(engine.CurrentConnection(), first);
    EXPECT_EQ(engine.GetConnectionMode(), 1);
    EXPECT_EQ(device->Connections(), 1u);
    EXPECT_EQ(passphraseAsks, 1);

    engine.Disconnect();
    EXPECT_EQ(engine.CurrentConnection(), nullptr);
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(NetworkEngineTest, DeviceWithoutPassphraseIsAnsweredWithoutAsking) {
    StartDevice();
    Connect();
    EXPECT_TRUE(device->Authenticated());
    EXPECT_EQ(passphraseAsks, 0);
}

TEST_F(NetworkEngineTest, WrongPassphraseFailsTheConnectAtOnce) {
    StartDevice(WithPassphrase("corvix"));
    typed = "guess";
    const auto start = Clock::now();
    EXPECT_EQ(LoaderErrorOf([&] { Connect(); }), LoaderErrorCommunication);
    // Bounded by the exchange's own wait, not left to the first packet of the load.
    EXPECT_LT(Clock::now() - start,
              std::chrono::milliseconds(ReplyWaitMs * (RetryCount + 1) + 1500));
    EXPECT_FALSE(device->Authenticated());
    EXPECT_EQ(passphraseAsks, 1);
}

TEST_F(NetworkEngineTest, PassphraseChallengeWithNothingToAnswerItIsRefusedAtOnce) {
    StartDevice(WithPassphrase("corvix"));
    passphrase = {};
    const auto start = Clock::now();
    EXPECT_EQ(LoaderErrorOf([&] { Connect(); }), LoaderErrorCommunication);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(ReplyWaitMs));
    EXPECT_FALSE(device->Authenticated());
}

TEST_F(NetworkEngineTest, SilentDeviceIsATimeout) {
    StartDevice(WithFault(sim::LinkFaultKind::Silent, 0));
    CommOptions options = LinkOptions(device->Port());
    options.EthernetRetryCount = 0;
    EXPECT_EQ(LoaderErrorOf([&] { Connect(1, options); }), LoaderErrorTimeout);
}

TEST_F(NetworkEngineTest, NoListenerAndOtherKindsAreCommunicationErrors) {
    StartDevice();
    const uint16_t port = device->Port();
    device->Stop();
    EXPECT_EQ(LoaderErrorOf([&] { Connect(1, LinkOptions(port)); }), LoaderErrorCommunication);
    EXPECT_TRUE(messages.Texts().empty());

    CommOptions neither = LinkOptions(port);
    neither.UseCorvixLink = 0;
    neither.UseCorvixSys = 0;
    EXPECT_EQ(LoaderErrorOf([&] { Connect(1, neither); }), LoaderErrorCommunication);
    EXPECT_TRUE(messages.Texts().empty());
    EXPECT_EQ(engine.CurrentConnection(), nullptr);
}

// ---- cold loader and pilot BIOS ----

TEST_F(NetworkEngineTest, ColdLoaderGoesWholeInOnePacketUpToItsLimit) {
    StartDevice();
    Connect(0);
    const std::vector<uint8_t> loader = Pattern(1000);
    EXPECT_TRUE(engine.SendColdLoader(WriteTempFile("cold.bin", loader), 2400));
    ASSERT_TRUE(device->WaitForEvents("cold-loader", 1, std::chrono::seconds(2)));
    EXPECT_EQ(device->ColdLoader(), loader);
    EXPECT_EQ(engine.GetRetryCount(), RetryCount); // zero only for the packet

    const std::vector<uint8_t> largest = Pattern(16382, 3);
    engine.SendColdLoader(WriteTempFile("largest.bin", largest), 2400);
    ASSERT_TRUE(device->WaitForEvents("cold-loader", 2, std::chrono::seconds(2)));
    EXPECT_EQ(device->ColdLoader(), largest);

    EXPECT_EQ(LoaderErrorOf([&] {
                  engine.SendColdLoader(WriteTempFile("toolong.bin", Pattern(16383)), 2400);
              }),
              LoaderErrorCommunication);
    ASSERT_EQ(messages.Texts().size(), 1u);
    EXPECT_EQ(messages.Texts()[0], "Data too long");
    EXPECT_EQ(LoaderErrorOf([&] { engine.SendColdLoader("/nonexistent/cold.bin", 2400); }),
              LoaderErrorCommunication);
    EXPECT_EQ(device->CountEvents("cold-loader"), 2u);
    EXPECT_EQ(engine.GetRetryCount(), RetryCount);
}

TEST_F(NetworkEngineTest, PilotBiosRecordCarriesEveryByteFromTheMarker) {
    StartDevice();
    Connect(0);
    std::vector<uint8_t> file = {0x11, 0x22, 0x33}; // a prefix that is not sent
    file.push_back(0xCC);
    const std::vector<uint8_t> payload = Pattern(2047);
    file.insert(file.end(), payload.begin(), payload.end());
    engine.SendPilotBios(WriteTempFile("pilot.bin", file), 57600);

    const auto headers = EventsNamed(*device, "pilot-header");
    ASSERT_EQ(headers.size(), 1u);
    EXPECT_EQ(headers[0].Flag("ok"), true);
    EXPECT_EQ(headers[0].Number("rate"), 57600);
    EXPECT_EQ(headers[0].Number("length"), 2048);
    EXPECT_EQ(headers[0].Text("address"), "0x04000");
    const auto data = EventsNamed(*device, "pilot-data");
    ASSERT_EQ(data.size(), 1u);
    // The device checks the record against the header and finds it whole.
    EXPECT_EQ(data[0].Flag("ok"), true) << data[0].Text("reason").value_or("");
    EXPECT_EQ(data[0].Number("length"), 6 + 2048);
    EXPECT_EQ(engine.GetRetryCount(), RetryCount);
}

TEST_F(NetworkEngineTest, PilotBiosWithoutMarkerOrFileIsRefusedBeforeAnythingIsSent) {
    StartDevice();
    Connect(0);
    EXPECT_EQ(LoaderErrorOf([&] {
                  engine.SendPilotBios(WriteTempFile("nomarker.bin", {1, 2, 3}), 57600);
              }),
              LoaderErrorPilotBiosSendOpen);
    EXPECT_EQ(LoaderErrorOf([&] { engine.SendPilotBios("/nonexistent/pilot.bin", 57600); }),
              LoaderErrorCommunication);
    // A record larger than a packet would leave the device holding a header with no data.
    std::vector<uint8_t> large(1, 0xCC);
    const std::vector<uint8_t> rest = Pattern(16384 - 6);
    large.insert(large.end(), rest.begin(), rest.end());
    EXPECT_EQ(
        LoaderErrorOf([&] { engine.SendPilotBios(WriteTempFile("large.bin", large), 57600); }),
        LoaderErrorCommunication);
    EXPECT_EQ(device->CountEvents("pilot-header"), 0u);
}

// ---- windowed download ----

TEST_F(NetworkEngineTest, ThreeHundredBytesGoAsThreeCountedPackets) {
    StartDevice();
    Connect();
    const HandlerEntry before = engine.GetPacketKind(packet::TypeSys, 3);
    const std::vector<uint8_t> image = Pattern(300);
    ASSERT_EQ(Download(image), 0);

    ASSERT_GE(reports.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(reports.begin(), reports.begin() + 3),
              (std::vector<std::string>{"1 of 3 packets sent", "2 of 3 packets sent",
                                        "3 of 3 packets sent"}));
    EXPECT_EQ(reports.back(), "3 of 3 packets acknowledged");
    for (size_t i = 3; i < reports.size(); ++i)
        EXPECT_NE(reports[i].find("of 3 packets acknowledged"), std::string::npos) << reports[i];
    EXPECT_EQ(device->ReadFlash(0x80000, 300), image);
    EXPECT_EQ(device->ReadFlash(0x80000 + 300, 8), std::vector<uint8_t>(8, 0xFF));
    EXPECT_EQ(device->WritesTaken(), 3u);

    // The write kind is the engine's again: a plain write still waits for its answer.
    const HandlerEntry after = engine.GetPacketKind(packet::TypeSys, 3);
    EXPECT_EQ(after.handler, before.handler);
    EXPECT_EQ(after.waitForReply, before.waitForReply);
    EXPECT_EQ(after.copyReply, before.copyReply);
    const std::vector<uint8_t> block = Pattern(16, 9);
    engine.WriteBlock(0x90000, 16, block.data());
    EXPECT_EQ(device->ReadFlash(0x90000, 16), block);

    engine.EndNetworkDownload();
    const auto ends = EventsNamed(*device, "end-download");
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0].Flag("start"), true);
}

TEST_F(NetworkEngineTest, EmptyImageSendsNothingAndReportsOnce) {
    StartDevice();
    Connect();
    const auto start = Clock::now();
    ASSERT_EQ(Download({}), 0);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(ReplyWaitMs));
    EXPECT_EQ(reports, std::vector<std::string>{"0 of 0 packets acknowledged"});
    EXPECT_EQ(device->WritesTaken(), 0u);
}

TEST_F(NetworkEngineTest, TwoAcknowledgementsOfThreeTimeOutAfterTheWholeAllowance) {
    StartDevice(WithFault(sim::LinkFaultKind::StopAcks, 2));
    Connect();
    const HandlerEntry before = engine.GetPacketKind(packet::TypeSys, 3);
    const auto start = Clock::now();
    EXPECT_EQ(Download(Pattern(300)), LoaderErrorTimeout);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(3 * ReplyWaitMs - 50));
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back(), "2 of 3 packets acknowledged");
    EXPECT_EQ(std::count(reports.begin(), reports.end(), "3 of 3 packets acknowledged"), 0);
    EXPECT_EQ(engine.GetPacketKind(packet::TypeSys, 3).waitForReply, before.waitForReply);
}

TEST_F(NetworkEngineTest, RefusedWriteIsNeverCountedAsAcknowledged) {
    StartDevice(WithFault(sim::LinkFaultKind::NakWrite, 3));
    Connect();
    const auto start = Clock::now();
    EXPECT_EQ(Download(Pattern(300)), LoaderErrorCommunication);
    // Ended by the refusal, not by the time allowed for the acknowledgements.
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(3 * ReplyWaitMs));
    EXPECT_EQ(std::count(reports.begin(), reports.end(), "3 of 3 packets acknowledged"), 0);
}

TEST_F(NetworkEngineTest, CancelWhileWaitingIsTwenty) {
    StartDevice(WithFault(sim::LinkFaultKind::StopAcks, 1));
    CommOptions options = LinkOptions(device->Port());
    options.EthernetResponseTimeout = 10000;
    Connect(1, options);
    window.Run([&] { engine.CancelTransfer(); });
    const auto start = Clock::now();
    EXPECT_EQ(Download(Pattern(300)), LoaderErrorCancelled);
    EXPECT_TRUE(window.ActionRan());
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(NetworkEngineTest, DeviceThatClosesAtTheLastWriteEndsTheWaitAtOnce) {
    StartDevice(WithFault(sim::LinkFaultKind::Close, 3));
    CommOptions options = LinkOptions(device->Port());
    options.EthernetResponseTimeout = 10000; // 30 s allowed for the three acknowledgements
    Connect(1, options);
    const auto start = Clock::now();
    EXPECT_EQ(Download(Pattern(300)), LoaderErrorCommunication);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    EXPECT_FALSE(engine.CurrentConnection()->IsOpen());
}

TEST_F(NetworkEngineTest, CancelReachesASendBlockedByADeviceThatStoppedReading) {
    StartDevice(WithFault(sim::LinkFaultKind::StopReading, 1));
    CommOptions options = LinkOptions(device->Port());
    options.EthernetResponseTimeout = 10000;
    Connect(1, options);
    // Far more than the socket buffers hold, so the download ends up blocked in a send.
    const std::vector<uint8_t> image = Pattern(8 << 20);
    std::thread clicker([&] {
        for (int i = 0; i < 1000 && EventsNamed(*device, "fault").empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        window.Run([&] { engine.CancelTransfer(); });
    });
    const auto start = Clock::now();
    const int32_t code = Download(image);
    clicker.join();
    EXPECT_EQ(code, LoaderErrorCancelled);
    EXPECT_TRUE(window.ActionRan());
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    EXPECT_LT(device->WritesTaken(), image.size() / 128) << "the device never stopped reading";
}

TEST_F(NetworkEngineTest, SkippedPacketsAreReadButNeitherSentNorCounted) {
    StartDevice();
    Connect();
    const std::vector<uint8_t> image = Pattern(300);
    ASSERT_EQ(Download(image, [](uint32_t offset, uint32_t) { return offset != 128; }), 0);
    EXPECT_EQ(reports.front(), "1 of 2 packets sent");
    EXPECT_EQ(reports.back(), "2 of 2 packets acknowledged");
    EXPECT_EQ(device->ReadFlash(0x80000, 128),
              std::vector<uint8_t>(image.begin(), image.begin() + 128));
    EXPECT_EQ(device->ReadFlash(0x80080, 128), std::vector<uint8_t>(128, 0xFF));
    EXPECT_EQ(device->ReadFlash(0x80100, 44),
              std::vector<uint8_t>(image.begin() + 256, image.end()));
}

TEST_F(NetworkEngineTest, ImageFilesThatCannotServeTheCountFail) {
    StartDevice();
    Connect();
    EXPECT_EQ(DownloadFile("/nonexistent/image.bin", 300), LoaderErrorCommunication);
    EXPECT_TRUE(reports.empty());
    // Shorter than its count: the end is never passed off as sent.
    const std::string path = WriteTempFile("short.bin", Pattern(200));
    EXPECT_EQ(DownloadFile(path, 300), LoaderErrorCommunication);
    EXPECT_EQ(std::count(reports.begin(), reports.end(), "2 of 3 packets acknowledged"), 0);
    EXPECT_EQ(engine.GetPacketKind(packet::TypeSys, 3).waitForReply, true);
}

TEST_F(NetworkEngineTest, TheImageIsFoundUnderTheGivenExtension) {
    StartDevice();
    Connect();
    const std::vector<uint8_t> image = Pattern(100);
    const std::string path = WriteTempFile("board.bin", image);
    const std::string other = (std::filesystem::path(path).parent_path() / "board.hex").string();
    std::ofstream(other) << "not the image";
    ASSERT_EQ(DownloadFile(other, 100), 0);
    EXPECT_EQ(device->ReadFlash(0x80000, 100), image);

    // Another letter case of the same extension is the user's own file, kept as it is named.
    const std::vector<uint8_t> upper = Pattern(100, 99);
    const std::string upperPath = WriteTempFile("UPPER.BIN", upper);
    ASSERT_EQ(DownloadFile(upperPath, 100), 0);
    EXPECT_EQ(device->ReadFlash(0x80000, 100), upper);
}

} // namespace
