// The presenting thread: takes each picture when the clock reaches its time
// and presents it; shows a seek's landing and the first picture at once, and
// posts the end.
#include <algorithm>

#include "core/AudioOutput.h"
#include "core/EngineBounds.h"
#include "core/Engine.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace playersdk {

using Wall = PlaybackClock::WallClock;


// Makes next_ the next picture of the current serial; false when none is decoded.
bool Engine::TakeNextLocked() {
    for (;;) {
        if (has_next_) {
            // Pictures decoded before a step to 8x or faster may be other than
            // key frames: they are dropped like those the decoder now skips.
            const bool skipped_by_speed = state_.SpeedStep() >= kKeyFramesOnlyStep && next_.frame != nullptr &&
                                          !next_.frame->key_frame;
            // While a seek is under way only its preview and the picture it
            // lands on are shown: pictures decoded before a seek ahead that
            // decodes on (all before its target) are passed over.
            const bool before_landing = state_.Seeking() && next_.frame != nullptr && !next_.preview && !next_.landing;
            if (next_.serial == state_.Serial() && !(next_.preview && state_.SeekPending()) && !skipped_by_speed &&
                !before_landing) {
                return true;
            }
            av_frame_free(&next_.frame);
            has_next_ = false;
        }
        if (!pictures_.Pop(&next_)) return false;
        has_next_ = true;
    }
}

void Engine::PreRender(QueuedPicture& picture) {
    window_.With([&](PlayerWindow* window) {
        if (window->area_size == nullptr) return;
        int width = 0, height = 0;
        window->area_size(window->context, &width, &height);
        rendered_id_ = scaler_.Render(picture.frame, width, height) ? picture.id : 0;
        rendered_for_ = window;
    });
}

// Presents next_ and makes it the picture on screen.
void Engine::Show(QueuedPicture& picture) {
    // The play time is the picture's before the window can see the picture.
    if (!picture.preview) {
        shown_us_ = std::max<int64_t>(0, picture.time_us);
        last_end_us_ = picture.time_us + picture.duration_us;
    }
    // ...and the picture a snapshot takes, so that a snapshot taken once the
    // window has it is of that picture.
    {
        std::lock_guard lock(shown_mutex_);
        av_frame_unref(shown_);
        av_frame_ref(shown_, picture.frame);
    }
    window_.With([&](PlayerWindow* window) {
        if (rendered_id_ != picture.id || rendered_for_ != window) {
            rendered_id_ = 0;
            if (window->area_size != nullptr) {
                int width = 0, height = 0;
                window->area_size(window->context, &width, &height);
                if (scaler_.Render(picture.frame, width, height)) rendered_id_ = picture.id;
            }
            rendered_for_ = window;
        }
        if (rendered_id_ == picture.id && window->present != nullptr) {
            window->present(window->context, scaler_.Pixels(), scaler_.Width(), scaler_.Height(), scaler_.Stride());
        }
    });
    last_present_ = Wall::now();
    av_frame_free(&picture.frame);
    has_next_ = false;
}

bool Engine::SoundReadyLocked() const {
    if (!SoundWantedLocked()) return true;
    return audio_->HasSound(state_.Serial()) || sound_packets_.Finished() || SoundSilent();
}

int Engine::ShowAndAwaitSoundLocked(std::unique_lock<std::mutex>& lock, QueuedPicture& picture) {
    const int serial = state_.Serial();
    lock.unlock();
    Show(picture);
    lock.lock();
    const auto deadline = Wall::now() + kSoundReadyWait;
    while (!quit_ && serial == state_.Serial() && !state_.SeekPending() && !state_.Paused() && !SoundReadyLocked() &&
           Wall::now() < deadline) {
        AwaitLocked(lock, presenter_wake_, kSoundReadyPoll);
    }
    return serial;
}

bool Engine::InputStarvedLocked() const {
    return !video_packets_.EndMarked() && video_packets_.Empty() && input_->AwaitingGrowth();
}

bool Engine::EndReachedLocked() const {
    if (clock_.NowUs() < last_end_us_) return false;
    return !SoundWantedLocked() || (sound_packets_.Empty() && audio_->Drained());
}

void Engine::PresentLoop() {
    std::unique_lock lock(mutex_);
    while (!quit_) {
        if (!state_.Started() || !TakeNextLocked()) {
            if (!state_.ClockRuns()) {
                AwaitLocked(lock, presenter_wake_);
                continue;
            }
            // Playing with nothing to show: once the picture on screen has
            // had its time, a file still being written holds the clock until
            // more of it comes, so that what comes is not late.
            const auto on_screen_for = clock_.WallUntil(last_end_us_);
            if (on_screen_for <= Wall::duration::zero() && InputStarvedLocked()) {
                state_.SetStarved(true);
                UpdateClockLocked();
                continue;
            }
            AwaitLocked(lock, presenter_wake_, std::clamp<Wall::duration>(on_screen_for, kEndPoll, kLongestPresenterSleep));
            continue;
        }
        if (state_.Starved()) {
            state_.SetStarved(false);
            UpdateClockLocked();
        }
        QueuedPicture& picture = next_;
        if (picture.frame == nullptr) {
            // Every picture is out: the end comes once the last one has had
            // its time and the sound has drained.
            if (state_.SettleAtEnd()) UpdateClockLocked();  // a seek past the last picture, or nothing to show
            if (state_.Ended() || state_.Paused() || state_.Buffering() || state_.Seeking()) {
                AwaitLocked(lock, presenter_wake_);
                continue;
            }
            if (EndReachedLocked()) {
                state_.End();
                UpdateClockLocked();
                lock.unlock();
                events_.Post(PLAYER_EVENT_END);
                lock.lock();
                continue;
            }
            AwaitLocked(lock, presenter_wake_, kEndPoll);
            continue;
        }
        if (picture.preview) {
            lock.unlock();
            Show(picture);
            lock.lock();
            continue;
        }
        if (state_.Seeking()) {
            if (state_.SeekPending()) {
                AwaitLocked(lock, presenter_wake_);
                continue;
            }
            // The picture at the target: shown at once; the clock starts from
            // the target with the sound there.
            const int64_t target = state_.SerialTargetUs();
            if (state_.Paused()) {
                // Nothing to wait for: landed as the picture goes to the
                // window, so that a seek asked once it is there goes on from it.
                state_.SeekLanded();
                clock_.Set(target);
                UpdateClockLocked();
                lock.unlock();
                Show(picture);
                lock.lock();
                continue;
            }
            const int serial = ShowAndAwaitSoundLocked(lock, picture);
            if (serial == state_.Serial() && !state_.SeekPending()) {
                state_.SeekLanded();
                clock_.Set(target);
                UpdateClockLocked();
            }
            continue;
        }
        if (state_.phase() == Phase::kStarting) {
            // The first picture: shown at once, the clock starts with its sound
            // (the first change of speed may still be loading the stretcher).
            ShowAndAwaitSoundLocked(lock, picture);
            state_.FirstPictureShown();
            UpdateClockLocked();
            continue;
        }
        if (state_.Steps() > 0) {
            state_.StepShown();
            lock.unlock();
            Show(picture);
            clock_.Set(shown_us_);
            lock.lock();
            continue;
        }
        const bool held = state_.Paused() || state_.Buffering() || state_.Ended();
        const auto wait = held ? Wall::duration::max() : clock_.WallUntil(picture.time_us);
        if (wait > Wall::duration::zero()) {
            if (rendered_id_ != picture.id) {
                lock.unlock();
                PreRender(picture);
                lock.lock();
            } else if (held) {
                AwaitLocked(lock, presenter_wake_);
            } else {
                // Until the picture is due: whatever changes the clock but
                // the sound's small re-anchoring wakes this thread.
                AwaitLocked(lock, presenter_wake_, std::min<Wall::duration>(wait, kLongestPresenterSleep));
            }
            continue;
        }
        // Due. Dropped when the picture after it is due too, unless nothing
        // has been shown for a while.
        bool late = false;
        if (const std::optional<QueuedPicture> following = pictures_.Front()) {
            late = following->frame != nullptr && !following->preview && following->serial == picture.serial &&
                   clock_.NowUs() >= following->time_us && Wall::now() - last_present_ < kLongestWithoutPicture;
        }
        if (late) {
            last_end_us_ = picture.time_us + picture.duration_us;
            av_frame_free(&picture.frame);
            has_next_ = false;
            continue;
        }
        lock.unlock();
        Show(picture);
        lock.lock();
    }
}

}  // namespace playersdk
