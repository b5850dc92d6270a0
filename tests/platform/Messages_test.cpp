// Tests of the message layer (src/platform/Messages.h). Every wait is bounded: each test that
// pumps runs under a Watchdog that, after 5 s, fails the test, destroys the guarded windows
// (which releases blocked senders and ends GetMessage calls filtered on them) and posts a quit.
#include "platform/Clock.h"
#include "platform/Event.h"
#include "platform/Messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace platform;
using namespace std::chrono_literals;

namespace {

constexpr UINT UM_PACKET = WM_USER + 1;
constexpr UINT UM_WAKE = WM_USER + 10;
constexpr UINT UM_START_INNER = WM_USER + 20;
constexpr UINT UM_QUIT_NOW = WM_USER + 21;

class Watchdog {
public:
    explicit Watchdog(std::chrono::milliseconds limit = 5000ms) : threadId_(CurrentThreadId()) {
        thread_ = std::thread([this, limit] {
            std::unique_lock<std::mutex> lock(mutex_);
            if (changed_.wait_for(lock, limit, [this] { return done_; })) return;
            fired_ = true;
            std::vector<HWND> windows = windows_;
            lock.unlock();
            for (HWND w : windows) DestroyWindow(w);
            PostThreadMessage(threadId_, WM_QUIT, 99, 0);
        });
    }
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        changed_.notify_all();
        thread_.join();
        EXPECT_FALSE(fired_.load()) << "watchdog fired: a wait did not end in time";
    }
    void Guard(HWND w) {
        std::lock_guard<std::mutex> lock(mutex_);
        windows_.push_back(w);
    }
    bool Fired() const { return fired_; }

private:
    uint32_t threadId_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;
    std::vector<HWND> windows_;
    std::atomic<bool> fired_{false};
    std::thread thread_;
};

LRESULT NullProc(HWND, UINT, WPARAM, LPARAM) { return 0; }

// Per-window record of what its procedure saw (user data of the window).
struct Recorder {
    std::mutex mutex;
    std::vector<UINT> messages;
    std::vector<WPARAM> params;
    void Add(UINT m, WPARAM w) {
        std::lock_guard<std::mutex> lock(mutex);
        messages.push_back(m);
        params.push_back(w);
    }
    size_t Count(UINT m) {
        std::lock_guard<std::mutex> lock(mutex);
        return static_cast<size_t>(std::count(messages.begin(), messages.end(), m));
    }
};

LRESULT RecordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM) {
    if (auto *r = static_cast<Recorder *>(GetWindowUserData(hwnd))) r->Add(msg, wParam);
    return 0;
}

// Drains whatever is queued for the calling thread (not waiting).
void Drain() {
    MSG msg;
    while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}

struct WindowGuard {
    HWND hwnd;
    explicit WindowGuard(HWND h) : hwnd(h) {}
    ~WindowGuard() { DestroyWindow(hwnd); }
    operator HWND() const { return hwnd; }
};

// ---------------------------------------------------------------------------------------------
// A wait loop shaped like the packet layer's SendAndWait: timer 1000 + depth, GetMessage filtered
// to the window, stops on its own timer, a quit taken is posted again and the wait fails.

struct WaitState {
    int depth = 0;
    std::atomic<int> atomicDepth{0}; // depth, for other threads
    std::vector<std::string> log;
    std::atomic<bool> arrived{false};
    UINT innerMs = 0;
    Watchdog *dog = nullptr;
};
WaitState *g_wait = nullptr;

enum class WaitResult { Timer, Arrived, Quit };

WaitResult TimedWait(HWND hwnd, UINT ms, bool untilArrived) {
    WaitState &s = *g_wait;
    const int w = ++s.depth;
    s.atomicDepth = w;
    const UINT_PTR id = 1000 + w;
    SetTimer(hwnd, id, ms);
    s.log.push_back("start " + std::to_string(id));
    WaitResult result;
    MSG msg;
    for (;;) {
        if (untilArrived && s.arrived) {
            result = WaitResult::Arrived;
            break;
        }
        if (s.dog && s.dog->Fired()) {
            result = WaitResult::Quit;
            break;
        }
        if (!GetMessage(&msg, hwnd, 0, 0)) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            result = WaitResult::Quit;
            break;
        }
        if (msg.message == WM_TIMER && msg.wParam == id) {
            result = WaitResult::Timer;
            break;
        }
        DispatchMessage(&msg);
    }
    KillTimer(hwnd, id);
    s.log.push_back("end " + std::to_string(id) + (result == WaitResult::Quit ? " quit" : ""));
    s.atomicDepth = --s.depth;
    return result;
}

LRESULT WaitProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM) {
    if (!g_wait) return 0; // WM_DESTROY after the test
    WaitState &s = *g_wait;
    switch (msg) {
    case WM_TIMER: s.log.push_back("dispatched timer " + std::to_string(wParam)); return 0;
    case UM_START_INNER: TimedWait(hwnd, s.innerMs, wParam != 0); return 0;
    case UM_QUIT_NOW: PostQuitMessage(static_cast<int>(wParam)); return 0;
    case UM_PACKET:
        s.log.push_back("packet at depth " + std::to_string(s.depth));
        s.arrived = true;
        PostMessage(hwnd, UM_WAKE, 0, 0);
        return 42 + static_cast<LRESULT>(wParam);
    default: return 0;
    }
}

// Each test starts with an empty queue and ends leaving none (a failed one may leave some).
class Messages : public ::testing::Test {
protected:
    void SetUp() override { Drain(); }
    void TearDown() override { Drain(); }
};

} // namespace

// ---------------------------------------------------------------------------------------------

TEST_F(Messages, PostedMessagesAreFifo) {
    Watchdog dog;
    Recorder rec;
    WindowGuard w(CreateWindow(RecordingProc, &rec));
    for (UINT i = 0; i < 5; ++i)
        ASSERT_TRUE(PostMessage(w, WM_USER + i, i, -static_cast<LPARAM>(i)));
    for (UINT i = 0; i < 5; ++i) {
        MSG msg;
        ASSERT_TRUE(GetMessage(&msg, nullptr, 0, 0));
        EXPECT_EQ(msg.hwnd, w.hwnd);
        EXPECT_EQ(msg.message, WM_USER + i);
        EXPECT_EQ(msg.wParam, i);
        EXPECT_EQ(msg.lParam, -static_cast<LPARAM>(i));
        DispatchMessage(&msg);
    }
    EXPECT_EQ(rec.Count(WM_USER + 4), 1u);
    MSG msg;
    EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
}

// A wake-up asked for again while one is waiting is not queued twice; once taken, it can be asked
// for again. Other windows' and other numbers' messages are their own. Taken messages' queue nodes
// are used again: what comes out is still what went in, in order.
TEST_F(Messages, AWakeUpWaitsOnceHoweverOftenItIsPosted) {
    Watchdog dog;
    WindowGuard w(CreateWindow(NullProc));
    WindowGuard other(CreateWindow(NullProc));
    const auto takeAll = [] {
        std::vector<std::pair<HWND, UINT>> taken;
        MSG msg;
        while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE))
            taken.emplace_back(msg.hwnd, msg.message);
        return taken;
    };
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 4; ++i) {
            EXPECT_TRUE(PostMessageUnlessPending(w, WM_USER + 1, 0, 0));
            EXPECT_TRUE(PostMessageUnlessPending(other, WM_USER + 1, 0, 0));
        }
        PostMessage(w, WM_USER + 2, 0, 0);
        EXPECT_TRUE(PostMessageUnlessPending(w, WM_USER + 2, 0, 0)); // waiting already
        EXPECT_EQ(takeAll(),
                  (std::vector<std::pair<HWND, UINT>>{
                      {w.hwnd, WM_USER + 1}, {other.hwnd, WM_USER + 1}, {w.hwnd, WM_USER + 2}}))
            << "round " << round;
    }
    HWND gone = CreateWindow(NullProc);
    DestroyWindow(gone);
    EXPECT_FALSE(PostMessageUnlessPending(gone, WM_USER + 1, 0, 0));
}

TEST_F(Messages, WindowFilterTakesWindowAndDescendants) {
    Watchdog dog;
    WindowGuard parent(CreateWindow(NullProc));
    HWND child = CreateWindow(NullProc, nullptr, parent);
    HWND grandchild = CreateWindow(NullProc, nullptr, child);
    WindowGuard other(CreateWindow(NullProc));
    PostMessage(other, WM_USER + 1, 0, 0);
    PostMessage(nullptr, WM_USER + 2, 0, 0); // thread message
    PostMessage(grandchild, WM_USER + 3, 0, 0);
    PostMessage(parent, WM_USER + 4, 0, 0);
    PostMessage(child, WM_USER + 5, 0, 0);

    MSG msg;
    ASSERT_TRUE(GetMessage(&msg, parent, 0, 0));
    EXPECT_EQ(msg.message, WM_USER + 3u);
    EXPECT_EQ(msg.hwnd, grandchild);
    ASSERT_TRUE(GetMessage(&msg, parent, 0, 0));
    EXPECT_EQ(msg.message, WM_USER + 4u);
    ASSERT_TRUE(GetMessage(&msg, parent, 0, 0));
    EXPECT_EQ(msg.message, WM_USER + 5u);
    EXPECT_FALSE(PeekMessage(&msg, parent, 0, 0, PM_REMOVE));
    // A child filter does not take its parent's messages.
    PostMessage(parent, WM_USER + 6, 0, 0);
    EXPECT_FALSE(PeekMessage(&msg, child, 0, 0, PM_REMOVE));

    // What is left: other's message and the thread message, in order, then the parent's.
    ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_USER + 1u);
    ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_USER + 2u);
    EXPECT_EQ(msg.hwnd, nullptr);
    ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_USER + 6u);
    EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));

    // Destroying the parent destroys its descendants.
    DestroyWindow(parent);
    EXPECT_FALSE(IsWindow(child));
    EXPECT_FALSE(IsWindow(grandchild));
    EXPECT_TRUE(IsWindow(other));
}

TEST_F(Messages, RangeFilter) {
    Watchdog dog;
    WindowGuard w(CreateWindow(NullProc));
    PostMessage(w, WM_USER + 0, 0, 0);
    PostMessage(w, WM_USER + 11, 0, 0);
    PostMessage(w, WM_USER + 12, 0, 0);
    PostMessage(w, WM_CLOSE, 0, 0);

    MSG msg;
    ASSERT_TRUE(GetMessage(&msg, nullptr, WM_USER + 11, WM_USER + 12));
    EXPECT_EQ(msg.message, WM_USER + 11u);
    ASSERT_TRUE(GetMessage(&msg, w, WM_CLOSE, WM_CLOSE));
    EXPECT_EQ(msg.message, WM_CLOSE);
    // Close of a TCP connection: remove every queued WM_USER..WM_USER+11.
    int removed = 0;
    while (PeekMessage(&msg, nullptr, WM_USER, WM_USER + 11, PM_REMOVE)) ++removed;
    EXPECT_EQ(removed, 1);
    ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_USER + 12u);
    EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(Messages, PeekNoRemoveKeepsRemoveTakes) {
    WindowGuard w(CreateWindow(NullProc));
    MSG msg;
    EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE));
    PostMessage(w, UM_WAKE, 1, 0);
    PostMessage(w, UM_WAKE, 2, 0);
    ASSERT_TRUE(PeekMessage(&msg, w, UM_WAKE, UM_WAKE, PM_NOREMOVE));
    EXPECT_EQ(msg.wParam, 1u);
    ASSERT_TRUE(PeekMessage(&msg, w, UM_WAKE, UM_WAKE, PM_NOREMOVE));
    EXPECT_EQ(msg.wParam, 1u);
    // After a wait: remove one pending UM_WAKE.
    ASSERT_TRUE(PeekMessage(&msg, w, UM_WAKE, UM_WAKE, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 1u);
    ASSERT_TRUE(PeekMessage(&msg, w, UM_WAKE, UM_WAKE, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 2u);
    EXPECT_FALSE(PeekMessage(&msg, w, UM_WAKE, UM_WAKE, PM_REMOVE));
    EXPECT_FALSE(PeekMessage(nullptr, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(Messages, TimerOnlyWhenNothingElseQueued) {
    Watchdog dog;
    WindowGuard w(CreateWindow(NullProc));
    ASSERT_EQ(SetTimer(w, 7, 10), 7u);
    Sleep(40); // the timer is due
    PostMessage(w, WM_USER, 0, 0);
    PostMessage(w, WM_USER + 1, 0, 0);
    MSG msg;
    ASSERT_TRUE(GetMessage(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, WM_USER);
    ASSERT_TRUE(GetMessage(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, WM_USER + 1);
    ASSERT_TRUE(GetMessage(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, WM_TIMER);
    EXPECT_EQ(msg.hwnd, w.hwnd);
    EXPECT_EQ(msg.wParam, 7u);
    // One WM_TIMER for several missed periods; the next one comes a period later.
    EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
    // A non-matching number range does not produce it.
    Sleep(40);
    EXPECT_FALSE(PeekMessage(&msg, nullptr, WM_USER, WM_USER + 100, PM_REMOVE));
    // PM_NOREMOVE leaves it due.
    ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, WM_TIMER);
    ASSERT_TRUE(PeekMessage(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_TIMER);
    EXPECT_TRUE(KillTimer(w, 7));
    EXPECT_FALSE(KillTimer(w, 7));
}

TEST_F(Messages, KillTimerRemovesPendingTimerMessage) {
    WindowGuard w(CreateWindow(NullProc));
    SetTimer(w, 1001, 10);
    SetTimer(w, 1002, 10);
    Sleep(40);
    EXPECT_TRUE(KillTimer(w, 1001));
    MSG msg;
    ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_TIMER);
    EXPECT_EQ(msg.wParam, 1002u);
    EXPECT_TRUE(KillTimer(w, 1002));
    Sleep(30);
    EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(Messages, SetTimerOnExistingIdRestartsIt) {
    WindowGuard w(CreateWindow(NullProc));
    SetTimer(w, 5, 400);
    Sleep(300);
    SetTimer(w, 5, 400); // restarted: due 400 ms from now, not 100
    Sleep(150);
    MSG msg;
    EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
    KillTimer(w, 5);
}

TEST_F(Messages, TimerIsPeriodicAndWaitIsPrecise) {
    Watchdog dog;
    WindowGuard w(CreateWindow(NullProc));
    dog.Guard(w);
    SetTimer(w, 3, 30);
    const auto start = std::chrono::steady_clock::now();
    int ticks = 0;
    MSG msg;
    while (ticks < 4 && !dog.Fired() && GetMessage(&msg, w, 0, 0)) {
        if (msg.message == WM_TIMER && msg.wParam == 3) ++ticks;
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    KillTimer(w, 3);
    EXPECT_EQ(ticks, 4);
    EXPECT_GE(elapsed, 119ms);
    EXPECT_LT(elapsed, 2000ms);
}

TEST_F(Messages, QuitComesAfterQueuedMessagesAndBeforeTimers) {
    Watchdog dog;
    WindowGuard w(CreateWindow(NullProc));
    WindowGuard other(CreateWindow(NullProc));
    SetTimer(w, 9, 10);
    Sleep(30);
    PostQuitMessage(5);
    PostMessage(w, WM_USER, 0, 0);
    PostMessage(other, WM_USER + 1, 0, 0);
    MSG msg;
    ASSERT_TRUE(GetMessage(&msg, w, 0, 0));
    EXPECT_EQ(msg.message, WM_USER);
    // Filtered on w: other's message does not hold the quit back; the due timer comes after it.
    EXPECT_FALSE(GetMessage(&msg, w, 0, 0));
    EXPECT_EQ(msg.message, WM_QUIT);
    EXPECT_EQ(msg.wParam, 5u);
    ASSERT_TRUE(GetMessage(&msg, w, 0, 0));
    EXPECT_EQ(msg.message, WM_TIMER);
    KillTimer(w, 9);
    Drain();
}

TEST_F(Messages, PeekReturnsQuitAsMessage) {
    PostQuitMessage(8);
    MSG msg;
    ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, WM_QUIT);
    ASSERT_TRUE(PeekMessage(&msg, nullptr, WM_USER, WM_USER, PM_REMOVE)); // whatever the range
    EXPECT_EQ(msg.message, WM_QUIT);
    EXPECT_EQ(msg.wParam, 8u);
    EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(Messages, NestedWaitsEachStopOnlyTheirOwnTimer) {
    Watchdog dog;
    WaitState state;
    state.dog = &dog;
    g_wait = &state;
    WindowGuard w(CreateWindow(WaitProc));
    dog.Guard(w);

    // Inner wait (1002, 60 ms) ends first; the outer one (1001, 200 ms) goes on after it.
    state.innerMs = 60;
    PostMessage(w, UM_START_INNER, 0, 0);
    EXPECT_EQ(TimedWait(w, 200, false), WaitResult::Timer);
    std::vector<std::string> expected{"start 1001", "start 1002", "end 1002", "end 1001"};
    EXPECT_EQ(state.log, expected);

    // Outer timer (1001, 30 ms) fires during the inner wait (1002, 150 ms): the inner loop
    // dispatches it and goes on; the outer loop stops at its timer's next period.
    state.log.clear();
    state.innerMs = 150;
    PostMessage(w, UM_START_INNER, 0, 0);
    EXPECT_EQ(TimedWait(w, 30, false), WaitResult::Timer);
    ASSERT_GE(state.log.size(), 5u);
    EXPECT_EQ(state.log[0], "start 1001");
    EXPECT_EQ(state.log[1], "start 1002");
    EXPECT_EQ(state.log[2], "dispatched timer 1001");
    EXPECT_EQ(state.log[state.log.size() - 2], "end 1002");
    EXPECT_EQ(state.log.back(), "end 1001");
    for (const auto &line : state.log) EXPECT_NE(line, "dispatched timer 1002");
    EXPECT_FALSE(KillTimer(w, 1001));
    EXPECT_FALSE(KillTimer(w, 1002));
    g_wait = nullptr;
}

TEST_F(Messages, CrossThreadSendServicedInsideNestedLoop) {
    Watchdog dog;
    WaitState state;
    state.dog = &dog;
    g_wait = &state;
    WindowGuard w(CreateWindow(WaitProc));
    dog.Guard(w);
    state.innerMs = 3000;

    std::atomic<LRESULT> reply{-1};
    std::thread reader([&] {
        // Sent once the inner wait runs, like a reader thread's UM_PACKET.
        while (state.atomicDepth < 2 && !dog.Fired()) std::this_thread::sleep_for(1ms);
        reply = SendMessage(w, UM_PACKET, 7, 0);
    });
    // The outer wait starts the inner wait, which runs until the packet arrived.
    PostMessage(w, UM_START_INNER, 1, 0);
    EXPECT_EQ(TimedWait(w, 3000, true), WaitResult::Arrived);
    reader.join();
    EXPECT_EQ(reply.load(), 49);
    std::vector<std::string> expected{"start 1001", "start 1002", "packet at depth 2", "end 1002",
                                      "end 1001"};
    EXPECT_EQ(state.log, expected);
    g_wait = nullptr;
}

TEST_F(Messages, QuitRepostedByInnerLoopEndsOuterLoop) {
    Watchdog dog;
    WaitState state;
    state.dog = &dog;
    g_wait = &state;
    WindowGuard w(CreateWindow(WaitProc));
    dog.Guard(w);
    state.innerMs = 3000;
    PostMessage(w, UM_START_INNER, 0, 0); // the inner wait takes the next one
    PostMessage(w, UM_QUIT_NOW, 4, 0);
    EXPECT_EQ(TimedWait(w, 3000, false), WaitResult::Quit);
    std::vector<std::string> expected{"start 1001", "start 1002", "end 1002 quit", "end 1001 quit"};
    EXPECT_EQ(state.log, expected);
    // The quit is still pending for the application's loop.
    MSG msg;
    EXPECT_FALSE(GetMessage(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.wParam, 4u);
    EXPECT_FALSE(KillTimer(w, 1001));
    EXPECT_FALSE(KillTimer(w, 1002));
    g_wait = nullptr;
}

TEST_F(Messages, SendOnSameThreadIsDirectCall) {
    Recorder rec;
    WindowGuard w(CreateWindow(RecordingProc, &rec));
    EXPECT_EQ(SendMessage(w, WM_USER + 3, 11, 0), 0);
    EXPECT_EQ(rec.Count(WM_USER + 3), 1u);
    EXPECT_FALSE(InSendMessage());
    EXPECT_EQ(InSendMessageEx(), ISMEX_NOSEND);
    EXPECT_FALSE(ReplyMessage(1));
}

namespace {
std::atomic<int> g_replyChecks{0};
ManualResetEvent *g_senderReturned = nullptr;

LRESULT ReplyingProc(HWND, UINT msg, WPARAM, LPARAM) {
    if (msg != UM_PACKET) return 0;
    if (InSendMessage() && InSendMessageEx() == ISMEX_SEND) ++g_replyChecks;
    if (ReplyMessage(5)) ++g_replyChecks;
    if (!ReplyMessage(6) && // already replied
        InSendMessageEx() == (ISMEX_SEND | ISMEX_REPLIED))
        ++g_replyChecks;
    // The sender runs on while we are still inside the handler.
    if (g_senderReturned->Wait(5000)) ++g_replyChecks;
    return 77; // ignored: the sender already has 5
}
} // namespace

TEST_F(Messages, ReplyMessageReleasesSenderEarly) {
    Watchdog dog;
    ManualResetEvent senderReturned;
    g_senderReturned = &senderReturned;
    g_replyChecks = 0;
    WindowGuard w(CreateWindow(ReplyingProc));
    dog.Guard(w);
    std::atomic<LRESULT> result{-1};
    std::thread sender([&] {
        result = SendMessage(w, UM_PACKET, 0, 0);
        senderReturned.Set();
        PostMessage(w, UM_WAKE, 0, 0);
    });
    while (!senderReturned.IsSet() && !dog.Fired()) {
        MSG msg;
        if (!GetMessage(&msg, w, 0, 0)) break;
        DispatchMessage(&msg);
        if (g_replyChecks == 4) break;
    }
    sender.join();
    EXPECT_EQ(result.load(), 5);
    EXPECT_EQ(g_replyChecks.load(), 4);
    EXPECT_FALSE(InSendMessage());
    EXPECT_EQ(InSendMessageEx(), ISMEX_NOSEND);
}

namespace {
WNDPROC g_savedProc = nullptr;
LRESULT BaseProc(HWND, UINT msg, WPARAM wParam, LPARAM) {
    return msg == WM_USER + 2 ? 1000 + static_cast<LRESULT>(wParam) : 1;
}
LRESULT HookProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_USER + 1) return 500;
    return CallWindowProc(g_savedProc, hwnd, msg, wParam, lParam);
}
} // namespace

TEST_F(Messages, SetWindowProcReturnsPreviousAndCallWindowProcChains) {
    WindowGuard w(CreateWindow(BaseProc));
    EXPECT_EQ(GetWindowProc(w), &BaseProc);
    g_savedProc = SetWindowProc(w, HookProc);
    EXPECT_EQ(g_savedProc, &BaseProc);
    EXPECT_EQ(GetWindowProc(w), &HookProc);
    EXPECT_EQ(SendMessage(w, WM_USER + 1, 0, 0), 500);
    EXPECT_EQ(SendMessage(w, WM_USER + 2, 3, 0), 1003);
    PostMessage(w, WM_USER + 2, 4, 0);
    MSG msg;
    ASSERT_TRUE(PeekMessage(&msg, w, 0, 0, PM_REMOVE));
    EXPECT_EQ(DispatchMessage(&msg), 1004);
    EXPECT_EQ(CallWindowProc(nullptr, w, WM_USER, 0, 0), 0);
    // Unhook: put the saved procedure back.
    EXPECT_EQ(SetWindowProc(w, g_savedProc), &HookProc);
    EXPECT_EQ(SendMessage(w, WM_USER + 1, 0, 0), 1);
    EXPECT_EQ(SetWindowProc(nullptr, HookProc), nullptr);

    int data = 0;
    SetWindowUserData(w, &data);
    EXPECT_EQ(GetWindowUserData(w), &data);
}

TEST_F(Messages, DestroyWindowReleasesBlockedSender) {
    Watchdog dog;
    Recorder rec;
    HWND w = CreateWindow(RecordingProc, &rec);
    dog.Guard(w);
    std::atomic<bool> sending{false};
    std::atomic<LRESULT> result{-1};
    std::thread sender([&] {
        sending = true;
        result = SendMessage(w, UM_PACKET, 0, 0);
    });
    while (!sending) std::this_thread::yield();
    Sleep(50); // the sender is (almost certainly) blocked by now; either way it must get 0
    DestroyWindow(w);
    sender.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_EQ(rec.Count(UM_PACKET), 0u);
    EXPECT_FALSE(IsWindow(w));
    EXPECT_EQ(rec.Count(WM_DESTROY), 1u);
    // Later calls with the handle are ignored.
    EXPECT_FALSE(PostMessage(w, WM_USER, 0, 0));
    EXPECT_EQ(SendMessage(w, WM_USER, 0, 0), 0);
    EXPECT_EQ(SetTimer(w, 1, 10), 0u);
    EXPECT_FALSE(KillTimer(w, 1));
    DestroyWindow(w);
}

TEST_F(Messages, DestroyFromAnotherThreadReleasesSenderAndFilteredWait) {
    Watchdog dog;
    HWND w = CreateWindow(NullProc);
    dog.Guard(w);
    PostMessage(w, WM_USER, 0, 0);
    SetTimer(w, 1, 10);
    std::atomic<LRESULT> result{-1};
    std::thread sender([&] { result = SendMessage(w, UM_PACKET + 100, 0, 0); });
    std::thread killer([&] {
        Sleep(50);
        DestroyWindow(w);
    });
    // Nothing matches this filter; the wait ends (WM_NULL) when w is destroyed. The send
    // is either serviced by the wait (NullProc gives 0) or released by the destruction.
    MSG msg;
    ASSERT_TRUE(GetMessage(&msg, w, WM_USER + 1, WM_USER + 1));
    EXPECT_EQ(msg.message, WM_NULL);
    killer.join();
    sender.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_FALSE(IsWindow(w));
    EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)); // posted message and timer gone
}

TEST_F(Messages, EndedThreadReleasesSendersToItsWindows) {
    Watchdog dog;
    std::atomic<HWND> w{nullptr};
    ManualResetEvent created, sending;
    std::thread owner([&] {
        w = CreateWindow(NullProc);
        created.Set();
        sending.Wait(5000);
        Sleep(50);
        // ends without pumping
    });
    ASSERT_TRUE(created.Wait(5000));
    sending.Set();
    EXPECT_EQ(SendMessage(w, UM_PACKET, 0, 0), 0);
    owner.join();
    EXPECT_FALSE(IsWindow(w));
}

TEST_F(Messages, MutualSendsDoNotDeadlock) {
    Watchdog dog;
    std::atomic<HWND> mainWindow{CreateWindow([](HWND, UINT msg, WPARAM wParam, LPARAM) -> LRESULT {
        return msg == WM_USER + 1 ? static_cast<LRESULT>(wParam) * 10 : 0;
    })};
    dog.Guard(mainWindow);
    std::atomic<HWND> workerWindow{nullptr};
    ManualResetEvent ready;
    std::atomic<bool> stop{false};
    static std::atomic<HWND> s_back{nullptr};
    s_back = mainWindow.load();
    std::thread worker([&] {
        workerWindow = CreateWindow([](HWND, UINT msg, WPARAM wParam, LPARAM) -> LRESULT {
            // The worker sends back to the main thread, which is blocked sending to us.
            return msg == WM_USER + 2 ? SendMessage(s_back, WM_USER + 1, wParam + 1, 0) + 1 : 0;
        });
        ready.Set();
        MSG msg;
        while (!stop && GetMessage(&msg, nullptr, 0, 0)) DispatchMessage(&msg);
        DestroyWindow(workerWindow);
    });
    ASSERT_TRUE(ready.Wait(5000));
    dog.Guard(workerWindow);
    EXPECT_EQ(SendMessage(workerWindow, WM_USER + 2, 4, 0), 51);
    stop = true;
    PostMessage(workerWindow, WM_NULL, 0, 0);
    worker.join();
    DestroyWindow(mainWindow);
}

TEST_F(Messages, PostThreadMessageAndWaitMessage) {
    Watchdog dog;
    const uint32_t me = CurrentThreadId();
    EXPECT_NE(me, 0u);
    std::thread poster([me] {
        EXPECT_NE(CurrentThreadId(), me);
        Sleep(30);
        EXPECT_TRUE(PostThreadMessage(me, WM_USER + 9, 1, 2));
    });
    WaitMessage(); // returns for the post (the watchdog's quit would also end it)
    MSG msg;
    ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_USER + 9u);
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_EQ(msg.wParam, 1u);
    poster.join();
    EXPECT_FALSE(PostThreadMessage(0xFFFFFFF0u, WM_USER, 0, 0));

    // A timer ends WaitMessage too.
    WindowGuard w(CreateWindow(NullProc));
    SetTimer(w, 1, 20);
    WaitMessage();
    ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_TIMER);
    KillTimer(w, 1);
}

TEST_F(Messages, MsgWaitForEventServicesSends) {
    Watchdog dog;
    Recorder rec;
    WindowGuard w(CreateWindow(RecordingProc, &rec));
    dog.Guard(w);
    ManualResetEvent readerEnded;
    std::thread reader([&] {
        Sleep(20);
        SendMessage(w, UM_PACKET, 1, 0); // would deadlock a plain Wait on the event
        SendMessage(w, UM_PACKET, 2, 0);
        readerEnded.Set();
    });
    EXPECT_TRUE(MsgWaitForEvent(readerEnded, 5000));
    reader.join();
    EXPECT_EQ(rec.Count(UM_PACKET), 2u);
    ManualResetEvent never;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(MsgWaitForEvent(never, 30));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 29ms);
    // Posted messages stay queued.
    PostMessage(w, WM_USER, 0, 0);
    ManualResetEvent set(true);
    EXPECT_TRUE(MsgWaitForEvent(set));
    Drain();
}

// ---------------------------------------------------------------------------------------------
// Native pump stub: wait() blocks on its own condition variable until woken, until a simulated
// toolkit event is pending, or until the time-out.

namespace {
struct FakePump {
    std::mutex mutex;
    std::condition_variable changed;
    bool woken = false;
    int pendingEvents = 0;
    int waits = 0;
    int wakes = 0;
    int lastTimeout = -2;
    bool sentDuringWaitServiced = false;
};
FakePump *g_pump = nullptr;

bool FakeWait(int timeoutMs) {
    FakePump &p = *g_pump;
    std::unique_lock<std::mutex> lock(p.mutex);
    ++p.waits;
    p.lastTimeout = timeoutMs;
    // Bounded even for -1, so that a broken wake cannot hang the test.
    const auto limit = timeoutMs < 0 ? 5000ms : std::chrono::milliseconds(timeoutMs);
    p.changed.wait_for(lock, limit, [&] { return p.woken || p.pendingEvents > 0; });
    p.woken = false;
    if (p.pendingEvents > 0) {
        p.pendingEvents = 0;
        return true; // "processed toolkit events"
    }
    return false;
}

void FakeWake() {
    FakePump &p = *g_pump;
    std::lock_guard<std::mutex> lock(p.mutex);
    ++p.wakes;
    p.woken = true;
    p.changed.notify_all();
}

struct PumpInstaller {
    FakePump pump;
    PumpInstaller() {
        g_pump = &pump;
        SetNativePump(CurrentThreadId(), NativePump{FakeWait, FakeWake});
    }
    ~PumpInstaller() {
        SetNativePump(CurrentThreadId(), NativePump{});
        g_pump = nullptr;
    }
};
} // namespace

TEST_F(Messages, NativePumpIsWokenByPostFromAnotherThread) {
    Watchdog dog;
    PumpInstaller installer;
    WindowGuard w(CreateWindow(NullProc));
    dog.Guard(w);
    std::thread poster([&] {
        Sleep(50);
        PostMessage(w, WM_USER + 4, 0, 0);
    });
    MSG msg;
    ASSERT_TRUE(GetMessage(&msg, nullptr, 0, 0));
    poster.join();
    EXPECT_EQ(msg.message, WM_USER + 4u);
    std::lock_guard<std::mutex> lock(installer.pump.mutex);
    EXPECT_GE(installer.pump.waits, 1);
    EXPECT_GE(installer.pump.wakes, 1);
    EXPECT_EQ(installer.pump.lastTimeout, -1); // no timer: no limit
}

TEST_F(Messages, NativePumpEventsGiveNullMessageAndTimersBoundTheWait) {
    Watchdog dog;
    PumpInstaller installer;
    WindowGuard w(CreateWindow(NullProc));
    dog.Guard(w);

    // Toolkit events were processed: GetMessage and PeekMessage return WM_NULL.
    {
        std::lock_guard<std::mutex> lock(installer.pump.mutex);
        installer.pump.pendingEvents = 1;
    }
    MSG msg;
    ASSERT_TRUE(GetMessage(&msg, w, 0, 0));
    EXPECT_EQ(msg.message, WM_NULL);
    {
        std::lock_guard<std::mutex> lock(installer.pump.mutex);
        installer.pump.pendingEvents = 1;
    }
    // A range filter does not run toolkit events; an unfiltered peek does.
    EXPECT_FALSE(PeekMessage(&msg, nullptr, WM_USER, WM_USER + 11, PM_REMOVE));
    ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_NULL);
    EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));

    // The wait is bounded by the nearest timer.
    SetTimer(w, 1001, 80);
    const auto start = std::chrono::steady_clock::now();
    do {
        ASSERT_TRUE(GetMessage(&msg, w, 0, 0));
    } while (msg.message != WM_TIMER && !dog.Fired());
    EXPECT_GE(std::chrono::steady_clock::now() - start, 79ms);
    EXPECT_EQ(msg.wParam, 1001u);
    KillTimer(w, 1001);
    std::lock_guard<std::mutex> lock(installer.pump.mutex);
    EXPECT_GT(installer.pump.lastTimeout, 0);
    EXPECT_LE(installer.pump.lastTimeout, 80);
}

TEST_F(Messages, NativePumpWokenBySendWhichIsServiced) {
    Watchdog dog;
    PumpInstaller installer;
    Recorder rec;
    WindowGuard w(CreateWindow(RecordingProc, &rec));
    dog.Guard(w);
    std::atomic<bool> sent{false};
    std::thread reader([&] {
        Sleep(30);
        SendMessage(w, UM_PACKET, 0, 0);
        sent = true;
        PostMessage(w, UM_WAKE, 0, 0);
    });
    MSG msg;
    while (!dog.Fired() && GetMessage(&msg, w, 0, 0) && msg.message != UM_WAKE) {
    }
    reader.join();
    EXPECT_TRUE(sent);
    EXPECT_EQ(rec.Count(UM_PACKET), 1u);
}

// ---------------------------------------------------------------------------------------------

TEST_F(Messages, ManyThreadsSendAndPostToOneWindow) {
    Watchdog dog(20000ms);
    static std::atomic<int> s_handled{0};
    s_handled = 0;
    HWND w = CreateWindow([](HWND, UINT msg, WPARAM wParam, LPARAM) -> LRESULT {
        if (msg == UM_PACKET || msg == WM_USER + 2) {
            ++s_handled;
            return static_cast<LRESULT>(wParam) + 1;
        }
        return 0;
    });
    dog.Guard(w);
    constexpr int kThreads = 3;
    constexpr int kEach = 500;
    std::atomic<int> wrong{0};
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                if (SendMessage(w, UM_PACKET, static_cast<WPARAM>(i), 0) != i + 1) ++wrong;
                PostMessage(w, WM_USER + 2, static_cast<WPARAM>(t), 0);
            }
            ++finished;
            PostMessage(w, UM_WAKE, 0, 0);
        });
    }
    SetTimer(w, 1, 10); // timers keep firing meanwhile
    MSG msg;
    while (!dog.Fired() && (finished < kThreads || s_handled < 2 * kThreads * kEach)) {
        if (!GetMessage(&msg, nullptr, 0, 0)) break;
        DispatchMessage(&msg);
    }
    for (auto &t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(s_handled.load(), 2 * kThreads * kEach);
    DestroyWindow(w);
    Drain();
}
