// The engine's side of the entry points: each changes the playback state
// under the player's lock and wakes the threads that act on it.
#include "core/Engine.h"

#include <algorithm>

#include "core/AudioOutput.h"
#include "core/BmpWriter.h"
#include "core/CutRecorder.h"
#include "core/MediaExtent.h"
#include "core/DrivePath.h"
#include "core/EngineBounds.h"
#include "core/Timeline.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace playersdk {

Engine::Engine(std::unique_ptr<MediaInput> input) : input_(std::move(input)) {}

Engine::~Engine() {
    Close();
    cut_.reset();
    av_frame_free(&next_.frame);
    pictures_.Clear();
    video_packets_.Clear();
    sound_packets_.Clear();
    av_frame_free(&shown_);
    avcodec_free_context(&video_decoder_);
    avformat_close_input(&format_);
    if (avio_ != nullptr) {
        av_freep(&avio_->buffer);
        avio_context_free(&avio_);
    }
}

void Engine::SetHandle(PlayerHandle handle) { events_.SetHandle(handle); }

int64_t Engine::QueuedAheadMs() const {
    // Playing needs both: the shallower queue is what is held.
    const int64_t video_us = video_packets_.DurationUs();
    if (audio_stream_ < 0 || SoundSilent()) return video_us / 1000;
    return std::min(video_us, sound_packets_.DurationUs()) / 1000;
}

Player::ReadMark Engine::LastRead() const {
    std::lock_guard lock(read_mark_mutex_);
    return last_read_;
}

void Engine::UpdateClockLocked() {
    const bool running = state_.ClockRuns();
    clock_.SetRunning(running);
    if (audio_) audio_->SetActive(running && SoundWantedLocked());
    presenter_wake_.Ring();
    sound_wake_.Ring();
}

void Engine::AwaitLocked(std::unique_lock<std::mutex>& lock, Wakeup& wakeup, PlaybackClock::WallClock::duration longest) {
    lock.unlock();
    if (longest == PlaybackClock::WallClock::duration::max()) {
        wakeup.Wait();
    } else {
        wakeup.WaitFor(longest);
    }
    lock.lock();
}

bool Engine::Play(PlayerWindow* window) {
    bool fixed;
    {
        std::lock_guard lock(mutex_);
        if (state_.Closed()) return false;
        fixed = state_.WindowFixed();
    }
    if (!fixed) {
        if (window == nullptr) return false;
        // Once this returns the previous window is not called again.
        window_.Set(window);
    }
    std::lock_guard lock(mutex_);
    if (state_.Closed()) return false;
    if (!fixed) state_.Start();
    if (state_.Ended()) RequestSeekLocked(0);  // played to the end: again from the start
    state_.Resume();
    UpdateClockLocked();
    return true;
}

void Engine::AttachPictureWindow(PlayerWindow* window) {
    window_.Set(window);
    std::lock_guard lock(mutex_);
    state_.FixWindow();
}

void Engine::Start() {
    std::lock_guard lock(mutex_);
    state_.Start();
    UpdateClockLocked();
}

void Engine::SetBuffering(bool buffering) {
    std::lock_guard lock(mutex_);
    state_.SetBuffering(buffering);
    UpdateClockLocked();
}

bool Engine::Pause() {
    std::lock_guard lock(mutex_);
    state_.Pause();
    UpdateClockLocked();
    return true;
}

bool Engine::StepFrame() {
    std::lock_guard lock(mutex_);
    if (state_.Ended() || state_.Closed()) return false;
    state_.Step();
    UpdateClockLocked();
    return true;
}

bool Engine::Faster() { return ChangeSpeed(&PlaybackState::Faster); }

bool Engine::Slower() { return ChangeSpeed(&PlaybackState::Slower); }

bool Engine::ChangeSpeed(bool (PlaybackState::*step)()) {
    std::lock_guard lock(mutex_);
    if (!(state_.*step)()) return false;
    clock_.SetSpeed(state_.Speed());
    UpdateClockLocked();
    return true;
}

bool Engine::SeekToMs(uint32_t ms) {
    if (!seekable_ || ms > total_ms_) return false;
    std::lock_guard lock(mutex_);
    if (state_.Closed()) return false;
    RequestSeekLocked(static_cast<int64_t>(ms) * 1000);
    return true;
}

bool Engine::SeekToRatio(float ratio) {
    if (!(ratio >= 0.0f && ratio <= 1.0f)) return false;
    return SeekToMs(static_cast<uint32_t>(static_cast<double>(ratio) * total_ms_));
}

double Engine::Speed() const {
    std::lock_guard lock(mutex_);
    return state_.Speed();
}

bool Engine::Paused() const {
    std::lock_guard lock(mutex_);
    return state_.Paused();
}

uint32_t Engine::PlayMs() const {
    return static_cast<uint32_t>(std::clamp<int64_t>(shown_us_ / 1000, 0, UINT32_MAX));
}

bool Engine::SoundOn() {
    if (!HasAudio()) return false;
    std::lock_guard lock(mutex_);
    if (state_.Closed()) return false;
    if (!audio_ && SoundDeviceAvailable()) {
        const AVCodecParameters* sound = format_->streams[audio_stream_]->codecpar;
        audio_ = AudioOutput::Create(sound->sample_rate, std::clamp(sound->ch_layout.nb_channels, 1, 2), &clock_);
        if (audio_) audio_->Flush(state_.Serial());
    }
    state_.SetSoundOn(true);
    UpdateClockLocked();
    return true;
}

bool Engine::SoundOff() {
    if (!HasAudio()) return false;
    std::lock_guard lock(mutex_);
    state_.SetSoundOn(false);
    if (audio_) audio_->Flush(state_.Serial());
    UpdateClockLocked();
    return true;
}

bool Engine::Snapshot(const std::string& path) {
    AVFrame* picture = av_frame_alloc();
    if (picture == nullptr) return false;
    {
        std::lock_guard lock(shown_mutex_);
        if (shown_ != nullptr && shown_->buf[0] != nullptr) av_frame_ref(picture, shown_);
    }
    bool ok = false;
    if (picture->buf[0] != nullptr) {
        std::vector<uint8_t> bmp;
        ok = EncodeBmp24(picture, &bmp) && SaveBmpFile(MapDrivePath(path), bmp);
    }
    av_frame_free(&picture);
    return ok;
}

bool Engine::StartCut(const std::string& path) { return cut_->Start(path, shown_us_); }

bool Engine::StopCut() { return cut_->Stop(); }

void Engine::Close() {
    std::lock_guard close_lock(close_mutex_);
    {
        std::lock_guard lock(mutex_);
        if (state_.Closed()) return;
        state_.Close();
        quit_ = true;
    }
    video_packets_.Abort();
    sound_packets_.Abort();
    pictures_.Abort();
    reader_wake_.Ring();
    events_.Close();
    input_->Interrupt();
    for (std::thread* thread : {&reader_, &video_, &sound_, &presenter_}) {
        if (thread->joinable()) thread->join();
    }
    std::unique_ptr<AudioOutput> audio;
    {
        std::lock_guard lock(mutex_);
        audio = std::move(audio_);
    }
    audio.reset();  // closes the device, waiting for its callback, with no lock held
    if (cut_) cut_->Stop();
    window_.Set(nullptr);
}

}  // namespace playersdk
