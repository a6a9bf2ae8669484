// Turns packets of the sound stream into 16-bit samples in the device's
// format, each piece dated in media time.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

struct SwrContext;

namespace playersdk {

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
