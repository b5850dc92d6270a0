// A window of the test thread. Run(action) posts a message whose handling runs action, so the
// action runs inside the next wait that pumps this thread (a Cancel click, a Disconnect), as a
// click on a real window would.
#pragma once

#include "platform/Messages.h"

#include <atomic>
#include <functional>
#include <utility>

class ActionWindow {
public:
    ActionWindow() : hwnd_(platform::CreateWindow(&ActionWindow::Proc, this)) {}
    ~ActionWindow() { platform::DestroyWindow(hwnd_); }
    ActionWindow(const ActionWindow &) = delete;
    ActionWindow &operator=(const ActionWindow &) = delete;
    platform::HWND Handle() const { return hwnd_; }
    // May be called from another thread: the post orders the action before its handling.
    void Run(std::function<void()> action) {
        action_ = std::move(action);
        platform::PostMessage(hwnd_, RunActionMessage, 0, 0);
    }
    // True once any action has run.
    bool ActionRan() const { return ran_; }

private:
    static constexpr platform::UINT RunActionMessage = platform::WM_USER + 200;

    static platform::LRESULT Proc(platform::HWND hwnd, platform::UINT msg, platform::WPARAM,
                                  platform::LPARAM) {
        auto *self = static_cast<ActionWindow *>(platform::GetWindowUserData(hwnd));
        if (self != nullptr && msg == RunActionMessage && self->action_) {
            self->ran_ = true;
            std::exchange(self->action_, {})();
        }
        return 0;
    }

    std::function<void()> action_;
    std::atomic<bool> ran_{false};
    platform::HWND hwnd_ = nullptr;
};
