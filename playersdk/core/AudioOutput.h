// Sound for one player: decodes the sound stream on its own thread, converts
// it to the device's format and queues it to an SDL audio device, in step with
// the player's clock (late sound is dropped, early sound waits).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

struct SwrContext;

namespace playersdk {

class PlaybackClock;

// True once SDL's audio subsystem is up; false on a machine with no sound
// device, where every player plays silently.
bool SoundDeviceAvailable();

class AudioOutput {
public:
    // nullptr when the stream cannot be decoded or no device can be opened.
    static std::unique_ptr<AudioOutput> Create(const AVStream* stream, int64_t start_us,
                                               const PlaybackClock* clock);
    ~AudioOutput();
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    // Queues a copy of a packet of the sound stream.
    void Push(const AVPacket* packet);
    // Drops every queued packet and sample (after a seek, on mute).
    void Flush();
    void SetPaused(bool paused);
    // Nothing left to play.
    bool Drained() const;

private:
    AudioOutput() = default;
    void Run();
    void Play(AVFrame* frame);
    bool Wait(std::unique_lock<std::mutex>& lock, int milliseconds);

    AVCodecContext* decoder_ = nullptr;
    SwrContext* resampler_ = nullptr;
    AVRational time_base_{1, 1};
    int64_t start_us_ = 0;
    const PlaybackClock* clock_ = nullptr;
    uint32_t device_ = 0;
    int device_rate_ = 48000;
    int device_channels_ = 2;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<AVPacket*> packets_;
    uint64_t generation_ = 0;  // bumped by Flush
    bool decoding_ = false;
    bool paused_ = false;
    bool quit_ = false;
    std::thread thread_;
};

}  // namespace playersdk
