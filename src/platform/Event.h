// A manual-reset event: stays signalled until Reset.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace platform {

class ManualResetEvent {
public:
    explicit ManualResetEvent(bool initiallySet = false) : set_(initiallySet) {}
    void Set();
    void Reset();
    bool IsSet() const;
    // Waits until set; timeoutMs < 0 waits without limit. Returns true when set.
    bool Wait(int64_t timeoutMs = -1) const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool set_;
};

} // namespace platform
