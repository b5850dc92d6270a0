#include "cli/CliLoad.h"

#include "cli/CliDisplay.h"
#include "cli/CliExitCodes.h"
#include "load/LoadSession.h"
#include "loader/LoaderErrors.h"
#include "platform/MessageIds.h"
#include "settings/Zepenvironment.h"

#include "platform/Console.h"
#include "platform/Interrupts.h"

#include <atomic>

namespace {

platform::LRESULT LoadWindowProc(platform::HWND, platform::UINT msg, platform::WPARAM,
                                 platform::LPARAM) {
    if (msg == UM_CANCEL_LOAD) {
        // Ends the request waiting for the board, or the next one when none waits yet.
        TheLoaderEngine().CancelTransfer();
    }
    return 0;
}

// Ctrl-C reaches the load as an ordinary window message instead of running inside a signal
// handler.
class CancelOnSignals {
public:
    explicit CancelOnSignals(platform::HWND window)
        : window_(window), watcher_([this] { Interrupted(); }) {}

private:
    void Interrupted() {
        // The second one is for a board that never answers and a user who will not wait for the
        // time-out: the process ends at once, as a shell expects of an interrupt.
        if (++interrupts_ > 1) platform::ExitNow(ExitInterrupted);
        platform::PostMessage(window_, UM_CANCEL_LOAD, 0, 0);
    }

    platform::HWND window_;
    std::atomic<int> interrupts_{0}; // each interrupt may come on a thread of its own
    platform::InterruptWatcher watcher_;
};

} // namespace

int RunCliLoad(const std::string &programPath, const std::string &fileName,
               const LoadOptions &options, PassphraseCallback passphrase) {
    LoadSettings(programPath);
    ApplyLoadOptions(options, Env());
    platform::HWND window = platform::CreateWindow(LoadWindowProc);
    int status = ExitOk;
    {
        CliOutputStyle style = options.style;
        style.interactive = platform::IsTerminal(platform::StandardError);
        const std::unique_ptr<LoadDisplay> display = MakeCliDisplay(window, style);
        // The engine's own boxes (the board's text message, a diagnostic) go through the display
        // as well: escaped on a terminal, "message" events in JSON.
        const MessageFunction previous =
            SetMessageFunction([&display](const std::string &caption, const std::string &text) {
                display->ShowMessage(caption, text);
            });
        CancelOnSignals cancelOnSignals(window);
        LoadSession session(fileName, Env(), TheLoaderEngine(), *display, std::move(passphrase));
        session.RunLoad();
        SetMessageFunction(previous);
        status = session.Result < 0 ? ExitFailure : session.Result;
    }
    platform::DestroyWindow(window);
    return status;
}
