#include "core/Timeline.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace playersdk {
namespace {

constexpr int64_t kShortestJumpUs = 1000000;
constexpr int64_t kLongestJumpUs = 10000000;
constexpr int kJumpFrames = 10;
// Scanning: files up to this size are read through; larger ones are sampled
// at kSamples places, searched by halving down to windows of kWindowBytes,
// with at most kMostSamples looks in all.
constexpr int64_t kWholeScanBytes = 8 << 20;
constexpr int kSamples = 48;
constexpr int64_t kWindowBytes = 1 << 20;
constexpr int kMostSamples = 256;
// Windows read through while searching, in all: a recording whose byte rate
// swings widely (busy day, quiet night) makes many samples disagree.
constexpr int64_t kMostSearchBytes = 32 << 20;
// Reading from a sample's place to its first picture packet.
constexpr int64_t kSampleReadBytes = 4 << 20;
// Two samples disagree with the byte rate when their times differ by more
// than this factor from what the bytes between them say.
constexpr double kRateFactor = 4.0;

}  // namespace

Timeline::Timeline(AVFormatContext* format, int video_stream, int audio_stream, int64_t frame_interval_us)
    : format_(format),
      video_stream_(video_stream),
      audio_stream_(audio_stream),
      raw_(std::strcmp(format->iformat->name, "h264") == 0 || std::strcmp(format->iformat->name, "hevc") == 0),
      enabled_(raw_ || (format->iformat->flags & AVFMT_TS_DISCONT) != 0),
      frame_interval_us_(frame_interval_us),
      jump_us_(std::clamp<int64_t>(kJumpFrames * frame_interval_us, kShortestJumpUs, kLongestJumpUs)) {}

bool Timeline::Near(int64_t a_us, int64_t b_us, int64_t within_us) const {
    return a_us >= b_us - within_us && a_us <= b_us + within_us;
}

const Timeline::Stretch* Timeline::StretchAtPos(int64_t pos) const {
    if (pos < 0 || stretches_.empty()) return nullptr;
    const Stretch* found = &stretches_.front();
    for (const Stretch& stretch : stretches_) {
        if (stretch.pos <= pos) found = &stretch;
    }
    return found;
}

const Timeline::Stretch* Timeline::StretchAtTime(int64_t time_us) const {
    if (stretches_.empty()) return nullptr;
    const Stretch* found = &stretches_.front();
    for (const Stretch& stretch : stretches_) {
        if (stretch.start_us <= time_us) found = &stretch;
    }
    return found;
}

int64_t Timeline::PosOf(int64_t time_us) const {
    const int64_t size = avio_size(format_->pb);
    if (stretches_.empty() || size <= 0 || (!raw_ && stretches_.size() < 2)) return -1;
    const Stretch* stretch = StretchAtTime(time_us);
    const auto next = stretches_.begin() + (stretch - stretches_.data()) + 1;
    const int64_t to = next != stretches_.end() ? next->pos : size;
    const int64_t length = std::max<int64_t>(1, stretch->end_us - stretch->start_us);
    const double share = std::clamp(static_cast<double>(time_us - stretch->start_us) / length, 0.0, 1.0);
    return stretch->pos + static_cast<int64_t>(share * static_cast<double>(to - stretch->pos));
}

void Timeline::Restart() {
    restarted_ = true;
    made_next_us_ = INT64_MIN;
    has_previous_ = false;
    video_ = {};
    audio_ = {};
    video_end_us_ = INT64_MIN;
}

int64_t Timeline::OffsetFor(int stream, int64_t raw_us, int64_t pos) {
    if (restarted_) {
        restarted_ = false;
        if (const Stretch* stretch = scanning_ ? nullptr : StretchAtPos(pos)) offset_us_ = stretch->offset_us;
    }
    const Track& track = stream == video_stream_ ? video_ : audio_;
    const int64_t time_us = raw_us + offset_us_;
    if (track.last_us == INT64_MIN || Near(time_us, track.last_us, jump_us_)) return offset_us_;
    // A packet of the stretch before, muxed after the first of the new one.
    if (has_previous_ && Near(raw_us + previous_offset_us_, track.last_us, jump_us_)) return previous_offset_us_;
    // Sound that pauses and resumes is no jump; sound far from the pictures is.
    const bool jump = stream == video_stream_ || (video_.last_us != INT64_MIN && !Near(time_us, video_.last_us, kLongestJumpUs));
    if (!jump) return offset_us_;
    int64_t next = offset_us_;
    const Stretch* known = scanning_ ? nullptr : StretchAtPos(pos);
    if (known != nullptr && known->offset_us != offset_us_) {
        next = known->offset_us;
    } else if (video_end_us_ != INT64_MIN) {
        next = video_end_us_ - raw_us;  // on from the last picture plus one frame
    }
    previous_offset_us_ = offset_us_;
    has_previous_ = true;
    offset_us_ = next;
    if (scanning_) StartStretch(pos, next);
    if (scanning_ && !stretches_.empty()) stretches_.back().start_us = raw_us + next;
    return next;
}

void Timeline::Record(int stream, int64_t dts_us, int64_t pts_us, int64_t duration_us) {
    if (stream == video_stream_) {
        video_.last_us = dts_us;
        video_end_us_ = std::max(video_end_us_, pts_us + duration_us);
        if (scanning_ && !stretches_.empty()) {
            Stretch& current = stretches_.back();
            if (current.start_us == INT64_MIN) current.start_us = pts_us;
            current.end_us = std::max(current.end_us, pts_us + duration_us);
        }
    } else {
        audio_.last_us = dts_us;
    }
}

void Timeline::MakeTimestamp(AVPacket* packet) {
    const AVRational base = format_->streams[video_stream_]->time_base;
    if (made_next_us_ == INT64_MIN) {
        // After a seek: the time the byte position stands for.
        made_next_us_ = 0;
        const int64_t size = avio_size(format_->pb);
        if (packet->pos > 0 && size > 0 && !stretches_.empty()) {
            made_next_us_ = static_cast<int64_t>(static_cast<double>(stretches_.back().end_us) * packet->pos / size);
            made_next_us_ -= made_next_us_ % frame_interval_us_;
        }
    }
    packet->dts = av_rescale_q(made_next_us_, AV_TIME_BASE_Q, base);
    made_next_us_ += packet->duration > 0 ? av_rescale_q(packet->duration, base, AV_TIME_BASE_Q) : frame_interval_us_;
}

void Timeline::Normalise(AVPacket* packet) {
    if (!enabled_) return;
    const int stream = packet->stream_index;
    if (stream != video_stream_ && stream != audio_stream_) return;
    if (raw_ && stream == video_stream_ && packet->dts == AV_NOPTS_VALUE && packet->pts == AV_NOPTS_VALUE) {
        MakeTimestamp(packet);
    }
    const int64_t raw = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
    if (raw == AV_NOPTS_VALUE) return;
    const AVRational base = format_->streams[stream]->time_base;
    const int64_t raw_us = av_rescale_q(raw, base, AV_TIME_BASE_Q);
    const int64_t pts_us = packet->pts != AV_NOPTS_VALUE ? av_rescale_q(packet->pts, base, AV_TIME_BASE_Q) : raw_us;
    const int64_t offset = OffsetFor(stream, raw_us, packet->pos);
    int64_t duration_us = packet->duration > 0 ? av_rescale_q(packet->duration, base, AV_TIME_BASE_Q) : 0;
    if (duration_us == 0 && stream == video_stream_) duration_us = frame_interval_us_;
    Record(stream, raw_us + offset, pts_us + offset, duration_us);
    if (offset == 0 || scanning_) return;
    const int64_t shift = av_rescale_q(offset, AV_TIME_BASE_Q, base);
    if (packet->pts != AV_NOPTS_VALUE) packet->pts += shift;
    if (packet->dts != AV_NOPTS_VALUE) packet->dts += shift;
}

// --- scanning ---------------------------------------------------------------

void Timeline::StartStretch(int64_t pos, int64_t offset_us) {
    Stretch stretch;
    stretch.pos = std::max<int64_t>(0, pos);
    stretch.offset_us = offset_us;
    stretch.start_us = INT64_MIN;
    stretch.end_us = INT64_MIN;
    stretches_.push_back(stretch);
}

bool Timeline::SampleAt(int64_t pos, Sample* sample) {
    ++samples_taken_;
    if (avformat_seek_file(format_, -1, INT64_MIN, pos, pos, AVSEEK_FLAG_BYTE) < 0) return false;
    AVPacket* packet = av_packet_alloc();
    if (packet == nullptr) return false;
    bool found = false;
    for (int64_t read = 0; !found && read < kSampleReadBytes && av_read_frame(format_, packet) >= 0;) {
        read += packet->size;
        if (packet->stream_index == video_stream_ && packet->dts != AV_NOPTS_VALUE && packet->pos >= 0) {
            sample->pos = packet->pos;
            sample->raw_us = av_rescale_q(packet->dts, format_->streams[video_stream_]->time_base, AV_TIME_BASE_Q);
            found = true;
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    return found;
}

bool Timeline::ReadThrough(int64_t from, int64_t to) {
    if (avformat_seek_file(format_, -1, INT64_MIN, from, from, AVSEEK_FLAG_BYTE) < 0) return false;
    AVPacket* packet = av_packet_alloc();
    if (packet == nullptr) return false;
    bool any = false;
    while (av_read_frame(format_, packet) >= 0) {
        search_bytes_left_ -= packet->size;
        const bool past = packet->pos > to;
        if (!past) {
            Normalise(packet);
            any = true;
        }
        av_packet_unref(packet);
        if (past) break;
    }
    av_packet_free(&packet);
    return any;
}

void Timeline::ContinueTo(const Sample& sample) {
    // Taken as running on from the last place read: the pictures there are
    // where the pictures were, and the sound is judged afresh.
    const int64_t time_us = sample.raw_us + offset_us_;
    video_.last_us = time_us;
    audio_ = {};
    has_previous_ = false;
    video_end_us_ = std::max(video_end_us_, time_us + frame_interval_us_);
    if (!stretches_.empty()) stretches_.back().end_us = std::max(stretches_.back().end_us, video_end_us_);
}

void Timeline::SearchBetween(const Sample& a, const Sample& b, double bytes_per_us, int depth) {
    const int64_t step_us = b.raw_us - a.raw_us;
    const double expected_us = static_cast<double>(b.pos - a.pos) / bytes_per_us;
    const bool agrees = step_us >= -jump_us_ &&
                        static_cast<double>(step_us) <= expected_us * kRateFactor + static_cast<double>(jump_us_) &&
                        static_cast<double>(step_us) >= expected_us / kRateFactor - static_cast<double>(jump_us_);
    if (agrees || samples_taken_ >= kMostSamples || search_bytes_left_ <= 0) return ContinueTo(b);
    if (b.pos - a.pos <= kWindowBytes) {
        if (!ReadThrough(a.pos, b.pos)) ContinueTo(b);
        return;
    }
    Sample middle;
    if (depth > 40 || !SampleAt(a.pos + (b.pos - a.pos) / 2, &middle) || middle.pos <= a.pos || middle.pos >= b.pos) {
        if (!ReadThrough(a.pos, b.pos)) ContinueTo(b);
        return;
    }
    SearchBetween(a, middle, bytes_per_us, depth + 1);
    SearchBetween(middle, b, bytes_per_us, depth + 1);
}

bool Timeline::Scan() {
    if (!enabled_) return false;
    const int64_t size = avio_size(format_->pb);
    if (size <= 0) return false;
    stretches_.clear();
    samples_taken_ = 0;
    search_bytes_left_ = kMostSearchBytes;
    offset_us_ = 0;
    Restart();
    restarted_ = false;
    scanning_ = true;
    StartStretch(0, 0);
    bool read = false;
    if (raw_) {
        // No timestamps: the length is what the pictures' durations add up
        // to, counted over the file or its first kWholeScanBytes.
        const int64_t counted = std::min(size, kWholeScanBytes);
        made_next_us_ = 0;
        read = ReadThrough(0, counted);
        if (read && counted < size && stretches_.back().end_us != INT64_MIN) {
            stretches_.back().end_us = static_cast<int64_t>(static_cast<double>(stretches_.back().end_us) * size / counted);
        }
    } else if (size <= kWholeScanBytes) {
        read = ReadThrough(0, size);
    } else {
        std::vector<Sample> samples;
        for (int i = 1; i < kSamples; ++i) {
            Sample sample;
            if (SampleAt(size / kSamples * i, &sample) && (samples.empty() || sample.pos > samples.back().pos)) {
                samples.push_back(sample);
            }
        }
        // The byte rate the samples agree on: the median of their steps.
        std::vector<double> rates;
        for (size_t i = 1; i < samples.size(); ++i) {
            const int64_t step_us = samples[i].raw_us - samples[i - 1].raw_us;
            if (step_us > 0) rates.push_back(static_cast<double>(samples[i].pos - samples[i - 1].pos) / step_us);
        }
        read = ReadThrough(0, kWindowBytes);
        Sample end;
        if (read && !rates.empty() && SampleAt(size - kWindowBytes, &end)) {
            std::nth_element(rates.begin(), rates.begin() + static_cast<long>(rates.size() / 2), rates.end());
            const double bytes_per_us = rates[rates.size() / 2];
            Sample from;
            from.pos = kWindowBytes;
            from.raw_us = video_.last_us - offset_us_;
            samples.push_back(end);
            for (const Sample& sample : samples) {
                if (sample.pos <= from.pos) continue;
                SearchBetween(from, sample, bytes_per_us, 0);
                from = sample;
            }
            ReadThrough(end.pos, size);
        }
    }
    scanning_ = false;
    Restart();
    offset_us_ = 0;
    stretches_.erase(std::remove_if(stretches_.begin(), stretches_.end(),
                                    [](const Stretch& s) { return s.start_us == INT64_MIN || s.end_us == INT64_MIN; }),
                     stretches_.end());
    if (!read || stretches_.empty()) {
        stretches_.clear();
        return false;
    }
    return true;
}

}  // namespace playersdk
