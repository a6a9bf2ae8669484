// The picture window of a player, as its presenting thread reaches it. The
// window's functions are called with no lock held; Set waits for a call in
// progress on the window it replaces, so that once Set returns the old window
// is never called again.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "player/PlayerSdk.h"

namespace playersdk {

class WindowGate {
public:
    void Set(PlayerWindow* window) {
        std::unique_lock lock(mutex_);
        window_ = window;
        if (user_ == std::this_thread::get_id()) return;  // called from within a use
        idle_.wait(lock, [&] { return in_use_ == nullptr || in_use_ == window_; });
    }
    PlayerWindow* Get() const {
        std::lock_guard lock(mutex_);
        return window_;
    }
    // Runs use(window) on the current window; false when there is none.
    template <typename Use>
    bool With(Use&& use) {
        std::unique_lock lock(mutex_);
        PlayerWindow* window = window_;
        if (window == nullptr) return false;
        in_use_ = window;
        user_ = std::this_thread::get_id();
        lock.unlock();
        use(window);
        lock.lock();
        in_use_ = nullptr;
        user_ = std::thread::id();
        idle_.notify_all();
        return true;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable idle_;
    PlayerWindow* window_ = nullptr;
    PlayerWindow* in_use_ = nullptr;
    std::thread::id user_;
};

}  // namespace playersdk
