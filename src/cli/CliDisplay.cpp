#include "cli/CliDisplay.h"

#include "cli/JsonDisplay.h"
#include "cli/TerminalDisplay.h"

std::unique_ptr<LoadDisplay> MakeCliDisplay(platform::HWND window, const CliOutputStyle &style) {
    if (style.json) return std::make_unique<JsonDisplay>(window, stdout, stderr);
    return std::make_unique<TerminalDisplay>(window, stderr, style);
}
