#include "core/SoundDecoder.h"

extern "C" {
#include <libswresample/swresample.h>
}

namespace playersdk {

std::unique_ptr<SoundDecoder> SoundDecoder::Create(const AVStream* stream, int64_t start_us, int out_rate,
                                                   int out_channels) {
    if (stream == nullptr) return nullptr;
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (codec == nullptr) return nullptr;
    std::unique_ptr<SoundDecoder> decoder(new SoundDecoder);
    decoder->time_base_ = stream->time_base;
    decoder->start_us_ = start_us;
    decoder->out_rate_ = out_rate;
    decoder->out_channels_ = out_channels;
    decoder->decoder_ = avcodec_alloc_context3(codec);
    decoder->frame_ = av_frame_alloc();
    if (decoder->decoder_ == nullptr || decoder->frame_ == nullptr ||
        avcodec_parameters_to_context(decoder->decoder_, stream->codecpar) < 0) {
        return nullptr;
    }
    decoder->decoder_->pkt_timebase = stream->time_base;
    if (avcodec_open2(decoder->decoder_, codec, nullptr) < 0) return nullptr;
    AVChannelLayout layout;
    av_channel_layout_default(&layout, out_channels);
    int ok = swr_alloc_set_opts2(&decoder->resampler_, &layout, AV_SAMPLE_FMT_S16, out_rate,
                                 &decoder->decoder_->ch_layout, decoder->decoder_->sample_fmt,
                                 decoder->decoder_->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&layout);
    if (ok < 0 || swr_init(decoder->resampler_) < 0) return nullptr;
    return decoder;
}

SoundDecoder::~SoundDecoder() {
    swr_free(&resampler_);
    av_frame_free(&frame_);
    avcodec_free_context(&decoder_);
}

void SoundDecoder::Flush() {
    avcodec_flush_buffers(decoder_);
    swr_init(resampler_);  // forgets the samples it held back
}

int64_t SoundDecoder::Convert(std::vector<uint8_t>* samples) {
    int64_t pts = frame_->best_effort_timestamp;
    int64_t pts_us = pts != AV_NOPTS_VALUE ? av_rescale_q(pts, time_base_, AV_TIME_BASE_Q) - start_us_ : next_pts_us_;
    int out_samples = swr_get_out_samples(resampler_, frame_->nb_samples);
    if (out_samples <= 0) return pts_us;
    samples->resize(static_cast<size_t>(out_samples) * out_channels_ * 2);
    uint8_t* out[1] = {samples->data()};
    int converted = swr_convert(resampler_, out, out_samples, const_cast<const uint8_t**>(frame_->extended_data),
                                frame_->nb_samples);
    if (converted <= 0) {
        samples->clear();
        return pts_us;
    }
    samples->resize(static_cast<size_t>(converted) * out_channels_ * 2);
    next_pts_us_ = pts_us + static_cast<int64_t>(converted) * 1000000 / out_rate_;
    return pts_us;
}

}  // namespace playersdk
