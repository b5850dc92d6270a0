// The one wait (src/platform/Wait.h) and the message-layer pieces it stands on: the filtered
// wait that must notice its window going away, WaitMessage that sleeps through old messages,
// and every way PumpUntil can end. Every wait here is bounded by its own deadline or a rescue
// thread that posts after a few seconds.
#include "platform/Messages.h"
#include "platform/Wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

using namespace platform;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

LRESULT NullProc(HWND, UINT, WPARAM, LPARAM) { return 0; }

void Drain() {
    MSG msg;
    while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}

long MsSince(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// Posts a thread message to the test thread after a delay, so that a wait that missed its own
// wake-up still ends and the test can report it instead of hanging.
class Rescue {
public:
    explicit Rescue(std::chrono::milliseconds after) : thread_(CurrentThreadId()) {
        worker_ = std::thread([this, after] {
            const auto end = Clock::now() + after;
            while (!done_ && Clock::now() < end) std::this_thread::sleep_for(5ms);
            if (!done_) PostThreadMessage(thread_, WM_USER + 99, 0, 0);
        });
    }
    ~Rescue() {
        done_ = true;
        worker_.join();
        Drain();
    }

private:
    uint32_t thread_;
    std::atomic<bool> done_{false};
    std::thread worker_;
};

HWND g_destroyInHook = nullptr;

void DestroyBetweenLookupAndLock() {
    if (HWND window = g_destroyInHook) {
        g_destroyInHook = nullptr;
        DestroyWindow(window);
    }
}

} // namespace

TEST(FilteredWait, WindowDestroyedBetweenItsLookupAndTheLockEndsTheWaitAtOnce) {
    Drain();
    HWND window = CreateWindow(NullProc);
    g_destroyInHook = window;
    platform::testing::SetFilterCheckHook(&DestroyBetweenLookupAndLock);
    Rescue rescue(3000ms);
    const auto start = Clock::now();
    MSG msg;
    const bool got = GetMessage(&msg, window, 0, 0);
    platform::testing::SetFilterCheckHook(nullptr);
    EXPECT_TRUE(got);
    EXPECT_EQ(msg.message, WM_NULL);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_LT(MsSince(start), 1500) << "the wait slept through its window's destruction";
}

TEST(FilteredWait, PeekThenWaitLoopSleepsThroughAnOldUnrelatedMessage) {
    Drain();
    HWND mine = CreateWindow(NullProc);
    HWND other = CreateWindow(NullProc);
    PostMessage(other, WM_USER + 1, 0, 0); // queued before the loop, never taken by it
    constexpr int Wanted = 3;
    std::thread poster([mine] {
        for (int i = 0; i < Wanted; ++i) {
            std::this_thread::sleep_for(60ms);
            PostMessage(mine, WM_USER + 2, WPARAM(i), 0);
        }
    });
    int taken = 0;
    int wakeUps = 0;
    const auto end = Clock::now() + 3s;
    while (taken < Wanted && Clock::now() < end) {
        MSG msg;
        if (PeekMessage(&msg, mine, 0, 0, PM_REMOVE)) {
            ++taken;
            continue;
        }
        WaitMessage();
        ++wakeUps;
    }
    poster.join();
    EXPECT_EQ(taken, Wanted);
    // One wake-up per new message (a spare one at most for each), not a spin over the old one.
    EXPECT_LE(wakeUps, 2 * Wanted);
    DestroyWindow(mine);
    DestroyWindow(other);
    Drain();
}

// ---- PumpUntil ----

namespace {

struct Outcome {
    const char *name;
    WaitEnd expected;
    // Sets up the wait (on the test thread) and may start what ends it from another thread.
    std::function<std::thread(WaitSpec &, HWND, CancelToken &, std::atomic<bool> &readerEnded)>
        arrange;
};

} // namespace

TEST(PumpUntil, EndsForEachReasonAndSaysWhich) {
    const Outcome outcomes[] = {
        {"condition from a dispatched message", WaitEnd::Condition,
         [](WaitSpec &, HWND window, CancelToken &, std::atomic<bool> &) {
             PostMessage(window, WM_USER + 5, 0, 0);
             return std::thread();
         }},
        {"plain deadline", WaitEnd::Deadline,
         [](WaitSpec &spec, HWND, CancelToken &, std::atomic<bool> &) {
             spec.timeoutMs = 50;
             return std::thread();
         }},
        {"window timer", WaitEnd::Deadline,
         [](WaitSpec &spec, HWND window, CancelToken &, std::atomic<bool> &) {
             spec.timerId = 1000;
             SetTimer(window, 1000, 50);
             return std::thread();
         }},
        {"cancel from another thread, no message", WaitEnd::Cancelled,
         [](WaitSpec &, HWND, CancelToken &token, std::atomic<bool> &) {
             return std::thread([&token] {
                 std::this_thread::sleep_for(50ms);
                 token.Cancel();
             });
         }},
        {"reader ended", WaitEnd::ReaderEnded,
         [](WaitSpec &, HWND window, CancelToken &, std::atomic<bool> &ended) {
             return std::thread([&ended, window] {
                 std::this_thread::sleep_for(50ms);
                 ended = true;
                 PostMessage(window, WM_USER + 11, 0, 0);
             });
         }},
        {"quit", WaitEnd::Quit,
         [](WaitSpec &, HWND, CancelToken &, std::atomic<bool> &) {
             PostQuitMessage(7);
             return std::thread();
         }},
    };
    for (const Outcome &outcome : outcomes) {
        SCOPED_TRACE(outcome.name);
        Drain();
        static std::atomic<bool> *conditionOfProc = nullptr;
        std::atomic<bool> condition{false};
        conditionOfProc = &condition;
        HWND window = CreateWindow([](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
            if (msg == WM_USER + 5) *conditionOfProc = true;
            return 0;
        });
        CancelToken token;
        std::atomic<bool> readerEnded{false};
        WaitSpec spec;
        spec.window = window;
        spec.cancel = &token;
        spec.readerEnded = &readerEnded;
        std::thread helper = outcome.arrange(spec, window, token, readerEnded);
        Rescue rescue(3000ms);
        const auto start = Clock::now();
        const WaitEnd end = PumpUntil(spec, [&] { return condition.load(); });
        if (helper.joinable()) helper.join();
        EXPECT_EQ(end, outcome.expected);
        EXPECT_LT(MsSince(start), 1500);
        // The wait has to leave what came after it alone; a quit goes back for the outer loop.
        MSG msg;
        const bool quitLeft =
            PeekMessage(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) && msg.message == WM_QUIT;
        EXPECT_EQ(quitLeft, outcome.expected == WaitEnd::Quit);
        KillTimer(window, 1000);
        DestroyWindow(window);
        Drain();
    }
}

TEST(PumpUntil, PendingOnlyDispatchesWhatIsQueuedAndReturns) {
    Drain();
    static int seen = 0;
    seen = 0;
    HWND window = CreateWindow([](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
        if (msg == WM_USER + 6) ++seen;
        return 0;
    });
    for (int i = 0; i < 4; ++i) PostMessage(window, WM_USER + 6, 0, 0);
    EXPECT_EQ(PumpPending(), WaitEnd::Deadline);
    EXPECT_EQ(seen, 4);
    DestroyWindow(window);
}

TEST(PumpUntil, WindowDestroyedDuringTheWaitEndsItInsteadOfSpinning) {
    Drain();
    HWND window = CreateWindow(NullProc);
    std::thread destroyer([window] {
        std::this_thread::sleep_for(50ms);
        DestroyWindow(window);
    });
    Rescue rescue(3000ms);
    WaitSpec spec;
    spec.window = window;
    const auto start = Clock::now();
    EXPECT_EQ(PumpUntil(spec), WaitEnd::Deadline);
    destroyer.join();
    EXPECT_LT(MsSince(start), 1500);
}
