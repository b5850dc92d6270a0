// Ctrl-C, Ctrl-Break and the console's close event. Windows calls the console handler on a
// thread of its own, so the callbacks run there as ordinary code.
#include "platform/Interrupts.h"

#include <windows.h>

#include <cstdlib>
#include <mutex>
#include <vector>

namespace platform {

namespace {

// What the console handler serves: the live watchers and the termination waits.
struct Listeners {
    std::mutex mutex;
    std::vector<InterruptWatcher::State *> watchers;
    std::vector<TerminationSignals::State *> terminations;
};

Listeners &TheListeners() {
    static Listeners listeners;
    return listeners;
}

BOOL WINAPI ConsoleHandler(DWORD event);

} // namespace

struct InterruptWatcher::State {
    std::function<void()> onInterrupt;
};

struct TerminationSignals::State {
    HANDLE arrived = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ~State() {
        if (arrived) ::CloseHandle(arrived);
    }
};

namespace {

BOOL WINAPI ConsoleHandler(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    std::vector<std::function<void()>> calls;
    bool taken = false;
    {
        Listeners &listeners = TheListeners();
        std::lock_guard lock(listeners.mutex);
        for (TerminationSignals::State *termination : listeners.terminations) {
            ::SetEvent(termination->arrived);
            taken = true;
        }
        for (InterruptWatcher::State *watcher : listeners.watchers)
            calls.push_back(watcher->onInterrupt);
    }
    for (const auto &call : calls) call();
    return taken || !calls.empty() ? TRUE : FALSE;
}

// The handler stays installed while anything listens.
void Listen(bool on) {
    static int count = 0; // under the listeners' mutex
    if (on ? count++ == 0 : --count == 0)
        ::SetConsoleCtrlHandler(ConsoleHandler, on ? TRUE : FALSE);
}

} // namespace

InterruptWatcher::InterruptWatcher(std::function<void()> onInterrupt)
    : state_(std::make_unique<State>()) {
    state_->onInterrupt = std::move(onInterrupt);
    Listeners &listeners = TheListeners();
    std::lock_guard lock(listeners.mutex);
    listeners.watchers.push_back(state_.get());
    Listen(true);
}

InterruptWatcher::~InterruptWatcher() {
    Listeners &listeners = TheListeners();
    std::lock_guard lock(listeners.mutex);
    std::erase(listeners.watchers, state_.get());
    Listen(false);
}

TerminationSignals::TerminationSignals() : state_(std::make_unique<State>()) {
    Listeners &listeners = TheListeners();
    std::lock_guard lock(listeners.mutex);
    listeners.terminations.push_back(state_.get());
    Listen(true);
}

TerminationSignals::~TerminationSignals() {
    Listeners &listeners = TheListeners();
    std::lock_guard lock(listeners.mutex);
    std::erase(listeners.terminations, state_.get());
    Listen(false);
}

void TerminationSignals::Wait() const { ::WaitForSingleObject(state_->arrived, INFINITE); }

void ExitNow(int status) { ::ExitProcess(static_cast<UINT>(status)); }

} // namespace platform
