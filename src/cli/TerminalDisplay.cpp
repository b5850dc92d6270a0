#include "cli/TerminalDisplay.h"

#include <algorithm>
#include <cmath>

namespace {

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

} // namespace

TerminalDisplay::TerminalDisplay(platform::HWND window, std::FILE *out, bool interactive)
    : window_(window), out_(out), interactive_(interactive) {}

double TerminalDisplay::ElapsedSeconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

std::string TerminalDisplay::BarLine(uint32_t position, uint32_t maximum, double elapsedSeconds,
                                     int width) {
    const double fraction = maximum == 0 ? 1.0 : std::min(1.0, double(position) / maximum);
    const int filled = static_cast<int>(fraction * width);
    std::string line = "[" + std::string(filled, '#') + std::string(width - filled, '.') + "] ";
    char counts[64];
    std::snprintf(counts, sizeof counts, "%3d%% %u/%u bytes", static_cast<int>(fraction * 100),
                  position, maximum);
    line += counts;
    const double rate = elapsedSeconds > 0 ? position / elapsedSeconds : 0.0;
    line += "  " + FormatRate(rate);
    line += "  elapsed " + FormatDuration(elapsedSeconds);
    line +=
        "  left " + FormatDuration(rate > 0 ? (maximum - std::min(position, maximum)) / rate : -1);
    return line;
}

void TerminalDisplay::DrawBar(bool force) {
    const auto now = std::chrono::steady_clock::now();
    if (interactive_) {
        // A redraw per 128-byte chunk would cost more than the chunk; ten a second is smooth.
        if (!force && now - lastDraw_ < std::chrono::milliseconds(100)) return;
        lastDraw_ = now;
        std::fprintf(out_, "\r%s", BarLine(position_, maximum_, ElapsedSeconds(), 30).c_str());
        std::fflush(out_);
        barShown_ = true;
        return;
    }
    const int tenth = maximum_ == 0 ? 10 : static_cast<int>(uint64_t(position_) * 10 / maximum_);
    if (tenth == lastReportedTenth_) return;
    lastReportedTenth_ = tenth;
    std::fprintf(out_, "%s\n", BarLine(position_, maximum_, ElapsedSeconds(), 20).c_str());
    std::fflush(out_);
}

void TerminalDisplay::EndBarLine() {
    if (barShown_) {
        std::fputc('\n', out_);
        barShown_ = false;
    }
}

void TerminalDisplay::SetStage(const std::string &text) {
    EndBarLine();
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
}

void TerminalDisplay::SetProgressMax(uint32_t maximum) {
    maximum_ = maximum;
    position_ = std::min(position_, maximum_);
}

void TerminalDisplay::StepProgress(uint32_t step) {
    position_ = static_cast<uint32_t>(std::min<uint64_t>(uint64_t(position_) + step, maximum_));
    DrawBar(position_ == maximum_);
}

void TerminalDisplay::SetStatusPanel(int panel, const std::string &text) {
    // The byte counter is drawn by the bar; panel 0 carries the elapsed time and the network
    // download's messages, which are worth a line of their own when they are not empty.
    if (panel != 0 || text.empty()) return;
    if (interactive_ && text.find(" packets ") != std::string::npos)
        return; // the bar already shows the download's progress
    EndBarLine();
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
}

void TerminalDisplay::ShowMessage(const std::string &caption, const std::string &text) {
    EndBarLine();
    std::fprintf(out_, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(out_);
}

void TerminalDisplay::Finish() { EndBarLine(); }
