// The load session's decisions, checked through the engine calls it makes: a recording engine
// stands in for the board, a recording display for the windows.
#include "load/LoadSession.h"
#include "load/LoadTexts.h"
#include "loader/LoaderErrors.h"
#include "platform/Md5.h"
#include "settings/Zepenvironment.h"
#include "support/RecordingDisplay.h"
#include "support/UserProgramBuilder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

class RecordingEngine : public LoaderEngineApi {
public:
    std::vector<std::string> calls;
    std::set<int32_t> acceptedRates{460800};
    std::set<int32_t> unopenableRates;
    uint16_t flashId = 0x00BF;
    int32_t retryCount = 10;
    int32_t responseTimeout = 200;
    int32_t failWriteNumber = 0; // the n-th WriteBlock raises failWriteCode (1-based)
    int32_t failWriteCode = 0;
    bool failWriteWithOtherException = false;
    std::vector<std::pair<int32_t, int32_t>> retryAndTimeoutAtErase;
    std::vector<std::string> networkMessages; // given to the status callback during the download
    int disconnectMs = 0;
    int passphraseRefusals = 0; // this many connects fail as a device refusing the passphrase

    void Record(const std::string &call) { calls.push_back(call); }

    void Connect(platform::HWND, CommOptions options, uint8_t packetMode,
                 PassphraseCallback) override {
        Record("Connect " + std::to_string(options.BaudRate) + " " + std::to_string(packetMode));
        if (unopenableRates.count(options.BaudRate) != 0)
            throw TargetCommException(LoaderErrorSerialSetup);
        if (passphraseRefusals > 0) {
            --passphraseRefusals;
            throw TargetCommException(LoaderErrorCommunication, "refused", PassphraseRefusedCode);
        }
    }
    void RegisterPacketKinds() override { Record("RegisterPacketKinds"); }
    void InstallDiagnosticCallbacks() override { Record("InstallDiagnosticCallbacks"); }
    void Disconnect() override {
        Record("Disconnect");
        // A port that takes a while to close: the load's time must not include it.
        if (disconnectMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(disconnectMs));
    }
    void CancelTransfer() override { Record("CancelTransfer"); }
    int32_t GetRetryCount() override { return retryCount; }
    void SetRetryCount(int32_t count) override {
        Record("SetRetryCount " + std::to_string(count));
        retryCount = count;
    }
    int32_t GetResponseTimeout() override { return responseTimeout; }
    void SetResponseTimeout(int32_t ms) override {
        Record("SetResponseTimeout " + std::to_string(ms));
        responseTimeout = ms;
    }
    bool SendColdLoader(const std::string &, int32_t baudRate) override {
        Record("SendColdLoader " + std::to_string(baudRate));
        return true;
    }
    void SendPilotBios(const std::string &, int32_t baudRate) override {
        Record("SendPilotBios " + std::to_string(baudRate));
    }
    bool SetTargetBaudRate(int32_t baudRate) override {
        const bool accepted = acceptedRates.count(baudRate) != 0;
        Record("SetTargetBaudRate " + std::to_string(baudRate) +
               (accepted ? " accepted" : " refused"));
        return accepted;
    }
    void ReadIdBlock(IdBlockInfo &info) override {
        Record("ReadIdBlock");
        info.FlashId = flashId;
    }
    void SetFlashParameters(uint16_t flashSize, uint16_t sectorSize, uint16_t sectorCount,
                            uint16_t writeMode) override {
        Record("SetFlashParameters " + std::to_string(flashSize) + " " +
               std::to_string(sectorSize) + " " + std::to_string(sectorCount) + " " +
               std::to_string(writeMode));
    }
    void EraseFlash(uint32_t value) override {
        Record("EraseFlash " + Hex(value));
        retryAndTimeoutAtErase.emplace_back(retryCount, responseTimeout);
    }
    void WriteBlock(uint32_t address, uint16_t length, const uint8_t *) override {
        Record("WriteBlock " + Hex(address) + " " + std::to_string(length));
        if (++writes_ == failWriteNumber) {
            if (failWriteWithOtherException) throw std::runtime_error("toolkit failure");
            throw TargetCommException(failWriteCode);
        }
    }
    void StartBios(uint8_t where) override { Record("StartBios " + std::to_string(where)); }
    void NetworkDownload(const std::string &, const std::string &extension, uint32_t,
                         int32_t imageBytes, NetworkContinueCallback, uint32_t blockSize, uint32_t,
                         NetworkStatusCallback status) override {
        Record("NetworkDownload " + extension + " " + std::to_string(imageBytes) + " " +
               std::to_string(blockSize));
        for (const auto &message : networkMessages) status(message);
    }
    void EndNetworkDownload() override { Record("EndNetworkDownload"); }
    std::vector<bool> probeAnswers; // answered in turn; true once they run out
    bool ProbeTarget() override {
        Record("ProbeTarget");
        if (probeAnswers.empty()) return true;
        const bool answer = probeAnswers.front();
        probeAnswers.erase(probeAnswers.begin());
        return answer;
    }
    void ResetTarget(int32_t) override { Record("ResetTarget"); }
    void SendEndTriplet() override { Record("SendEndTriplet"); }
    void RunUserProgram() override { Record("RunUserProgram"); }
    void RunProgram() override { Record("RunProgram"); }
    void Pause(uint32_t ms) override { Record("Pause " + std::to_string(ms)); }

    std::vector<std::string> CallsStartingWith(const std::string &prefix) const {
        std::vector<std::string> found;
        for (const auto &call : calls)
            if (call.rfind(prefix, 0) == 0) found.push_back(call);
        return found;
    }

private:
    static std::string Hex(uint32_t value) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%x", value);
        return text;
    }
    int32_t writes_ = 0;
};

class LoadSessionTest : public ::testing::Test {
protected:
    fs::path dir;
    Environment env;
    RecordingEngine engine;
    RecordingDisplay display;

    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("tarnwick-session-" +
               std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
        // A cold loader whose end triplet ends at byte 6, a pilot BIOS of 4 bytes from its marker.
        Write("coldload.bin", {0x01, 0x02, 0x03, 0x80, 0x24, 0x80});
        Write("pilot.bin", {0x11, 0x22, 0xCC, 0x01, 0x02, 0x03});
        WriteFlashTable(2);
        env.Comm.BaudRate = 0;
        env.Comm.MaxNegotiatedBaud = 460800;
        env.Comm.DtrControl = 1;
        env.ColdloadBaudRate = 2400;
        env.PilotBiosBaudRate = 57600;
        env.BiosBaudRate = 115200;
        env.ColdLoaderFile = (dir / "coldload.bin").string();
        env.PilotBiosFile = (dir / "pilot.bin").string();
        env.FlashTableFile = (dir / "Flash.ini").string();
    }
    void TearDown() override { fs::remove_all(dir); }

    void Write(const std::string &name, const std::vector<uint8_t> &bytes) {
        std::ofstream(dir / name, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    void WriteFlashTable(int writeMode) {
        std::ofstream(dir / "Flash.ini")
            << "[00BF]\nsector size=4096\nnum sectors=64\nflash size=256\nwrite mode=" << writeMode
            << "\n";
    }
    std::string Image(size_t size) {
        std::vector<uint8_t> bytes(size);
        for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7);
        Write("image.bin", bytes);
        return (dir / "image.bin").string();
    }
    LoadSession &Run(const std::string &file, bool askPassphraseAgain = false) {
        session_ = std::make_unique<LoadSession>(file, env, engine, display,
                                                 [] { return std::array<uint8_t, 16>{}; });
        session_->AskPassphraseAgain = askPassphraseAgain;
        session_->RunLoad();
        return *session_;
    }

private:
    std::unique_ptr<LoadSession> session_;
};

TEST_F(LoadSessionTest, SerialLoadMakesTheEngineCallsInOrder) {
    engine.disconnectMs = 30;
    const LoadSession &session = Run(Image(300));
    const std::vector<std::string> expected = {"Connect 2400 0",
                                               "RegisterPacketKinds",
                                               "SendColdLoader 2400",
                                               "SendPilotBios 57600",
                                               "Connect 57600 1",
                                               "RegisterPacketKinds",
                                               "Connect 460800 1",
                                               "Connect 57600 1",
                                               "RegisterPacketKinds",
                                               "InstallDiagnosticCallbacks",
                                               "SetTargetBaudRate 460800 accepted",
                                               "Connect 460800 1",
                                               "RegisterPacketKinds",
                                               "InstallDiagnosticCallbacks",
                                               "ReadIdBlock",
                                               "SetFlashParameters 256 4096 64 2",
                                               "WriteBlock 0x80000 128",
                                               "WriteBlock 0x80080 128",
                                               "WriteBlock 0x80100 44",
                                               "StartBios 2",
                                               "Connect 115200 1",
                                               "RegisterPacketKinds",
                                               "InstallDiagnosticCallbacks",
                                               "Disconnect"};
    EXPECT_EQ(engine.calls, expected);
    EXPECT_EQ(session.Result, 0);
    EXPECT_TRUE(display.messages.empty());
    EXPECT_EQ(display.stages, (std::vector<std::string>{"Sending Coldloader", "Sending Pilot BIOS",
                                                        "Sending Program"}));
    // Weights: cold loader 6, pilot BIOS 4 (marker included), image 300.
    EXPECT_EQ(display.panel[1], "310 of 310 bytes sent");
    EXPECT_EQ(display.panel[0].rfind("Elapsed Time: ", 0), 0u);
    EXPECT_NE(display.panel[0].find(" seconds"), std::string::npos);
    // The outcome reports the very time the status bar shows, not one taken later.
    ASSERT_EQ(display.outcomes.size(), 1u);
    EXPECT_EQ(display.panel[0],
              "Elapsed Time: " + FormatElapsedSeconds(display.outcomes[0].ElapsedMs) + " seconds");
    EXPECT_EQ(display.mainCaption, "Tarnwick 3.02 (" + (dir / "image.bin").string() + ")");
    EXPECT_EQ(display.progressCaption, "Progress (" + (dir / "image.bin").string() + ")");
    EXPECT_EQ(display.finished, 1);
    EXPECT_FALSE(display.busy);
    // The final connect drops DTR; the current rate stays in the settings after the load.
    EXPECT_EQ(env.Comm.DtrControl, 0);
    EXPECT_EQ(env.Comm.BaudRate, 115200);
}

TEST_F(LoadSessionTest, NegotiationDisabled) {
    env.Comm.DisableBaudNegotiation = 1;
    engine.acceptedRates = {115200};
    Run(Image(10));
    auto calls = engine.calls;
    auto at = std::find(calls.begin(), calls.end(), "SetTargetBaudRate 115200 accepted");
    ASSERT_NE(at, calls.end());
    EXPECT_EQ(*(at + 1), "Connect 115200 1");
    EXPECT_EQ(engine.CallsStartingWith("SetTargetBaudRate").size(), 1u);

    // Refused: the flash parameters and the program go at the pilot BIOS rate.
    engine = RecordingEngine{};
    engine.acceptedRates = {};
    Run(Image(10));
    calls = engine.calls;
    at = std::find(calls.begin(), calls.end(), "SetTargetBaudRate 115200 refused");
    ASSERT_NE(at, calls.end());
    EXPECT_EQ(*(at + 1), "ReadIdBlock");
    EXPECT_EQ(engine.CallsStartingWith("Connect").back(), "Connect 115200 1"); // the final one
    EXPECT_EQ(engine.CallsStartingWith("Connect").size(), 3u);
}

TEST_F(LoadSessionTest, AllCandidatesRefusedEndsAtThePilotRate) {
    engine.acceptedRates = {};
    Run(Image(10));
    EXPECT_EQ(engine.CallsStartingWith("SetTargetBaudRate"),
              (std::vector<std::string>{"SetTargetBaudRate 460800 refused",
                                        "SetTargetBaudRate 230400 refused",
                                        "SetTargetBaudRate 115200 refused"}));
    auto calls = engine.calls;
    auto at = std::find(calls.begin(), calls.end(), "ReadIdBlock");
    ASSERT_NE(at, calls.end());
    EXPECT_EQ(*(at - 3), "Connect 57600 1");

    // A maximum that is not the pilot rate times a power of two still ends where the board is.
    engine = RecordingEngine{};
    engine.acceptedRates = {};
    env.Comm.MaxNegotiatedBaud = 400000;
    Run(Image(10));
    calls = engine.calls;
    at = std::find(calls.begin(), calls.end(), "ReadIdBlock");
    EXPECT_EQ(*(at - 3), "Connect 57600 1");
    EXPECT_EQ(engine.CallsStartingWith("Connect 50000").size(), 0u);
}

TEST_F(LoadSessionTest, MaximumAtThePilotRateTriesNoCandidate) {
    env.Comm.MaxNegotiatedBaud = 57600;
    Run(Image(10));
    EXPECT_TRUE(engine.CallsStartingWith("SetTargetBaudRate").empty());
}

TEST_F(LoadSessionTest, ALocalPortThatCannotRunARateIsPassedSilently) {
    engine.unopenableRates = {460800};
    engine.acceptedRates = {230400};
    const LoadSession &session = Run(Image(10));
    EXPECT_EQ(engine.CallsStartingWith("SetTargetBaudRate"),
              (std::vector<std::string>{"SetTargetBaudRate 230400 accepted"}));
    EXPECT_TRUE(display.messages.empty());
    EXPECT_EQ(session.Result, 0);
}

TEST_F(LoadSessionTest, WriteModesThatEraseFirst) {
    for (int writeMode : {1, 17, 0xFFFF}) {
        engine = RecordingEngine{};
        display = RecordingDisplay{};
        WriteFlashTable(writeMode);
        Run(Image(300));
        ASSERT_EQ(engine.CallsStartingWith("EraseFlash"),
                  (std::vector<std::string>{"EraseFlash 0x8012c"}))
            << writeMode;
        EXPECT_EQ(engine.retryAndTimeoutAtErase.front(), std::make_pair(0, 10000));
        EXPECT_EQ(engine.retryCount, 10) << "the old retry count is back for the program";
        EXPECT_EQ(engine.responseTimeout, 200);
        EXPECT_NE(std::find(display.stages.begin(), display.stages.end(), "Erasing flash"),
                  display.stages.end());
    }
    for (int writeMode : {0, 2, 16}) {
        engine = RecordingEngine{};
        display = RecordingDisplay{};
        WriteFlashTable(writeMode);
        Run(Image(300));
        EXPECT_TRUE(engine.CallsStartingWith("EraseFlash").empty()) << writeMode;
        EXPECT_EQ(std::find(display.stages.begin(), display.stages.end(), "Erasing flash"),
                  display.stages.end());
    }
}

TEST_F(LoadSessionTest, EmptyImageSendsNoWriteAndStillStartsTheBios) {
    const LoadSession &session = Run(Image(0));
    ASSERT_EQ(display.messages.size(), 1u) << "an empty image is warned about";
    EXPECT_EQ(display.messages[0].first, "Warning");
    EXPECT_TRUE(engine.CallsStartingWith("WriteBlock").empty());
    EXPECT_EQ(engine.CallsStartingWith("StartBios"), (std::vector<std::string>{"StartBios 2"}));
    EXPECT_EQ(session.Result, 0);
}

TEST_F(LoadSessionTest, OutcomeRecordsWhatWasWrittenWhereAndAtWhatRate) {
    WriteFlashTable(1); // a write mode that erases first
    const std::string image = Image(300);
    Run(image);
    ASSERT_EQ(display.outcomes.size(), 1u);
    const LoadOutcome &outcome = display.outcomes[0];
    EXPECT_EQ(outcome.Code, 0);
    EXPECT_EQ(outcome.Road, "serial");
    EXPECT_EQ(outcome.Target.rfind("COM", 0), 0u) << outcome.Target;
    EXPECT_TRUE(outcome.FlashIdKnown);
    EXPECT_EQ(outcome.FlashId, 0x00BF);
    EXPECT_THAT(outcome.FlashEntry, ::testing::HasSubstr("num sectors 64"));
    EXPECT_TRUE(outcome.Erased);
    EXPECT_EQ(outcome.BaudRate, 460800) << "the negotiated rate the image went at";
    EXPECT_EQ(outcome.ImageBytes, 300u) << "the loaders' bytes are not the image's";
    EXPECT_EQ(display.imageStarts, (std::vector<uint32_t>{300}));
    std::vector<uint8_t> bytes(300);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
    EXPECT_EQ(outcome.Md5, platform::HexDigest(platform::Md5(bytes.data(), bytes.size())));
}

TEST_F(LoadSessionTest, MissingImageFailsBeforeAnythingIsSent) {
    const LoadSession &session = Run((dir / "nothing.bin").string());
    EXPECT_EQ(session.Result, 3);
    ASSERT_EQ(display.messages.size(), 1u);
    EXPECT_THAT(display.failureDetails.at(0), ::testing::HasSubstr("nothing.bin"));
    EXPECT_EQ(
        display.messages[0],
        std::make_pair(std::string("Error"), std::string("Could not open program (.bin) file.")));
    EXPECT_FALSE(display.shown) << "the display is not prepared";
    EXPECT_EQ(engine.calls, (std::vector<std::string>{"Disconnect"}));
    EXPECT_EQ(display.finished, 1);
}

TEST_F(LoadSessionTest, MissingSupportFilesReportTheirOwnCodes) {
    env.ColdLoaderFile = (dir / "none.bin").string();
    EXPECT_EQ(Run(Image(10)).Result, 1);
    EXPECT_EQ(display.messages.back().second, "Could not open cold loader file");
    // The detail names the file, the system's reason and the setting that places it.
    EXPECT_THAT(display.failureDetails.back(),
                ::testing::AllOf(::testing::HasSubstr("none.bin: No such file or directory"),
                                 ::testing::HasSubstr("ColdLoader")));
    env.ColdLoaderFile = (dir / "coldload.bin").string();
    env.PilotBiosFile = "";
    EXPECT_EQ(Run(Image(10)).Result, 2);
    env.PilotBiosFile = (dir / "pilot.bin").string();
    env.FlashTableFile = (dir / "none.ini").string();
    EXPECT_EQ(Run(Image(10)).Result, 24);
    EXPECT_EQ(display.messages.back().second, "Flash initialization file not found.");
    // The loaders went out before the flash table was missed; none of the image did.
    ASSERT_FALSE(display.outcomes.empty());
    EXPECT_EQ(display.outcomes.back().ImageBytes, 0u);
}

TEST_F(LoadSessionTest, CancelShowsNoBoxButTheFlashTableNoteStays) {
    engine.failWriteNumber = 2;
    engine.failWriteCode = LoaderErrorCancelled;
    const LoadSession &session = Run(Image(300));
    EXPECT_EQ(session.Result, 20);
    EXPECT_TRUE(display.messages.empty());
    // No elapsed time after a cancel: the status says the load was cancelled.
    EXPECT_EQ(display.panel[0], ErrorMessage(LoaderErrorCancelled));
    ASSERT_EQ(display.outcomes.size(), 1u);
    EXPECT_EQ(display.outcomes[0].Code, LoaderErrorCancelled);
    EXPECT_EQ(engine.calls.back(), "Disconnect");

    engine = RecordingEngine{};
    engine.flashId = 0x1234; // no section in the table
    engine.failWriteNumber = 1;
    engine.failWriteCode = LoaderErrorCancelled;
    display = RecordingDisplay{};
    Run(Image(300));
    ASSERT_EQ(display.messages.size(), 1u);
    EXPECT_EQ(display.messages[0].second,
              "Flash parameters for Flash ID returned from pilot bios were "
              "not found in the flash initialization file.");
    EXPECT_NE(std::find(engine.calls.begin(), engine.calls.end(), "SetFlashParameters 16 128 1 2"),
              engine.calls.end());
}

TEST_F(LoadSessionTest, FailureShowsItsMessageAndEndsTheLoad) {
    engine.failWriteNumber = 1;
    engine.failWriteCode = LoaderErrorTimeout;
    const LoadSession &session = Run(Image(300));
    EXPECT_EQ(session.Result, 17);
    ASSERT_EQ(display.messages.size(), 1u);
    EXPECT_EQ(display.messages[0].second, "Timeout while waiting for response from target.");
    EXPECT_EQ(engine.CallsStartingWith("WriteBlock").size(), 1u);
    EXPECT_TRUE(engine.CallsStartingWith("StartBios").empty());
    EXPECT_EQ(engine.calls.back(), "Disconnect");
    EXPECT_EQ(display.finished, 1);
}

TEST_F(LoadSessionTest, AnotherExceptionStillEndsTheSessionInOrder) {
    engine.failWriteNumber = 1;
    engine.failWriteWithOtherException = true;
    const LoadSession &session = Run(Image(300));
    EXPECT_NE(session.Result, 0);
    ASSERT_EQ(display.messages.size(), 1u);
    EXPECT_EQ(display.messages[0],
              std::make_pair(std::string("Error"), std::string("toolkit failure")));
    EXPECT_EQ(engine.calls.back(), "Disconnect");
    EXPECT_EQ(display.finished, 1);
    EXPECT_FALSE(display.busy);
}

TEST_F(LoadSessionTest, ARefusedPassphraseIsAskedForOnceMoreOnlyWhereTheSessionMayAsk) {
    struct Case {
        bool askAgain;
        int refusals;
        int32_t result;
    };
    for (const Case c : {Case{false, 1, LoaderErrorCommunication}, Case{true, 1, 0},
                         Case{true, 2, LoaderErrorCommunication}}) {
        SCOPED_TRACE(std::to_string(c.askAgain) + " " + std::to_string(c.refusals));
        env.Comm.UseTCP = 1;
        engine.calls.clear();
        engine.passphraseRefusals = c.refusals;
        EXPECT_EQ(Run(Image(10), c.askAgain).Result, c.result);
        const size_t connects = engine.CallsStartingWith("Connect").size();
        if (c.result != 0) {
            EXPECT_EQ(connects, c.askAgain ? 2u : 1u) << "asked once more at most";
        }
    }
}

TEST_F(LoadSessionTest, NetworkLoadDrivesTheCounterByAcknowledgementsAndNeverPassesTheTotal) {
    env.Comm.UseTCP = 1;
    engine.networkMessages = {"1 of 3 packets sent", "2 of 3 packets sent", "3 of 3 packets sent",
                              "1 of 3 packets acknowledged", "3 of 3 packets acknowledged"};
    const LoadSession &session = Run(Image(300));
    auto calls = engine.calls;
    auto at = std::find(calls.begin(), calls.end(), "SetFlashParameters 256 4096 64 2");
    ASSERT_NE(at, calls.end());
    EXPECT_EQ(std::vector<std::string>(at + 1, calls.end()),
              (std::vector<std::string>{"NetworkDownload bin 300 128", "EndNetworkDownload",
                                        "StartBios 2", "Disconnect"}));
    EXPECT_EQ(session.Result, 0);
    EXPECT_EQ(display.panel[1], "310 of 310 bytes sent");
    EXPECT_EQ(session.SentBytes, 310u);
}

} // namespace

namespace {

class CorvixSysRoadTest : public LoadSessionTest {
protected:
    void SetUp() override {
        LoadSessionTest::SetUp();
        env.LoadThroughCorvixSys = 1;
    }
    std::string Program() {
        Write("program.upl", upltest::Builder().Add(0x20000, upltest::Pattern(300)).Bytes());
        return (dir / "program.upl").string();
    }
};

TEST_F(CorvixSysRoadTest, OverTcpProbesPausesSendsAndStartsThroughTheConsole) {
    env.Comm.UseTCP = 1;
    const LoadSession &session = Run(Program());
    EXPECT_EQ(session.Result, 0);
    EXPECT_EQ(engine.calls,
              (std::vector<std::string>{
                  "Connect 115200 1", "RegisterPacketKinds", "InstallDiagnosticCallbacks",
                  "ProbeTarget", "Pause 1000", "WriteBlock 0x20000 128", "WriteBlock 0x20080 128",
                  "WriteBlock 0x20100 128", "Disconnect", "RunProgram", "Disconnect"}));
    EXPECT_EQ(display.progressMax, 308u);
    EXPECT_EQ(display.panel[1], "308 of 308 bytes sent");
    EXPECT_EQ(display.stages, std::vector<std::string>{"Sending Program"});
}

TEST_F(CorvixSysRoadTest, OverTcpAnUnansweredProbeIsTwentySevenWithoutWakeUp) {
    env.Comm.UseTCP = 1;
    engine.probeAnswers = {false};
    const LoadSession &session = Run(Program());
    EXPECT_EQ(session.Result, LoaderErrorCorvixSysAbsent);
    EXPECT_TRUE(engine.CallsStartingWith("ResetTarget").empty());
    EXPECT_TRUE(engine.CallsStartingWith("WriteBlock").empty());
}

TEST_F(CorvixSysRoadTest, OverSerialAnUnansweredProbeWakesTheBoardFirst) {
    engine.probeAnswers = {false, true};
    const LoadSession &session = Run(Program());
    EXPECT_EQ(session.Result, 0);
    const std::vector<std::string> start(engine.calls.begin(), engine.calls.begin() + 16);
    EXPECT_EQ(start, (std::vector<std::string>{
                         "Connect 115200 1", "RegisterPacketKinds", "InstallDiagnosticCallbacks",
                         "ProbeTarget", "Disconnect", "Connect 115200 0", "RegisterPacketKinds",
                         "InstallDiagnosticCallbacks", "ResetTarget", "SendEndTriplet", "Pause 250",
                         "Connect 115200 1", "RegisterPacketKinds", "InstallDiagnosticCallbacks",
                         "ProbeTarget", "WriteBlock 0x20000 128"}));
    EXPECT_EQ(engine.calls.back(), "Disconnect");
    EXPECT_EQ(engine.calls[engine.calls.size() - 2], "RunUserProgram");
    EXPECT_TRUE(engine.CallsStartingWith("RunProgram").empty());
}

TEST_F(CorvixSysRoadTest, OverSerialABoardThatStaysSilentIsTwentySeven) {
    engine.probeAnswers = {false, false};
    const LoadSession &session = Run(Program());
    EXPECT_EQ(session.Result, LoaderErrorCorvixSysAbsent);
    ASSERT_EQ(display.messages.size(), 1u);
    EXPECT_EQ(display.messages[0].second, ErrorMessage(LoaderErrorCorvixSysAbsent));
    EXPECT_TRUE(engine.CallsStartingWith("WriteBlock").empty());
}

} // namespace
