// Delivers PLAYER_EVENT_* codes to the window registered for a handle. Events
// raised before a window is registered are kept and delivered, in order, at
// registration, so an event raised between opening a stream and the caller's
// PlayerSetNotifyWindow is not lost.
//
// The window's post is never called with a lock held: one caller at a time
// delivers the queue, in order, with the lock released around each call. When
// SetTarget or Close returns, no call on the window they replaced is running
// or will start.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "player/PlayerSdk.h"

namespace playersdk {

class EventPoster {
public:
    void SetHandle(PlayerHandle handle) {
        std::lock_guard lock(mutex_);
        handle_ = handle;
    }
    // A null window unregisters; later events are kept again.
    void SetTarget(PlayerWindow* window, uint32_t message) {
        std::unique_lock lock(mutex_);
        if (closed_) return;
        PlayerWindow* old = window_;
        window_ = window;
        message_ = message;
        WaitUntilNotPosting(lock, old);
        Deliver(lock);
    }
    void Post(int code) {
        std::unique_lock lock(mutex_);
        if (closed_) return;
        pending_.push_back(code);
        Deliver(lock);
    }
    void Close() {
        std::unique_lock lock(mutex_);
        closed_ = true;
        PlayerWindow* old = window_;
        window_ = nullptr;
        pending_.clear();
        WaitUntilNotPosting(lock, old);
    }

private:
    void Deliver(std::unique_lock<std::mutex>& lock) {
        if (delivering_) return;  // the caller delivering now takes this one too
        delivering_ = true;
        deliverer_ = std::this_thread::get_id();
        while (!pending_.empty() && window_ != nullptr && window_->post != nullptr) {
            int code = pending_.front();
            pending_.pop_front();
            PlayerWindow* window = window_;
            uint32_t message = message_;
            PlayerHandle handle = handle_;
            posting_to_ = window;
            lock.unlock();
            window->post(window->context, message, code, handle);
            lock.lock();
            posting_to_ = nullptr;
            done_.notify_all();
        }
        delivering_ = false;
        done_.notify_all();
    }
    void WaitUntilNotPosting(std::unique_lock<std::mutex>& lock, PlayerWindow* window) {
        if (window == nullptr || deliverer_ == std::this_thread::get_id()) return;
        done_.wait(lock, [&] { return posting_to_ != window; });
    }

    std::mutex mutex_;
    std::condition_variable done_;
    PlayerWindow* window_ = nullptr;
    uint32_t message_ = 0;
    PlayerHandle handle_ = PLAYER_NO_HANDLE;
    std::deque<int> pending_;
    bool closed_ = false;
    bool delivering_ = false;
    std::thread::id deliverer_;
    PlayerWindow* posting_to_ = nullptr;
};

}  // namespace playersdk
