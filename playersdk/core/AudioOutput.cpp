#include "core/AudioOutput.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "core/EngineBounds.h"
#include "core/PlaybackClock.h"

namespace playersdk {
namespace {

// The power of two at or above one period at `rate` (SDL wants a power of two).
Uint16 DeviceSamples(int rate) {
    const int64_t wanted = static_cast<int64_t>(rate) * kDevicePeriodUs / 1000000;
    Uint16 samples = 256;
    while (samples < wanted && samples < 8192) samples = static_cast<Uint16>(samples * 2);
    return samples;
}

}  // namespace


bool SoundDeviceAvailable() {
    // The audio subsystem is brought up once; failing that (no sound server,
    // no card) every player is silent and its clock is the system clock.
    static const bool available = [] {
        // A library must not take over the process's SIGINT and SIGTERM,
        // which SDL otherwise turns into quit events nobody reads.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        return SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
    }();
    return available;
}

std::unique_ptr<AudioOutput> AudioOutput::Create(int rate, int channels, PlaybackClock* clock) {
    if (!SoundDeviceAvailable() || clock == nullptr) return nullptr;
    std::unique_ptr<AudioOutput> output(new AudioOutput);
    output->clock_ = clock;
    SDL_AudioSpec wanted{};
    wanted.freq = rate > 0 ? rate : 48000;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = static_cast<Uint8>(std::clamp(channels, 1, 2));
    wanted.samples = DeviceSamples(wanted.freq);
    wanted.callback = &AudioOutput::Callback;
    wanted.userdata = output.get();
    SDL_AudioSpec obtained{};
    output->device_ = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (output->device_ == 0) return nullptr;
    output->rate_ = obtained.freq;
    output->channels_ = obtained.channels;
    // The disk and dummy drivers take a buffer the moment it is handed out;
    // a sound card plays it after the one before it.
    const char* driver = SDL_GetCurrentAudioDriver();
    bool immediate = driver != nullptr && (std::strcmp(driver, "disk") == 0 || std::strcmp(driver, "dummy") == 0);
    output->latency_us_ = immediate ? 0 : static_cast<int64_t>(obtained.samples) * 1000000 / obtained.freq;
    SDL_PauseAudioDevice(output->device_, 0);
    return output;
}

AudioOutput::~AudioOutput() {
    if (device_ != 0) SDL_CloseAudioDevice(device_);
}

int64_t AudioOutput::BytesToUs(size_t bytes) const {
    return static_cast<int64_t>(bytes / (2 * channels_)) * 1000000 / rate_;
}

size_t AudioOutput::UsToBytes(int64_t us) const {
    if (us <= 0) return 0;
    return static_cast<size_t>(us * rate_ / 1000000) * 2 * channels_;
}

void AudioOutput::Push(int serial, int64_t pts_us, double speed, std::vector<uint8_t> samples) {
    std::lock_guard lock(mutex_);
    if (serial != serial_ || samples.empty() || !(speed > 0)) return;
    buffered_bytes_ += samples.size();
    pieces_.push_back({serial, pts_us, speed, std::move(samples), 0});
}

void AudioOutput::Flush(int serial) {
    std::lock_guard lock(mutex_);
    pieces_.clear();
    buffered_bytes_ = 0;
    serial_ = serial;
}

void AudioOutput::DropBefore(int64_t pts_us) {
    std::lock_guard lock(mutex_);
    while (!pieces_.empty()) {
        const Piece& piece = pieces_.front();
        const auto heard_us = static_cast<double>(BytesToUs(piece.bytes.size()));
        if (piece.pts_us + static_cast<int64_t>(heard_us * piece.speed) > pts_us) break;
        buffered_bytes_ -= piece.bytes.size() - piece.offset;
        pieces_.pop_front();
    }
}

void AudioOutput::SetActive(bool active) {
    std::lock_guard lock(mutex_);
    active_ = active;
}

int64_t AudioOutput::BufferedUs() const {
    std::lock_guard lock(mutex_);
    return BytesToUs(buffered_bytes_);
}

bool AudioOutput::HasSound(int serial) const {
    std::lock_guard lock(mutex_);
    return serial == serial_ && !pieces_.empty();
}

bool AudioOutput::Drained() const {
    std::lock_guard lock(mutex_);
    return pieces_.empty();
}

void AudioOutput::Callback(void* self, uint8_t* stream, int length) {
    static_cast<AudioOutput*>(self)->Fill(stream, static_cast<size_t>(std::max(length, 0)));
}

void AudioOutput::Fill(uint8_t* out, size_t length) {
    const auto now = PlaybackClock::WallClock::now();
    const size_t frame_bytes = static_cast<size_t>(2 * channels_);
    size_t done = 0;
    std::lock_guard lock(mutex_);
    if (active_ && clock_->Running()) {
        // Heard time becomes media time at the clock's speed; a piece's own
        // bytes carry media time at the speed it was stretched to (the two
        // differ only just after a change of speed).
        const double speed = clock_->Speed();
        auto media_us = [](int64_t heard_us, double at_speed) { return static_cast<int64_t>(heard_us * at_speed); };
        // The media time that out[0] should carry when it is heard.
        const int64_t due_us = clock_->NowUs() + media_us(latency_us_, speed);
        bool anchored = false;
        while (done < length && !pieces_.empty()) {
            Piece& piece = pieces_.front();
            const int64_t at_us = piece.pts_us + media_us(BytesToUs(piece.offset), piece.speed);
            const int64_t here_us = due_us + media_us(BytesToUs(done), speed);
            const int64_t early_us = at_us - here_us;
            if (early_us > kSoundSyncToleranceUs) {
                size_t gap = std::min(UsToBytes(static_cast<int64_t>(early_us / speed)), length - done);
                gap -= gap % frame_bytes;
                if (gap == 0) break;
                std::memset(out + done, 0, gap);
                done += gap;
                continue;
            }
            size_t left = piece.bytes.size() - piece.offset;
            if (early_us < -kSoundSyncToleranceUs) {
                size_t drop = std::min(std::max(UsToBytes(static_cast<int64_t>(-early_us / piece.speed)), frame_bytes), left);
                drop -= drop % frame_bytes;
                piece.offset += drop;
                buffered_bytes_ -= drop;
                if (piece.offset >= piece.bytes.size()) pieces_.pop_front();
                continue;
            }
            if (!anchored) {
                // out[done] is heard latency + done later than now.
                clock_->Anchor(at_us - media_us(latency_us_ + BytesToUs(done), speed), now, kClockAnchorToleranceUs);
                anchored = true;
            }
            size_t n = std::min(left, length - done);
            std::memcpy(out + done, piece.bytes.data() + piece.offset, n);
            done += n;
            piece.offset += n;
            buffered_bytes_ -= n;
            if (piece.offset >= piece.bytes.size()) pieces_.pop_front();
        }
    }
    if (done < length) std::memset(out + done, 0, length - done);
}

}  // namespace playersdk
