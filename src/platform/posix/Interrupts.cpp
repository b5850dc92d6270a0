#include "platform/Interrupts.h"

#include <atomic>
#include <csignal>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace platform {

// sigwait on a thread of its own; SIGUSR1 ends that thread.
struct InterruptWatcher::State {
    sigset_t signals{};
    sigset_t previous{};
    std::atomic<bool> stopping{false};
    std::function<void()> onInterrupt;
    std::thread thread;

    void Wait() {
        for (;;) {
            int signal = 0;
            if (sigwait(&signals, &signal) != 0 || stopping) return;
            if (signal != SIGINT && signal != SIGTERM) continue;
            onInterrupt();
        }
    }
};

InterruptWatcher::InterruptWatcher(std::function<void()> onInterrupt)
    : state_(std::make_unique<State>()) {
    state_->onInterrupt = std::move(onInterrupt);
    sigemptyset(&state_->signals);
    sigaddset(&state_->signals, SIGINT);
    sigaddset(&state_->signals, SIGTERM);
    sigaddset(&state_->signals, SIGUSR1); // ends the waiting thread
    pthread_sigmask(SIG_BLOCK, &state_->signals, &state_->previous);
    state_->thread = std::thread([state = state_.get()] { state->Wait(); });
}

InterruptWatcher::~InterruptWatcher() {
    state_->stopping = true;
    pthread_kill(state_->thread.native_handle(), SIGUSR1);
    state_->thread.join();
    pthread_sigmask(SIG_SETMASK, &state_->previous, nullptr);
}

struct TerminationSignals::State {
    sigset_t signals{};
};

TerminationSignals::TerminationSignals() : state_(std::make_unique<State>()) {
    sigemptyset(&state_->signals);
    sigaddset(&state_->signals, SIGINT);
    sigaddset(&state_->signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &state_->signals, nullptr);
}

TerminationSignals::~TerminationSignals() = default;

void TerminationSignals::Wait() const {
    int received = 0;
    sigwait(&state_->signals, &received);
}

void ExitNow(int status) { _exit(status); }

} // namespace platform
