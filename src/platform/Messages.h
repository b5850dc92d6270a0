// Window messages, window procedures and timers: the small message system the rest of Tarnwick
// is written against, with the semantics of the Win32 calls of the same names.
//
// Every window belongs to the thread that created it; each thread has its own message queue.
// Posted messages wait in the queue of the window's thread; a message sent from another thread
// waits in that thread's sent-message list and is serviced whenever the owning thread pumps
// (GetMessage, PeekMessage, WaitMessage, or the native pump of the GUI toolkit), while the
// sender blocks until it is handled or released by ReplyMessage. A message sent on the window's
// own thread is a direct call of its procedure.
//
// Thread-safe: every function may be called from any thread unless its comment says otherwise.
#pragma once

#include <cstdint>

namespace platform {

class ManualResetEvent;
struct WindowObject;
using HWND = WindowObject *;
using UINT = uint32_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using UINT_PTR = uintptr_t;

// A window procedure. Plain function pointers (as on Win32) so that a saved procedure can be
// compared with a hook; per-window state lives in the window's user data.
using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

struct MSG {
    HWND hwnd = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    uint32_t time = 0;
};

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUERYENDSESSION = 0x0011;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_DROPFILES = 0x0233;
constexpr UINT WM_USER = 0x0400;

constexpr UINT PM_NOREMOVE = 0x0000;
constexpr UINT PM_REMOVE = 0x0001;

// Creates a window owned by the calling thread. parent may be null; a filtered GetMessage or
// PeekMessage on a window also takes the messages of its children (and their children).
// Handles are never reused within a process.
HWND CreateWindow(WNDPROC proc, void *userData = nullptr, HWND parent = nullptr);
// Destroys a window: its pending posted messages and timers are discarded; senders blocked on
// it are released with 0. Later calls with the handle are ignored (IsWindow gives false).
// Called on the window's own thread, the procedure first receives WM_DESTROY (the window is
// still valid then), like Win32. Its child windows are destroyed with it. The windows of a
// thread that ends are destroyed (without WM_DESTROY), releasing their blocked senders.
void DestroyWindow(HWND hwnd);
bool IsWindow(HWND hwnd);

void *GetWindowUserData(HWND hwnd);
void SetWindowUserData(HWND hwnd, void *userData);
// Replaces the window procedure and returns the previous one (null for an invalid window).
WNDPROC SetWindowProc(HWND hwnd, WNDPROC proc);
WNDPROC GetWindowProc(HWND hwnd);
LRESULT CallWindowProc(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Queues a message for the window's thread. hwnd null posts a thread message to the calling
// thread's own queue. Returns false for a destroyed window.
bool PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// As PostMessage, but nothing is queued when the same message for the same window is already
// waiting: for a wake-up, which needs to be there once however often it is asked for while the
// thread is busy. Returns true when the message is waiting either way.
bool PostMessageUnlessPending(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Posts a thread message to the queue of the thread with the given id (see CurrentThreadId).
bool PostThreadMessage(uint32_t threadId, UINT msg, WPARAM wParam, LPARAM lParam);
// Same thread: calls the window procedure directly. Other thread: queues the message and blocks
// until the window's thread has handled it (or called ReplyMessage); returns its result.
// Returns 0 at once for a destroyed window, and when the window is destroyed meanwhile.
LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// While handling a message sent from another thread: release the sender now with result.
// Returns false when the message being handled was not sent from another thread.
bool ReplyMessage(LRESULT result);
// True while the calling thread handles a message sent from another thread.
bool InSendMessage();
// How the message the calling thread handles now came, as Win32's InSendMessageEx: ISMEX_SEND
// for one sent from another thread, with ISMEX_REPLIED once its sender has been released
// (ReplyMessage, a destroyed window); ISMEX_NOSEND otherwise.
constexpr uint32_t ISMEX_NOSEND = 0x0;
constexpr uint32_t ISMEX_SEND = 0x1;
constexpr uint32_t ISMEX_REPLIED = 0x8;
uint32_t InSendMessageEx();

// Waits for a message for hwnd (and its children; null: any message of this thread) whose
// number lies in [filterMin, filterMax] (both 0: any number). Sent messages from other
// threads are serviced while waiting, whatever the filter. Returns false for WM_QUIT (the
// message is removed and returned in msg), true otherwise. WM_TIMER comes only when no other
// matching message is queued. When the native pump has processed toolkit events, returns true
// with msg->message == WM_NULL so that the caller can re-check its own conditions.
// The quit of PostQuitMessage comes whatever the filter, once no matching posted message is
// left (before timers), as on Win32. A filter window that does not exist or is destroyed
// during the wait gives WM_NULL at once (where Win32 returns -1).
bool GetMessage(MSG *msg, HWND hwnd, UINT filterMin, UINT filterMax);
// GetMessage that gives up after timeoutMs milliseconds (< 0: no limit): Timeout leaves msg
// untouched. Also returns (Message with WM_NULL) when another thread called WakeThread for this
// thread, so that a wait re-checks a flag that changed without a message behind it.
enum class GetResult { Message, Quit, Timeout };
GetResult GetMessageTimeout(MSG *msg, HWND hwnd, UINT filterMin, UINT filterMax, int64_t timeoutMs);
// Like GetMessage without waiting: true when a message was found (removed with PM_REMOVE).
// Services pending sent messages first. When no message matches, the filter takes every
// message number (filterMin and filterMax both 0) and a native pump is installed, pending
// toolkit events are processed (wait(0)); if there were any, returns true with WM_NULL. A
// number-range filter (e.g. WM_USER..WM_USER+11) never processes toolkit events, as a Win32
// PeekMessage with such a range never takes input messages.
bool PeekMessage(MSG *msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags);
// Blocks until something new arrives in the calling thread's queue (a post, a sent message, a
// timer falling due, a WakeThread) or the native pump has processed toolkit events. New means
// since the thread last looked at its queue with GetMessage, PeekMessage or WaitMessage, as on
// Win32: a message a filtered PeekMessage left queued does not make it return, so a
// peek-then-wait loop sleeps, and a post between the peek and the wait is not lost.
void WaitMessage();
// Makes the waits of the thread with the given id return now (GetMessage with WM_NULL,
// WaitMessage) without queuing anything. Any thread.
void WakeThread(uint32_t threadId);
// Removes the queued messages of window hwnd (and its children; null: every window) whose number
// lies in [first, last]. A quit comes out whatever the filter; it is not the caller's to take, so
// it is posted again for the loop that owns the thread.
void RemoveMessages(HWND hwnd, UINT first, UINT last);
// Calls the procedure of msg->hwnd (WM_TIMER: the window's procedure with the timer id in
// wParam). Thread messages (hwnd null) are not dispatched; returns 0.
LRESULT DispatchMessage(const MSG *msg);
inline void TranslateMessage(const MSG *) {}
// Posts WM_QUIT (wParam = exitCode) to the calling thread; it is delivered only after every
// other queued message, like Win32.
void PostQuitMessage(int exitCode);

// Starts or restarts a timer for the window (owned by the calling thread); WM_TIMER with
// wParam = id arrives every elapseMs milliseconds while the thread pumps. Returns id, or 0 for
// an invalid window. KillTimer stops it and removes a WM_TIMER of it not yet taken.
// Like Win32, periods below 10 ms count as 10 ms, and a timer that fell behind delivers one
// WM_TIMER, not one per missed period.
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs);
bool KillTimer(HWND hwnd, UINT_PTR id);

// A small id of the calling thread, for PostThreadMessage and diagnostics.
uint32_t CurrentThreadId();

// The GUI toolkit's own event loop, plugged under ours (set by src/toolkit).
// wait(timeoutMs): process toolkit events, blocking at most timeoutMs (-1: no limit) until at
// least one event was processed or wake() was called; returns true when toolkit events were
// processed. wake(): may be called from any thread; makes a running or next wait() return.
struct NativePump {
    bool (*wait)(int timeoutMs) = nullptr;
    void (*wake)() = nullptr;
};
// Installs (or with a default NativePump removes) the native pump used by the calling thread.
void SetNativePump(uint32_t threadId, NativePump pump);
// Services every message sent to the calling thread from another thread; the toolkit calls it
// from its wake event so that sends are handled inside toolkit loops too (e.g. QDialog::exec).
void ServiceSentMessages();

// Waits until the event is set (timeoutMs < 0: no limit) while servicing the messages sent to
// the calling thread from other threads, like Win32 MsgWaitForMultipleObjects with
// QS_SENDMESSAGE. Use it on the user-interface thread to wait for a reader thread to end: the
// reader may be blocked in a SendMessage to this thread. Posted messages stay queued and no
// toolkit events are processed. Returns true when the event is set.
bool MsgWaitForEvent(const ManualResetEvent &event, int64_t timeoutMs = -1);

namespace testing {
// Runs hook in every GetMessage/PeekMessage between the lookup of the filter window and the
// taking of the queue's lock: lets a test destroy the window exactly there. Null removes it.
void SetFilterCheckHook(void (*hook)());
} // namespace testing

} // namespace platform
