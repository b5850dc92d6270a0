// The user's interrupt and the system's request to end: SIGINT and SIGTERM on POSIX; on Windows
// the console's Ctrl-C, Ctrl-Break and close events. Both are taken on a thread of their own, so
// that what they cause happens as ordinary code, never inside a signal handler.
#pragma once

#include <functional>
#include <memory>

namespace platform {

// Calls onInterrupt (on its own thread) for each interrupt or termination request while it
// lives; the process's previous handling returns when it ends. Construct it on the thread that
// runs the work, before that thread starts others.
class InterruptWatcher {
public:
    explicit InterruptWatcher(std::function<void()> onInterrupt);
    ~InterruptWatcher();
    InterruptWatcher(const InterruptWatcher &) = delete;
    InterruptWatcher &operator=(const InterruptWatcher &) = delete;

    struct State;

private:
    std::unique_ptr<State> state_;
};

// Holds interrupts and termination requests back from construction on, for Wait() to take.
// Construct it before the command starts any thread: on POSIX threads inherit the signal mask,
// so the signal then reaches only Wait() instead of killing the process before it has written
// its results. The mask is left as it is on destruction; the command is on its way out by then.
class TerminationSignals {
public:
    TerminationSignals();
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals &) = delete;
    TerminationSignals &operator=(const TerminationSignals &) = delete;

    // Returns once an interrupt or a termination request has arrived.
    void Wait() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

// Ends the process at once with status, running no exit handlers (for a second Ctrl-C).
[[noreturn]] void ExitNow(int status);

} // namespace platform
