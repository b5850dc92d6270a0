#include "load/LoadSession.h"

#include "settings/Version.h"
#include "load/FlashTable.h"
#include "load/ImageFiles.h"
#include "load/LoadTexts.h"
#include "loader/LoaderErrors.h"
#include "platform/Clock.h"
#include "platform/FixedText.h"
#include "platform/Md5.h"
#include "platform/Wait.h"
#include "settings/Zepenvironment.h"
#include "targetos/UserProgramFile.h"

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <charconv>
#include <exception>
#include <filesystem>
#include <sstream>
#include <vector>

namespace {

// Write mode 1 and the modes above 16 ask for the flash to be erased before it is written.
bool IsWriteModeWithErase(uint16_t writeMode) { return writeMode == 1 || writeMode > 16; }

} // namespace

LoadSession::LoadSession(std::string fileName, Environment &environment, LoaderEngineApi &engine,
                         LoadDisplay &display, PassphraseCallback passphrase)
    : FileName(std::move(fileName)), env_(environment), engine_(engine), display_(display),
      passphrase_(std::move(passphrase)) {}

LoadSession::~LoadSession() = default;

void LoadSession::RunLoad() {
    try {
        engine_.StartSession();
        StartTicks = platform::GetTickCount();
        std::error_code ignored;
        if (!std::filesystem::is_regular_file(FileName, ignored))
            throw TargetCommException(LoaderErrorProgramOpen, WhyNotReadable(FileName));
        PrepareDisplay();
        DescribeRoad();
        if (env_.LoadThroughCorvixSys) {
            RunCorvixSysRoad();
        } else {
            MeasureFiles();
            ColdLoadStage();
            PilotBiosStage();
            SendImage();
            FinishBootstrap();
        }
        ShowElapsed();
    } catch (const TargetCommException &failure) {
        ReportFailure(failure.Code(), failure.Detail());
    } catch (const std::exception &failure) {
        // Not a failure of the board conversation (e.g. out of memory, a toolkit error): the
        // session still ends in order, so that the port and the files are released.
        Result = -1;
        outcome_.Message = failure.what();
        display_.ShowMessage("Error", failure.what());
    }
    EndLoad();
}

void LoadSession::ReportFailure(int32_t code, const std::string &detail) {
    Result = code;
    const char *message = ErrorMessage(code);
    outcome_.Message = message != nullptr ? message : "";
    outcome_.Detail = detail;
    if (code == LoaderErrorCancelled) {
        // The counters stop where the cancel found them; the status says why, so that a still
        // window does not look like a hung load.
        display_.SetStatusPanel(0, outcome_.Message);
    } else if (message != nullptr) {
        display_.ShowFailure(message, detail);
    }
    if (FlashParamsMissing)
        display_.ShowMessage("Error", "Flash parameters for Flash ID returned from pilot bios were "
                                      "not found in the flash initialization file.");
}

void LoadSession::PrepareDisplay() {
    display_.ShowProgressWindow();
    display_.SetStatusPanel(0, "");
    display_.SetStatusPanel(1, "");
    display_.SetBusyCursor(true);
    display_.SetCaptions("Tarnwick " + VersionText() + " (" + FileName + ")",
                         "Progress (" + FileName + ")");
}

void LoadSession::SetStage(const std::string &text) { display_.SetStage(text); }

void LoadSession::StepProgress(uint32_t step) { display_.StepProgress(step); }

void LoadSession::AddSentBytes(uint32_t count) {
    SentBytes += count;
    if (SentBytes > TotalBytes) SentBytes = TotalBytes;
    char text[64];
    display_.SetStatusPanel(1, platform::FormatInto(text, "%u of %u bytes sent",
                                                    static_cast<unsigned>(SentBytes),
                                                    static_cast<unsigned>(TotalBytes)));
}

void LoadSession::ShowElapsed() {
    const uint32_t elapsed = platform::GetTickCount() - StartTicks;
    display_.SetStatusPanel(0, "Elapsed Time: " + FormatElapsedSeconds(elapsed) + " seconds");
    // The time a successful load reports everywhere is the one the status bar shows.
    outcome_.ElapsedMs = elapsed;
    elapsedShown_ = true;
}

void LoadSession::Reconnect(int32_t baudRate, uint8_t packetMode, bool reinstallDiagnostics) {
    env_.Comm.BaudRate = baudRate;
    try {
        engine_.Connect(display_.WindowHandle(), env_.Comm, packetMode, passphrase_);
    } catch (const TargetCommException &failure) {
        // A mistyped passphrase deserves one more try; the device challenges again and the
        // passphrase is asked for again.
        if (!AskPassphraseAgain || failure.InternalCode() != PassphraseRefusedCode) throw;
        AskPassphraseAgain = false;
        engine_.Connect(display_.WindowHandle(), env_.Comm, packetMode, passphrase_);
    }
    engine_.RegisterPacketKinds();
    if (reinstallDiagnostics) engine_.InstallDiagnosticCallbacks();
}

void LoadSession::ProbeConnect(int32_t baudRate) {
    env_.Comm.BaudRate = baudRate;
    engine_.Connect(display_.WindowHandle(), env_.Comm, 1, passphrase_);
}

void LoadSession::DescribeRoad() {
    LoadRoad road = RoadOf(env_);
    outcome_.Road = std::move(road.Road);
    outcome_.Target = std::move(road.Target);
}

void LoadSession::NoteImageDigest(std::FILE *file) {
    // The record of what was written: the file's own bytes, read once before the load starts.
    platform::Md5Context digest;
    std::vector<uint8_t> piece(4096);
    size_t count = 0;
    while ((count = std::fread(piece.data(), 1, piece.size(), file)) > 0)
        digest.Update(piece.data(), count);
    const bool readWell = std::ferror(file) == 0;
    std::rewind(file);
    if (readWell) outcome_.Md5 = platform::HexDigest(digest.Final());
}

void LoadSession::MeasureFiles() {
    ColdLoaderBytes = MeasureColdLoader(env_.ColdLoaderFile);
    PilotBiosBytes = MeasurePilotBiosFile(env_.PilotBiosFile);
    imageFile_ = OpenImage(FileName, ImageBytes);
    NoteImageDigest(imageFile_.get());
    if (ImageBytes == 0)
        display_.ShowMessage("Warning", FileName + " is empty: the loaders go out, but no program "
                                                   "is written.");
    TotalBytes = ColdLoaderBytes + PilotBiosBytes + static_cast<uint32_t>(ImageBytes);
    display_.SetProgressMax(TotalBytes);
}

void LoadSession::ColdLoadStage() {
    SetStage("Sending Coldloader");
    Reconnect(env_.ColdloadBaudRate, 0, false);
    engine_.SendColdLoader(env_.ColdLoaderFile, 2400);
    StepProgress(ColdLoaderBytes);
    AddSentBytes(ColdLoaderBytes);
}

void LoadSession::PilotBiosStage() {
    SetStage("Sending Pilot BIOS");
    engine_.SendPilotBios(env_.PilotBiosFile, env_.PilotBiosBaudRate);
    StepProgress(PilotBiosBytes);
    Reconnect(env_.PilotBiosBaudRate, 1, false);
    AddSentBytes(PilotBiosBytes);
    SelectBaudRate();
    SetUpFlash();
}

void LoadSession::SelectBaudRate() {
    if (env_.Comm.DisableBaudNegotiation != 0) {
        if (engine_.SetTargetBaudRate(env_.BiosBaudRate)) Reconnect(env_.BiosBaudRate, 1);
        return;
    }
    NegotiateBaudRate();
}

void LoadSession::NegotiateBaudRate() {
    const auto pilotRate = static_cast<uint32_t>(env_.PilotBiosBaudRate);
    auto candidate = static_cast<uint32_t>(env_.Comm.MaxNegotiatedBaud);
    bool accepted = false;
    while (candidate > pilotRate && !accepted) {
        try {
            // Proves that the local port can run at the candidate before the board is asked.
            ProbeConnect(static_cast<int32_t>(candidate));
        } catch (const TargetCommException &) {
            candidate >>= 1;
            continue;
        }
        Reconnect(env_.PilotBiosBaudRate, 1);
        if (engine_.SetTargetBaudRate(static_cast<int32_t>(candidate)))
            accepted = true;
        else
            candidate >>= 1;
    }
    // Nothing accepted: the board is still at the pilot BIOS rate, whatever the halving reached.
    Reconnect(accepted ? static_cast<int32_t>(candidate) : env_.PilotBiosBaudRate, 1);
}

void LoadSession::SetUpFlash() {
    IdBlockInfo info;
    engine_.ReadIdBlock(info);
    const FlashParameters flash = LookupFlashParameters(env_.FlashTableFile, info.FlashId);
    FlashParamsMissing = flash.Missing;
    outcome_.FlashIdKnown = true;
    outcome_.FlashId = info.FlashId;
    outcome_.FlashEntry = DescribeFlashEntry(info.FlashId, flash);
    engine_.SetFlashParameters(flash.FlashSize, flash.SectorSize, flash.SectorCount,
                               flash.WriteMode);
    if (!IsWriteModeWithErase(flash.WriteMode)) return;
    const int32_t retryCount = engine_.GetRetryCount();
    const int32_t responseTimeout = engine_.GetResponseTimeout();
    SetStage("Erasing flash");
    outcome_.Erased = true;
    engine_.SetRetryCount(0);
    engine_.SetResponseTimeout(10000);
    engine_.EraseFlash(0x80000u + static_cast<uint32_t>(ImageBytes));
    engine_.SetRetryCount(retryCount);
    engine_.SetResponseTimeout(responseTimeout);
}

void LoadSession::SendImage() {
    std::vector<uint8_t> chunk;
    try {
        chunk.resize(static_cast<size_t>(ChunkSize) + 1);
    } catch (const std::bad_alloc &) {
        throw TargetCommException(5);
    }
    SetStage("Sending Program");
    BeginImage(static_cast<uint32_t>(ImageBytes));
    if (env_.Comm.UseTCP != 0) {
        engine_.NetworkDownload(
            FileName, "bin", 0, ImageBytes, [](uint32_t, uint32_t) { return true; }, 128, 0,
            [this](std::string_view message) { NetworkStatus(message); });
        engine_.EndNetworkDownload();
        return;
    }
    SendBinImage(
        imageFile_.get(), chunk, ChunkSize, WriteAddress, LastReadCount,
        [this](uint32_t sent, uint32_t step) {
            AddSentBytes(sent);
            StepProgress(step);
        },
        [this](uint32_t address, uint16_t length, const uint8_t *data) {
            engine_.WriteBlock(address, length, data);
        },
        [] { platform::PumpPending(); });
}

void LoadSession::BeginImage(uint32_t imageBytes) {
    imageStarted_ = true;
    imageStartBytes_ = SentBytes;
    outcome_.BaudRate = env_.Comm.UseTCP == 0 ? env_.Comm.BaudRate : 0;
    display_.BeginImage(imageBytes);
}

void LoadSession::NetworkStatus(std::string_view message) {
    display_.SetStatusPanel(0, message);
    if (message.find("acknowledged") == std::string_view::npos) return;
    long acknowledged = 0;
    std::from_chars(message.data(), message.data() + message.size(), acknowledged);
    int64_t steps = static_cast<int64_t>(ColdLoaderBytes) + PilotBiosBytes -
                    static_cast<int64_t>(SentBytes) + static_cast<int64_t>(acknowledged) * 128;
    while (steps > 0) {
        AddSentBytes(128);
        StepProgress(128);
        steps -= 128;
    }
}

void LoadSession::FinishBootstrap() {
    engine_.StartBios(2);
    if (env_.Comm.UseTCP != 0) return;
    env_.Comm.DtrControl = 0;
    Reconnect(env_.BiosBaudRate, 1);
}

void LoadSession::RunCorvixSysRoad() {
    VerifyUserProgram();
    ConnectAndProbe();
    SendUserProgramRecords();
    StartUserProgram();
}

void LoadSession::VerifyUserProgram() {
    userProgram_ = std::make_unique<UserProgramFile>(FileName);
    userProgram_->Verify();
    TotalBytes = userProgram_->TotalLength();
    display_.SetProgressMax(TotalBytes);
}

void LoadSession::ConnectAndProbe() {
    Reconnect(env_.BiosBaudRate, 1);
    const bool present = engine_.ProbeTarget();
    if (env_.Comm.UseTCP != 0) {
        if (!present) throw TargetCommException(LoaderErrorCorvixSysAbsent);
        // The console's passthrough needs a moment after the probe before it takes writes.
        engine_.Pause(1000);
        return;
    }
    if (!present) WakeSerialTarget();
}

void LoadSession::WakeSerialTarget() {
    // A user program may have the board: a reset and the end of a cold load bring the operating
    // system back, and it answers once it has settled.
    engine_.Disconnect();
    Reconnect(env_.BiosBaudRate, 0);
    engine_.ResetTarget(2400);
    engine_.SendEndTriplet();
    engine_.Pause(250);
    Reconnect(env_.BiosBaudRate, 1);
    if (!engine_.ProbeTarget()) throw TargetCommException(LoaderErrorCorvixSysAbsent);
}

void LoadSession::SendUserProgramRecords() {
    SetStage("Sending Program");
    BeginImage(TotalBytes);
    SendUserProgram(
        *userProgram_,
        [this](uint32_t bytes) {
            AddSentBytes(bytes);
            StepProgress(bytes);
        },
        [this](uint32_t address, uint16_t length, const uint8_t *data) {
            engine_.WriteBlock(address, length, data);
        },
        [] { platform::PumpPending(); });
}

void LoadSession::StartUserProgram() {
    if (env_.Comm.UseTCP == 0) {
        engine_.RunUserProgram();
        return;
    }
    // The program is started from a console session of its own; the passthrough session (and
    // the communication log) end first.
    engine_.Disconnect();
    engine_.RunProgram();
}

void LoadSession::EndLoad() {
    try {
        engine_.Disconnect();
    } catch (const TargetCommException &failure) {
        // The session is ending anyway; the files, the cursor and the window are still released.
        if (Result == 0) ReportFailure(failure.Code());
    }
    engine_.EndSession();
    imageFile_.reset();
    userProgram_.reset();
    display_.SetBusyCursor(false);
    outcome_.Code = Result;
    // Only what went after the image began counts: before it the counter held the loaders.
    outcome_.ImageBytes = imageStarted_ ? SentBytes - std::min(SentBytes, imageStartBytes_) : 0;
    if (!elapsedShown_) outcome_.ElapsedMs = platform::GetTickCount() - StartTicks;
    display_.ShowOutcome(outcome_);
    display_.Finish();
}
