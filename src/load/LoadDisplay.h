// What a load session shows the user. The desktop program's progress window and tarnwick-cli's
// terminal progress both implement it; the session knows neither.
#pragma once

#include "platform/Messages.h"

#include <cstdint>
#include <string>

class LoadDisplay {
public:
    virtual ~LoadDisplay() = default;

    // The window whose procedure the engine's connections hook and whose timers time their waits.
    virtual platform::HWND WindowHandle() = 0;
    virtual void ShowProgressWindow() = 0;
    // The stage text ("Sending Coldloader", ...); shown at once, not at idle time.
    virtual void SetStage(const std::string &text) = 0;
    virtual void SetProgressMax(uint32_t maximum) = 0;
    // Advances the bar by step; the bar stops at its maximum.
    virtual void StepProgress(uint32_t step) = 0;
    // Panel 0: status and elapsed time; panel 1: byte counter. Shown at once.
    virtual void SetStatusPanel(int panel, const std::string &text) = 0;
    // Caption of the main window (and the application title), and of the progress window.
    virtual void SetCaptions(const std::string &mainCaption,
                             const std::string &progressCaption) = 0;
    virtual void SetBusyCursor(bool busy) = 0;
    // A modal message box with an OK button.
    virtual void ShowMessage(const std::string &caption, const std::string &text) = 0;
    // The load has ended: the progress window closes (modal result OK).
    virtual void Finish() = 0;
};
