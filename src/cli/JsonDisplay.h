// The load session as JSON lines on standard output, for a program that drives tarnwick-cli:
// {"event":"stage",...}, {"event":"progress",...} for the image (at most ten a second, and the
// last count), {"event":"message",...} and one {"event":"result",...} at the end. Nothing else
// goes to that stream, and standard error stays silent unless the lines cannot be written.
#pragma once

#include "cli/ImageProgress.h"
#include "cli/JsonText.h"
#include "load/LoadDisplay.h"

#include <cstdio>
#include <string>

class JsonDisplay : public LoadDisplay {
public:
    JsonDisplay(platform::HWND window, std::FILE *out, std::FILE *errors,
                CliClock clock = SteadyClock());

    platform::HWND WindowHandle() override { return window_; }
    void ShowProgressWindow() override {}
    void SetStage(const std::string &text) override;
    void SetProgressMax(uint32_t) override {} // the image's own size comes with BeginImage
    void StepProgress(uint32_t step) override;
    // The byte counter and the per-packet texts are what the progress events already say.
    void SetStatusPanel(int, std::string_view) override {}
    void SetCaptions(const std::string &, const std::string &) override {}
    void SetBusyCursor(bool) override {}
    void ShowMessage(const std::string &caption, const std::string &text) override;
    // Kept for the result line, which carries the failure with the rest of the outcome.
    void ShowFailure(const std::string &message, const std::string &detail) override;
    void BeginImage(uint32_t imageBytes) override;
    void ShowOutcome(const LoadOutcome &outcome) override;
    void Finish() override {}

private:
    void EmitProgress();
    void Emit(const JsonObjectText &object);

    platform::HWND window_;
    std::FILE *out_;
    std::FILE *errors_;
    CliClock clock_;
    ImageProgress progress_;
    Throttle events_{std::chrono::milliseconds(100)};
    uint32_t sentBytes_ = 0; // the count the last progress event gave
    std::string failureMessage_;
    std::string failureDetail_;
    bool writeFailed_ = false;
};
