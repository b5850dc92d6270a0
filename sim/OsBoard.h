// A board that already runs CorvixSys, as the host meets it through the console's passthrough or
// on its serial port: packets in, replies out, and the program the host stores kept in memory.
//
//   SYS 11 (probe): ACK at once, so the host knows the operating system is there.
//   SYS 3 (write): mode 0, length, address, data; the data is stored at the address and ACKed.
//     Mode other than 0, a length that disagrees with the payload or memory that is full: NAK.
//   SYS 12 (run): ACK; the stored program is started (recorded).
//   Anything else: NAK. Replies from the host (ACK/NAK bits set) are only recorded.
//
// The console records its own events here too ("app go" among them), so one transcript tells
// the whole story of a load through the console.
//
// Thread safety: every method may be called from any thread.
#pragma once

#include "FrameCodec.h"
#include "ProgramMemory.h"
#include "Transcript.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct OsBoardOptions {
    bool answersProbe = true;  // false: the probe goes unanswered, as if no CorvixSys ran
    unsigned closeAtWrite = 0; // drop the host when the n-th write arrives (1-based; 0: never)
};

struct OsAnswer {
    std::optional<Frame> reply;
    bool close = false; // drop the host instead of answering
};

class OsBoard {
public:
    explicit OsBoard(OsBoardOptions options = {});

    OsAnswer Serve(const Frame &request);
    // Feeds bytes in the serial framing through decoder and serves every whole frame; returns the
    // stuffed replies. Sets close (and stops serving) when the host is to be dropped.
    std::vector<uint8_t> TakeStream(FrameDecoder &decoder, const uint8_t *data, size_t count,
                                    bool &close);
    void Record(TranscriptEvent event);
    // "app go" typed on the console, in its session (1-based).
    void RecordAppGo(unsigned session);

    // What the host did so far.
    std::vector<uint8_t> ReadMemory(uint32_t address, size_t count) const;
    std::map<uint32_t, std::vector<uint8_t>> MemoryRuns() const;
    size_t WritesStored() const;
    size_t ProbesAnswered() const;
    size_t RunRequests() const;
    size_t AppGoCount() const;
    std::vector<TranscriptEvent> Events() const;
    size_t CountEvents(const std::string &name) const;
    // Waits (bounded) until at least count events of that name are recorded.
    bool WaitForEvents(const std::string &name, size_t count,
                       std::chrono::milliseconds timeout) const;

    bool SaveTranscript(const std::string &path, std::string *error = nullptr) const;
    // The stored runs as user-program records (see ProgramMemory::Save).
    bool SaveMemory(const std::string &path, std::string *error = nullptr) const;

private:
    // Why a request is refused; empty when it is taken.
    using Verdict = std::optional<const char *>;

    OsAnswer ServeLocked(const Frame &request);
    Verdict Write(const Frame &request, TranscriptEvent &event);
    size_t CountLocked(const std::string &name) const;

    const OsBoardOptions options_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    Transcript transcript_;
    ProgramMemory memory_;
    unsigned writesSeen_ = 0;
    size_t writesStored_ = 0;
    size_t probesAnswered_ = 0;
    size_t runRequests_ = 0;
    size_t appGo_ = 0;
};

} // namespace sim
