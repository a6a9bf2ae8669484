// The entry points, each handed on to the engine.
#include "core/Player.h"

#include "core/Engine.h"

namespace playersdk {

Player::Player(std::unique_ptr<Engine> engine) : engine_(std::move(engine)) {}

Player::~Player() = default;

std::shared_ptr<Player> Player::Open(std::unique_ptr<MediaInput> input, std::string* why) {
    std::unique_ptr<Engine> engine = Engine::Open(std::move(input), why);
    if (!engine) return nullptr;
    return std::shared_ptr<Player>(new Player(std::move(engine)));
}

<<<<<<< HEAD
void Player::SetHandle(PlayerHandle handle) { events_.SetHandle(handle); }

int64_t Player::QueuedAheadMs() const {
    std::lock_guard lock(mutex_);
    // Playing needs both: the shallower queue is what is held.
    const PacketQueue& shallower = audio_stream_ >= 0 && !SoundSilentLocked() &&
                                           sound_packets_.DurationUs() < video_packets_.DurationUs()
                                     ? sound_packets_
                                     : video_packets_;
    return shallower.DurationUs() / 1000;
}

Player::ReadMark Player::LastRead() const {
    std::lock_guard lock(mutex_);
    return last_read_;
}

void Player::UpdateClockLocked() {
    const bool running = state_.ClockRuns();
    clock_.SetRunning(running);
    if (audio_) audio_->SetActive(running && SoundWantedLocked());
    presenter_wake_.notify_all();
    sound_wake_.notify_all();
}

bool Player::Play(PlayerWindow* window) {
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

void Player::AttachPictureWindow(PlayerWindow* window) {
    window_.Set(window);
    std::lock_guard lock(mutex_);
    state_.FixWindow();
}

void Player::Start() {
    std::lock_guard lock(mutex_);
    state_.Start();
    UpdateClockLocked();
}

void Player::SetBuffering(bool buffering) {
    std::lock_guard lock(mutex_);
    state_.SetBuffering(buffering);
    UpdateClockLocked();
}

bool Player::Pause() {
    std::lock_guard lock(mutex_);
    state_.Pause();
    UpdateClockLocked();
    return true;
}

bool Player::StepFrame() {
    std::lock_guard lock(mutex_);
    if (state_.Ended() || state_.Closed()) return false;
    state_.Step();
    UpdateClockLocked();
    return true;
}

bool Player::Faster() {
    std::lock_guard lock(mutex_);
    if (!state_.Faster()) return false;
    clock_.SetSpeed(state_.Speed());
    UpdateClockLocked();
    return true;
}

bool Player::Slower() {
    std::lock_guard lock(mutex_);
    if (!state_.Slower()) return false;
    clock_.SetSpeed(state_.Speed());
    UpdateClockLocked();
    return true;
}

bool Player::SeekToMs(uint32_t ms) {
    if (!seekable_ || ms > total_ms_) return false;
    std::lock_guard lock(mutex_);
    if (state_.Closed()) return false;
    RequestSeekLocked(static_cast<int64_t>(ms) * 1000);
    return true;
}

bool Player::SeekToRatio(float ratio) {
    if (!(ratio >= 0.0f && ratio <= 1.0f)) return false;
    return SeekToMs(static_cast<uint32_t>(static_cast<double>(ratio) * total_ms_));
}

double Player::Speed() const {
    std::lock_guard lock(mutex_);
    return state_.Speed();
}

bool Player::Paused() const {
    std::lock_guard lock(mutex_);
    return state_.Paused();
}

uint32_t Player::PlayMs() const {
    return static_cast<uint32_t>(std::clamp<int64_t>(shown_us_ / 1000, 0, UINT32_MAX));
}

bool Player::SoundOn() {
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

bool Player::SoundOff() {
    if (!HasAudio()) return false;
    std::lock_guard lock(mutex_);
    state_.SetSoundOn(false);
    if (audio_) audio_->Flush(state_.Serial());
    UpdateClockLocked();
    return true;
}

bool Player::Snapshot(const std::string& path) {
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

bool Player::StartCut(const std::string& path) { return cut_->Start(path, shown_us_); }

bool Player::StopCut() { return cut_->Stop(); }

void Player::Close() {
    std::lock_guard close_lock(close_mutex_);
    {
        std::lock_guard lock(mutex_);
        if (state_.Closed()) return;
        state_.Close();
        quit_ = true;
        reader_wake_.notify_all();
        video_wake_.notify_all();
        sound_wake_.notify_all();
        presenter_wake_.notify_all();
    }
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
=======
void Player::SetHandle(PlayerHandle handle) { engine_->SetHandle(handle); }
void Player::AttachPictureWindow(PlayerWindow* window) { engine_->AttachPictureWindow(window); }
void Player::Start() { engine_->Start(); }
void Player::SetBuffering(bool buffering) { engine_->SetBuffering(buffering); }
int64_t Player::ReadBlockedMs() const { return engine_->ReadBlockedMs(); }
int64_t Player::QueuedAheadMs() const { return engine_->QueuedAheadMs(); }
Player::ReadMark Player::LastRead() const { return engine_->LastRead(); }
void Player::PostEvent(int code) { engine_->PostEvent(code); }
MediaInput* Player::Input() const { return engine_->Input(); }
void Player::SetDecodeCostForTesting(std::chrono::microseconds cost) { engine_->SetDecodeCostForTesting(cost); }
void Player::SetNotifyWindow(PlayerWindow* window, uint32_t message) { engine_->SetNotifyWindow(window, message); }
bool Player::Play(PlayerWindow* window) { return engine_->Play(window); }
bool Player::Pause() { return engine_->Pause(); }
bool Player::StepFrame() { return engine_->StepFrame(); }
bool Player::Faster() { return engine_->Faster(); }
bool Player::Slower() { return engine_->Slower(); }
bool Player::SeekToMs(uint32_t ms) { return engine_->SeekToMs(ms); }
bool Player::SeekToRatio(float ratio) { return engine_->SeekToRatio(ratio); }
bool Player::HasAudio() const { return engine_->HasAudio(); }
bool Player::SoundOn() { return engine_->SoundOn(); }
bool Player::SoundOff() { return engine_->SoundOff(); }
uint32_t Player::TotalMs() const { return engine_->TotalMs(); }
uint32_t Player::PlayMs() const { return engine_->PlayMs(); }
bool Player::Snapshot(const std::string& path) { return engine_->Snapshot(path); }
bool Player::StartCut(const std::string& path) { return engine_->StartCut(path); }
bool Player::StopCut() { return engine_->StopCut(); }
void Player::Close() { engine_->Close(); }
>>>>>>> main

}  // namespace playersdk
