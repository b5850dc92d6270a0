// A manual-reset event: stays signalled until Reset.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace platform {

class ManualResetEvent {
public:
    explicit ManualResetEvent(bool initiallySet = false) : set_(initiallySet) {}
    ManualResetEvent(const ManualResetEvent &) = delete;
    ManualResetEvent &operator=(const ManualResetEvent &) = delete;

    void Set();
    void Reset();
    bool IsSet() const;
    // Waits until set; timeoutMs < 0 waits without limit. Returns true when set.
    bool Wait(int64_t timeoutMs = -1) const;

    // For waits that watch an event and something else at once (MsgWaitForEvent in
    // Messages.h): notify(context) is called, under the event's lock, each time Set is called
    // while the watcher is registered. notify must not call back into this event. A watcher
    // must be removed before it goes out of scope.
    struct Watcher {
        void (*notify)(void *context) = nullptr;
        void *context = nullptr;
        Watcher *next = nullptr;
    };
    void AddWatcher(Watcher *watcher) const;
    void RemoveWatcher(Watcher *watcher) const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool set_;
    mutable Watcher *watchers_ = nullptr;
};

} // namespace platform
