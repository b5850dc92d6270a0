// How far the image itself has gone: tarnwick-cli's bar, its lines and its JSON progress all
// count the image's bytes from the moment it starts, so that neither the loaders' bytes nor the
// time spent on them (a cold load at 2400 baud, a flash erase) distort its rate and time left.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

using CliClock = std::function<std::chrono::steady_clock::time_point()>;

// The steady clock; tests give the displays a clock of their own instead.
CliClock SteadyClock();

class ImageProgress {
public:
    void Begin(uint32_t imageBytes, std::chrono::steady_clock::time_point now);
    // Counts step more bytes of the image (none before Begin); stops at the image's size.
    void Step(uint32_t step);

    bool Started() const { return started_; }
    uint32_t Bytes() const { return bytes_; }
    uint32_t Total() const { return total_; }
    bool Complete() const { return started_ && bytes_ == total_; }
    // Whole tenths of the image sent, 0 to 10 (10 for an empty image).
    int Tenths() const;
    double ElapsedSeconds(std::chrono::steady_clock::time_point now) const;

private:
    bool started_ = false;
    uint32_t bytes_ = 0;
    uint32_t total_ = 0;
    std::chrono::steady_clock::time_point start_{};
};

// Lets an event through at most once per interval; the bar and the JSON progress would
// otherwise cost more than the 128-byte chunks they report.
class Throttle {
public:
    explicit Throttle(std::chrono::milliseconds interval) : interval_(interval) {}
    // True, and counts as the last one let through, when interval has passed since then (or
    // nothing went through yet).
    bool Due(std::chrono::steady_clock::time_point now);
    void Passed(std::chrono::steady_clock::time_point now) { last_ = now, any_ = true; }

private:
    std::chrono::milliseconds interval_;
    std::chrono::steady_clock::time_point last_{};
    bool any_ = false;
};

// "01:05"; "--:--" when not known (negative or not finite).
std::string FormatDuration(double seconds);
// "812 B/s", "20.5 KiB/s".
std::string FormatRate(double bytesPerSecond);

// "30% 78643/262144 bytes  20.5 KiB/s  elapsed 00:03  left 00:09": the counts, rate and times
// of the image at elapsedSeconds after it started.
std::string ProgressText(uint32_t bytes, uint32_t total, double elapsedSeconds);
