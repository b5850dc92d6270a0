#include "platform/Wait.h"

#include <algorithm>
#include <chrono>
#include <limits>

namespace platform {

namespace {

// A wait whose deadline has passed still lets through what is pending, but not for ever: a
// window that posts to itself on every message must not keep it here.
constexpr int MaxMessagesAfterDeadline = 256;

using SteadyClock = std::chrono::steady_clock;

} // namespace

ScopedTimer::ScopedTimer(HWND window, UINT_PTR id, int64_t ms, bool start)
    : window_(window), id_(id),
      ms_(static_cast<UINT>(std::clamp<int64_t>(ms, 0, std::numeric_limits<int32_t>::max()))) {
    if (start) Start();
}

void CancelToken::Cancel() {
    cancelled_ = true;
    if (const uint32_t thread = thread_) WakeThread(thread);
}

WaitEnd PumpUntil(const WaitSpec &spec, CallableRef<bool()> condition,
                  CallableRef<bool(const MSG &)> intercept) {
    const bool limited = spec.timeoutMs >= 0;
    const auto deadline =
        SteadyClock::now() + std::chrono::milliseconds(limited ? spec.timeoutMs : 0);
    int lateMessages = 0;
    if (spec.cancel != nullptr) spec.cancel->WakeMe();
    for (;;) {
        if (spec.cancel != nullptr && spec.cancel->IsCancelled()) return WaitEnd::Cancelled;
        if (condition && condition()) return WaitEnd::Condition;
        if (spec.readerEnded != nullptr && spec.readerEnded->load(std::memory_order_acquire))
            return WaitEnd::ReaderEnded;
        int64_t leftMs = -1;
        if (limited) {
            const auto left = deadline - SteadyClock::now();
            leftMs =
                left.count() <= 0 ? 0 : std::chrono::ceil<std::chrono::milliseconds>(left).count();
            if (leftMs == 0 && ++lateMessages > MaxMessagesAfterDeadline) return WaitEnd::Deadline;
        }
        MSG msg;
        switch (GetMessageTimeout(&msg, spec.window, 0, 0, leftMs)) {
        case GetResult::Timeout: return WaitEnd::Deadline;
        case GetResult::Quit: PostQuitMessage(static_cast<int>(msg.wParam)); return WaitEnd::Quit;
        case GetResult::Message: break;
        }
        if (msg.message == WM_NULL) {
            // A filter window that is gone can bring neither messages nor its timer: the wait
            // would only spin, so it is over, as if its time had run out.
            if (spec.window != nullptr && !IsWindow(spec.window)) return WaitEnd::Deadline;
            continue; // toolkit events or a wake: only the conditions need a new look
        }
        if (spec.timerId != 0 && msg.message == WM_TIMER && msg.wParam == spec.timerId &&
            msg.hwnd == (spec.timerWindow != nullptr ? spec.timerWindow : spec.window))
            return WaitEnd::Deadline;
        if (intercept && intercept(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessage(&msg);
    }
}

} // namespace platform
