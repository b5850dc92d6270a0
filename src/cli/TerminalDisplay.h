// The load session's display on standard error. On a terminal: a line per stage and one bar for
// the image, redrawn in place at most ten times a second and as wide as the terminal. Elsewhere
// (a build server's log): a line per stage and a line per tenth of the image, on every road.
// Failures become "Error: <message>" and an indented detail line; a successful load ends with a
// summary of what was written where.
#pragma once

#include "cli/CliDisplay.h"
#include "cli/ImageProgress.h"
#include "load/LoadDisplay.h"

#include <cstdio>
#include <functional>
#include <string>

class TerminalDisplay : public LoadDisplay {
public:
    // columns gives the terminal's width when the bar is drawn; by default it is asked of out.
    TerminalDisplay(platform::HWND window, std::FILE *out, const CliOutputStyle &style,
                    CliClock clock = SteadyClock(), std::function<int()> columns = {});

    platform::HWND WindowHandle() override { return window_; }
    void ShowProgressWindow() override {}
    void SetStage(const std::string &text) override;
    void SetProgressMax(uint32_t) override {} // the image's own size comes with BeginImage
    void StepProgress(uint32_t step) override;
    void SetStatusPanel(int panel, std::string_view text) override;
    void SetCaptions(const std::string &, const std::string &) override {}
    void SetBusyCursor(bool) override {}
    void ShowMessage(const std::string &caption, const std::string &text) override;
    void ShowFailure(const std::string &message, const std::string &detail) override;
    void BeginImage(uint32_t imageBytes) override;
    void ShowOutcome(const LoadOutcome &outcome) override;
    void Finish() override;

    // The bar's line for a terminal columns wide, without the carriage return: it stays short
    // of the last column, so that the terminal never wraps it and the next redraw lands on it.
    static std::string BarLine(uint32_t bytes, uint32_t total, double elapsedSeconds, int columns);

private:
    bool ShowsProgress() const { return !style_.quiet && progress_.Started(); }
    void ShowBarProgress();
    void ShowTenthProgress();
    void DrawBar();
    // Leaves the bar's line as it stands, with the latest count, and goes to the next line.
    void EndBarLine();
    void PrintLine(const std::string &text);

    platform::HWND window_;
    std::FILE *out_;
    const CliOutputStyle style_;
    CliClock clock_;
    std::function<int()> columns_;
    ImageProgress progress_;
    Throttle redraws_{std::chrono::milliseconds(100)};
    int tenthsShown_ = 0;
    bool barShown_ = false; // the cursor stands at the end of the bar's line
    uint32_t barBytes_ = 0; // the count the bar shows
    size_t barLength_ = 0;  // the length of the bar's line as last drawn
    bool failureShown_ = false;
};

// The width of the terminal out writes to, or 80 when it is not a terminal or does not say.
int TerminalColumns(std::FILE *out);
