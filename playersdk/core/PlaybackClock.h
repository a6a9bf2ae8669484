// The media clock that pictures and sound are timed against: media time in
// microseconds that advances with the wall clock times the speed while it
// runs, and stands still while it is held. While sound plays, the sound
// device's callback re-anchors it to what is being heard (Anchor), so that
// sound is the master and pictures follow it.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

namespace playersdk {

class PlaybackClock {
public:
    using WallClock = std::chrono::steady_clock;

    int64_t NowUs() const {
        std::lock_guard lock(mutex_);
        return NowLocked();
    }
    void Set(int64_t media_us) {
        std::lock_guard lock(mutex_);
        base_us_ = media_us;
        base_wall_ = WallClock::now();
    }
    void SetRunning(bool running) {
        std::lock_guard lock(mutex_);
        if (running == running_) return;
        base_us_ = NowLocked();
        base_wall_ = WallClock::now();
        running_ = running;
    }
    void SetSpeed(double speed) {
        std::lock_guard lock(mutex_);
        base_us_ = NowLocked();
        base_wall_ = WallClock::now();
        speed_ = speed;
    }
    // Says that media_us is heard at wall time `at`; the clock follows when it
    // is more than tolerance_us away. Ignored while the clock is held.
    void Anchor(int64_t media_us, WallClock::time_point at, int64_t tolerance_us) {
        std::lock_guard lock(mutex_);
        if (!running_) return;
        double elapsed = std::chrono::duration<double, std::micro>(at - base_wall_).count();
        int64_t now_at = base_us_ + static_cast<int64_t>(elapsed * speed_);
        if (now_at - media_us > tolerance_us || media_us - now_at > tolerance_us) {
            base_us_ = media_us;
            base_wall_ = at;
        }
    }
    double Speed() const {
        std::lock_guard lock(mutex_);
        return speed_;
    }
    bool Running() const {
        std::lock_guard lock(mutex_);
        return running_;
    }
    // Wall time until the clock reaches media_us (zero when it has).
    WallClock::duration WallUntil(int64_t media_us) const {
        std::lock_guard lock(mutex_);
        int64_t ahead = media_us - NowLocked();
        if (ahead <= 0) return WallClock::duration::zero();
        if (!running_) return std::chrono::hours(1);
        return std::chrono::duration_cast<WallClock::duration>(
            std::chrono::duration<double, std::micro>(static_cast<double>(ahead) / speed_));
    }

private:
    int64_t NowLocked() const {
        if (!running_) return base_us_;
        double elapsed = std::chrono::duration<double, std::micro>(WallClock::now() - base_wall_).count();
        return base_us_ + static_cast<int64_t>(elapsed * speed_);
    }

    mutable std::mutex mutex_;
    int64_t base_us_ = 0;
    WallClock::time_point base_wall_ = WallClock::now();
    bool running_ = false;
    double speed_ = 1.0;
};

}  // namespace playersdk
