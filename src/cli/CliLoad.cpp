#include "cli/CliLoad.h"

#include "cli/CliDisplay.h"
#include "cli/CliExitCodes.h"
#include "load/LoadSession.h"
#include "loader/LoaderErrors.h"
#include "platform/MessageIds.h"
#include "settings/Zepenvironment.h"

#include <atomic>
#include <csignal>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace {

platform::LRESULT LoadWindowProc(platform::HWND, platform::UINT msg, platform::WPARAM,
                                 platform::LPARAM) {
    if (msg == UM_CANCEL_LOAD) {
        // Ends the request waiting for the board, or the next one when none waits yet.
        TheLoaderEngine().CancelTransfer();
    }
    return 0;
}

// Ctrl-C and SIGTERM are taken by a thread of their own with sigwait, so that the cancel reaches
// the load as an ordinary window message instead of running inside a signal handler.
class CancelOnSignals {
public:
    explicit CancelOnSignals(platform::HWND window) : window_(window) {
        sigemptyset(&signals_);
        sigaddset(&signals_, SIGINT);
        sigaddset(&signals_, SIGTERM);
        sigaddset(&signals_, SIGUSR1); // ends the waiting thread
        pthread_sigmask(SIG_BLOCK, &signals_, &previous_);
        thread_ = std::thread([this] { Wait(); });
    }
    ~CancelOnSignals() {
        stopping_ = true;
        pthread_kill(thread_.native_handle(), SIGUSR1);
        thread_.join();
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    CancelOnSignals(const CancelOnSignals &) = delete;
    CancelOnSignals &operator=(const CancelOnSignals &) = delete;

private:
    void Wait() {
        for (;;) {
            int signal = 0;
            if (sigwait(&signals_, &signal) != 0 || stopping_) return;
            if (signal != SIGINT && signal != SIGTERM) continue;
            // The second one is for a board that never answers and a user who will not wait for
            // the time-out: the process ends at once, as a shell expects of an interrupt.
            if (++interrupts_ > 1) _exit(ExitInterrupted);
            platform::PostMessage(window_, UM_CANCEL_LOAD, 0, 0);
        }
    }

    platform::HWND window_;
    sigset_t signals_{};
    sigset_t previous_{};
    std::atomic<bool> stopping_{false};
    int interrupts_ = 0; // signal thread only
    std::thread thread_;
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
        style.interactive = isatty(STDERR_FILENO) != 0;
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
