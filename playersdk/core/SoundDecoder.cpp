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
    if (!decoder->FitResampler(decoder->decoder_->ch_layout, decoder->decoder_->sample_fmt,
                               decoder->decoder_->sample_rate)) {
        return nullptr;
    }
    return decoder;
}

SoundDecoder::~SoundDecoder() {
    swr_free(&resampler_);
    av_channel_layout_uninit(&in_layout_);
    av_frame_free(&frame_);
    avcodec_free_context(&decoder_);
}

void SoundDecoder::Flush() {
    avcodec_flush_buffers(decoder_);
    if (resampler_ != nullptr) swr_init(resampler_);  // forgets the samples it held back
}

bool SoundDecoder::FitResampler(const AVChannelLayout& layout, int format, int rate) {
    if (resampler_ != nullptr && format == in_format_ && rate == in_rate_ &&
        av_channel_layout_compare(&layout, &in_layout_) == 0) {
        return true;
    }
    swr_free(&resampler_);
    av_channel_layout_uninit(&in_layout_);
    if (rate <= 0 || av_channel_layout_copy(&in_layout_, &layout) < 0) return false;
    in_format_ = format;
    in_rate_ = rate;
    AVChannelLayout out_layout;
    av_channel_layout_default(&out_layout, out_channels_);
    int ok = swr_alloc_set_opts2(&resampler_, &out_layout, AV_SAMPLE_FMT_S16, out_rate_, &in_layout_,
                                 static_cast<AVSampleFormat>(format), rate, 0, nullptr);
    av_channel_layout_uninit(&out_layout);
    if (ok < 0 || swr_init(resampler_) < 0) {
        swr_free(&resampler_);
        return false;
    }
    return true;
}

int64_t SoundDecoder::Convert(std::vector<uint8_t>* samples) {
    int64_t pts = frame_->best_effort_timestamp;
    int64_t pts_us = pts != AV_NOPTS_VALUE ? av_rescale_q(pts, time_base_, AV_TIME_BASE_Q) - start_us_ : next_pts_us_;
    // A stream may change its rate or layout midway (a camera's sound
    // re-configured, recordings joined): the resampler follows each frame.
    if (!FitResampler(frame_->ch_layout, frame_->format, frame_->sample_rate)) return pts_us;
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
