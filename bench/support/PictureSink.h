// What the bench harnesses give libPlayerSDK.so as its window: an in-process
// picture sink of a fixed size (each picture is copied as a window would;
// nothing is drawn on screen) that is also the notify window. It keeps the
// last picture, counts the pictures, hands each with the time it arrived to
// an optional probe (under its lock), notes when the last came, notes
// PLAYER_EVENT_STARTED and PLAYER_EVENT_END, and counts PLAYER_EVENT_BUFFERING.
// The harnesses call the library's C entry points, declared here as well.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "player/PlayerSdk.h"

#define BENCH_DECLARE(number, name, result, params, args) extern "C" result name params;
PLAYER_ENTRY_POINTS(BENCH_DECLARE)
#undef BENCH_DECLARE

namespace bench {

struct PictureSink {
    using Clock = std::chrono::steady_clock;

    PlayerWindow window{};
    const int width;
    const int height;
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::vector<uint8_t> pixels;
    int stride = 0;
    int presents = 0;
    Clock::time_point last_present{};
    bool started = false;
    bool ended = false;
    int bufferings = 0;
    std::function<void(const PictureSink&, Clock::time_point)> probe;

    PictureSink(int area_width, int area_height) : width(area_width), height(area_height) {
        window.context = this;
        window.post = [](void* self, uint32_t, intptr_t code, intptr_t) {
            auto* sink = static_cast<PictureSink*>(self);
            std::lock_guard lock(sink->mutex);
            if (code == PLAYER_EVENT_END)
                sink->ended = true;
            else if (code == PLAYER_EVENT_STARTED)
                sink->started = true;
            else if (code == PLAYER_EVENT_BUFFERING)
                ++sink->bufferings;
            else
                return;
            sink->changed.notify_all();
        };
        window.present = [](void* self, const uint8_t* picture, int, int rows, int row_bytes) {
            const auto now = Clock::now();
            auto* sink = static_cast<PictureSink*>(self);
            std::lock_guard lock(sink->mutex);
            sink->pixels.assign(picture, picture + static_cast<size_t>(row_bytes) * rows);
            sink->stride = row_bytes;
            ++sink->presents;
            sink->last_present = now;
            if (sink->probe) sink->probe(*sink, now);
            sink->changed.notify_all();
        };
        window.area_size = [](void* self, int* w, int* h) {
            const auto* sink = static_cast<const PictureSink*>(self);
            *w = sink->width;
            *h = sink->height;
        };
    }
    PictureSink(const PictureSink&) = delete;
    PictureSink& operator=(const PictureSink&) = delete;

    // Grey level (0..255) at a point of the last picture; under the lock.
    double Grey(int x, int y) const {
        const uint8_t* p = pixels.data() + static_cast<size_t>(y) * stride + x * 4;
        return (p[0] + p[1] + p[2]) / 3.0;
    }
    int Presents() const {
        std::lock_guard lock(mutex);
        return presents;
    }
    bool Ended() const {
        std::lock_guard lock(mutex);
        return ended;
    }
    int Bufferings() const {
        std::lock_guard lock(mutex);
        return bufferings;
    }
    // Waits until the condition (read under the lock) holds; false when the
    // time runs out first. The condition must not call the library.
    template <typename Condition>
    bool Wait(Condition condition, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, condition);
    }
};

}  // namespace bench
