// Drives a load display in-process the way a load session does, with a clock the test moves,
// and catches what the display writes in memory.
#pragma once

#include "cli/ImageProgress.h"
#include "load/LoadDisplay.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

// A clock that stands still until the test moves it.
class ManualClock {
public:
    CliClock Clock() {
        return [this] { return now_; };
    }
    void Advance(std::chrono::milliseconds by) { now_ += by; }

private:
    std::chrono::steady_clock::time_point now_{};
};

// A FILE that writes into memory.
class MemoryFile {
public:
    MemoryFile();
    ~MemoryFile();
    MemoryFile(const MemoryFile &) = delete;
    MemoryFile &operator=(const MemoryFile &) = delete;

    std::FILE *File() const { return file_; }
    std::string Text() const;
    std::vector<std::string> Lines() const; // split at line feeds, without them

private:
    std::FILE *file_ = nullptr;
    char *buffer_ = nullptr;
    size_t size_ = 0;
};

// One load as the session runs it, up to (not including) its outcome.
struct LoadScript {
    uint32_t coldLoaderBytes = 1000;
    uint32_t pilotBiosBytes = 2000;
    std::chrono::milliseconds loaderTime{40000}; // a cold load at 2400 baud is slow
    uint32_t imageBytes = 64 * 1024;
    uint32_t chunk = 128;
    std::chrono::milliseconds perChunk{10};
    bool erase = false;
    // Each chunk also brings the network download's "sent" and "acknowledged" texts.
    bool networkTexts = false;
    // The image stops after this many bytes (a failure cuts it short).
    uint32_t stopAfterBytes = std::numeric_limits<uint32_t>::max();
    // Shown once half the image has gone, when not empty.
    std::string boardMessage;
};

void PlayLoad(LoadDisplay &display, ManualClock &clock, const LoadScript &script);

// A successful bootstrap-road outcome with every field known.
LoadOutcome FullOutcome(uint32_t imageBytes);
