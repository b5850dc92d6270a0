#include "cli/ImageProgress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

CliClock SteadyClock() {
    return [] { return std::chrono::steady_clock::now(); };
}

void ImageProgress::Begin(uint32_t imageBytes, std::chrono::steady_clock::time_point now) {
    started_ = true;
    bytes_ = 0;
    total_ = imageBytes;
    start_ = now;
}

void ImageProgress::Step(uint32_t step) {
    if (!started_) return; // the loaders' bytes
    bytes_ = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{bytes_} + step, total_));
}

int ImageProgress::Tenths() const {
    if (total_ == 0) return 10;
    return static_cast<int>(uint64_t{bytes_} * 10 / total_);
}

double ImageProgress::ElapsedSeconds(std::chrono::steady_clock::time_point now) const {
    return std::chrono::duration<double>(now - start_).count();
}

bool Throttle::Due(std::chrono::steady_clock::time_point now) {
    if (any_ && now - last_ < interval_) return false;
    Passed(now);
    return true;
}

std::string FormatDuration(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) return "--:--";
    const long total = std::lround(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%02ld:%02ld", total / 60, total % 60);
    return text;
}

std::string FormatRate(double bytesPerSecond) {
    char text[32];
    if (bytesPerSecond >= 1024.0)
        std::snprintf(text, sizeof text, "%.1f KiB/s", bytesPerSecond / 1024.0);
    else
        std::snprintf(text, sizeof text, "%.0f B/s", bytesPerSecond);
    return text;
}

std::string ProgressText(uint32_t bytes, uint32_t total, double elapsedSeconds) {
    const uint64_t percent = total == 0 ? 100 : uint64_t{std::min(bytes, total)} * 100 / total;
    char counts[64];
    std::snprintf(counts, sizeof counts, "%3u%% %u/%u bytes", static_cast<unsigned>(percent), bytes,
                  total);
    const double rate = elapsedSeconds > 0 ? bytes / elapsedSeconds : 0.0;
    const double left = rate > 0 ? (total - std::min(bytes, total)) / rate : -1.0;
    return std::string(counts) + "  " + FormatRate(rate) + "  elapsed " +
           FormatDuration(elapsedSeconds) + "  left " + FormatDuration(left);
}
