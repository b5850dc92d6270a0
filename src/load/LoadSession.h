// One load: carries one file from the user's disk into the board, stage by stage, through the
// loader engine, and tells the user how it goes through a LoadDisplay. Runs on the thread of the
// display's window; the engine pumps that thread's messages while it waits for the board, which
// is how a Cancel click reaches a running load.
#pragma once

#include "load/Address.h"
#include "load/ImageFiles.h"
#include "load/LoadDisplay.h"
#include "loader/LoaderEngineApi.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

struct Environment;
class UserProgramFile;

class LoadSession {
public:
    LoadSession(std::string fileName, Environment &environment, LoaderEngineApi &engine,
                LoadDisplay &display, PassphraseCallback passphrase);
    ~LoadSession();
    LoadSession(const LoadSession &) = delete;
    LoadSession &operator=(const LoadSession &) = delete;

    // The whole session; always ends through EndLoad, which closes the display.
    void RunLoad();

    // Byte counter and progress, also driven by the image writer and the network download.
    void AddSentBytes(uint32_t count);
    void StepProgress(uint32_t step);
    void NetworkStatus(std::string_view message);

    // Fields, readable for tests and the display.
    const std::string FileName;
    const int32_t ChunkSize = 128;
    uint32_t ColdLoaderBytes = 0;
    uint16_t PilotBiosBytes = 0;
    int32_t ImageBytes = 0;
    uint32_t TotalBytes = 0;
    uint32_t SentBytes = 0;
    uint32_t StartTicks = 0;
    Address WriteAddress;
    int32_t LastReadCount = 0;
    bool FlashParamsMissing = false;
    // The code the session ended with: 0 on success, else the LoaderError (or -1 for a failure
    // that carried no code). tarnwick-cli turns it into its exit status.
    int32_t Result = 0;
    // Whether a passphrase the network device refused is asked for once more (the desktop
    // program, where the user types it; a script's passphrase would only be refused again).
    bool AskPassphraseAgain = false;

private:
    void PrepareDisplay();
    void MeasureFiles();
    void ColdLoadStage();
    void PilotBiosStage();
    void SelectBaudRate();
    void NegotiateBaudRate();
    void SetUpFlash();
    void SendImage();
    void FinishBootstrap();
    // The CorvixSys road: a user program to a board that already runs the operating system.
    void RunCorvixSysRoad();
    void VerifyUserProgram();
    void ConnectAndProbe();
    void WakeSerialTarget();
    void SendUserProgramRecords();
    void StartUserProgram();
    void ShowElapsed();
    // Road and target of the summary, from the settings this load runs with.
    void DescribeRoad();
    void NoteImageDigest(std::FILE *file);
    // The image itself starts: the counters before this were the loaders'.
    void BeginImage(uint32_t imageBytes);
    void ReportFailure(int32_t code, const std::string &detail = {});
    void EndLoad();

    void SetStage(const std::string &text);
    // Sets the current baud rate in the settings and connects; the two reconnects of the
    // bootstrap that must not reinstall the diagnostic callbacks pass false.
    void Reconnect(int32_t baudRate, uint8_t packetMode, bool reinstallDiagnostics = true);
    void ProbeConnect(int32_t baudRate);

    Environment &env_;
    LoaderEngineApi &engine_;
    LoadDisplay &display_;
    PassphraseCallback passphrase_;
    FileHandle imageFile_;                         // held open from MeasureFiles to EndLoad
    std::unique_ptr<UserProgramFile> userProgram_; // held open from its check to EndLoad
    LoadOutcome outcome_;                          // filled as the load goes, shown at its end
    uint32_t imageStartBytes_ = 0;                 // SentBytes when the image began
    bool imageStarted_ = false;
    bool elapsedShown_ = false; // ShowElapsed has set the outcome's time
};
