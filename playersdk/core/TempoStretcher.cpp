#include "core/TempoStretcher.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/EngineBounds.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/frame.h>
#include <libavutil/macros.h>
#include <libavutil/opt.h>
}

namespace playersdk {
namespace {

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
    return fed_ == 0 || std::llabs(pts_us - next_us) <= kSoundSyncToleranceUs;
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

}  // namespace playersdk
