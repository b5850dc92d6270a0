// The one wait of the program, and the cancel token it watches.
//
// Every place that waits on the user-interface thread (a reply, a connect, a login line, the
// acknowledgements of a download, a settle pause, room in an output queue, a modal form) calls
// PumpUntil with its own condition. The wait pumps the thread's messages (dispatching them, so
// windows stay live and handlers run) and sleeps in the message layer's timed wait in between;
// it ends when the condition holds, the deadline passes, the cancel token is set, the
// connection's reader has ended or a quit arrives, and says which. A quit it takes is posted
// again, so the loop that owns the thread still sees it.
#pragma once

#include "platform/Messages.h"

#include <atomic>
#include <cstdint>
#include <type_traits>
#include <utility>

namespace platform {

// One load session's cancel request. Cancel may be called from any thread; it wakes the thread
// that waits on the token last (the one running the session), so that a wait sees it at once
// even when no message comes with it.
class CancelToken {
public:
    void Cancel();
    void Clear() { cancelled_ = false; }
    bool IsCancelled() const { return cancelled_; }
    // Makes the calling thread the one a Cancel wakes; every wait on the token calls it first.
    void WakeMe() const { thread_ = CurrentThreadId(); }

private:
    // Sequentially consistent: a Cancel that reads an old thread id comes before the waiter's
    // first look at the flag, so the waiter sees it.
    std::atomic<bool> cancelled_{false};
    mutable std::atomic<uint32_t> thread_{0};
};

// A borrowed callable, never copied or allocated: lives as long as the call it is passed to.
template <typename Signature> class CallableRef;
template <typename R, typename... Args> class CallableRef<R(Args...)> {
public:
    CallableRef() = default;
    template <typename F,
              typename = std::enable_if_t<!std::is_same_v<std::decay_t<F>, CallableRef>>>
    CallableRef(const F &callable) // NOLINT: implicit on purpose, for lambdas at the call site
        : object_(&callable), call_([](const void *object, Args... args) -> R {
              return (*static_cast<const F *>(object))(std::forward<Args>(args)...);
          }) {}
    explicit operator bool() const { return call_ != nullptr; }
    R operator()(Args... args) const { return call_(object_, std::forward<Args>(args)...); }

private:
    const void *object_ = nullptr;
    R (*call_)(const void *, Args...) = nullptr;
};

enum class WaitEnd { Condition, Deadline, Cancelled, ReaderEnded, Quit };

struct WaitSpec {
    // Only this window's messages (and its children's) are taken; null takes all of the thread's.
    // Messages sent from other threads are serviced whatever the filter.
    HWND window = nullptr;
    // A WM_TIMER of timerWindow (null: window) with this id is the deadline (0: none). The
    // caller owns the timer.
    UINT_PTR timerId = 0;
    HWND timerWindow = nullptr;
    // A deadline this many milliseconds from the start (< 0: none). 0 lets through what is
    // pending and returns Deadline.
    int64_t timeoutMs = -1;
    const CancelToken *cancel = nullptr;
    // Set by the connection's reader thread when it has ended (it then posts a message to its
    // hooked window, which wakes this wait).
    const std::atomic<bool> *readerEnded = nullptr;
};

// Pumps messages until the wait ends; returns why. A filter window that is destroyed ends the
// wait as Deadline. The checks run before every message, in
// this order: cancel token, condition, reader ended, deadline. intercept sees each message taken
// before it is dispatched and returns true to keep it (a connect or receive notification the
// caller reads itself); its condition is then checked again.
WaitEnd PumpUntil(const WaitSpec &spec, CallableRef<bool()> condition = {},
                  CallableRef<bool(const MSG &)> intercept = {});

// A window timer that is stopped on every way out of the scope that started it, so that no
// stray WM_TIMER reaches a wait that comes later.
class ScopedTimer {
public:
    ScopedTimer(HWND window, UINT_PTR id, int64_t ms, bool start = true);
    ~ScopedTimer() { Stop(); }
    ScopedTimer(const ScopedTimer &) = delete;
    ScopedTimer &operator=(const ScopedTimer &) = delete;
    void Start() { SetTimer(window_, id_, ms_); }
    void Stop() { KillTimer(window_, id_); }
    UINT_PTR Id() const { return id_; }

private:
    HWND window_;
    UINT_PTR id_;
    UINT ms_;
};

// Lets through the messages pending now (and the toolkit's events), without waiting.
inline WaitEnd PumpPending(HWND window = nullptr) {
    WaitSpec spec;
    spec.window = window;
    spec.timeoutMs = 0;
    return PumpUntil(spec);
}

} // namespace platform
