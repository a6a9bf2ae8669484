// The picture thread: decodes the picture packets into the short picture
// queue, dropping what an earlier seek left, leaving out what it must to keep
// up with the clock (CatchUp.h), and decodes on from a seek's key frame to its
// exact target, for a bounded time.
#include <algorithm>
#include <cerrno>
#include <thread>
#include <utility>

#include <sys/resource.h>
#include <unistd.h>

#include "core/CatchUp.h"
#include "core/EngineBounds.h"
#include "core/Engine.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace playersdk {

void LowerThisThreadsPriority(int by) {
    errno = 0;
    const int now = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    if (now == -1 && errno != 0) return;
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), now + by);
}

int64_t Engine::FrameTimeUs(const AVFrame* frame) const {
    int64_t pts = frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
    if (pts == AV_NOPTS_VALUE) return shown_us_ + frame_interval_us_;
    return av_rescale_q(pts, format_->streams[video_stream_]->time_base, AV_TIME_BASE_Q) - start_us_;
}

int64_t Engine::FrameDurationUs(const AVFrame* frame) const {
    if (frame->pkt_duration > 0) {
        return av_rescale_q(frame->pkt_duration, format_->streams[video_stream_]->time_base, AV_TIME_BASE_Q);
    }
    return frame_interval_us_;
}

AVCodecContext* Engine::NewVideoDecoder(const AVCodec* codec, int threads) const {
    const AVStream* stream = format_->streams[video_stream_];
    AVCodecContext* decoder = avcodec_alloc_context3(codec);
    if (decoder == nullptr) return nullptr;
    decoder->thread_count = threads;
    decoder->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    decoder->pkt_timebase = stream->time_base;
    if (avcodec_parameters_to_context(decoder, stream->codecpar) < 0 ||
        avcodec_open2(decoder, codec, nullptr) < 0) {
        avcodec_free_context(&decoder);
    }
    return decoder;
}

bool Engine::ReplaceVideoDecoder(int threads) {
    AVCodecContext* replacement = NewVideoDecoder(video_decoder_->codec, threads);
    if (replacement == nullptr) return false;
    avcodec_free_context(&video_decoder_);
    video_decoder_ = replacement;
    video_decoder_threads_ = threads;
    return true;
}

struct Engine::DecodeState {
    int serial = 0;
    int64_t target_us = 0;
    bool refining = false;      // decoding on to an exact seek target
    bool preview_sent = false;
    bool landing_due = false;   // the next picture handed on is the seek's landing
    bool need_key = false;      // packets are dropped until a key frame
    // Every packet since the last key frame was decoded, with its loop
    // filter: the pictures after it decode whole from here.
    bool references_whole = false;
    bool drained = false;
    int speed_step = 0;
    CatchUp catch_up;
    // Decoding on to an exact target: since when, from which picture, and
    // for which target (a seek merged into this one starts the count again).
    PlaybackClock::WallClock::time_point refine_started;
    int64_t refine_from_us = kUnknownTime;
    int64_t refine_target_us = kUnknownTime;
    AVFrame* frame = nullptr;
    AVFrame* held = nullptr;    // the latest picture before the target
};

// Hands a decoded picture on: while refining a seek, the first picture is
// shown at once as a preview and the one at the target follows, marked as the
// seek's landing.
void Engine::OfferPicture(AVFrame* frame, DecodeState& state) {
    if (state.speed_step >= kKeyFramesOnlyStep && !frame->key_frame) {
        av_frame_unref(frame);
        return;
    }
    auto make = [&](AVFrame* source, bool preview) {
        QueuedPicture picture;
        picture.frame = av_frame_alloc();
        if (picture.frame == nullptr) return picture;
        av_frame_move_ref(picture.frame, source);
        picture.serial = state.serial;
        picture.time_us = FrameTimeUs(picture.frame);
        picture.duration_us = FrameDurationUs(picture.frame);
        picture.preview = preview;
        return picture;
    };
    auto hand_on = [&](AVFrame* source) {
        QueuedPicture picture = make(source, false);
        if (picture.frame == nullptr) return;
        picture.landing = std::exchange(state.landing_due, false);
        PushPicture(picture);
    };
    const int64_t time = FrameTimeUs(frame);
    bool before = false;
    {
        std::lock_guard lock(mutex_);
        if (state.serial == state_.Serial()) {
            // A seek ahead asked once this serial's seek had landed goes on
            // from this picture.
            if (refining_ && !state.refining) ResumeRefiningLocked(state);
            // The target may have moved on meanwhile (a merged seek).
            state.target_us = state_.SerialTargetUs();
        }
        decoded_to_us_ = std::max(decoded_to_us_, time + FrameDurationUs(frame));
        if (state.refining) {
            before = time + FrameDurationUs(frame) <= state.target_us;
            if (!before) refining_ = false;
        }
    }
    if (state.refining) {
        if (before) {
            if (!state.preview_sent) {
                state.preview_sent = true;
                AVFrame* copy = av_frame_clone(frame);
                if (copy != nullptr) {
                    QueuedPicture preview = make(copy, true);
                    av_frame_free(&copy);
                    if (preview.frame != nullptr) PushPicture(preview);
                }
            }
            if (state.refine_from_us == kUnknownTime) state.refine_from_us = time;
            av_frame_unref(state.held);
            av_frame_move_ref(state.held, frame);
            if (!DecodeOnWithinBudget(time, state)) {
                // Landed on the picture reached: it is shown, and playing goes on from it.
                state.refining = false;
                state.landing_due = true;
                hand_on(state.held);
            }
            return;
        }
        state.refining = false;
        state.landing_due = true;
        // A gap in the pictures: the one before the target is on screen at it.
        if (time > state.target_us && state.held->buf[0] != nullptr) hand_on(state.held);
        av_frame_unref(state.held);
    }
    hand_on(frame);
}

void Engine::ResumeRefiningLocked(DecodeState& state) {
    // The picture on screen stands until the target's: no preview. The
    // budget counts from now, as for a merged seek.
    state.refining = true;
    state.preview_sent = true;
    state.landing_due = false;
    state.refine_started = PlaybackClock::WallClock::now();
    state.refine_from_us = kUnknownTime;
    state.refine_target_us = state_.SerialTargetUs();
    av_frame_unref(state.held);
}

bool Engine::DecodeOnWithinBudget(int64_t reached_us, DecodeState& state) {
    const auto now = PlaybackClock::WallClock::now();
    std::lock_guard lock(mutex_);
    if (state.serial != state_.Serial() || state_.SeekPending() || !state_.Seeking()) return true;
    const int64_t target = state_.SerialTargetUs();
    if (target != state.refine_target_us) {
        // A seek merged into this one (a bar being dragged) is a seek of its
        // own that goes on from the pictures decoded so far: its budget, and
        // the pace it is judged by, count from now. Judged by the first
        // target's clock, a drag would leave for the next key frame, or land
        // short, while its later targets still lie ahead of decoding on, and
        // start again from the key frame at its next seek.
        state.refine_target_us = target;
        state.refine_started = now;
        state.refine_from_us = reached_us;
        return true;
    }
    const auto spent = now - state.refine_started;
    if (spent < kDecodeOnJudgedAfter) return true;
    // Where decoding on gets to within the budget, at its pace so far.
    const double spent_us = std::chrono::duration<double, std::micro>(spent).count();
    const double budget_us = std::chrono::duration<double, std::micro>(kDecodeOnBudget).count();
    const double pace = static_cast<double>(reached_us - state.refine_from_us) / spent_us;
    const auto reachable = reached_us + static_cast<int64_t>(pace * std::max(0.0, budget_us - spent_us));
    const int64_t next_key = key_frames_.KeyFrameAfter(target);
    if (next_key != KeyFrameMap::kUnknown && next_key - target < target - reachable) {
        RequestSeekLocked(next_key);  // a new seek: what is decoded now is dropped
        return true;
    }
    if (spent < kDecodeOnBudget) return true;
    state_.LandSeekAt(reached_us);
    refining_ = false;
    return false;
}

void Engine::DecodePacket(AVPacket* packet, DecodeState& state) {
    for (int attempt = 0; attempt < kDecoderSendAttempts && !quit_; ++attempt) {
        int sent = avcodec_send_packet(video_decoder_, packet);
        while (avcodec_receive_frame(video_decoder_, state.frame) == 0) OfferPicture(state.frame, state);
        // EAGAIN: the decoder had pictures to give first; now it takes the packet.
        if (sent != AVERROR(EAGAIN)) break;
    }
}

void Engine::VideoLoop() {
    LowerThisThreadsPriority(kDecoderNiceness);
    DecodeState state;
    state.references_whole = opened_on_key_frame_;
    state.frame = av_frame_alloc();
    state.held = av_frame_alloc();
    std::unique_lock lock(mutex_);
    while (!quit_ && state.frame != nullptr && state.held != nullptr) {
        if (state_.SeekPending()) {
            // A newer seek is coming: nothing queued now is worth decoding.
            const int serial = state_.Serial();
            lock.unlock();
            video_packets_.AwaitSerialChange(serial);
            lock.lock();
            continue;
        }
        if (state.serial != state_.Serial()) {
            state.serial = state_.Serial();
            state.target_us = state_.SerialTargetUs();
            state.refining = state_.SerialExact();
            refining_ = state_.SerialExact();
            decoded_to_us_ = 0;
            decodes_on_ = false;
            state.preview_sent = false;
            state.landing_due = false;
            state.need_key = true;
            state.references_whole = false;
            state.drained = false;
            state.catch_up.Reset();
            state.refine_started = PlaybackClock::WallClock::now();
            state.refine_from_us = kUnknownTime;
            state.refine_target_us = state.target_us;
            lock.unlock();
            if (!state.refining || video_decoder_threads_ == seek_decoder_threads_ ||
                !ReplaceVideoDecoder(seek_decoder_threads_)) {
                avcodec_flush_buffers(video_decoder_);
            }
            av_frame_unref(state.held);
            lock.lock();
            continue;
        }
        lock.unlock();
        QueuedPacket item;
        if (!video_packets_.Pop(&item)) {
            if (video_packets_.Finished() && !state.drained) {
                state.drained = true;
                {
                    std::lock_guard speed_lock(mutex_);
                    state.speed_step = state_.SpeedStep();
                }
                DecodePacket(nullptr, state);
                {
                    std::lock_guard refining_lock(mutex_);
                    refining_ = false;
                    decodes_on_ = false;  // a drained decoder decodes nothing more
                }
                if (state.refining && state.held->buf[0] != nullptr) {
                    // The target is past the last picture: that one is shown.
                    state.refining = false;
                    AVFrame* last = av_frame_alloc();
                    if (last != nullptr) {
                        av_frame_move_ref(last, state.held);
                        QueuedPicture picture;
                        picture.frame = last;
                        picture.serial = state.serial;
                        picture.time_us = FrameTimeUs(last);
                        picture.duration_us = FrameDurationUs(last);
                        picture.landing = true;
                        PushPicture(picture);
                    }
                }
                QueuedPicture end;
                end.serial = state.serial;
                PushPicture(end);
            } else {
                video_packets_.Await(state.serial, state.drained);
            }
            lock.lock();
            continue;
        }
        lock.lock();
        if (item.serial != state.serial) {
            av_packet_free(&item.packet);
            continue;
        }
        state.speed_step = state_.SpeedStep();
        state.target_us = state_.SerialTargetUs();
        AVPacket* packet = item.packet;
        const bool key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
        const int64_t time = PacketTimeUs(packet);
        // How late this packet is behind the clock, in wall time.
        CatchUpStep catch_up = CatchUpStep::kNone;
        const bool decoder_bound = video_packets_.DurationUs() >= kCatchUpQueuedUs || video_packets_.EndMarked();
        if (state_.ClockRuns() && !state.refining && time != kUnknownTime && decoder_bound) {
            const auto late_us = static_cast<int64_t>(static_cast<double>(clock_.NowUs() - time) / clock_.Speed());
            catch_up = state.catch_up.Next(late_us, frame_interval_us_);
        } else {
            state.catch_up.Reset();
        }
        if (catch_up == CatchUpStep::kToNextKeyFrame && !key) state.need_key = true;
        const bool key_frames_only = state.speed_step >= kKeyFramesOnlyStep;
        if (key) state.need_key = false;
        if (!key && key_frames_only) state.need_key = true;  // back below 8x a key frame comes first
        const bool decoded = key || !state.need_key;
        state.references_whole = decoded && catch_up < CatchUpStep::kNoLoopFilter && (key || state.references_whole);
        // Decided under the player's lock with what is dropped or left out of
        // this packet, taken while the clock ran or not: a seek asked from now
        // on knows what every packet taken so far does to the references.
        decodes_on_ = state.references_whole && !state.drained && !key_frames_only;
        lock.unlock();
        if (key && !state.refining && video_decoder_threads_ != playback_decoder_threads_) {
            // The exact seek is over: the pictures before this key frame come
            // out of the seek's decoder, then playing goes on with fewer threads.
            DecodePacket(nullptr, state);
            if (!ReplaceVideoDecoder(playback_decoder_threads_)) avcodec_flush_buffers(video_decoder_);
        }
        if (decoded) {
            // Pictures before an exact target are never shown: those that no
            // other picture refers to need no decoding.
            const bool before_target = state.refining && time != kUnknownTime &&
                                       time + PacketDurationUs(packet) <= state.target_us;
            video_decoder_->skip_frame = before_target || catch_up >= CatchUpStep::kNoNonReference
                                             ? AVDISCARD_NONREF
                                             : AVDISCARD_DEFAULT;
            video_decoder_->skip_loop_filter =
                catch_up >= CatchUpStep::kNoLoopFilter ? AVDISCARD_ALL : AVDISCARD_DEFAULT;
            if (const int64_t cost = decode_cost_us_.load(); cost > 0) {
                std::this_thread::sleep_for(std::chrono::microseconds(cost));
            }
            DecodePacket(packet, state);
        }
        av_packet_free(&packet);
        lock.lock();
    }
    av_frame_free(&state.frame);
    av_frame_free(&state.held);
}

}  // namespace playersdk
