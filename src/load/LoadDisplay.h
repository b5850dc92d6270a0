// What a load session shows the user. The desktop program's progress window and tarnwick-cli's
// terminal progress both implement it; the session knows neither.
#pragma once

#include "platform/Messages.h"

#include <cstdint>
#include <string>
#include <string_view>

// How a load ended, with what a production record needs to show what was written where.
struct LoadOutcome {
    int32_t Code = 0;    // 0 on success, else the LoaderError (-1: a failure without a code)
    std::string Message; // the fixed message of Code; empty on success
    std::string Detail;  // what failed and what to do next; empty when nothing more is known
    std::string Road;    // "serial", "CorvixLink", "CorvixSys console" or "CorvixSys serial"
    std::string Target;  // "COM3 (/dev/ttyUSB0)", "rfc2217://127.0.0.1:4000", "10.0.0.5:4244"
    bool FlashIdKnown = false;
    uint16_t FlashId = 0;
    std::string FlashEntry;  // the flash table's entry for FlashId, or why there is none
    int32_t BaudRate = 0;    // the rate the image went at; 0 where the road has no serial line
    bool Erased = false;     // the flash was erased before the image was written
    uint32_t ImageBytes = 0; // bytes of the image the board took
    uint32_t ElapsedMs = 0;
    std::string Md5; // MD5 of the image file, lower-case hex; empty when it was not read
};

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
    // Panel 0: status and elapsed time; panel 1: byte counter. Shown at once. The text is the
    // caller's buffer, valid for the call only: the counters change with every packet.
    virtual void SetStatusPanel(int panel, std::string_view text) = 0;
    // Caption of the main window (and the application title), and of the progress window.
    virtual void SetCaptions(const std::string &mainCaption,
                             const std::string &progressCaption) = 0;
    virtual void SetBusyCursor(bool busy) = 0;
    // A modal message box with an OK button.
    virtual void ShowMessage(const std::string &caption, const std::string &text) = 0;
    // A failure: its fixed message and a detail line naming what failed and what to do next.
    virtual void ShowFailure(const std::string &message, const std::string &detail) {
        ShowMessage("Error", detail.empty() ? message : message + "\n" + detail);
    }
    // The loaders are out and the image itself starts: imageBytes of it are to go.
    virtual void BeginImage(uint32_t /*imageBytes*/) {}
    // How the load ended; called once, just before Finish.
    virtual void ShowOutcome(const LoadOutcome & /*outcome*/) {}
    // The load has ended: the progress window closes (modal result OK).
    virtual void Finish() = 0;
};
