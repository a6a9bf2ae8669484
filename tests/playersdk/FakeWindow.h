// A window as the player library sees it, recording what the library does to
// it: posted messages and presented pictures, with waits on both.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "player/PlayerSdk.h"

namespace playersdk_test {

struct Posted {
    uint32_t message;
    intptr_t code;
    intptr_t handle;
};

struct Picture {
    int width = 0;
    int height = 0;
    int stride = 0;
    std::vector<uint8_t> pixels;
    // B, G, R of one pixel.
    const uint8_t* At(int x, int y) const { return pixels.data() + static_cast<size_t>(y) * stride + x * 4; }
};

class FakeWindow {
public:
    using Clock = std::chrono::steady_clock;

    FakeWindow(int width, int height) : width_(width), height_(height) {
        window_.context = this;
        window_.post = [](void* self, uint32_t message, intptr_t code, intptr_t handle) {
            static_cast<FakeWindow*>(self)->OnPost(message, code, handle);
        };
        window_.present = [](void* self, const uint8_t* pixels, int w, int h, int stride) {
            static_cast<FakeWindow*>(self)->OnPresent(pixels, w, h, stride);
        };
        window_.area_size = [](void* self, int* w, int* h) {
            auto* me = static_cast<FakeWindow*>(self);
            std::lock_guard lock(me->mutex_);
            *w = me->width_;
            *h = me->height_;
        };
    }
    PlayerWindowHandle Handle() { return &window_; }

    int Presents() const {
        std::lock_guard lock(mutex_);
        return presents_;
    }
    Picture Last() const {
        std::lock_guard lock(mutex_);
        return last_;
    }
    std::vector<Posted> Posts() const {
        std::lock_guard lock(mutex_);
        return posts_;
    }
    int CountEvents(intptr_t code) const {
        std::lock_guard lock(mutex_);
        int n = 0;
        for (const Posted& p : posts_) n += p.code == code ? 1 : 0;
        return n;
    }
    // Waits until at least `count` pictures were presented; false on timeout.
    bool WaitForPresents(int count, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return presents_ >= count; });
    }
    bool WaitForEvents(intptr_t code, int count, std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] {
            int n = 0;
            for (const Posted& p : posts_) n += p.code == code ? 1 : 0;
            return n >= count;
        });
    }
    // Waits for a presented picture that satisfies `accept`.
    bool WaitForPicture(const std::function<bool(const Picture&)>& accept,
                        std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return presents_ > 0 && accept(last_); });
    }
    // Every presented picture is handed to this as well (on the library's thread).
    void OnEachPicture(std::function<void(const Picture&)> observer) {
        std::lock_guard lock(mutex_);
        observer_ = std::move(observer);
    }

private:
    void OnPost(uint32_t message, intptr_t code, intptr_t handle) {
        std::lock_guard lock(mutex_);
        posts_.push_back({message, code, handle});
        changed_.notify_all();
    }
    void OnPresent(const uint8_t* pixels, int w, int h, int stride) {
        std::lock_guard lock(mutex_);
        last_.width = w;
        last_.height = h;
        last_.stride = stride;
        last_.pixels.assign(pixels, pixels + static_cast<size_t>(stride) * h);
        ++presents_;
        if (observer_) observer_(last_);
        changed_.notify_all();
    }

    PlayerWindow window_{};
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int width_, height_;
    int presents_ = 0;
    Picture last_;
    std::vector<Posted> posts_;
    std::function<void(const Picture&)> observer_;
};

}  // namespace playersdk_test
