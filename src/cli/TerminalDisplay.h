// The load session's display on a terminal: stage lines and a progress bar with bytes, rate,
// elapsed and remaining time on standard error, or plain progress lines when standard error is
// not a terminal (a build server's log). Messages become "Error: <message>" lines.
#pragma once

#include "load/LoadDisplay.h"

#include <chrono>
#include <cstdio>
#include <string>

class TerminalDisplay : public LoadDisplay {
public:
    TerminalDisplay(platform::HWND window, std::FILE *out, bool interactive);

    platform::HWND WindowHandle() override { return window_; }
    void ShowProgressWindow() override {}
    void SetStage(const std::string &text) override;
    void SetProgressMax(uint32_t maximum) override;
    void StepProgress(uint32_t step) override;
    void SetStatusPanel(int panel, const std::string &text) override;
    void SetCaptions(const std::string &, const std::string &) override {}
    void SetBusyCursor(bool) override {}
    void ShowMessage(const std::string &caption, const std::string &text) override;
    void Finish() override;

    // One line of the bar, without the carriage return (for tests).
    static std::string BarLine(uint32_t position, uint32_t maximum, double elapsedSeconds,
                               int width);

private:
    void DrawBar(bool force);
    void EndBarLine();
    double ElapsedSeconds() const;

    platform::HWND window_;
    std::FILE *out_;
    const bool interactive_;
    uint32_t maximum_ = 0;
    uint32_t position_ = 0;
    int lastReportedTenth_ = -1;
    bool barShown_ = false;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastDraw_{};
};
