#include "platform/Event.h"

#include <chrono>

namespace platform {

void ManualResetEvent::Set() {
    std::lock_guard<std::mutex> lock(mutex_);
    set_ = true;
    changed_.notify_all();
    for (Watcher *w = watchers_; w; w = w->next) w->notify(w->context);
}

void ManualResetEvent::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    set_ = false;
}

bool ManualResetEvent::IsSet() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return set_;
}

bool ManualResetEvent::Wait(int64_t timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    // Beyond about 30 years the deadline would overflow the clock: treat it as no limit.
    if (timeoutMs < 0 || timeoutMs > int64_t(1) << 40) {
        changed_.wait(lock, [this] { return set_; });
        return true;
    }
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return set_; });
}

void ManualResetEvent::AddWatcher(Watcher *watcher) const {
    std::lock_guard<std::mutex> lock(mutex_);
    watcher->next = watchers_;
    watchers_ = watcher;
}

void ManualResetEvent::RemoveWatcher(Watcher *watcher) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Watcher **link = &watchers_; *link; link = &(*link)->next) {
        if (*link == watcher) {
            *link = watcher->next;
            watcher->next = nullptr;
            return;
        }
    }
}

} // namespace platform
