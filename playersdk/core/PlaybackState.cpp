#include "core/PlaybackState.h"

#include "core/EngineBounds.h"

namespace playersdk {

double PlaybackState::Speed() const {
    return speed_step_ >= 0 ? double(1 << speed_step_) : 1.0 / (1 << -speed_step_);
}

void PlaybackState::Start() {
    if (started_) return;
    started_ = true;
    if (Seeking()) {
        start_on_landing_ = true;
    } else {
        phase_ = Phase::kStarting;
    }
}

void PlaybackState::Resume() {
    paused_ = false;
    steps_ = 0;
}

void PlaybackState::Step() {
    paused_ = true;
    started_ = true;
    ++steps_;
}

bool PlaybackState::Faster() {
    if (speed_step_ >= kMaxSpeedStep) return false;
    ++speed_step_;
    return true;
}

bool PlaybackState::Slower() {
    if (speed_step_ <= kMinSpeedStep) return false;
    --speed_step_;
    return true;
}

void PlaybackState::RequestSeek(int64_t target_us, bool move_target_only) {
    if (move_target_only) {
        serial_target_us_ = target_us;
    } else {
        seek_pending_ = true;
        seek_target_us_ = target_us;
    }
    phase_ = Phase::kSeeking;
    start_on_landing_ = false;  // the landing waits for the sound instead
    steps_ = 0;
}

int64_t PlaybackState::BeginSeek() {
    seek_pending_ = false;
    ++serial_;
    serial_target_us_ = seek_target_us_;
    serial_exact_ = true;
    return seek_target_us_;
}

void PlaybackState::SeekLanded() {
    phase_ = start_on_landing_ ? Phase::kStarting : Phase::kPlaying;
    start_on_landing_ = false;
}

void PlaybackState::FirstPictureShown() {
    if (phase_ == Phase::kStarting) phase_ = Phase::kPlaying;
}

bool PlaybackState::SettleAtEnd() {
    if (!((Seeking() && !seek_pending_) || Starting())) return false;
    phase_ = Phase::kPlaying;
    start_on_landing_ = false;
    return true;
}

}  // namespace playersdk
