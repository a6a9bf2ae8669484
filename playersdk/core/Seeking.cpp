// Seeking: a seek asked for by an entry point, merged into one under way
// when decoding on reaches it, and carried out by the read thread.

#include <algorithm>

#include "core/AudioOutput.h"
#include "core/CutRecorder.h"
#include "core/EngineBounds.h"
#include "core/Engine.h"
#include "core/Timeline.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace playersdk {

void Engine::RequestSeekLocked(int64_t target_us) {
    // A target past the pictures decoded, before the next key frame, is
    // reached by decoding on, with no new seek: while the picture thread
    // decodes on to an exact target, and, paused, once the seek has landed
    // or playing has stopped, while the decoder still holds what the
    // pictures to come refer to (the speed may have gone to key frames only
    // since the latest packet was taken).
    const bool refining = state_.Seeking() && !state_.SeekPending() && refining_;
    const bool landed = !state_.Seeking() && state_.Paused() && decodes_on_ && state_.SpeedStep() < kKeyFramesOnlyStep;
    // Decoding goes on from the serial's target, or from the latest picture
    // decoded once past it (playing may have passed key frames since).
    const int64_t decoding_from = std::max(state_.SerialTargetUs(), decoded_to_us_ - 1);
    const bool decode_on = (refining || landed) && target_us >= decoded_to_us_ &&
                           key_frames_.SameKeyFrame(decoding_from, target_us);
    state_.RequestSeek(target_us, decode_on);
    if (decode_on) {
        // The picture thread takes the target up at its next picture; the
        // pictures decoded before it are not shown, nor is the sound passed over heard.
        refining_ = true;
        if (audio_) audio_->DropBefore(target_us);
    } else {
        // A cut keeps what was shown before the seek, up to the picture on screen.
        cut_->SeekAsked(shown_us_);
        input_->HoldGrowthWait(true);  // the read thread seeks at once, not after a wait for more
    }
    shown_us_ = target_us;
    UpdateClockLocked();
    clock_.Set(target_us);
    reader_wake_.Ring();
}

// Carries out the latest seek asked for; what was queued before it is dropped.
// The queues go to the new serial under the player's lock, together with the
// state: whoever reads the serial there finds the queues at it.
void Engine::SeekLocked(std::unique_lock<std::mutex>& lock) {
    const int64_t target = state_.BeginSeek();
    const int serial = state_.Serial();
    video_read_us_ = sound_read_us_ = kUnknownTime;
    read_from_us_ = target;
    {
        std::lock_guard mark_lock(read_mark_mutex_);
        last_read_ = {};
    }
    video_packets_.Flush(serial);
    sound_packets_.Flush(serial);
    pictures_.Flush(serial);
    if (audio_) audio_->Flush(serial);
    lock.unlock();
    input_->HoldGrowthWait(true);  // the key-frame search reads to the end, not past it
    if (!seek_by_reading_ || !SeekToKeyFrameAtOrBefore(target)) {
        const int64_t ts = start_us_ + target;
        const int64_t pos = timeline_->PosOf(ts);
        if (pos >= 0) {
            SeekToByte(pos);
        } else {
            if (written_end_ && !seek_by_reading_) ReadOnToFragmentOf(ts);
            if (avformat_seek_file(format_, -1, INT64_MIN, ts, ts, 0) < 0) {
                avformat_seek_file(format_, -1, INT64_MIN, ts, INT64_MAX, 0);
            }
        }
    }
    timeline_->Restart();
    key_frames_.Restart();
    input_->HoldGrowthWait(false);
    cut_->SeekDone();
    lock.lock();
}

// A container without a key-frame index (MPEG-TS, MPEG-PS) seeks by
// timestamps alone and lands on any picture. So: land a little before the
// target, read on (demultiplexing only) to the last key frame at or before
// it, further back until there is one, and go to its byte position. False
// when no key frame was found that way.
bool Engine::SeekToKeyFrameAtOrBefore(int64_t target_us) {
    AVPacket* packet = av_packet_alloc();
    if (packet == nullptr) return false;
    const int64_t size = avio_size(format_->pb);
    int64_t found = -1;
    bool from_start = false;
    bool superseded = false;
    for (int64_t back_us = kKeyFrameSearchStepUs; found < 0 && !superseded; back_us *= 4) {
        const int64_t from_us = target_us - back_us;
        if (from_us <= 0) {
            from_start = true;
            break;
        }
        // Where the file's own timestamps cannot say (they jump, or there
        // are none), the byte position the timeline gives; else a guess by
        // the byte position when the timestamps fail.
        const int64_t known = timeline_->PosOf(start_us_ + from_us);
        if (known >= 0) {
            if (!SeekToByte(known)) break;
        } else if (avformat_seek_file(format_, -1, INT64_MIN, start_us_ + from_us, start_us_ + from_us, 0) >= 0) {
            timeline_->Restart();
            key_frames_.Restart();
        } else {
            if (size <= 0 || total_ms_ == 0) break;
            const auto guess = static_cast<int64_t>(static_cast<double>(size) * from_us / (total_ms_ * 1000.0));
            if (!SeekToByte(guess)) break;
        }
        // The first search in a local file reads on past the target for the
        // key frames there (a stream would wait for those bytes to come).
        const bool look_ahead = back_us == kKeyFrameSearchStepUs && input_->Local();
        const int64_t read_to_us = target_us + (look_ahead ? kKeyFrameLookAheadUs : 0);
        int64_t scanned = 0;
        for (int n = 0; scanned < kKeyFrameSearchBytes; ++n) {
            if ((n & 15) == 0) {
                std::lock_guard lock(mutex_);
                superseded = quit_ || state_.SeekPending();
            }
            if (superseded || av_read_frame(format_, packet) < 0) break;
            timeline_->Normalise(packet);
            scanned += packet->size;
            bool passed = false;
            if (packet->stream_index == video_stream_) {
                const int64_t pts = PacketTimeUs(packet);
                const bool key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
                if (key && packet->pos >= 0 && pts != kUnknownTime && pts <= target_us) found = packet->pos;
                // In decoding order: past the target, no key frame to come is at or before it.
                const int64_t dts = PacketDecodeTimeUs(packet);
                key_frames_.Read(dts, pts, key);
                passed = dts != kUnknownTime && dts > read_to_us;
            }
            av_packet_unref(packet);
            if (passed) break;
        }
    }
    av_packet_free(&packet);
    if (superseded) return true;  // the newer seek goes its own way
    if (from_start) return SeekToByte(0);
    return found >= 0 && SeekToByte(found);
}

void Engine::ReadOnToFragmentOf(int64_t ts) {
    AVStream* video = format_->streams[video_stream_];
    const int64_t wanted = av_rescale_q(ts, AV_TIME_BASE_Q, video->time_base);
    auto indexed_to = [video] {
        const int n = avformat_index_get_entries_count(video);
        const AVIndexEntry* last = n > 0 ? avformat_index_get_entry(video, n - 1) : nullptr;
        return last != nullptr ? last->timestamp : INT64_MIN;
    };
    if (indexed_to() >= wanted) return;
    // From the last key frame indexed, demultiplexing only: each fragment
    // read adds its samples to the index.
    avformat_seek_file(format_, -1, INT64_MIN, ts, ts, 0);
    AVPacket* packet = av_packet_alloc();
    for (int n = 0; packet != nullptr && indexed_to() < wanted; ++n) {
        if ((n & 15) == 0) {
            std::lock_guard lock(mutex_);
            if (quit_ || state_.SeekPending()) break;
        }
        if (av_read_frame(format_, packet) < 0) break;
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
}

bool Engine::SeekToByte(int64_t pos) {
    const bool moved = avformat_seek_file(format_, -1, INT64_MIN, pos, pos, AVSEEK_FLAG_BYTE) >= 0;
    timeline_->Restart();
    key_frames_.Restart();
    return moved;
}

}  // namespace playersdk
