#include "ReplayReader.h"

#include "RtpPacketizer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
}

#include <utility>

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
    int audioStream = -1;  // -1 when the segment's sound is not the one kept
    VideoCodec codec = VideoCodec::H264;
    int64_t startUs = 0;  // the segment's start on the timeline
    int64_t baseUs = 0;   // the video's first time in the file: the segment's start
    bool wantClean = true;  // units before the first clean picture are dropped

    ~Segment() {
        av_packet_free(&packet);
        av_bsf_free(&filter);
        avformat_close_input(&format);
    }

    int64_t timeUs(int64_t ts, int streamIndex) const {
        const AVRational tb = format->streams[streamIndex]->time_base;
        return startUs + av_rescale_q(ts, tb, AVRational{1, 1000000}) - baseUs;
    }
};

namespace {

std::optional<AudioFormat> audioFormatOf(const AVCodecParameters* p) {
    AudioFormat f;
    switch (p->codec_id) {
    case AV_CODEC_ID_AAC: f.codec = AudioCodec::Aac; break;
    case AV_CODEC_ID_PCM_ALAW: f.codec = AudioCodec::Pcma; break;
    case AV_CODEC_ID_PCM_MULAW: f.codec = AudioCodec::Pcmu; break;
    default: return std::nullopt;
    }
    f.sampleRate = p->sample_rate;
    f.channels = p->ch_layout.nb_channels;
    f.config.assign(reinterpret_cast<const char*>(p->extradata), static_cast<size_t>(p->extradata_size));
    // AAC without its configuration (ADTS in MPEG-TS) cannot be described.
    if (f.codec == AudioCodec::Aac && f.config.empty()) return std::nullopt;
    if (f.codec != AudioCodec::Aac && (f.sampleRate != 8000 || f.channels != 1)) return std::nullopt;
    return f;
}

bool sameAudio(const AudioFormat& a, const AudioFormat& b) {
    return a.codec == b.codec && a.sampleRate == b.sampleRate && a.channels == b.channels && a.config == b.config;
}

}  // namespace

ReplayReader::ReplayReader(std::filesystem::path root, ReplayTimeline timeline)
    : root_(std::move(root)), timeline_(std::move(timeline)) {}

ReplayReader::~ReplayReader() = default;

std::unique_ptr<ReplayReader::Segment> ReplayReader::openSegment(size_t index) const {
    auto s = std::make_unique<Segment>();
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
    s->baseUs = video->start_time != AV_NOPTS_VALUE
                    ? av_rescale_q(video->start_time, video->time_base, AVRational{1, 1000000})
                    : 0;
    const int audio = av_find_best_stream(s->format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (audio >= 0 && audio_) {
        const auto kind = audioFormatOf(s->format->streams[audio]->codecpar);
        if (kind && sameAudio(*kind, *audio_)) s->audioStream = audio;
    }
    return s;
}

std::optional<ReplayFormat> ReplayReader::format() {
    for (size_t i = 0; i < timeline_.segments().size(); ++i) {
        const auto s = openSegment(i);
        if (!s) continue;
        ReplayFormat f;
        f.video.codec = s->codec;
        const AVStream* video = s->format->streams[s->stream];
        f.video.width = video->codecpar->width;
        f.video.height = video->codecpar->height;
        if (video->avg_frame_rate.num > 0 && video->avg_frame_rate.den > 0) f.video.frameRate = av_q2d(video->avg_frame_rate);
        const AVCodecParameters* out = s->filter->par_out;
        const std::string_view extradata(reinterpret_cast<const char*>(out->extradata),
                                         static_cast<size_t>(out->extradata_size));
        for (std::string_view unit : splitAnnexB(extradata))
            if (isParameterSet(f.video.codec, static_cast<uint8_t>(unit[0]))) f.video.parameterSets.emplace_back(unit);
        const int audio = av_find_best_stream(s->format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        if (audio >= 0) f.audio = audioFormatOf(s->format->streams[audio]->codecpar);
        audio_ = f.audio;
        formatKnown_ = true;
        return f;
    }
    return std::nullopt;
}

bool ReplayReader::seek(int64_t ms) {
    if (!formatKnown_ && !format()) return false;
    ahead_.clear();
    exhausted_ = false;
    current_.reset();
    gapPending_[0] = gapPending_[1] = false;
    for (size_t i = timeline_.segmentAt(ms); i < timeline_.segments().size(); ++i) {
        current_ = openSegment(i);
        if (!current_) continue;
        nextIndex_ = i + 1;
        const int64_t intoMs = ms - timeline_.segments()[i].startMs;
        if (intoMs > 0) {
            const AVStream* video = current_->format->streams[current_->stream];
            const int64_t target = av_rescale_q(current_->baseUs + intoMs * 1000, AVRational{1, 1000000},
                                                video->time_base);
            av_seek_frame(current_->format, current_->stream, target, AVSEEK_FLAG_BACKWARD);
        }
        return nextTimeUs().has_value();
    }
    nextIndex_ = timeline_.segments().size();
    return false;
}

std::optional<AccessUnit> ReplayReader::read() {
    for (;;) {
        if (!current_) {
            if (nextIndex_ >= timeline_.segments().size()) return std::nullopt;
            const size_t index = nextIndex_++;
            const bool gap = timeline_.segments()[index].followsGap;
            current_ = openSegment(index);
            // An unreadable segment leaves a gap where it would have been.
            for (bool& pending : gapPending_) pending = pending || gap || !current_;
            continue;
        }
        Segment& s = *current_;
        const int received = av_bsf_receive_packet(s.filter, s.packet);
        if (received == 0) {
            const int64_t ts = s.packet->pts != AV_NOPTS_VALUE ? s.packet->pts : s.packet->dts;
            AccessUnit unit;
            unit.clean = (s.packet->flags & AV_PKT_FLAG_KEY) != 0;
            unit.data.assign(reinterpret_cast<const char*>(s.packet->data), static_cast<size_t>(s.packet->size));
            av_packet_unref(s.packet);
            if (ts == AV_NOPTS_VALUE || ((s.wantClean || cleanOnly_) && !unit.clean)) continue;
            s.wantClean = false;
            unit.timeUs = s.timeUs(ts, s.stream);
            unit.followsGap = std::exchange(gapPending_[0], false);
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
        if (s.packet->stream_index == s.stream) {
            if (av_bsf_send_packet(s.filter, s.packet) < 0) av_packet_unref(s.packet);
            continue;
        }
        // Sound from the first clean picture on, and none with clean points only.
        if (s.packet->stream_index == s.audioStream && !s.wantClean && !cleanOnly_ &&
            s.packet->pts != AV_NOPTS_VALUE) {
            AccessUnit unit;
            unit.track = Track::Audio;
            unit.clean = true;
            unit.data.assign(reinterpret_cast<const char*>(s.packet->data), static_cast<size_t>(s.packet->size));
            unit.timeUs = s.timeUs(s.packet->pts, s.audioStream);
            unit.followsGap = std::exchange(gapPending_[1], false);
            av_packet_unref(s.packet);
            return unit;
        }
        av_packet_unref(s.packet);
    }
}

std::optional<AccessUnit> ReplayReader::next() {
    // Units read ahead beyond this count say that the front one's track goes on.
    constexpr size_t kMostAhead = 4096;
    for (;;) {
        if (ahead_.empty()) {
            if (exhausted_) return std::nullopt;
            auto unit = read();
            if (!unit) {
                exhausted_ = true;
                return std::nullopt;
            }
            ahead_.push_back(std::move(*unit));
            continue;
        }
        AccessUnit& front = ahead_.front();
        bool goesOn = ahead_.size() > kMostAhead;
        bool gapAfter = false;
        for (size_t i = 1; i < ahead_.size() && !goesOn && !gapAfter; ++i) {
            if (ahead_[i].followsGap) gapAfter = true;
            else if (ahead_[i].track == front.track) goesOn = true;
        }
        if (!goesOn && !gapAfter && !exhausted_) {
            auto unit = read();
            if (unit) ahead_.push_back(std::move(*unit));
            else exhausted_ = true;
            continue;
        }
        AccessUnit unit = std::move(front);
        ahead_.pop_front();
        unit.endsStretch = !goesOn;
        unit.last = !goesOn && !gapAfter;
        return unit;
    }
}

std::optional<int64_t> ReplayReader::nextTimeUs() {
    if (ahead_.empty() && !exhausted_) {
        auto unit = read();
        if (unit) ahead_.push_back(std::move(*unit));
        else exhausted_ = true;
    }
    if (ahead_.empty()) return std::nullopt;
    return ahead_.front().timeUs;
}

}  // namespace recorder
