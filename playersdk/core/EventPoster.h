// Delivers PLAYER_EVENT_* codes to the window registered for a handle. Events
// raised before a window is registered are kept and delivered, in order, at
// registration, so an event raised between opening a stream and the caller's
// PlayerSetNotifyWindow is not lost. After Close() nothing is posted again.
#pragma once

#include <mutex>
#include <vector>

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
        std::lock_guard lock(mutex_);
        if (closed_) return;
        window_ = window;
        message_ = message;
        if (window_ == nullptr || window_->post == nullptr) return;
        for (int code : pending_) window_->post(window_->context, message_, code, handle_);
        pending_.clear();
    }
    void Post(int code) {
        std::lock_guard lock(mutex_);
        if (closed_) return;
        if (window_ == nullptr || window_->post == nullptr) {
            pending_.push_back(code);
            return;
        }
        window_->post(window_->context, message_, code, handle_);
    }
    void Close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        window_ = nullptr;
        pending_.clear();
    }

private:
    std::mutex mutex_;
    PlayerWindow* window_ = nullptr;
    uint32_t message_ = 0;
    PlayerHandle handle_ = PLAYER_NO_HANDLE;
    std::vector<int> pending_;
    bool closed_ = false;
};

}  // namespace playersdk
