#include "cli/CliDisplay.h"

#include "cli/TerminalDisplay.h"

std::unique_ptr<LoadDisplay> MakeCliDisplay(platform::HWND window, const CliOutputStyle &style) {
    return std::make_unique<TerminalDisplay>(window, stderr, style.interactive);
}
