// A LoadDisplay that remembers what the load showed, for tests of whole loads.
#pragma once

#include "load/LoadDisplay.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

class RecordingDisplay : public LoadDisplay {
public:
    explicit RecordingDisplay(platform::HWND window = nullptr) : window_(window) {}

    std::vector<std::string> stages;
    std::vector<std::pair<std::string, std::string>> messages;
    std::vector<std::string> failureDetails; // one per failure, in the order of "Error" messages
    std::vector<uint32_t> imageStarts;       // the sizes BeginImage was given
    std::vector<LoadOutcome> outcomes;
    std::string panel[2];
    std::string mainCaption, progressCaption;
    uint32_t progressMax = 0, progressPosition = 0, progressStepped = 0;
    bool busy = false, shown = false;
    int finished = 0;

    platform::HWND WindowHandle() override { return window_; }
    void ShowProgressWindow() override { shown = true; }
    void SetStage(const std::string &text) override { stages.push_back(text); }
    void SetProgressMax(uint32_t maximum) override { progressMax = maximum; }
    void StepProgress(uint32_t step) override {
        progressStepped += step;
        progressPosition = std::min(progressMax, progressPosition + step);
    }
    void SetStatusPanel(int index, std::string_view text) override { panel[index] = text; }
    void SetCaptions(const std::string &main, const std::string &progress) override {
        mainCaption = main;
        progressCaption = progress;
    }
    void SetBusyCursor(bool on) override { busy = on; }
    void ShowMessage(const std::string &caption, const std::string &text) override {
        messages.emplace_back(caption, text);
    }
    // A failure is recorded as the message box it once was, with its detail kept apart.
    void ShowFailure(const std::string &message, const std::string &detail) override {
        messages.emplace_back("Error", message);
        failureDetails.push_back(detail);
    }
    void BeginImage(uint32_t imageBytes) override { imageStarts.push_back(imageBytes); }
    void ShowOutcome(const LoadOutcome &outcome) override { outcomes.push_back(outcome); }
    void Finish() override { ++finished; }

private:
    platform::HWND window_;
};
