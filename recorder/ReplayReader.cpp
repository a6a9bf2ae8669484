#include "ReplayReader.h"

#include "RtpPacketizer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
}

namespace recorder {
namespace {

bool isParameterSet(VideoCodec codec, uint8_t header) {
    if (codec == VideoCodec::H264) {
        const int type = header & 0x1f;
        return type == 7 || type == 8;
    }
    const int type = (header >> 1) & 0x3f;
    return type >= 32 && type <= 34;
}

}  // namespace

struct ReplayReader::Segment {
    AVFormatContext* format = nullptr;
    AVBSFContext* filter = nullptr;
    AVPacket* packet = nullptr;
    int stream = -1;
    VideoCodec codec = VideoCodec::H264;
    int64_t startUs = 0;  // the segment's start on the timeline
    int64_t basePts = AV_NOPTS_VALUE;
    size_t index = 0;
    bool wantClean = true;  // units before the first clean point are dropped

    ~Segment() {
        av_packet_free(&packet);
        av_bsf_free(&filter);
        avformat_close_input(&format);
    }

    int64_t timeUs(int64_t ts) const {
        const AVRational tb = format->streams[stream]->time_base;
        return startUs + av_rescale_q(ts - basePts, tb, AVRational{1, 1000000});
    }
};

ReplayReader::ReplayReader(std::filesystem::path root, ReplayTimeline timeline)
    : root_(std::move(root)), timeline_(std::move(timeline)) {}

ReplayReader::~ReplayReader() = default;

std::unique_ptr<ReplayReader::Segment> ReplayReader::openSegment(size_t index) const {
    auto s = std::make_unique<Segment>();
    s->index = index;
    const TimelineSegment& at = timeline_.segments()[index];
    s->startUs = at.startMs * 1000;
    const std::string path = (root_ / at.path).string();
    if (avformat_open_input(&s->format, path.c_str(), nullptr, nullptr) < 0) return nullptr;
    s->stream = av_find_best_stream(s->format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (s->stream < 0) return nullptr;
    AVStream* video = s->format->streams[s->stream];
    // Containers without a header (MPEG-TS) learn the parameter sets from the packets.
    if (video->codecpar->extradata_size == 0 && avformat_find_stream_info(s->format, nullptr) < 0)
        return nullptr;
    const char* filterName = nullptr;
    if (video->codecpar->codec_id == AV_CODEC_ID_H264) {
        s->codec = VideoCodec::H264;
        filterName = "h264_mp4toannexb";
    } else if (video->codecpar->codec_id == AV_CODEC_ID_HEVC) {
        s->codec = VideoCodec::H265;
        filterName = "hevc_mp4toannexb";
    } else {
        return nullptr;
    }
    const AVBitStreamFilter* filter = av_bsf_get_by_name(filterName);
    if (!filter || av_bsf_alloc(filter, &s->filter) < 0 ||
        avcodec_parameters_copy(s->filter->par_in, video->codecpar) < 0)
        return nullptr;
    s->filter->time_base_in = video->time_base;
    if (av_bsf_init(s->filter) < 0) return nullptr;
    s->packet = av_packet_alloc();
    if (!s->packet) return nullptr;
    s->basePts = video->start_time != AV_NOPTS_VALUE ? video->start_time : 0;
    return s;
}

std::optional<VideoFormat> ReplayReader::format() {
    for (size_t i = 0; i < timeline_.segments().size(); ++i) {
        const auto s = openSegment(i);
        if (!s) continue;
        VideoFormat f;
        f.codec = s->codec;
        const AVCodecParameters* out = s->filter->par_out;
        f.width = out->width;
        f.height = out->height;
        const std::string_view extradata(reinterpret_cast<const char*>(out->extradata),
                                         static_cast<size_t>(out->extradata_size));
        for (std::string_view unit : splitAnnexB(extradata))
            if (isParameterSet(f.codec, static_cast<uint8_t>(unit[0]))) f.parameterSets.emplace_back(unit);
        return f;
    }
    return std::nullopt;
}

bool ReplayReader::seek(int64_t ms) {
    ahead_.reset();
    current_.reset();
    gapPending_ = false;
    for (size_t i = timeline_.segmentAt(ms); i < timeline_.segments().size(); ++i) {
        current_ = openSegment(i);
        if (!current_) continue;
        nextIndex_ = i + 1;
        const int64_t intoMs = ms - timeline_.segments()[i].startMs;
        if (intoMs > 0) {
            const AVStream* video = current_->format->streams[current_->stream];
            const int64_t target =
                current_->basePts + av_rescale_q(intoMs, AVRational{1, 1000}, video->time_base);
            av_seek_frame(current_->format, current_->stream, target, AVSEEK_FLAG_BACKWARD);
        }
        ahead_ = read();
        return ahead_.has_value();
    }
    nextIndex_ = timeline_.segments().size();
    return false;
}

std::optional<AccessUnit> ReplayReader::read() {
    for (;;) {
        if (!current_) {
            if (nextIndex_ >= timeline_.segments().size()) return std::nullopt;
            const size_t index = nextIndex_++;
            gapPending_ = gapPending_ || timeline_.segments()[index].followsGap;
            current_ = openSegment(index);
            // An unreadable segment leaves a gap where it would have been.
            if (!current_) gapPending_ = true;
            continue;
        }
        Segment& s = *current_;
        const int received = av_bsf_receive_packet(s.filter, s.packet);
        if (received == 0) {
            const int64_t ts = s.packet->pts != AV_NOPTS_VALUE ? s.packet->pts : s.packet->dts;
            AccessUnit unit;
            unit.clean = (s.packet->flags & AV_PKT_FLAG_KEY) != 0;
            unit.annexB.assign(reinterpret_cast<const char*>(s.packet->data),
                               static_cast<size_t>(s.packet->size));
            av_packet_unref(s.packet);
            if (ts == AV_NOPTS_VALUE || ((s.wantClean || cleanOnly_) && !unit.clean)) continue;
            s.wantClean = false;
            unit.timeUs = s.timeUs(ts);
            unit.followsGap = gapPending_;
            gapPending_ = false;
            return unit;
        }
        if (received != AVERROR(EAGAIN)) {
            current_.reset();
            continue;
        }
        if (av_read_frame(s.format, s.packet) < 0) {
            current_.reset();
            continue;
        }
        if (s.packet->stream_index != s.stream || av_bsf_send_packet(s.filter, s.packet) < 0)
            av_packet_unref(s.packet);
    }
}

std::optional<AccessUnit> ReplayReader::next() {
    if (!ahead_) ahead_ = read();
    if (!ahead_) return std::nullopt;
    AccessUnit unit = std::move(*ahead_);
    ahead_ = read();
    unit.endsStretch = !ahead_ || ahead_->followsGap;
    unit.last = !ahead_;
    return unit;
}

std::optional<int64_t> ReplayReader::nextTimeUs() const {
    if (!ahead_) return std::nullopt;
    return ahead_->timeUs;
}

}  // namespace recorder
