#include "core/AudioOutput.h"

#include <SDL.h>
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/PlaybackClock.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/macros.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace playersdk {
namespace {

// Sound within this of the clock plays as it comes; further away it is
// dropped (late) or waited for with silence (early).
constexpr int64_t kSyncToleranceUs = 40000;
// The clock follows the sound once they are this far apart.
constexpr int64_t kAnchorToleranceUs = 2000;
// The device takes sound in periods of about this length whatever the rate:
// a fixed count of samples would be 128 ms a period at a camera's 8 kHz.
constexpr int64_t kDevicePeriodUs = 20000;

// The power of two at or above one period at `rate` (SDL wants a power of two).
Uint16 DeviceSamples(int rate) {
    const int64_t wanted = static_cast<int64_t>(rate) * kDevicePeriodUs / 1000000;
    Uint16 samples = 256;
    while (samples < wanted && samples < 8192) samples = static_cast<Uint16>(samples * 2);
    return samples;
}

// The filter library, loaded on the first change of speed rather than with
// the player: it and the thirty-odd libraries it pulls in cost every start
// time that playing at normal speed never needs.
struct FilterLibrary {
    decltype(&avfilter_graph_alloc) graph_alloc = nullptr;
    decltype(&avfilter_graph_free) graph_free = nullptr;
    decltype(&avfilter_graph_create_filter) create_filter = nullptr;
    decltype(&avfilter_get_by_name) get_by_name = nullptr;
    decltype(&avfilter_link) link = nullptr;
    decltype(&avfilter_graph_config) graph_config = nullptr;
    decltype(&av_buffersrc_add_frame) add_frame = nullptr;
    decltype(&av_buffersink_get_frame) get_frame = nullptr;
};

template <typename Function>
bool Bind(void* library, const char* name, Function* function) {
    *function = reinterpret_cast<Function>(dlsym(library, name));
    return *function != nullptr;
}

// Null when the library or one of its functions is missing.
const FilterLibrary* Filters() {
    static const FilterLibrary* const loaded = []() -> const FilterLibrary* {
        void* library = dlopen("libavfilter.so." AV_STRINGIFY(LIBAVFILTER_VERSION_MAJOR), RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) return nullptr;
        static FilterLibrary filters;
        const bool bound = Bind(library, "avfilter_graph_alloc", &filters.graph_alloc) &&
                           Bind(library, "avfilter_graph_free", &filters.graph_free) &&
                           Bind(library, "avfilter_graph_create_filter", &filters.create_filter) &&
                           Bind(library, "avfilter_get_by_name", &filters.get_by_name) &&
                           Bind(library, "avfilter_link", &filters.link) &&
                           Bind(library, "avfilter_graph_config", &filters.graph_config) &&
                           Bind(library, "av_buffersrc_add_frame", &filters.add_frame) &&
                           Bind(library, "av_buffersink_get_frame", &filters.get_frame);
        return bound ? &filters : nullptr;
    }();
    return loaded;
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
            if (early_us > kSyncToleranceUs) {
                size_t gap = std::min(UsToBytes(static_cast<int64_t>(early_us / speed)), length - done);
                gap -= gap % frame_bytes;
                if (gap == 0) break;
                std::memset(out + done, 0, gap);
                done += gap;
                continue;
            }
            size_t left = piece.bytes.size() - piece.offset;
            if (early_us < -kSyncToleranceUs) {
                size_t drop = std::min(std::max(UsToBytes(static_cast<int64_t>(-early_us / piece.speed)), frame_bytes), left);
                drop -= drop % frame_bytes;
                piece.offset += drop;
                buffered_bytes_ -= drop;
                if (piece.offset >= piece.bytes.size()) pieces_.pop_front();
                continue;
            }
            if (!anchored) {
                // out[done] is heard latency + done later than now.
                clock_->Anchor(at_us - media_us(latency_us_ + BytesToUs(done), speed), now, kAnchorToleranceUs);
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

std::unique_ptr<TempoStretcher> TempoStretcher::Create(int rate, int channels, double tempo) {
    const FilterLibrary* filters = Filters();
    if (!HeardAtSpeed(tempo) || filters == nullptr) return nullptr;
    std::unique_ptr<TempoStretcher> stretcher(new TempoStretcher);
    stretcher->rate_ = rate;
    stretcher->channels_ = channels;
    stretcher->tempo_ = tempo;
    // The filter works on windows of the power of two at or above 1/24 s and
    // gives out its first sample from the middle of the first window.
    int window = 1;
    while (window < rate / 24) window *= 2;
    stretcher->lead_ = window / 2;
    stretcher->graph_ = filters->graph_alloc();
    stretcher->frame_ = av_frame_alloc();
    if (stretcher->graph_ == nullptr || stretcher->frame_ == nullptr) return nullptr;
    stretcher->graph_->nb_threads = 1;
    const char* layout = channels == 1 ? "mono" : "stereo";
    char source_arguments[128];
    std::snprintf(source_arguments, sizeof source_arguments,
                  "time_base=1/%d:sample_rate=%d:sample_fmt=s16:channel_layout=%s", rate, rate, layout);
    char tempo_arguments[32];
    std::snprintf(tempo_arguments, sizeof tempo_arguments, "tempo=%.4f", tempo);
    AVFilterContext* stretch = nullptr;
    AVFilterContext* format = nullptr;
    char format_arguments[64];
    std::snprintf(format_arguments, sizeof format_arguments, "sample_fmts=s16:channel_layouts=%s", layout);
    if (filters->create_filter(&stretcher->source_, filters->get_by_name("abuffer"), "in", source_arguments,
                                     nullptr, stretcher->graph_) < 0 ||
        filters->create_filter(&stretch, filters->get_by_name("atempo"), "tempo", tempo_arguments, nullptr,
                                     stretcher->graph_) < 0 ||
        filters->create_filter(&format, filters->get_by_name("aformat"), "format", format_arguments, nullptr,
                                     stretcher->graph_) < 0 ||
        filters->create_filter(&stretcher->sink_, filters->get_by_name("abuffersink"), "out", nullptr,
                                     nullptr, stretcher->graph_) < 0 ||
        filters->link(stretcher->source_, 0, stretch, 0) < 0 || filters->link(stretch, 0, format, 0) < 0 ||
        filters->link(format, 0, stretcher->sink_, 0) < 0 || filters->graph_config(stretcher->graph_, nullptr) < 0) {
        return nullptr;
    }
    return stretcher;
}

TempoStretcher::~TempoStretcher() {
    av_frame_free(&frame_);
    if (graph_ != nullptr) Filters()->graph_free(&graph_);  // made by the loaded library
}

bool TempoStretcher::Continues(int64_t pts_us) const {
    const int64_t next_us = first_pts_us_ + fed_ * 1000000 / rate_;
    return fed_ == 0 || std::llabs(pts_us - next_us) <= kSyncToleranceUs;
}

bool TempoStretcher::Feed(int64_t pts_us, const std::vector<uint8_t>* samples) {
    if (samples == nullptr) return Filters()->add_frame(source_, nullptr) >= 0;
    const int count = static_cast<int>(samples->size() / (2 * channels_));
    if (count <= 0) return false;
    if (fed_ == 0) first_pts_us_ = pts_us;
    av_frame_unref(frame_);
    frame_->format = AV_SAMPLE_FMT_S16;
    frame_->sample_rate = rate_;
    av_channel_layout_default(&frame_->ch_layout, channels_);
    frame_->nb_samples = count;
    frame_->pts = fed_;
    if (av_frame_get_buffer(frame_, 0) < 0) return false;
    std::memcpy(frame_->data[0], samples->data(), static_cast<size_t>(count) * 2 * channels_);
    fed_ += count;
    return Filters()->add_frame(source_, frame_) >= 0;
}

bool TempoStretcher::Take(int64_t* pts_us, std::vector<uint8_t>* samples) {
    av_frame_unref(frame_);
    if (Filters()->get_frame(sink_, frame_) < 0) return false;
    // Sample k out comes from about sample k x tempo + lead in.
    const double from = static_cast<double>(given_) * tempo_ + static_cast<double>(lead_);
    *pts_us = first_pts_us_ + static_cast<int64_t>(from * 1000000 / rate_);
    const size_t bytes = static_cast<size_t>(frame_->nb_samples) * 2 * channels_;
    samples->assign(frame_->data[0], frame_->data[0] + bytes);
    given_ += frame_->nb_samples;
    av_frame_unref(frame_);
    return true;
}

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
