// The packet service of the simulated pilot BIOS: one SYS request in, what to answer out. It
// keeps the flash image and the geometry the host announced, applies the packet faults the board
// was asked for, and records each request and reply in the transcript. Byte-level matters (frames
// on the line, line rates, the host connection) stay with the board.
#pragma once

#include "BoardInfo.h"
#include "BoardOptions.h"
#include "FlashImage.h"
#include "FrameCodec.h"
#include "Transcript.h"

#include <optional>

namespace sim {

namespace sys {
constexpr uint8_t Noop = 1, Write = 3, InfoProbe = 4, StartBios = 5, SetBaudRate = 6,
                  EraseFlash = 9, FlashData = 10;
// Served by CorvixSys, not by the pilot BIOS: "are you there" and "start the loaded program".
constexpr uint8_t Probe = 11, RunProgram = 12;
// Sent by the board on its own: a text for the host to show.
constexpr uint8_t BoardText = 63;
constexpr uint8_t AckBit = 0x80, NakBit = 0x40, CodeMask = 0x3F;
} // namespace sys

// The name the communication log gives a SYS code, or "" for codes without one.
const char *SysCodeName(uint8_t code);

struct FlashGeometry {
    uint16_t sectorSize = 0;
    uint16_t sectors = 0;
    uint16_t flashSize = 0;
    uint16_t writeMode = 0;
};

struct PilotBiosAnswer {
    std::optional<Frame> reply;
    bool corruptChecksum = false;       // send the reply with its packet checksum broken
    bool close = false;                 // drop the host's connection instead of answering
    std::optional<uint32_t> switchRate; // the board's new rate, once the reply is out
    bool biosStarted = false;
};

class PilotBiosService {
public:
    PilotBiosService(const BoardOptions &options, FlashImage &flash, Transcript &transcript);

    // A new pilot BIOS, loaded at this address, starts with fresh counters and no geometry.
    void Start(uint32_t pilotAddress);
    PilotBiosAnswer Handle(const Frame &request);

    std::optional<FlashGeometry> Geometry() const { return geometry_; }
    std::optional<uint8_t> StartedBios() const { return startedBios_; }

private:
    // Why a request is refused; empty when it is taken.
    using Verdict = std::optional<const char *>;

    Verdict InfoProbe(const Frame &request, std::vector<uint8_t> &payload, TranscriptEvent &event);
    Verdict SetBaudRate(const Frame &request, PilotBiosAnswer &answer, TranscriptEvent &event);
    Verdict FlashData(const Frame &request, TranscriptEvent &event);
    Verdict EraseFlash(const Frame &request, TranscriptEvent &event);
    Verdict Write(const Frame &request, TranscriptEvent &event);
    void StartBios(const Frame &request, PilotBiosAnswer &answer, TranscriptEvent &event);
    void Reply(const Frame &request, const Verdict &verdict, std::vector<uint8_t> payload,
               PilotBiosAnswer &answer);
    void RecordFault(BoardFaultKind kind, unsigned n);

    const BoardOptions &options_;
    FlashImage &flash_;
    Transcript &transcript_;
    uint32_t pilotAddress_ = 0;
    unsigned requests_ = 0;
    unsigned replies_ = 0;
    unsigned writes_ = 0;
    std::optional<FlashGeometry> geometry_;
    std::optional<uint8_t> startedBios_;
};

} // namespace sim
