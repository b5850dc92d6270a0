// The simulated Corvix board behind a corvix-sim front end, as the loader meets it on the
// bootstrap road:
//
//   Idle --DTR on--> Reset --DTR off--> Bootstrap --80 0E 20--> ColdLoading
//   ColdLoading: data triplets fill RAM; 80 0E 30 toggles DSR (the loader samples DSR 100 ms
//     later and compares it with its sample from just after the start triplet); 80 24 80 runs
//     the cold loader (toggling DSR then if 80 0E 30 never came) --> PilotUpload
//   PilotUpload: header echoed, marker, payload, checksum answered --> PilotBios
//   PilotBios: SYS packets at the board's own rate --STARTBIOS--> BiosRunning; a board with a
//     text message sends it on its own once, right after the n-th write it acknowledged
//
// Line rates: the bootstrap ROM and the cold loader take bytes at whatever rate the host set.
// The pilot BIOS runs at the rate its upload arrived at until an accepted SETBAUDRATE moves it
// (after the acknowledgement has gone out at the old rate). While it runs, bytes that arrive
// while the host's rate differs from the board's are garbage and are dropped (with any frame
// they interrupt). The board only answers what it understood, so its replies
// always leave at the rate the host was using.
//
// Without modem lines (a pseudo-terminal) there is no DTR to reset with: the board starts in
// Bootstrap, and a start triplet seen while no pilot BIOS runs (in Bootstrap, while cold
// loading, at the start of a pilot header, or after STARTBIOS) begins a new bootstrap. A pilot
// BIOS, once running, is left only by STARTBIOS there. A DTR pulse always resets, whatever runs.
//
// Thread safety: the front end calls the Peer methods from its I/O thread; every accessor may
// be called from any thread while the board serves.
#pragma once

#include "BoardBootstrap.h"
#include "BoardOptions.h"
#include "BoardPilotBios.h"
#include "BoardTextMessage.h"
#include "FlashImage.h"
#include "FrameCodec.h"
#include "Peer.h"
#include "Transcript.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

enum class BoardState { Idle, Reset, Bootstrap, ColdLoading, PilotUpload, PilotBios, BiosRunning };

const char *BoardStateName(BoardState state);

class BoardPeer final : public Peer {
public:
    explicit BoardPeer(BoardOptions options = {});

    void OnAttach(HostLink &link) override;
    void OnHostBytes(const uint8_t *data, size_t count) override;
    void OnLineEvent(const LineEvent &event, const LineState &line) override;
    void OnHostConnection(bool connected) override;

    // Thread-safe views for tests and the command.
    BoardState State() const;
    bool DsrOn() const;
    uint32_t BoardRate() const; // 0 while no pilot BIOS runs
    std::vector<uint8_t> ReadFlash(uint32_t address, size_t count) const;
    std::vector<uint8_t> ReadRam(uint16_t address, size_t count) const;
    std::optional<FlashGeometry> Geometry() const;
    std::optional<uint8_t> StartedBios() const;
    std::vector<TranscriptEvent> Events() const;
    size_t CountEvents(const std::string &name) const;
    // Waits (bounded) until at least count events of that name are recorded.
    bool WaitForEvents(const std::string &name, size_t count,
                       std::chrono::milliseconds timeout) const;
    bool WaitForState(BoardState state, std::chrono::milliseconds timeout) const;

    // Writes the transcript as JSON. False with a reason on failure.
    bool SaveTranscript(const std::string &path, std::string *error = nullptr) const;
    // Writes the flash window 0x80000-0xFFFFF (512 KiB), so that byte k of the file is byte k of a
    // program image the loader wrote. False with a reason on failure.
    bool SaveFlashWindow(const std::string &path, std::string *error = nullptr) const;

private:
    // What to do on the line once the lock is released, in order.
    struct Output {
        std::vector<uint8_t> bytes;
        std::optional<bool> dsr;
        bool disconnect = false;
    };

    void Take(uint8_t byte, Output &out);
    void TakeWaiting(uint8_t byte);
    void TakeColdLoad(uint8_t byte, Output &out);
    void TakePilotUpload(uint8_t byte, Output &out);
    void TakePacketByte(uint8_t byte, Output &out);
    void Serve(const Frame &request, Output &out);
    void BeginBootstrap(const char *why);
    void ToggleDsr(const char *why, Output &out);
    void Send(const std::vector<uint8_t> &bytes, Output &out);
    void Enter(BoardState state);
    void Record(TranscriptEvent event);
    void Perform(Output &out);
    bool RestartsOnStartTriplet() const;
    size_t CountEventsLocked(const std::string &name) const;

    const BoardOptions options_;
    HostLink *link_ = nullptr;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    Transcript transcript_;
    FlashImage flash_;
    BootstrapRam ram_;
    PilotBiosService pilotBios_;
    BoardTextTrigger textMessage_;
    BoardState state_;
    LineState hostLine_;
    uint32_t boardRate_ = 0;
    bool dsr_ = false;
    bool dsrToggledThisLoad_ = false;
    unsigned dataTriplets_ = 0;
    TripletScanner scanner_{StartTriplet};
    TripletReader triplets_;
    PilotUpload upload_;
    FrameDecoder decoder_;
    bool garbling_ = false; // inside a run of bytes at the wrong rate
    bool closing_ = false;  // the host is being dropped; nothing more is taken from it
};

} // namespace sim
