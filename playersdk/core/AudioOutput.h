// Sound for one player. SoundDecoder turns packets of the sound stream into
// 16-bit samples in the device's format, each piece dated in media time.
// AudioOutput owns the SDL device: its callback takes the pieces in order and
// re-anchors the player's clock to what is being heard, so that sound is the
// master clock while it plays. Pieces too far from the clock are dropped
// (late) or preceded by silence (early); while inactive (paused, seeking,
// a speed with no sound, sound off) the callback gives silence and keeps its
// pieces. TempoStretcher plays sound faster or slower at the same pitch.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

struct SwrContext;
struct AVFilterGraph;
struct AVFilterContext;

namespace playersdk {

class PlaybackClock;

// True once SDL's audio subsystem is up; false on a machine with no sound
// device, where every player plays silently.
bool SoundDeviceAvailable();

class AudioOutput {
public:
    // Opens the default device for 16-bit samples at about rate x channels.
    // nullptr when no device can be opened.
    static std::unique_ptr<AudioOutput> Create(int rate, int channels, PlaybackClock* clock);
    // Closes the device; its callback has returned for good when this returns.
    ~AudioOutput();
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    int Rate() const { return rate_; }
    int Channels() const { return channels_; }

    // Appends interleaved samples that start at media time pts_us and carry
    // `speed` media seconds for each second heard (time-stretched sound).
    // Pieces of another serial than the last Flush's are ignored.
    void Push(int serial, int64_t pts_us, double speed, std::vector<uint8_t> samples);
    // Drops every piece; from now on only pieces of `serial` are taken.
    void Flush(int serial);
    // Plays (true) or gives silence and keeps the pieces (false).
    void SetActive(bool active);
    // Time queued and not yet handed to the device, as heard.
    int64_t BufferedUs() const;
    // Some sound of `serial` is queued.
    bool HasSound(int serial) const;
    bool Drained() const;

private:
    AudioOutput() = default;
    static void Callback(void* self, uint8_t* stream, int length);
    void Fill(uint8_t* out, size_t length);
    int64_t BytesToUs(size_t bytes) const;
    size_t UsToBytes(int64_t us) const;

    struct Piece {
        int serial = 0;
        int64_t pts_us = 0;
        double speed = 1.0;
        std::vector<uint8_t> bytes;
        size_t offset = 0;  // bytes already played
    };

    PlaybackClock* clock_ = nullptr;
    uint32_t device_ = 0;
    int rate_ = 48000;
    int channels_ = 2;
    // Time from the callback handing out a byte to its being heard.
    int64_t latency_us_ = 0;

    mutable std::mutex mutex_;  // a leaf lock: nothing else is taken under it but the clock's
    std::deque<Piece> pieces_;
    size_t buffered_bytes_ = 0;
    int serial_ = 0;
    bool active_ = false;
};

// The speeds at which sound is heard (time-stretched); beyond them it is silent.
inline bool HeardAtSpeed(double speed) { return speed >= 0.5 && speed <= 4.0; }

// Changes the tempo of 16-bit interleaved sound and keeps its pitch
// (FFmpeg's atempo filter). Media times are carried through: a piece out
// starts at the media time its first sample came from.
class TempoStretcher {
public:
    // nullptr when the filter cannot be set up.
    static std::unique_ptr<TempoStretcher> Create(int rate, int channels, double tempo);
    ~TempoStretcher();
    TempoStretcher(const TempoStretcher&) = delete;
    TempoStretcher& operator=(const TempoStretcher&) = delete;

    double Tempo() const { return tempo_; }
    // Whether samples at pts_us carry on from those fed so far: output times
    // are counted from the first sample fed, so a gap (sound skipped to catch
    // up) needs a stretcher of its own.
    bool Continues(int64_t pts_us) const;
    // Feeds samples that start at media time pts_us (nullptr: no more
    // samples, give out what is held); every stretched piece goes to
    // sink(pts_us, samples).
    template <typename Sink>
    void Stretch(int64_t pts_us, const std::vector<uint8_t>* samples, Sink&& sink) {
        if (!Feed(pts_us, samples)) return;
        std::vector<uint8_t> out;
        int64_t out_pts_us = 0;
        while (Take(&out_pts_us, &out)) sink(out_pts_us, std::move(out));
    }

private:
    TempoStretcher() = default;
    bool Feed(int64_t pts_us, const std::vector<uint8_t>* samples);
    bool Take(int64_t* pts_us, std::vector<uint8_t>* samples);

    AVFilterGraph* graph_ = nullptr;
    AVFilterContext* source_ = nullptr;
    AVFilterContext* sink_ = nullptr;
    AVFrame* frame_ = nullptr;
    int rate_ = 48000;
    int channels_ = 2;
    double tempo_ = 1.0;
    int lead_ = 0;              // samples in before the first one out
    int64_t first_pts_us_ = 0;  // media time of the first sample fed
    int64_t fed_ = 0;           // samples in
    int64_t given_ = 0;         // samples out
};

class SoundDecoder {
public:
    // nullptr when the stream cannot be decoded or converted.
    static std::unique_ptr<SoundDecoder> Create(const AVStream* stream, int64_t start_us, int out_rate,
                                                int out_channels);
    ~SoundDecoder();
    SoundDecoder(const SoundDecoder&) = delete;
    SoundDecoder& operator=(const SoundDecoder&) = delete;

    // Decodes one packet; every converted piece goes to sink(pts_us, samples).
    template <typename Sink>
    void Decode(const AVPacket* packet, Sink&& sink) {
        if (avcodec_send_packet(decoder_, packet) < 0) return;
        while (avcodec_receive_frame(decoder_, frame_) == 0) {
            std::vector<uint8_t> samples;
            int64_t pts_us = Convert(&samples);
            av_frame_unref(frame_);
            if (!samples.empty()) sink(pts_us, std::move(samples));
        }
    }
    // Forgets what the decoder holds (after a seek).
    void Flush();

private:
    SoundDecoder() = default;
    // Converts frame_; its media time.
    int64_t Convert(std::vector<uint8_t>* samples);
    // Makes the resampler take sound of this layout, format and rate; false
    // when it cannot.
    bool FitResampler(const AVChannelLayout& layout, int format, int rate);

    AVCodecContext* decoder_ = nullptr;
    SwrContext* resampler_ = nullptr;
    AVChannelLayout in_layout_{};  // what the resampler takes
    int in_format_ = -1;
    int in_rate_ = 0;
    AVFrame* frame_ = nullptr;
    AVRational time_base_{1, 1};
    int64_t start_us_ = 0;
    int out_rate_ = 48000;
    int out_channels_ = 2;
    int64_t next_pts_us_ = 0;
};

}  // namespace playersdk
