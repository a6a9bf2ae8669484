#include "core/AudioOutput.h"

#include <SDL.h>

#include <algorithm>

#include "core/PlaybackClock.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}

namespace playersdk {
namespace {

constexpr int64_t kSyncToleranceUs = 200000;
constexpr int kQueueAheadMs = 250;

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

std::unique_ptr<AudioOutput> AudioOutput::Create(const AVStream* stream, int64_t start_us,
                                                 const PlaybackClock* clock) {
    if (stream == nullptr || !SoundDeviceAvailable()) return nullptr;
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (codec == nullptr) return nullptr;
    std::unique_ptr<AudioOutput> output(new AudioOutput);
    output->time_base_ = stream->time_base;
    output->start_us_ = start_us;
    output->clock_ = clock;
    output->decoder_ = avcodec_alloc_context3(codec);
    if (output->decoder_ == nullptr ||
        avcodec_parameters_to_context(output->decoder_, stream->codecpar) < 0) {
        return nullptr;
    }
    output->decoder_->pkt_timebase = stream->time_base;
    if (avcodec_open2(output->decoder_, codec, nullptr) < 0) return nullptr;
    int rate = output->decoder_->sample_rate > 0 ? output->decoder_->sample_rate : 48000;
    int channels = std::clamp(output->decoder_->ch_layout.nb_channels, 1, 2);

    SDL_AudioSpec wanted{};
    wanted.freq = rate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = static_cast<Uint8>(channels);
    wanted.samples = 1024;
    SDL_AudioSpec obtained{};
    output->device_ = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (output->device_ == 0) return nullptr;
    output->device_rate_ = obtained.freq;
    output->device_channels_ = obtained.channels;

    AVChannelLayout layout;
    av_channel_layout_default(&layout, output->device_channels_);
    int ok = swr_alloc_set_opts2(&output->resampler_, &layout, AV_SAMPLE_FMT_S16, output->device_rate_,
                                 &output->decoder_->ch_layout, output->decoder_->sample_fmt,
                                 output->decoder_->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&layout);
    if (ok < 0 || swr_init(output->resampler_) < 0) return nullptr;
    SDL_PauseAudioDevice(output->device_, 0);
    output->thread_ = std::thread([raw = output.get()] { raw->Run(); });
    return output;
}

AudioOutput::~AudioOutput() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
        wake_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
    for (AVPacket* packet : packets_) av_packet_free(&packet);
    if (device_ != 0) SDL_CloseAudioDevice(device_);
    swr_free(&resampler_);
    avcodec_free_context(&decoder_);
}

void AudioOutput::Push(const AVPacket* packet) {
    AVPacket* copy = av_packet_clone(packet);
    if (copy == nullptr) return;
    std::lock_guard lock(mutex_);
    packets_.push_back(copy);
    // The picture side paces the reading, so this stays short; a stalled
    // device must not make it grow without bound.
    while (packets_.size() > 512) {
        av_packet_free(&packets_.front());
        packets_.pop_front();
    }
    wake_.notify_all();
}

void AudioOutput::Flush() {
    std::lock_guard lock(mutex_);
    for (AVPacket* packet : packets_) av_packet_free(&packet);
    packets_.clear();
    ++generation_;
    SDL_ClearQueuedAudio(device_);
    wake_.notify_all();
}

void AudioOutput::SetPaused(bool paused) {
    std::lock_guard lock(mutex_);
    if (paused == paused_) return;
    paused_ = paused;
    SDL_PauseAudioDevice(device_, paused ? 1 : 0);
    wake_.notify_all();
}

bool AudioOutput::Drained() const {
    std::lock_guard lock(mutex_);
    return packets_.empty() && !decoding_ && SDL_GetQueuedAudioSize(device_) == 0;
}

// Waits up to `milliseconds`; false when the output is closing.
bool AudioOutput::Wait(std::unique_lock<std::mutex>& lock, int milliseconds) {
    wake_.wait_for(lock, std::chrono::milliseconds(milliseconds));
    return !quit_;
}

void AudioOutput::Run() {
    AVFrame* frame = av_frame_alloc();
    uint64_t decoder_generation = 0;
    std::unique_lock lock(mutex_);
    while (!quit_ && frame != nullptr) {
        if (packets_.empty()) {
            wake_.wait(lock);
            continue;
        }
        AVPacket* packet = packets_.front();
        packets_.pop_front();
        if (decoder_generation != generation_) {
            decoder_generation = generation_;
            avcodec_flush_buffers(decoder_);
        }
        decoding_ = true;
        lock.unlock();
        avcodec_send_packet(decoder_, packet);
        av_packet_free(&packet);
        while (avcodec_receive_frame(decoder_, frame) == 0) {
            Play(frame);
            av_frame_unref(frame);
        }
        lock.lock();
        decoding_ = false;
    }
    av_frame_free(&frame);
}

// Queues one decoded frame when it is due, dropping it when it is late.
void AudioOutput::Play(AVFrame* frame) {
    const int64_t bytes_per_second = static_cast<int64_t>(device_rate_) * device_channels_ * 2;
    int64_t pts = frame->best_effort_timestamp;
    std::unique_lock lock(mutex_);
    const uint64_t generation = generation_;
    for (;;) {
        if (quit_ || generation != generation_) return;
        int64_t queued_us = static_cast<int64_t>(SDL_GetQueuedAudioSize(device_)) * 1000000 / bytes_per_second;
        if (queued_us > kQueueAheadMs * 1000 || paused_ || !clock_->Running()) {
            Wait(lock, 10);
            continue;
        }
        if (pts == AV_NOPTS_VALUE) break;
        int64_t frame_us = av_rescale_q(pts, time_base_, AV_TIME_BASE_Q) - start_us_;
        int64_t heard_at = clock_->NowUs() + queued_us;
        if (frame_us < heard_at - kSyncToleranceUs) return;  // late: drop it
        if (frame_us > heard_at + kSyncToleranceUs) {
            Wait(lock, 10);  // early: let the clock catch up
            continue;
        }
        break;
    }
    lock.unlock();
    int out_samples = swr_get_out_samples(resampler_, frame->nb_samples);
    if (out_samples <= 0) return;
    std::vector<uint8_t> buffer(static_cast<size_t>(out_samples) * device_channels_ * 2);
    uint8_t* out[1] = {buffer.data()};
    int converted = swr_convert(resampler_, out, out_samples, const_cast<const uint8_t**>(frame->extended_data),
                                frame->nb_samples);
    if (converted <= 0) return;
    lock.lock();
    if (generation != generation_ || quit_) return;
    SDL_QueueAudio(device_, buffer.data(), static_cast<Uint32>(converted) * device_channels_ * 2);
}

}  // namespace playersdk
