// tarnwick-cli load FILE: one load session exactly as the desktop program's load command runs
// it, with the settings from the registry (never written back), the options of this run over
// them, and the terminal as display.
#pragma once

#include "cli/CliLoadOptions.h"
#include "loader/LoaderEngineApi.h"

#include <string>

// Runs the load and returns the process exit status: 0 on success, the LoaderError code on
// failure (20 when cancelled by Ctrl-C or SIGTERM), 1 for a failure without a code.
int RunCliLoad(const std::string &programPath, const std::string &fileName,
               const LoadOptions &options, PassphraseCallback passphrase);
