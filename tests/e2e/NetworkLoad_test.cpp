// Whole loads through a CorvixLink network programming device: the real session, engine and TCP
// connection against the simulated device on 127.0.0.1, with its passphrase challenge, the cold
// loader and pilot BIOS packets, and the windowed download of the image.
#include "load/FlashTable.h"
#include "load/LoadSession.h"
#include "loader/LoaderEngine.h"
#include "loader/LoaderErrors.h"
#include "platform/Registry.h"
#include "settings/Passphrase.h"
#include "settings/Zepenvironment.h"
#include "support/RecordingDisplay.h"

#include "LinkDevice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

namespace fs = std::filesystem;

platform::LRESULT QuietWindowProc(platform::HWND, platform::UINT, platform::WPARAM, platform::LPARAM) {
    return 0;
}

std::vector<uint8_t> ReadFile(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

sim::LinkOptions WithPassphrase(const std::string &passphrase) {
    sim::LinkOptions options;
    options.passphrase = passphrase;
    return options;
}

sim::LinkOptions WithFault(sim::LinkFaultKind kind, unsigned n) {
    sim::LinkOptions options;
    options.fault = {kind, n};
    return options;
}

// Keeps every status text, not only the last one of each panel.
class StatusRecordingDisplay : public RecordingDisplay {
public:
    using RecordingDisplay::RecordingDisplay;
    std::vector<std::string> statusTexts;
    void SetStatusPanel(int index, const std::string &text) override {
        RecordingDisplay::SetStatusPanel(index, text);
        if (index == 0 && !text.empty())
            statusTexts.push_back(text);
    }
};

// The engine the session drives, with a record of the calls from the flash set-up on.
class RecordingEngine : public LoaderEngineApi {
public:
    explicit RecordingEngine(LoaderEngineApi &engine) : engine_(engine) {}

    std::vector<std::string> calls;
    IdBlockInfo idBlock;
    uint16_t flashArgs[4] = {};

    void Connect(platform::HWND owner, CommOptions options, uint8_t packetMode,
                 PassphraseCallback passphrase) override {
        engine_.Connect(owner, options, packetMode, std::move(passphrase));
    }
    void RegisterPacketKinds() override { engine_.RegisterPacketKinds(); }
    void InstallDiagnosticCallbacks() override { engine_.InstallDiagnosticCallbacks(); }
    void Disconnect() override {
        calls.push_back("Disconnect");
        engine_.Disconnect();
    }
    void CancelTransfer() override { engine_.CancelTransfer(); }
    int32_t GetRetryCount() override { return engine_.GetRetryCount(); }
    void SetRetryCount(int32_t count) override { engine_.SetRetryCount(count); }
    int32_t GetResponseTimeout() override { return engine_.GetResponseTimeout(); }
    void SetResponseTimeout(int32_t ms) override { engine_.SetResponseTimeout(ms); }
    bool SendColdLoader(const std::string &path, int32_t baudRate) override {
        calls.push_back("SendColdLoader");
        return engine_.SendColdLoader(path, baudRate);
    }
    void SendPilotBios(const std::string &path, int32_t baudRate) override {
        calls.push_back("SendPilotBios");
        engine_.SendPilotBios(path, baudRate);
    }
    bool SetTargetBaudRate(int32_t baudRate) override { return engine_.SetTargetBaudRate(baudRate); }
    void ReadIdBlock(IdBlockInfo &info) override {
        engine_.ReadIdBlock(info);
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
        engine_.SetFlashParameters(flashSize, sectorSize, sectorCount, writeMode);
    }
    void EraseFlash(uint32_t value) override {
        calls.push_back("EraseFlash");
        engine_.EraseFlash(value);
    }
    void WriteBlock(uint32_t address, uint16_t length, const uint8_t *data) override {
        calls.push_back("WriteBlock");
        engine_.WriteBlock(address, length, data);
    }
    void StartBios(uint8_t where) override {
        calls.push_back("StartBios(" + std::to_string(where) + ")");
        engine_.StartBios(where);
    }
    void NetworkDownload(const std::string &fileName, const std::string &extension,
                         uint32_t startOffset, int32_t imageBytes, NetworkContinueCallback proceed,
                         uint32_t blockSize, uint32_t flags, NetworkStatusCallback status) override {
        calls.push_back("NetworkDownload");
        engine_.NetworkDownload(fileName, extension, startOffset, imageBytes, std::move(proceed),
                                blockSize, flags, std::move(status));
    }
    void EndNetworkDownload() override {
        calls.push_back("EndNetworkDownload");
        engine_.EndNetworkDownload();
    }
    bool ProbeTarget() override { return engine_.ProbeTarget(); }
    void ResetTarget(int32_t baudRate) override { engine_.ResetTarget(baudRate); }
    void SendEndTriplet() override { engine_.SendEndTriplet(); }
    void RunUserProgram() override { engine_.RunUserProgram(); }
    void RunProgram() override { engine_.RunProgram(); }

private:
    LoaderEngineApi &engine_;
};

class NetworkLoadTest : public ::testing::Test {
protected:
    fs::path dir;
    platform::HWND window = nullptr;
    std::vector<std::string> engineMessages;
    std::unique_ptr<sim::LinkDevice> device;
    std::string typed = "corvix";
    int passphraseAsks = 0;

    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("tarnwick-e2e-net-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir / "prog");
        ::setenv("TARNWICK_REGISTRY", (dir / "registry.reg").c_str(), 1);
        platform::ReloadRegistry();
        LoadSettings((dir / "prog" / "tarnwick").string());
        const fs::path samples = fs::path(TARNWICK_SOURCE_DIR) / "samples";
        Env().ColdLoaderFile = (samples / "coldload.bin").string();
        Env().PilotBiosFile = (samples / "pilot.bin").string();
        Env().FlashTableFile = (samples / "Flash.ini").string();
        Env().DiscoveryBroadcastAddress = "127.0.0.1";
        SetMessageFunction([this](const std::string &, const std::string &text) {
            engineMessages.push_back(text);
        });
        window = platform::CreateWindow(QuietWindowProc);
    }

    void TearDown() override {
        device.reset();
        platform::DestroyWindow(window);
        SetMessageFunction({});
        ::unsetenv("TARNWICK_REGISTRY");
        platform::ReloadRegistry();
        fs::remove_all(dir);
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

    std::string Image(size_t size) {
        std::vector<uint8_t> bytes(size);
        for (size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<uint8_t>((i * 31) ^ (i >> 7));
        const fs::path path = dir / "image.bin";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(size));
        return path.string();
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
    for (const char *expected : {"1 of 3 packets sent", "2 of 3 packets sent", "3 of 3 packets sent",
                                 "3 of 3 packets acknowledged"})
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
    const FlashParameters flash = LookupFlashParameters(Env().FlashTableFile, engine.idBlock.FlashId);
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
    EXPECT_EQ(display.messages[0], std::make_pair(std::string("Error"),
                                                  std::string("Target communication error.")));
    EXPECT_FALSE(device->Authenticated());
    EXPECT_TRUE(device->ColdLoader().empty());
    // It failed at the connect: no stage of the load ran.
    EXPECT_EQ(engine.calls, std::vector<std::string>{"Disconnect"});
    EXPECT_EQ(display.finished, 1);
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
