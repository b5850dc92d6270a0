// The display tarnwick-cli gives a load, chosen by where its output goes and what was asked:
// a bar on a terminal, a line per tenth elsewhere, or JSON lines for a program that reads them.
#pragma once

#include "load/LoadDisplay.h"

#include <memory>

struct CliOutputStyle {
    bool json = false;        // one JSON object per line on standard output
    bool quiet = false;       // only failures and the result
    bool verbose = false;     // every status line as well
    bool interactive = false; // standard error is a terminal: one bar, redrawn in place
};

std::unique_ptr<LoadDisplay> MakeCliDisplay(platform::HWND window, const CliOutputStyle &style);
