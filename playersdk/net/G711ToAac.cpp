#include "net/G711ToAac.h"

#include <cstdlib>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
}

namespace playersdk::net {
namespace {

// Enough for speech at G.711's rates; the encoder lowers it where it must.
constexpr int64_t kBitsPerSecondPerChannel = 32000;
// Sound that starts further than this from where the last ended is a jump.
constexpr int64_t kJumpMs = 40;

// G.711 (ITU-T) expanded to linear 16-bit.
int16_t FromALaw(uint8_t code) {
    code ^= 0x55;
    const int exponent = (code >> 4) & 7;
    int value = (code & 0x0F) << 4;
    value = exponent == 0 ? value + 8 : ((value + 0x108) << (exponent - 1));
    return static_cast<int16_t>((code & 0x80) != 0 ? value : -value);
}

int16_t FromMuLaw(uint8_t code) {
    code = static_cast<uint8_t>(~code);
    const int exponent = (code >> 4) & 7;
    const int value = ((((code & 0x0F) << 3) + 0x84) << exponent) - 0x84;
    return static_cast<int16_t>((code & 0x80) != 0 ? -value : value);
}

}  // namespace

std::unique_ptr<G711ToAac> G711ToAac::Open(bool a_law, int sample_rate, int channels) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (codec == nullptr || sample_rate <= 0 || channels <= 0) return nullptr;
    std::unique_ptr<G711ToAac> self(new G711ToAac);
    self->a_law_ = a_law;
    self->channels_ = channels;
    self->encoder_ = avcodec_alloc_context3(codec);
    if (self->encoder_ == nullptr) return nullptr;
    AVCodecContext* e = self->encoder_;
    e->sample_rate = sample_rate;
    e->sample_fmt = AV_SAMPLE_FMT_FLTP;
    av_channel_layout_default(&e->ch_layout, channels);
    e->bit_rate = kBitsPerSecondPerChannel * channels;
    e->time_base = {1, sample_rate};
    e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(e, codec, nullptr) < 0 || e->frame_size <= 0) return nullptr;
    self->fifo_ = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, channels, e->frame_size * 4);
    self->frame_ = av_frame_alloc();
    self->packet_ = av_packet_alloc();
    if (self->fifo_ == nullptr || self->frame_ == nullptr || self->packet_ == nullptr) return nullptr;
    self->frame_->format = AV_SAMPLE_FMT_FLTP;
    self->frame_->nb_samples = e->frame_size;
    self->frame_->sample_rate = sample_rate;
    if (av_channel_layout_copy(&self->frame_->ch_layout, &e->ch_layout) < 0 || av_frame_get_buffer(self->frame_, 0) < 0)
        return nullptr;
    return self;
}

G711ToAac::~G711ToAac() {
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    if (fifo_ != nullptr) av_audio_fifo_free(fifo_);
    avcodec_free_context(&encoder_);
}

std::string G711ToAac::Config() const {
    return std::string(reinterpret_cast<const char*>(encoder_->extradata), static_cast<size_t>(encoder_->extradata_size));
}

int G711ToAac::SampleRate() const { return encoder_->sample_rate; }

bool G711ToAac::Push(const std::string& g711, int64_t time_ms, const Packet& out) {
    const int samples = static_cast<int>(g711.size()) / channels_;
    if (samples == 0) return true;
    const int rate = encoder_->sample_rate;
    const int64_t at = time_ms * rate / 1000;
    const int64_t expected = fifo_start_ + av_audio_fifo_size(fifo_);
    if (!started_ || std::llabs(at - expected) > kJumpMs * rate / 1000) {
        // The encoder's memory of the sound before is kept; what waits in
        // the fifo is dropped (less than one AAC frame).
        av_audio_fifo_reset(fifo_);
        fifo_start_ = at;
        started_ = true;
    }
    std::vector<std::vector<float>> planes(static_cast<size_t>(channels_), std::vector<float>(static_cast<size_t>(samples)));
    for (int i = 0; i < samples * channels_; ++i) {
        const auto code = static_cast<uint8_t>(g711[static_cast<size_t>(i)]);
        planes[static_cast<size_t>(i % channels_)][static_cast<size_t>(i / channels_)] =
            static_cast<float>(a_law_ ? FromALaw(code) : FromMuLaw(code)) / 32768.0f;
    }
    std::vector<void*> pointers;
    for (auto& plane : planes) pointers.push_back(plane.data());
    if (av_audio_fifo_write(fifo_, pointers.data(), samples) < samples) return false;
    return Drain(out);
}

bool G711ToAac::Drain(const Packet& out) {
    const int size = encoder_->frame_size;
    while (av_audio_fifo_size(fifo_) >= size) {
        if (av_frame_make_writable(frame_) < 0) return false;
        if (av_audio_fifo_read(fifo_, reinterpret_cast<void**>(frame_->data), size) < size) return false;
        frame_->pts = fifo_start_;
        fifo_start_ += size;
        if (avcodec_send_frame(encoder_, frame_) < 0) return false;
        for (;;) {
            const int received = avcodec_receive_packet(encoder_, packet_);
            if (received == AVERROR(EAGAIN)) break;
            if (received < 0) return false;
            // The packet's time is that of the sound it decodes to (the
            // encoder counts its lead-in off the times it gives).
            const int64_t ms = packet_->pts * 1000 / encoder_->sample_rate;
            const bool ok = out(packet_->data, packet_->size, ms);
            av_packet_unref(packet_);
            if (!ok) return false;
        }
    }
    return true;
}

}  // namespace playersdk::net
