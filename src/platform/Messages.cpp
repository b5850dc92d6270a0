// The message layer: windows, per-thread queues, sent messages, timers and the native pump hook.
//
// Design
// - A window handle is an opaque, never reused number; the live windows are in one global
//   table (handle -> Window). A stale handle is simply not found.
// - Each thread that uses the layer has a ThreadQueue (created on first use, kept alive by the
//   windows that belong to it and by its thread). All of a queue's state is guarded by its
//   mutex; only its own thread waits on its condition variable. Every change another thread
//   makes to a queue bumps its generation, notifies the condition variable when the owner is
//   waiting, and calls the native pump's wake() after the lock is released.
// - A message sent across threads is a SentMessage on the sender's stack, linked into the
//   receiver's sent list. The receiver copies what it needs, runs the procedure without any lock,
//   then completes the message under the sender's lock (done + result). Whoever takes the
//   pointer out of the receiver's lists (the receiver, ReplyMessage, DestroyWindow, thread exit)
//   is the only one allowed to complete it; after completion it is never touched again.
//   While waiting, the sender services messages sent to its own thread, so two threads sending
//   to each other do not deadlock.
// - No lock is held while a window procedure, the native pump or an event watcher runs, and
//   no two queue locks are ever held at once (lock order: event -> queue; window table alone).
// - WM_TIMER and WM_QUIT are never queued: like Win32 they are produced when a message is
//   asked for and nothing else matches (order: posted, quit, timers).

#include "platform/Messages.h"

#include "platform/Clock.h"
#include "platform/Event.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>
#include <vector>

namespace platform {

namespace {

using SteadyClock = std::chrono::steady_clock;
using TimePoint = SteadyClock::time_point;

constexpr UINT kTimerMinimumMs = 10; // USER_TIMER_MINIMUM
constexpr TimePoint kNever = TimePoint::max();

struct ThreadQueue;

struct Window {
    uintptr_t id = 0;
    std::shared_ptr<ThreadQueue> queue; // the owning thread's queue (immutable)
    std::shared_ptr<Window> parent;     // immutable; keeps the ancestors for filtering
    std::atomic<WNDPROC> proc{nullptr};
    std::atomic<void *> userData{nullptr};
    std::atomic<bool> destroying{false}; // DestroyWindow started (WM_DESTROY may be running)
    std::atomic<bool> destroyed{false};  // set under the queue's lock; no new messages or timers

    HWND Handle() const { return reinterpret_cast<HWND>(id); }
};

struct Posted {
    std::shared_ptr<Window> window; // null for a thread message
    MSG msg;
};

struct Timer {
    std::shared_ptr<Window> window;
    UINT_PTR id = 0;
    SteadyClock::duration period{};
    TimePoint due{};
};

struct SentMessage {
    std::shared_ptr<Window> window;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    std::shared_ptr<ThreadQueue> sender;
    // Guarded by sender->mutex.
    LRESULT result = 0;
    bool done = false;
    // Guarded by the receiving queue's mutex: the next message sent to that thread.
    SentMessage *next = nullptr;
};

// The messages sent to a thread and not yet taken, oldest first. The records live on their
// senders' stacks and are linked through them, so a message sent per packet allocates nothing.
class SentQueue {
public:
    bool empty() const { return head_ == nullptr; }
    SentMessage *front() const { return head_; }
    void push_back(SentMessage *message) {
        message->next = nullptr;
        (tail_ != nullptr ? tail_->next : head_) = message;
        tail_ = message;
    }
    void pop_front() {
        head_ = head_->next;
        if (head_ == nullptr) tail_ = nullptr;
    }
    // Unlinks every message for which take(message) is true, in order.
    template <class Predicate> void TakeIf(Predicate take) {
        SentMessage *kept = nullptr;
        for (SentMessage **link = &head_; *link != nullptr;) {
            SentMessage *message = *link;
            if (take(message)) {
                *link = message->next;
            } else {
                kept = message;
                link = &message->next;
            }
        }
        tail_ = kept;
    }

private:
    SentMessage *head_ = nullptr;
    SentMessage *tail_ = nullptr;
};

// A sent message being handled on the receiving thread; a stack (nested handling) whose
// records live on the receiver's stack. sent is null once the sender has been released.
struct InProgress {
    SentMessage *sent = nullptr;
    InProgress *outer = nullptr;
};

struct ThreadQueue {
    uint32_t threadId = 0;

    std::mutex mutex;
    std::condition_variable changed;
    // Everything below is guarded by mutex.
    bool waiting = false; // the owner waits on changed
    uint64_t generation = 0;
    bool alive = true; // false once the thread has ended
    std::list<Posted> posted;
    // Nodes of taken messages, kept for the next posts: a load posts a message or more per
    // packet, and recycling the list's nodes keeps that from allocating each time.
    std::list<Posted> spare;
    static constexpr size_t MaxSpare = 64;
    SentQueue sent;
    InProgress *inProgress = nullptr;
    std::vector<Timer> timers;
    bool quitPending = false;
    int quitCode = 0;
    NativePump pump;
    // WaitMessage returns only for what arrived since the thread last looked at its queue:
    // postCount counts posts and quits, lookedAtPosts is its value at the last look, lastLook
    // the time of it (a timer due after it is new).
    uint64_t postCount = 0;
    uint64_t lookedAtPosts = 0;
    TimePoint lastLook{};
    // WakeThread asked the owner's waits to return and re-check their conditions.
    bool wakePending = false;

    // Call with mutex held whenever the owner looks at its queue.
    void MarkLookedLocked() {
        lookedAtPosts = postCount;
        lastLook = SteadyClock::now();
    }

    // Call with mutex held after any change the owner may be waiting for.
    void SignalLocked() {
        ++generation;
        if (waiting) changed.notify_all();
    }
};

// Process-wide tables, never destroyed (threads may still use them during exit).
struct Globals {
    std::shared_mutex windowsMutex;
    std::unordered_map<uintptr_t, std::shared_ptr<Window>> windows;
    uintptr_t nextWindowId = 0x1000;

    std::mutex threadsMutex;
    std::unordered_map<uint32_t, std::shared_ptr<ThreadQueue>> threads;
    uint32_t nextThreadId = 1;
};

Globals &G() {
    static Globals *globals = new Globals;
    return *globals;
}

void ShutdownQueue(const std::shared_ptr<ThreadQueue> &queue);

struct ThreadHolder {
    std::shared_ptr<ThreadQueue> queue;
    ~ThreadHolder() {
        // A copy: the shutdown must not depend on this thread's storage while it is torn down
        // (mingw-w64's emulated thread-local storage may already be reclaimed around us).
        if (const std::shared_ptr<ThreadQueue> kept = queue) ShutdownQueue(kept);
    }
};

thread_local ThreadHolder t_thread;

ThreadQueue &CurrentQueue() {
    if (!t_thread.queue) {
        auto queue = std::make_shared<ThreadQueue>();
        Globals &g = G();
        std::lock_guard<std::mutex> lock(g.threadsMutex);
        queue->threadId = g.nextThreadId++;
        g.threads.emplace(queue->threadId, queue);
        t_thread.queue = std::move(queue);
    }
    return *t_thread.queue;
}

const std::shared_ptr<ThreadQueue> &CurrentQueueShared() {
    CurrentQueue();
    return t_thread.queue;
}

std::shared_ptr<Window> FindWindow(HWND hwnd) {
    if (!hwnd) return nullptr;
    Globals &g = G();
    std::shared_lock<std::shared_mutex> lock(g.windowsMutex);
    auto it = g.windows.find(reinterpret_cast<uintptr_t>(hwnd));
    return it == g.windows.end() ? nullptr : it->second;
}

std::shared_ptr<ThreadQueue> FindThread(uint32_t threadId) {
    Globals &g = G();
    std::lock_guard<std::mutex> lock(g.threadsMutex);
    auto it = g.threads.find(threadId);
    return it == g.threads.end() ? nullptr : it->second;
}

LRESULT CallProc(const Window &window, UINT msg, WPARAM wParam, LPARAM lParam) {
    WNDPROC proc = window.proc.load(std::memory_order_acquire);
    return proc ? proc(window.Handle(), msg, wParam, lParam) : 0;
}

// Releases a sender. The caller has taken s out of every list, so nobody else completes it.
void Complete(SentMessage *s, LRESULT result) {
    std::shared_ptr<ThreadQueue> sender = s->sender; // s may vanish once done is set
    std::lock_guard<std::mutex> lock(sender->mutex);
    s->result = result;
    s->done = true;
    sender->changed.notify_all();
}

void WakePump(const NativePump &pump) {
    if (pump.wake) pump.wake();
}

// Services one message sent to this thread. Returns false when none was pending.
bool ServiceOneSent(ThreadQueue &q) {
    InProgress record;
    std::shared_ptr<Window> window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    {
        std::lock_guard<std::mutex> lock(q.mutex);
        if (q.sent.empty()) return false;
        SentMessage *s = q.sent.front();
        q.sent.pop_front();
        // Copy now: once another thread releases the sender, s is gone.
        window = s->window;
        message = s->message;
        wParam = s->wParam;
        lParam = s->lParam;
        record.sent = s;
        record.outer = q.inProgress;
        q.inProgress = &record;
    }

    struct Finish {
        ThreadQueue &q;
        InProgress &record;
        LRESULT result = 0;
        ~Finish() {
            SentMessage *s;
            {
                std::lock_guard<std::mutex> lock(q.mutex);
                s = record.sent;
                record.sent = nullptr;
                q.inProgress = record.outer;
            }
            if (s) Complete(s, result);
        }
    } finish{q, record};

    if (!window->destroyed.load(std::memory_order_acquire))
        finish.result = CallProc(*window, message, wParam, lParam);
    return true;
}

bool ServiceAllSent(ThreadQueue &q) {
    bool any = false;
    while (ServiceOneSent(q)) any = true;
    return any;
}

bool WindowMatches(const Window *window, HWND filter) {
    if (!filter) return true;
    for (; window; window = window->parent.get()) {
        if (window->Handle() == filter) return true;
    }
    return false;
}

bool NumberMatches(UINT message, UINT filterMin, UINT filterMax) {
    return (filterMin == 0 && filterMax == 0) || (message >= filterMin && message <= filterMax);
}

// Takes a posted message out of the queue, keeping its node (without its window) for a later post.
void RecycleLocked(ThreadQueue &q, std::list<Posted>::iterator it) {
    if (q.spare.size() >= ThreadQueue::MaxSpare) {
        q.posted.erase(it);
        return;
    }
    it->window.reset();
    q.spare.splice(q.spare.end(), q.posted, it);
}

// Puts a message at the end of the queue, in a recycled node where there is one.
void AppendLocked(ThreadQueue &q, Posted posted) {
    if (q.spare.empty()) {
        q.posted.push_back(std::move(posted));
        return;
    }
    q.spare.front() = std::move(posted);
    q.posted.splice(q.posted.end(), q.spare, q.spare.begin());
}

// Looks for a message matching the filter, in Win32 order: posted, quit, due timers. With
// remove, takes it out (a timer is rescheduled). Otherwise *nextDue receives the earliest
// future deadline of a matching timer (kNever if none).
bool FindMessageLocked(ThreadQueue &q, MSG *msg, HWND hwnd, UINT filterMin, UINT filterMax,
                       bool remove, TimePoint *nextDue) {
    for (auto it = q.posted.begin(); it != q.posted.end(); ++it) {
        if (WindowMatches(it->window.get(), hwnd) &&
            NumberMatches(it->msg.message, filterMin, filterMax)) {
            *msg = it->msg;
            if (remove) RecycleLocked(q, it);
            return true;
        }
    }
    if (q.quitPending) { // whatever the filter, as on Win32
        *msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(q.quitCode), 0, GetTickCount()};
        if (remove) q.quitPending = false;
        return true;
    }
    *nextDue = kNever;
    if (q.timers.empty() || !NumberMatches(WM_TIMER, filterMin, filterMax)) return false;
    const TimePoint now = SteadyClock::now();
    Timer *best = nullptr;
    for (Timer &t : q.timers) {
        if (!WindowMatches(t.window.get(), hwnd)) continue;
        if (t.due <= now) {
            if (!best || t.due < best->due) best = &t;
        } else if (t.due < *nextDue) {
            *nextDue = t.due;
        }
    }
    if (!best) return false;
    *msg = MSG{best->window->Handle(), WM_TIMER, best->id, 0, GetTickCount()};
    if (remove) {
        best->due += best->period;
        if (best->due <= now) // fell behind: one WM_TIMER, not one per missed period
            best->due = now + best->period;
    }
    return true;
}

int TimeoutMs(TimePoint deadline) {
    if (deadline == kNever) return -1;
    const auto left = deadline - SteadyClock::now();
    if (left <= SteadyClock::duration::zero()) return 0;
    // Rounded up, so that the pump never returns before the deadline and spins.
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

// Waits on the queue's condition variable until its generation moves from seen or the
// deadline passes. lock holds q.mutex.
void WaitLocked(ThreadQueue &q, std::unique_lock<std::mutex> &lock, uint64_t seen,
                TimePoint deadline) {
    q.waiting = true;
    auto moved = [&] { return q.generation != seen; };
    if (deadline == kNever)
        q.changed.wait(lock, moved);
    else
        q.changed.wait_until(lock, deadline, moved);
    q.waiting = false;
}

enum class Mode { Get, PeekRemove, PeekKeep };

MSG NullMessage() { return MSG{nullptr, WM_NULL, 0, 0, GetTickCount()}; }

std::atomic<void (*)()> g_filterCheckHook{nullptr};

enum class Taken { Message, None, TimedOut };

// The heart of GetMessage and PeekMessage. Get mode waits (until deadline, kNever: no limit)
// and gives WM_NULL when the filter window is gone, toolkit events were processed or the thread
// was woken; peek modes never wait.
Taken TakeMessage(MSG *out, HWND hwnd, UINT filterMin, UINT filterMax, Mode mode,
                  TimePoint deadline = kNever) {
    ThreadQueue &q = CurrentQueue();
    // Looked up once: whether the window is gone is decided under the queue's lock below, where
    // its destruction is recorded, so a destroy between here and there cannot be missed.
    const std::shared_ptr<Window> filter = hwnd ? FindWindow(hwnd) : nullptr;
    auto giveNull = [&] {
        if (mode != Mode::Get) return Taken::None;
        if (out) *out = NullMessage();
        return Taken::Message;
    };
    if (hwnd && !filter) return giveNull(); // Win32 fails at once for an invalid window (-1)
    MSG msg;
    for (;;) {
        ServiceAllSent(q);
        if (auto hook = g_filterCheckHook.load(std::memory_order_relaxed)) hook();
        std::unique_lock<std::mutex> lock(q.mutex);
        if (!q.sent.empty()) continue; // sent while we looked: service it first
        if (filter && filter->destroyed.load(std::memory_order_relaxed)) return giveNull();
        q.MarkLookedLocked();
        TimePoint nextDue = kNever;
        if (FindMessageLocked(q, &msg, hwnd, filterMin, filterMax, mode != Mode::PeekKeep,
                              &nextDue)) {
            lock.unlock();
            if (out) *out = msg;
            return Taken::Message;
        }
        const NativePump pump = q.pump;
        if (mode != Mode::Get) {
            lock.unlock();
            if (pump.wait && filterMin == 0 && filterMax == 0 && pump.wait(0)) {
                if (out) *out = NullMessage();
                return Taken::Message;
            }
            return Taken::None;
        }
        if (q.wakePending) {
            q.wakePending = false;
            return giveNull();
        }
        if (deadline != kNever && SteadyClock::now() >= deadline) {
            // Even a wait with no time left lets the toolkit's pending events through once.
            lock.unlock();
            if (pump.wait && pump.wait(0)) return giveNull();
            return Taken::TimedOut;
        }
        const TimePoint until = std::min(nextDue, deadline);
        if (pump.wait) {
            lock.unlock();
            if (pump.wait(TimeoutMs(until))) return giveNull();
            continue; // woken or timed out: look again
        }
        WaitLocked(q, lock, q.generation, until);
    }
}

void DiscardLocked(ThreadQueue &q, const Window *window, std::vector<SentMessage *> &release) {
    q.posted.remove_if([window](const Posted &p) { return p.window.get() == window; });
    std::erase_if(q.timers, [window](const Timer &t) { return t.window.get() == window; });
    q.sent.TakeIf([&](SentMessage *s) {
        if (s->window.get() != window) return false;
        release.push_back(s);
        return true;
    });
    for (InProgress *r = q.inProgress; r; r = r->outer) {
        if (r->sent && r->sent->window.get() == window) {
            release.push_back(r->sent);
            r->sent = nullptr;
        }
    }
}

// Takes a window out of the table and its queue; releases its senders with 0. caller is the
// queue of the thread doing it: passed in, because a thread that ends destroys its windows from
// its thread-local storage's destructor, where that storage must not be touched again (mingw-w64
// emulates it, and a second look at it there writes to freed memory).
void FinishDestroy(const std::shared_ptr<Window> &window, const ThreadQueue *caller) {
    {
        Globals &g = G();
        std::unique_lock<std::shared_mutex> lock(g.windowsMutex);
        g.windows.erase(window->id);
    }
    std::vector<SentMessage *> release;
    ThreadQueue &q = *window->queue;
    NativePump pump;
    {
        std::lock_guard<std::mutex> lock(q.mutex);
        window->destroyed.store(true, std::memory_order_release);
        DiscardLocked(q, window.get(), release);
        q.SignalLocked();
        pump = q.pump;
    }
    for (SentMessage *s : release) Complete(s, 0);
    // A GetMessage filtered on this window must return now (see TakeMessage).
    if (caller != &q) WakePump(pump);
}

std::vector<std::shared_ptr<Window>> ChildrenOf(const Window *parent) {
    std::vector<std::shared_ptr<Window>> children;
    Globals &g = G();
    std::shared_lock<std::shared_mutex> lock(g.windowsMutex);
    for (const auto &entry : g.windows) {
        if (entry.second->parent.get() == parent) children.push_back(entry.second);
    }
    return children;
}

void Destroy(const std::shared_ptr<Window> &window, bool notify, const ThreadQueue *caller) {
    if (window->destroying.exchange(true)) return;
    if (notify && caller == window->queue.get()) CallProc(*window, WM_DESTROY, 0, 0);
    for (const auto &child : ChildrenOf(window.get())) Destroy(child, notify, caller);
    FinishDestroy(window, caller);
}

void ShutdownQueue(const std::shared_ptr<ThreadQueue> &queue) {
    std::vector<std::shared_ptr<Window>> owned;
    {
        Globals &g = G();
        std::shared_lock<std::shared_mutex> lock(g.windowsMutex);
        for (const auto &entry : g.windows) {
            if (entry.second->queue == queue) owned.push_back(entry.second);
        }
    }
    for (const auto &window : owned) Destroy(window, false, queue.get());

    std::vector<SentMessage *> release;
    {
        std::lock_guard<std::mutex> lock(queue->mutex);
        queue->alive = false;
        queue->sent.TakeIf([&](SentMessage *s) {
            release.push_back(s);
            return true;
        });
        queue->posted.clear();
        queue->spare.clear();
        queue->timers.clear();
        queue->pump = NativePump{};
    }
    for (SentMessage *s : release) Complete(s, 0);

    Globals &g = G();
    std::lock_guard<std::mutex> lock(g.threadsMutex);
    g.threads.erase(queue->threadId);
}

enum class Repeat : uint8_t { Post, SkipWhenPending };

bool PendingLocked(const ThreadQueue &q, const Window *window, UINT msg) {
    return std::any_of(q.posted.begin(), q.posted.end(), [&](const Posted &p) {
        return p.window.get() == window && p.msg.message == msg;
    });
}

bool PostTo(ThreadQueue &q, const std::shared_ptr<Window> &window, UINT msg, WPARAM wParam,
            LPARAM lParam, Repeat repeat = Repeat::Post) {
    NativePump pump;
    {
        std::lock_guard<std::mutex> lock(q.mutex);
        if (!q.alive || (window && window->destroyed.load(std::memory_order_relaxed))) return false;
        if (repeat == Repeat::SkipWhenPending && PendingLocked(q, window.get(), msg)) return true;
        AppendLocked(q, Posted{window, MSG{window ? window->Handle() : nullptr, msg, wParam, lParam,
                                           GetTickCount()}});
        ++q.postCount;
        q.SignalLocked();
        pump = q.pump;
    }
    WakePump(pump);
    return true;
}

void NotifyQueue(void *context) {
    auto *q = static_cast<ThreadQueue *>(context);
    std::lock_guard<std::mutex> lock(q->mutex);
    q->SignalLocked();
}

} // namespace

HWND CreateWindow(WNDPROC proc, void *userData, HWND parent) {
    auto window = std::make_shared<Window>();
    window->queue = CurrentQueueShared();
    window->parent = FindWindow(parent);
    window->proc.store(proc, std::memory_order_relaxed);
    window->userData.store(userData, std::memory_order_relaxed);
    Globals &g = G();
    std::unique_lock<std::shared_mutex> lock(g.windowsMutex);
    window->id = g.nextWindowId++;
    g.windows.emplace(window->id, window);
    return window->Handle();
}

void DestroyWindow(HWND hwnd) {
    if (auto window = FindWindow(hwnd)) Destroy(window, true, t_thread.queue.get());
}

bool IsWindow(HWND hwnd) { return FindWindow(hwnd) != nullptr; }

void *GetWindowUserData(HWND hwnd) {
    auto window = FindWindow(hwnd);
    return window ? window->userData.load(std::memory_order_acquire) : nullptr;
}

void SetWindowUserData(HWND hwnd, void *userData) {
    if (auto window = FindWindow(hwnd)) window->userData.store(userData, std::memory_order_release);
}

WNDPROC SetWindowProc(HWND hwnd, WNDPROC proc) {
    auto window = FindWindow(hwnd);
    return window ? window->proc.exchange(proc, std::memory_order_acq_rel) : nullptr;
}

WNDPROC GetWindowProc(HWND hwnd) {
    auto window = FindWindow(hwnd);
    return window ? window->proc.load(std::memory_order_acquire) : nullptr;
}

LRESULT CallWindowProc(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return proc ? proc(hwnd, msg, wParam, lParam) : 0;
}

bool PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (!hwnd) return PostTo(CurrentQueue(), nullptr, msg, wParam, lParam);
    auto window = FindWindow(hwnd);
    return window && PostTo(*window->queue, window, msg, wParam, lParam);
}

bool PostMessageUnlessPending(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto window = FindWindow(hwnd);
    return window && PostTo(*window->queue, window, msg, wParam, lParam, Repeat::SkipWhenPending);
}

bool PostThreadMessage(uint32_t threadId, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto queue = FindThread(threadId);
    return queue && PostTo(*queue, nullptr, msg, wParam, lParam);
}

LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto window = FindWindow(hwnd);
    if (!window) return 0;
    const std::shared_ptr<ThreadQueue> &me = CurrentQueueShared();
    if (window->queue == me)
        return window->destroyed.load(std::memory_order_acquire)
                   ? 0
                   : CallProc(*window, msg, wParam, lParam);

    SentMessage sent;
    sent.window = window;
    sent.message = msg;
    sent.wParam = wParam;
    sent.lParam = lParam;
    sent.sender = me;
    ThreadQueue &target = *window->queue;
    NativePump pump;
    {
        std::lock_guard<std::mutex> lock(target.mutex);
        if (!target.alive || window->destroyed.load(std::memory_order_relaxed)) return 0;
        target.sent.push_back(&sent);
        target.SignalLocked();
        pump = target.pump;
    }
    WakePump(pump);

    // Wait, servicing what other threads send to us meanwhile (the target may send back).
    ThreadQueue &q = *me;
    std::unique_lock<std::mutex> lock(q.mutex);
    for (;;) {
        if (sent.done) return sent.result;
        if (!q.sent.empty()) {
            lock.unlock();
            ServiceAllSent(q);
            lock.lock();
            continue;
        }
        q.waiting = true;
        q.changed.wait(lock, [&] { return sent.done || !q.sent.empty(); });
        q.waiting = false;
    }
}

bool ReplyMessage(LRESULT result) {
    ThreadQueue *q = t_thread.queue.get();
    if (!q) return false;
    SentMessage *s;
    {
        std::lock_guard<std::mutex> lock(q->mutex);
        if (!q->inProgress || !q->inProgress->sent) return false;
        s = q->inProgress->sent;
        q->inProgress->sent = nullptr;
    }
    Complete(s, result);
    return true;
}

bool InSendMessage() {
    ThreadQueue *q = t_thread.queue.get();
    if (!q) return false;
    std::lock_guard<std::mutex> lock(q->mutex);
    return q->inProgress != nullptr;
}

uint32_t InSendMessageEx() {
    ThreadQueue *q = t_thread.queue.get();
    if (!q) return ISMEX_NOSEND;
    std::lock_guard<std::mutex> lock(q->mutex);
    if (!q->inProgress) return ISMEX_NOSEND;
    return q->inProgress->sent ? ISMEX_SEND : ISMEX_SEND | ISMEX_REPLIED;
}

bool GetMessage(MSG *msg, HWND hwnd, UINT filterMin, UINT filterMax) {
    MSG taken;
    TakeMessage(&taken, hwnd, filterMin, filterMax, Mode::Get);
    if (msg) *msg = taken;
    return taken.message != WM_QUIT;
}

bool PeekMessage(MSG *msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags) {
    return TakeMessage(msg, hwnd, filterMin, filterMax,
                       (removeFlags & PM_REMOVE) ? Mode::PeekRemove : Mode::PeekKeep) ==
           Taken::Message;
}

GetResult GetMessageTimeout(MSG *msg, HWND hwnd, UINT filterMin, UINT filterMax,
                            int64_t timeoutMs) {
    const bool limited = timeoutMs >= 0 && timeoutMs <= (int64_t(1) << 40);
    const TimePoint deadline =
        limited ? SteadyClock::now() + std::chrono::milliseconds(timeoutMs) : kNever;
    MSG taken;
    if (TakeMessage(&taken, hwnd, filterMin, filterMax, Mode::Get, deadline) == Taken::TimedOut)
        return GetResult::Timeout;
    if (msg) *msg = taken;
    return taken.message == WM_QUIT ? GetResult::Quit : GetResult::Message;
}

void WaitMessage() {
    ThreadQueue &q = CurrentQueue();
    for (;;) {
        if (ServiceAllSent(q)) return;
        std::unique_lock<std::mutex> lock(q.mutex);
        if (!q.sent.empty()) continue;
        // Only what arrived since the last look counts: a message a filtered peek left queued
        // must not make a peek-then-wait loop spin.
        if (q.postCount != q.lookedAtPosts || q.wakePending) {
            q.wakePending = false;
            q.MarkLookedLocked();
            return;
        }
        const TimePoint now = SteadyClock::now();
        TimePoint nextDue = kNever;
        for (const Timer &t : q.timers) {
            if (t.due > q.lastLook) nextDue = std::min(nextDue, t.due);
        }
        if (nextDue != kNever && nextDue <= now) {
            q.MarkLookedLocked();
            return;
        }
        const NativePump pump = q.pump;
        if (pump.wait) {
            lock.unlock();
            if (pump.wait(TimeoutMs(nextDue))) return;
            continue;
        }
        WaitLocked(q, lock, q.generation, nextDue);
    }
}

void RemoveMessages(HWND hwnd, UINT first, UINT last) {
    MSG msg;
    while (PeekMessage(&msg, hwnd, first, last, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
    }
}

void WakeThread(uint32_t threadId) {
    auto queue = FindThread(threadId);
    if (!queue) return;
    NativePump pump;
    {
        std::lock_guard<std::mutex> lock(queue->mutex);
        queue->wakePending = true;
        queue->SignalLocked();
        pump = queue->pump;
    }
    WakePump(pump);
}

namespace testing {
void SetFilterCheckHook(void (*hook)()) {
    g_filterCheckHook.store(hook, std::memory_order_relaxed);
}
} // namespace testing

LRESULT DispatchMessage(const MSG *msg) {
    if (!msg || !msg->hwnd) return 0;
    auto window = FindWindow(msg->hwnd);
    if (!window) return 0;
    return CallProc(*window, msg->message, msg->wParam, msg->lParam);
}

void PostQuitMessage(int exitCode) {
    ThreadQueue &q = CurrentQueue();
    std::lock_guard<std::mutex> lock(q.mutex);
    q.quitPending = true;
    q.quitCode = exitCode;
    ++q.postCount;
    q.SignalLocked();
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs) {
    auto window = FindWindow(hwnd);
    if (!window) return 0;
    const auto period = std::chrono::milliseconds(std::max(elapseMs, kTimerMinimumMs));
    ThreadQueue &q = *window->queue;
    NativePump pump;
    {
        std::lock_guard<std::mutex> lock(q.mutex);
        if (!q.alive || window->destroyed.load(std::memory_order_relaxed)) return 0;
        const TimePoint due = SteadyClock::now() + period;
        auto it = std::find_if(q.timers.begin(), q.timers.end(),
                               [&](const Timer &t) { return t.window == window && t.id == id; });
        if (it != q.timers.end()) {
            it->period = period;
            it->due = due;
        } else {
            q.timers.push_back(Timer{window, id, period, due});
        }
        q.SignalLocked();
        pump = q.pump;
    }
    // A pump waiting without limit (or for a later timer) must learn the new deadline.
    WakePump(pump);
    return id;
}

bool KillTimer(HWND hwnd, UINT_PTR id) {
    auto window = FindWindow(hwnd);
    if (!window) return false;
    ThreadQueue &q = *window->queue;
    std::lock_guard<std::mutex> lock(q.mutex);
    return std::erase_if(q.timers,
                         [&](const Timer &t) { return t.window == window && t.id == id; }) > 0;
}

uint32_t CurrentThreadId() { return CurrentQueue().threadId; }

void SetNativePump(uint32_t threadId, NativePump pump) {
    auto queue = FindThread(threadId);
    if (!queue) return;
    {
        std::lock_guard<std::mutex> lock(queue->mutex);
        queue->pump = pump;
        queue->SignalLocked();
    }
}

void ServiceSentMessages() { ServiceAllSent(CurrentQueue()); }

bool MsgWaitForEvent(const ManualResetEvent &event, int64_t timeoutMs) {
    ThreadQueue &q = CurrentQueue();
    const bool limited = timeoutMs >= 0 && timeoutMs <= (int64_t(1) << 40);
    const TimePoint deadline =
        limited ? SteadyClock::now() + std::chrono::milliseconds(timeoutMs) : kNever;

    ManualResetEvent::Watcher watcher;
    watcher.notify = NotifyQueue;
    watcher.context = &q;
    event.AddWatcher(&watcher);
    struct Unwatch {
        const ManualResetEvent &event;
        ManualResetEvent::Watcher *watcher;
        ~Unwatch() { event.RemoveWatcher(watcher); }
    } unwatch{event, &watcher};

    for (;;) {
        ServiceAllSent(q);
        uint64_t seen;
        {
            std::lock_guard<std::mutex> lock(q.mutex);
            seen = q.generation; // taken before looking at the event: a Set after it moves it
        }
        if (event.IsSet()) return true;
        if (deadline != kNever && SteadyClock::now() >= deadline) return false;
        std::unique_lock<std::mutex> lock(q.mutex);
        if (!q.sent.empty()) continue;
        WaitLocked(q, lock, seen, deadline);
    }
}

} // namespace platform
