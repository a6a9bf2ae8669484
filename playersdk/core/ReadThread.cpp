// The read thread: demultiplexes the input into the bounded packet queues of
// the picture and sound threads, carries out seeks, and stops at the end.
#include "core/CutRecorder.h"
#include "core/EngineBounds.h"
#include "core/Engine.h"
#include "core/MediaExtent.h"
#include "core/Timeline.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace playersdk {

// Every packet that is played comes through here, from the open and from the
// read thread; seeks' own scans for key frames read the container directly.
// This is where a packet's timestamps become media time: anything that
// changes them must do so here, before the queues, the cut and the decoders
// see the packet. Media time is then counted from the first timestamp by
// PacketTimeUs and FrameTimeUs.
int Engine::ReadMediaPacket(AVPacket* packet) {
    const int result = av_read_frame(format_, packet);
    if (result < 0) return result;
    if (PastHeldEnd(packet)) {
        av_packet_unref(packet);  // the part of a sample cut short
        return AVERROR_EOF;
    }
    timeline_->Normalise(packet);
    return result;
}

bool Engine::PastHeldEnd(const AVPacket* packet) const {
    if (held_end_us_ == AV_NOPTS_VALUE || packet->dts == AV_NOPTS_VALUE) return false;
    return av_rescale_q(packet->dts, format_->streams[packet->stream_index]->time_base, AV_TIME_BASE_Q) >= held_end_us_;
}

void Engine::GrowTotal(const AVPacket* packet) {
    const int64_t time_us = PacketTimeUs(packet);
    if (time_us == kUnknownTime) return;
    const int64_t end_ms = (time_us + PacketDurationUs(packet)) / 1000;
    if (end_ms > total_ms_.load() && end_ms <= UINT32_MAX) total_ms_ = static_cast<uint32_t>(end_ms);
}

int64_t Engine::PacketTimeUs(const AVPacket* packet) const {
    int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    if (ts == AV_NOPTS_VALUE) return kUnknownTime;
    return av_rescale_q(ts, format_->streams[packet->stream_index]->time_base, AV_TIME_BASE_Q) - start_us_;
}

int64_t Engine::PacketDecodeTimeUs(const AVPacket* packet) const {
    if (packet->dts == AV_NOPTS_VALUE) return PacketTimeUs(packet);
    return av_rescale_q(packet->dts, format_->streams[packet->stream_index]->time_base, AV_TIME_BASE_Q) - start_us_;
}

int64_t Engine::PacketDurationUs(const AVPacket* packet) const {
    if (packet->duration > 0) {
        return av_rescale_q(packet->duration, format_->streams[packet->stream_index]->time_base, AV_TIME_BASE_Q);
    }
    return packet->stream_index == video_stream_ ? frame_interval_us_ : 0;
}

bool Engine::QueuesFull() const {
    if (video_packets_.Bytes() + sound_packets_.Bytes() > kMaxQueuedBytes) return true;
    return video_packets_.HoldsShare(1.0) && (audio_stream_ < 0 || SoundSilent() || sound_packets_.HoldsShare(1.0));
}

void Engine::FollowWrittenEnd() {
    written_end_looked_at_ = PlaybackClock::WallClock::now();
    input_->HoldGrowthWait(true);  // box headers are read within the file's size: no wait at its end
    const int64_t end_us = written_end_->EndUs(format_->pb);
    input_->HoldGrowthWait(false);
    if (end_us == AV_NOPTS_VALUE) return;
    // Onto the continuous timeline as the last stretch found at the open.
    const auto& stretches = timeline_->Stretches();
    const int64_t offset_us = stretches.empty() ? 0 : stretches.back().offset_us;
    const int64_t end_ms = (end_us + offset_us - start_us_) / 1000;
    if (end_ms > total_ms_.load() && end_ms <= UINT32_MAX) total_ms_ = static_cast<uint32_t>(end_ms);
}

void Engine::RoutePacket(AVPacket* packet) {
    const int index = packet->stream_index;
    if (index != video_stream_ && index != audio_stream_) {
        av_packet_unref(packet);
        return;
    }
    AVPacket* owned = av_packet_alloc();
    if (owned == nullptr) {
        av_packet_unref(packet);
        return;
    }
    av_packet_move_ref(owned, packet);
    const int64_t time = PacketTimeUs(owned);
    if (index == video_stream_) {
        if (time != kUnknownTime) video_read_us_ = time;
        key_frames_.Read(PacketDecodeTimeUs(owned), time, (owned->flags & AV_PKT_FLAG_KEY) != 0);
        {
            // Pictures come in decoding order: one timed behind the mark is a
            // reordered picture, not progress (a seek goes back in bytes too).
            std::lock_guard lock(read_mark_mutex_);
            if (owned->pos >= 0 && time != kUnknownTime &&
                (time / 1000 >= last_read_.ms || owned->pos < last_read_.pos)) {
                last_read_ = {owned->pos, time / 1000};
            }
        }
        video_packets_.Push(owned, time, PacketDurationUs(owned));
    } else {
        if (time != kUnknownTime) sound_read_us_ = time;
        sound_packets_.Push(owned, time, PacketDurationUs(owned));
    }
}

bool Engine::SoundSilent() const {
    const int64_t video_us = video_read_us_;
    if (audio_stream_ < 0 || video_us == kUnknownTime) return false;
    const int64_t sound_us = sound_read_us_;
    const int64_t heard_from = sound_us != kUnknownTime ? sound_us : read_from_us_.load();
    return video_us - heard_from > kSilentSoundUs;
}

void Engine::ReadLoop() {
    AVPacket* packet = av_packet_alloc();
    int failures = 0;  // failed reads in a row
    while (!quit_ && packet != nullptr) {
        {
            std::unique_lock lock(mutex_);
            if (state_.SeekPending()) {
                SeekLocked(lock);
                failures = 0;
                continue;
            }
        }
        if (written_end_ && PlaybackClock::WallClock::now() - written_end_looked_at_ >= kWrittenEndLookEvery) {
            FollowWrittenEnd();
        }
        if (video_packets_.EndMarked() || QueuesFull()) {
            if (written_end_) {
                reader_wake_.WaitFor(kWrittenEndLookEvery);
            } else {
                reader_wake_.Wait();
            }
            continue;
        }
        int result = ReadMediaPacket(packet);
        if (result >= 0) cut_->Add(packet, PacketTimeUs(packet), shown_us_);
        if (result < 0) {
            // A damaged packet or index entry is passed over (a sample
            // pointing past the end of the file reads as the end, so the end
            // is read again too, at once); failures that go on end the media.
            const bool ended = result != AVERROR(EAGAIN) && ++failures > kReadRetries;
            if (!ended) {
                if (result != AVERROR_EOF) reader_wake_.WaitFor(kReadRetryWait);
            } else {
                std::lock_guard lock(mutex_);
                if (!state_.SeekPending()) {
                    video_packets_.MarkEnd();
                    sound_packets_.MarkEnd();
                }
            }
            continue;
        }
        failures = 0;
        {
            std::lock_guard lock(mutex_);
            if (state_.SeekPending()) {
                av_packet_unref(packet);  // read before the seek
                continue;
            }
        }
        GrowTotal(packet);
        RoutePacket(packet);
    }
    av_packet_free(&packet);
}

}  // namespace playersdk
