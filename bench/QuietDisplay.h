// What the load benchmarks show instead of a progress window: nothing, except a message box's
// text on standard error, so that a failed run says why.
#pragma once

#include "load/LoadDisplay.h"
#include "platform/Messages.h"

#include <cstdio>
#include <string>

class QuietDisplay : public LoadDisplay {
public:
    explicit QuietDisplay(platform::HWND window) : window_(window) {}
    platform::HWND WindowHandle() override { return window_; }
    void ShowProgressWindow() override {}
    void SetStage(const std::string &) override {}
    void SetProgressMax(uint32_t) override {}
    void StepProgress(uint32_t) override {}
    void SetStatusPanel(int, std::string_view) override {}
    void SetCaptions(const std::string &, const std::string &) override {}
    void SetBusyCursor(bool) override {}
    void ShowMessage(const std::string &caption, const std::string &text) override {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    }
    void Finish() override {}

    // The window procedure of the benchmark's load window: every message is ignored.
    static platform::LRESULT QuietProc(platform::HWND, platform::UINT, platform::WPARAM,
                                       platform::LPARAM) {
        return 0;
    }

private:
    platform::HWND window_;
};
