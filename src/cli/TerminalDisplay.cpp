#include "cli/TerminalDisplay.h"

#include "cli/LoadSummary.h"
#include "loader/LoaderErrors.h"
#include "platform/Console.h"
#include "platform/PrintableText.h"

#include <algorithm>

namespace {

constexpr int DefaultColumns = 80;
constexpr size_t NarrowestBar = 10;
constexpr size_t WidestBar = 40;

// The widest the progress text gets for an image of total bytes (a rate up to "99999.9 KiB/s",
// times under 100 minutes), so that the bar keeps its width while the rate changes.
size_t WidestProgressText(uint32_t total) {
    constexpr size_t WidestRate = 13;
    return ProgressText(total, total, 0.0).size() - FormatRate(0.0).size() + WidestRate;
}

} // namespace

int TerminalColumns(std::FILE *out) {
    const int columns = platform::TerminalColumns(fileno(out));
    return columns > 0 ? columns : DefaultColumns;
}

TerminalDisplay::TerminalDisplay(platform::HWND window, std::FILE *out, const CliOutputStyle &style,
                                 CliClock clock, std::function<int()> columns)
    : window_(window), out_(out), style_(style), clock_(std::move(clock)),
      columns_(std::move(columns)) {
    if (!columns_) columns_ = [out] { return TerminalColumns(out); };
}

std::string TerminalDisplay::BarLine(uint32_t bytes, uint32_t total, double elapsedSeconds,
                                     int columns) {
    const std::string text = ProgressText(bytes, total, elapsedSeconds);
    const size_t room = columns > 1 ? static_cast<size_t>(columns - 1) : 0;
    const size_t frame = WidestProgressText(total) + 3;           // "[", "] " and the text
    if (room < frame + NarrowestBar) return text.substr(0, room); // too narrow for a bar
    const size_t width = std::min(WidestBar, room - frame);
    const double fraction = total == 0 ? 1.0 : std::min(1.0, double(bytes) / total);
    const auto filled = static_cast<size_t>(fraction * static_cast<double>(width));
    const std::string line =
        "[" + std::string(filled, '#') + std::string(width - filled, '.') + "] " + text;
    return line.substr(0, room); // a rate or a time wider than foreseen loses its end
}

void TerminalDisplay::PrintLine(const std::string &text) {
    EndBarLine();
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
}

void TerminalDisplay::DrawBar() {
    const auto now = clock_();
    redraws_.Passed(now);
    const std::string line =
        BarLine(progress_.Bytes(), progress_.Total(), progress_.ElapsedSeconds(now), columns_());
    // Blanks over what is left of a longer line drawn before (the rate's text can shrink).
    const size_t blanks = barLength_ > line.size() ? barLength_ - line.size() : 0;
    std::fprintf(out_, "\r%s%s", line.c_str(), std::string(blanks, ' ').c_str());
    std::fflush(out_);
    barShown_ = true;
    barBytes_ = progress_.Bytes();
    barLength_ = line.size();
}

void TerminalDisplay::EndBarLine() {
    if (!barShown_) return;
    if (barBytes_ != progress_.Bytes()) DrawBar();
    std::fputc('\n', out_);
    barShown_ = false;
    barLength_ = 0;
}

void TerminalDisplay::ShowBarProgress() {
    if (barShown_ && barBytes_ == progress_.Bytes()) return;
    // A line printed above it took the bar away: it comes back at once, not at the next tick.
    if (!barShown_ || progress_.Complete() || redraws_.Due(clock_())) DrawBar();
}

void TerminalDisplay::ShowTenthProgress() {
    const int tenths = progress_.Tenths();
    if (tenths <= tenthsShown_) return;
    tenthsShown_ = tenths;
    PrintLine(
        ProgressText(progress_.Bytes(), progress_.Total(), progress_.ElapsedSeconds(clock_())));
}

void TerminalDisplay::SetStage(const std::string &text) {
    if (!style_.quiet) PrintLine(text);
}

void TerminalDisplay::BeginImage(uint32_t imageBytes) {
    EndBarLine();
    progress_.Begin(imageBytes, clock_());
    tenthsShown_ = 0;
    if (ShowsProgress() && style_.interactive) DrawBar();
}

void TerminalDisplay::StepProgress(uint32_t step) {
    progress_.Step(step);
    if (!ShowsProgress()) return;
    if (style_.interactive)
        ShowBarProgress();
    else
        ShowTenthProgress();
}

void TerminalDisplay::SetStatusPanel(int panel, std::string_view text) {
    // Panel 1 is the byte counter the bar and the tenth lines already show; panel 0 carries the
    // network download's text per packet (hundreds of them) and the elapsed time, which the
    // summary gives: both only for a user who asked to see everything.
    if (!style_.verbose || style_.quiet || panel != 0 || text.empty()) return;
    PrintLine(platform::EscapeControls(text));
}

void TerminalDisplay::ShowMessage(const std::string &caption, const std::string &text) {
    // A message box interrupts the desktop user; here it is a line even in quiet mode, since it
    // carries warnings and what the board itself had to say.
    PrintLine(caption + ": " + platform::EscapeControls(text));
}

void TerminalDisplay::ShowFailure(const std::string &message, const std::string &detail) {
    PrintLine("Error: " + message);
    if (!detail.empty()) PrintLine("  " + platform::EscapeControls(detail));
    failureShown_ = true;
}

void TerminalDisplay::ShowOutcome(const LoadOutcome &outcome) {
    EndBarLine();
    if (outcome.Code == 0) {
        for (const std::string &line : SummaryLines(SummaryFields(outcome))) PrintLine(line);
        return;
    }
    if (failureShown_) return;
    // A cancel is no failure the session reports; its message is still the last word.
    if (outcome.Code == LoaderErrorCancelled) {
        if (!outcome.Message.empty()) PrintLine(outcome.Message);
        return;
    }
    ShowFailure(outcome.Message, outcome.Detail);
}

void TerminalDisplay::Finish() { EndBarLine(); }
