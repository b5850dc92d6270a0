// Whole loads through a CorvixLink network programming device: the real session, engine and TCP
// connection against the simulated device on 127.0.0.1, with its passphrase challenge, the cold
// loader and pilot BIOS packets, and the windowed download of the image.
#include "load/FlashTable.h"
#include "load/LoadSession.h"
#include "loader/ForwardingEngine.h"
#include "loader/LoaderEngine.h"
#include "loader/LoaderErrors.h"
#include "platform/Registry.h"
#include "settings/Passphrase.h"
#include "settings/Zepenvironment.h"
#include "support/RecordingDisplay.h"
#include "support/WholeLoadTest.h"

#include "LinkDevice.h"
#include "support/LinkOptions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

namespace fs = std::filesystem;

// Keeps every status text, not only the last one of each panel.
class StatusRecordingDisplay : public RecordingDisplay {
public:
    using RecordingDisplay::RecordingDisplay;
    std::vector<std::string> statusTexts;
    void SetStatusPanel(int index, std::string_view text) override {
        RecordingDisplay::SetStatusPanel(index, text);
        if (index == 0 && !text.empty()) statusTexts.emplace_back(text);
    }
};

// The engine the session drives, with a record of the calls from the flash set-up on.
class RecordingEngine : public ForwardingEngine {
public:
    using ForwardingEngine::ForwardingEngine;
    std::vector<std::string> calls;
    IdBlockInfo idBlock;
    uint16_t flashArgs[4] = {};

    void Disconnect() override {
        calls.push_back("Disconnect");
        ForwardingEngine::Disconnect();
    }
    bool SendColdLoader(const std::string &path, int32_t baudRate) override {
        calls.push_back("SendColdLoader");
        return ForwardingEngine::SendColdLoader(path, baudRate);
    }
    void SendPilotBios(const std::string &path, int32_t baudRate) override {
        calls.push_back("SendPilotBios");
        ForwardingEngine::SendPilotBios(path, baudRate);
    }
    void ReadIdBlock(IdBlockInfo &info) override {
        ForwardingEngine::ReadIdBlock(info);
        idBlock = info;
        calls.push_back("ReadIdBlock");
    }
    void SetFlashParameters(uint16_t flashSize, uint16_t sectorSize, uint16_t sectorCount,
                            uint16_t writeMode) override {
        calls.push_back("SetFlashParameters");
        flashArgs[0] = flashSize;
        flashArgs[1] = sectorSize;
        flashArgs[2] = sectorCount;
        flashArgs[3] = writeMode;
        ForwardingEngine::SetFlashParameters(flashSize, sectorSize, sectorCount, writeMode);
    }
    void EraseFlash(uint32_t value) override {
        calls.push_back("EraseFlash");
        ForwardingEngine::EraseFlash(value);
    }
    void WriteBlock(uint32_t address, uint16_t length, const uint8_t *data) override {
        calls.push_back("WriteBlock");
        ForwardingEngine::WriteBlock(address, length, data);
    }
    void StartBios(uint8_t where) override {
        calls.push_back("StartBios(" + std::to_string(where) + ")");
        ForwardingEngine::StartBios(where);
    }
    void NetworkDownload(const std::string &fileName, const std::string &extension,
                         uint32_t startOffset, int32_t imageBytes, NetworkContinueCallback proceed,
                         uint32_t blockSize, uint32_t flags,
                         NetworkStatusCallback status) override {
        calls.push_back("NetworkDownload");
        ForwardingEngine::NetworkDownload(fileName, extension, startOffset, imageBytes,
                                          std::move(proceed), blockSize, flags, std::move(status));
    }
    void EndNetworkDownload() override {
        calls.push_back("EndNetworkDownload");
        ForwardingEngine::EndNetworkDownload();
    }
};

class NetworkLoadTest : public WholeLoadTest {
protected:
    std::unique_ptr<sim::LinkDevice> device;
    std::string typed = "corvix";
    int passphraseAsks = 0;

    void SetUp() override {
        WholeLoadTest::SetUp();
        Env().DiscoveryBroadcastAddress = "127.0.0.1";
    }

    void TearDown() override {
        device.reset();
        WholeLoadTest::TearDown();
    }

    void StartDevice(sim::LinkOptions options) {
        device = std::make_unique<sim::LinkDevice>(std::move(options));
        std::string why;
        ASSERT_TRUE(device->Start(&why)) << why;
        Env().Comm.UseTCP = 1;
        Env().Comm.UseCorvixLink = 1;
        Env().Comm.UseCorvixSys = 0;
        SetField(Env().Comm.CorvixLinkAddress, "127.0.0.1");
        Env().Comm.CorvixLinkTcpPort = device->Port();
        // Short, so that the failing cases end quickly; the device answers within milliseconds.
        Env().Comm.EthernetResponseTimeout = 500;
        Env().Comm.EthernetRetryCount = 1;
    }

    int Load(const std::string &file, LoadDisplay &display, LoaderEngineApi &engine) {
        LoadSession session(file, Env(), engine, display, [this] {
            ++passphraseAsks;
            return KeyOfPassphrase(typed);
        });
        session.RunLoad();
        return session.Result;
    }
};

TEST_F(NetworkLoadTest, ThreeHundredByteImageThroughTheDevice) {
    StartDevice(WithPassphrase("corvix"));
    RecordingEngine engine(TheLoaderEngine());
    StatusRecordingDisplay display(window);
    const std::string image = Image(300);
    ASSERT_EQ(Load(image, display, engine), 0)
        << (display.messages.empty() ? "" : display.messages[0].second);

    EXPECT_EQ(device->ReadFlash(0x80000, 300), ReadFile(image));
    EXPECT_EQ(device->ReadFlash(0x80000 + 300, 8), std::vector<uint8_t>(8, 0xFF));
    EXPECT_TRUE(device->Authenticated());
    EXPECT_EQ(passphraseAsks, 1);
    EXPECT_EQ(device->Connections(), 1u); // one connection serves the whole load
    EXPECT_EQ(device->ColdLoader(), ReadFile(Env().ColdLoaderFile));
    EXPECT_TRUE(display.messages.empty());
    EXPECT_TRUE(engineMessages.empty());

    // The progress the device's acknowledgements drove.
    const auto &texts = display.statusTexts;
    for (const char *expected : {"1 of 3 packets sent", "2 of 3 packets sent",
                                 "3 of 3 packets sent", "3 of 3 packets acknowledged"})
        EXPECT_NE(std::find(texts.begin(), texts.end(), expected), texts.end()) << expected;
    EXPECT_EQ(display.panel[1], std::to_string(display.progressMax) + " of " +
                                    std::to_string(display.progressMax) + " bytes sent");

    // After the flash set-up the network road sends the image its own way, then starts the BIOS
    // and lets go of the device.
    const auto from = std::find(engine.calls.begin(), engine.calls.end(), "SetFlashParameters");
    ASSERT_NE(from, engine.calls.end());
    EXPECT_EQ(std::vector<std::string>(from, engine.calls.end()),
              (std::vector<std::string>{"SetFlashParameters", "NetworkDownload",
                                        "EndNetworkDownload", "StartBios(2)", "Disconnect"}));
    const FlashParameters flash =
        LookupFlashParameters(Env().FlashTableFile, engine.idBlock.FlashId);
    EXPECT_EQ(engine.flashArgs[0], flash.FlashSize);
    EXPECT_EQ(engine.flashArgs[1], flash.SectorSize);
    EXPECT_EQ(engine.flashArgs[2], flash.SectorCount);
    EXPECT_EQ(engine.flashArgs[3], flash.WriteMode);
    EXPECT_EQ(device->CountEvents("end-download"), 1u);
}

TEST_F(NetworkLoadTest, DeviceTakesEveryByteOfThePilotBios) {
    StartDevice({});
    StatusRecordingDisplay display(window);
    ASSERT_EQ(Load(Image(128), display, TheLoaderEngine()), 0);

    const std::vector<uint8_t> pilot = ReadFile(Env().PilotBiosFile);
    const auto marker = std::find(pilot.begin(), pilot.end(), uint8_t{0xCC});
    ASSERT_NE(marker, pilot.end());
    const auto fromMarker = static_cast<int64_t>(pilot.end() - marker);
    int checked = 0;
    for (const sim::TranscriptEvent &event : device->Events()) {
        if (event.Name() == "pilot-header") {
            EXPECT_EQ(event.Number("length"), fromMarker);
        } else if (event.Name() == "pilot-data") {
            EXPECT_EQ(event.Number("length"), 6 + fromMarker);
            EXPECT_EQ(event.Flag("ok"), true) << event.Text("reason").value_or("");
            ++checked;
        }
    }
    EXPECT_EQ(checked, 1);
}

TEST_F(NetworkLoadTest, WrongPassphraseEndsTheLoadBeforeAnythingIsSent) {
    StartDevice(WithPassphrase("corvix"));
    typed = "not it";
    RecordingEngine engine(TheLoaderEngine());
    StatusRecordingDisplay display(window);
    EXPECT_EQ(Load(Image(300), display, engine), LoaderErrorCommunication);
    ASSERT_EQ(display.messages.size(), 1u);
    EXPECT_EQ(display.messages[0],
              std::make_pair(std::string("Error"), std::string("Target communication error.")));
    EXPECT_FALSE(device->Authenticated());
    EXPECT_TRUE(device->ColdLoader().empty());
    // It failed at the connect: no stage of the load ran.
    EXPECT_EQ(engine.calls, std::vector<std::string>{"Disconnect"});
    EXPECT_EQ(display.finished, 1);
}

TEST_F(NetworkLoadTest, BoardTextMessageIsShownOnceAndTheLoadGoesOn) {
    StartDevice(WithTextAfterWrites(3, "Flash voltage low"));
    StatusRecordingDisplay display(window);
    const std::string image = Image(1000); // eight writes of 128 bytes
    ASSERT_EQ(Load(image, display, TheLoaderEngine()), 0)
        << (display.messages.empty() ? "" : display.messages[0].second);
    EXPECT_EQ(engineMessages, std::vector<std::string>{"Flash voltage low"});
    EXPECT_TRUE(display.messages.empty());
    EXPECT_EQ(device->ReadFlash(0x80000, 1000), ReadFile(image));
    EXPECT_EQ(device->CountEvents("text-message"), 1u);
    EXPECT_NE(std::find(display.statusTexts.begin(), display.statusTexts.end(),
                        "8 of 8 packets acknowledged"),
              display.statusTexts.end());
}

TEST_F(NetworkLoadTest, DeviceThatAcknowledgesTwoOfThreeIsATimeout) {
    StartDevice(WithFault(sim::LinkFaultKind::StopAcks, 2));
    StatusRecordingDisplay display(window);
    EXPECT_EQ(Load(Image(300), display, TheLoaderEngine()), LoaderErrorTimeout);
    ASSERT_FALSE(display.messages.empty());
    EXPECT_EQ(display.messages[0].second, "Timeout while waiting for response from target.");
    EXPECT_NE(std::find(display.statusTexts.begin(), display.statusTexts.end(),
                        "2 of 3 packets acknowledged"),
              display.statusTexts.end());
    EXPECT_EQ(std::find(display.statusTexts.begin(), display.statusTexts.end(),
                        "3 of 3 packets acknowledged"),
              display.statusTexts.end());
}

} // namespace
