#include "core/Player.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "core/AudioOutput.h"
#include "core/BmpWriter.h"
#include "core/CutRecorder.h"
#include "core/DrivePath.h"
#include "core/MediaExtent.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
}

namespace playersdk {
namespace {

using Wall = PlaybackClock::WallClock;
using namespace std::chrono_literals;

constexpr int kAvioBufferSize = 64 * 1024;
constexpr int kMinSpeedStep = -4;  // 1/16
constexpr int kMaxSpeedStep = 4;   // 16
constexpr int kKeyFramesOnlyStep = 3;  // 8x and faster
// Read-ahead: the read thread waits once every stream has this much queued,
// or all streams together this many bytes. Enough to ride out a slow read.
constexpr int64_t kQueueAheadUs = 2000000;
constexpr size_t kMinQueuedPackets = 25;
constexpr size_t kMaxQueuedBytes = 32u << 20;
constexpr size_t kPictureQueueSize = 3;
// Decoded sound waiting for the device.
constexpr int64_t kSoundAheadUs = 250000;
// Unheard sound is dropped in batches of about this much.
constexpr int64_t kUnheardSoundBatchUs = 200000;
// Sound packets this far behind the clock are not worth decoding.
constexpr int64_t kSoundSkipBehindUs = 300000;
// At the start and after a seek the clock starts once the sound is ready, or after this.
constexpr auto kSoundReadyWait = 500ms;
// A late picture is still shown when nothing was shown for this long, so the
// picture keeps moving on a machine too slow for the speed asked.
constexpr auto kLongestWithoutPicture = 250ms;
constexpr auto kLongestPresenterSleep = 100ms;
constexpr int64_t kUnknownTime = INT64_MIN;
// Seeking in a container without an index: how far before the target the
// search for a key frame starts (then 4x further each time), and how much it
// reads at most from each start.
constexpr int64_t kKeyFrameSearchStepUs = 1000000;
constexpr int64_t kKeyFrameSearchBytes = 256 << 20;

double SpeedOf(int speed_step) { return speed_step >= 0 ? double(1 << speed_step) : 1.0 / (1 << -speed_step); }

int64_t MsFromWall() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Wall::now().time_since_epoch()).count();
}

// Containers may name further files or addresses (playlists, references):
// this library plays the one input it was given and opens nothing else.
int RefuseNestedOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
    return AVERROR(EPERM);
}

}  // namespace

// --- packet queue -----------------------------------------------------------

void Player::PacketQueue::Push(AVPacket* packet, int serial, int64_t duration_us) {
    bytes_ += static_cast<size_t>(packet->size);
    duration_us_ += duration_us;
    items_.push_back({packet, serial, duration_us});
}

Player::QueuedPacket Player::PacketQueue::Pop() {
    QueuedPacket item = items_.front();
    items_.pop_front();
    bytes_ -= static_cast<size_t>(item.packet->size);
    duration_us_ -= item.duration_us;
    return item;
}

void Player::PacketQueue::Clear() {
    for (QueuedPacket& item : items_) av_packet_free(&item.packet);
    items_.clear();
    bytes_ = 0;
    duration_us_ = 0;
}

// --- opening ----------------------------------------------------------------

Player::Player(std::unique_ptr<MediaInput> input) : input_(std::move(input)) {}

Player::~Player() {
    Close();
    cut_.reset();
    av_frame_free(&next_.frame);
    ClearPicturesLocked();
    video_packets_.Clear();
    sound_packets_.Clear();
    av_frame_free(&shown_);
    avcodec_free_context(&video_decoder_);
    avformat_close_input(&format_);
    if (avio_ != nullptr) {
        av_freep(&avio_->buffer);
        avio_context_free(&avio_);
    }
}

std::shared_ptr<Player> Player::Open(std::unique_ptr<MediaInput> input, std::string* why) {
    if (!input) {
        if (why) *why = "no input";
        return nullptr;
    }
    std::shared_ptr<Player> player(new Player(std::move(input)));
    std::string reason;
    if (!player->OpenMedia(&reason)) {
        if (why) *why = reason;
        return nullptr;
    }
    // What the open read was all there was then; a file still being written
    // has more by now.
    player->format_->pb->eof_reached = 0;
    player->input_->Opened();
    player->StartThreads();
    return player;
}

int Player::ReadPacket(void* opaque, uint8_t* buffer, int size) {
    auto* self = static_cast<Player*>(opaque);
    if (self->quit_) return AVERROR_EXIT;
    self->read_started_ms_ = MsFromWall();
    int n = self->input_->Read(buffer, size);
    self->read_started_ms_ = 0;
    if (self->quit_) return AVERROR_EXIT;
    return n == 0 ? AVERROR_EOF : n;
}

int64_t Player::SeekInput(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<Player*>(opaque);
    return self->input_->Seek(offset, whence);
}

int Player::Interrupted(void* opaque) { return static_cast<Player*>(opaque)->quit_ ? 1 : 0; }

int64_t Player::ReadBlockedMs() const {
    int64_t started = read_started_ms_;
    return started == 0 ? 0 : std::max<int64_t>(0, MsFromWall() - started);
}

int64_t Player::QueuedAheadMs() const {
    std::lock_guard lock(mutex_);
    // Playing needs both: the shallower queue is what is held.
    const PacketQueue& shallower = audio_stream_ >= 0 && sound_packets_.DurationUs() < video_packets_.DurationUs()
                                     ? sound_packets_
                                     : video_packets_;
    return shallower.DurationUs() / 1000;
}

bool Player::OpenMedia(std::string* why) {
    seekable_ = input_->Seekable();
    auto* buffer = static_cast<uint8_t*>(av_malloc(kAvioBufferSize));
    if (buffer == nullptr) return false;
    avio_ = avio_alloc_context(buffer, kAvioBufferSize, 0, this, &Player::ReadPacket, nullptr,
                               seekable_ ? &Player::SeekInput : nullptr);
    if (avio_ == nullptr) {
        av_free(buffer);
        return false;
    }
    if (!seekable_) avio_->seekable = 0;
    format_ = avformat_alloc_context();
    if (format_ == nullptr) return false;
    format_->pb = avio_;
    format_->flags |= AVFMT_FLAG_CUSTOM_IO;
    format_->interrupt_callback = {&Player::Interrupted, this};
    format_->io_open = &RefuseNestedOpen;
    if (avformat_open_input(&format_, nullptr, nullptr, nullptr) < 0) {
        *why = "not a media file this library plays";
        return false;  // avformat_open_input has freed format_
    }
    if (avformat_find_stream_info(format_, nullptr) < 0) {
        *why = "no stream information";
        return false;
    }
    if (!OpenVideoDecoder(why)) return false;
    OpenAudioDecoder();
    start_us_ = format_->start_time != AV_NOPTS_VALUE ? format_->start_time : 0;
    // The length is where the last stream ends, counted from the first
    // timestamp (a container's own duration may include a leading gap).
    int64_t end_us = AV_NOPTS_VALUE;
    for (int index : {video_stream_, audio_stream_}) {
        if (index < 0) continue;
        const AVStream* stream = format_->streams[index];
        if (stream->duration == AV_NOPTS_VALUE || stream->duration <= 0) continue;
        int64_t first = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
        int64_t end = av_rescale_q(first + stream->duration, stream->time_base, AV_TIME_BASE_Q);
        if (end_us == AV_NOPTS_VALUE || end > end_us) end_us = end;
    }
    // A recording cut short is as long as what it holds.
    held_end_us_ = HeldEndUs(format_, video_stream_);
    if (held_end_us_ != AV_NOPTS_VALUE && (end_us == AV_NOPTS_VALUE || held_end_us_ < end_us)) end_us = held_end_us_;
    int64_t duration = end_us != AV_NOPTS_VALUE ? end_us - start_us_ : format_->duration;
    if (duration == AV_NOPTS_VALUE || duration < 0) duration = 0;
    total_ms_ = static_cast<uint32_t>(std::clamp<int64_t>(duration / 1000, 0, UINT32_MAX));

    seek_by_reading_ = (format_->iformat->flags & AVFMT_TS_DISCONT) != 0;
    if (std::strncmp(format_->iformat->name, "mov", 3) == 0) {
        AVStream* video = format_->streams[video_stream_];
        for (int i = 0, n = avformat_index_get_entries_count(video); i < n; ++i) {
            const AVIndexEntry* entry = avformat_index_get_entry(video, i);
            if (entry != nullptr && (entry->flags & AVINDEX_KEYFRAME) != 0) {
                key_times_us_.push_back(av_rescale_q(entry->timestamp, video->time_base, AV_TIME_BASE_Q) - start_us_);
            }
        }
        std::sort(key_times_us_.begin(), key_times_us_.end());
    }
    shown_ = av_frame_alloc();
    if (shown_ == nullptr) return false;
    cut_ = std::make_unique<CutRecorder>(format_, video_stream_, audio_stream_, &shown_us_);
    // A file whose pictures cannot be decoded is refused at the open.
    if (!DecodeFirstPicture()) {
        *why = "no picture can be decoded";
        return false;
    }
    return true;
}

bool Player::OpenVideoDecoder(std::string* why) {
    const AVCodec* codec = nullptr;
    video_stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (video_stream_ < 0 || codec == nullptr) {
        *why = "no decodable picture stream";
        return false;
    }
    AVStream* stream = format_->streams[video_stream_];
    // One decoding thread per full-HD picture's worth of pixels: a thread
    // decodes full HD several times faster than it plays, and each thread
    // more costs CPU time of its own (frame hand-over, copied state).
    constexpr int64_t kPixelsPerThread = 1920 * 1088;
    const int64_t pixels = static_cast<int64_t>(std::max(stream->codecpar->width, 1)) *
                           std::max(stream->codecpar->height, 1);
    const auto cores = static_cast<int64_t>(std::max(1u, std::thread::hardware_concurrency()));
    seek_decoder_threads_ = static_cast<int>(std::min<int64_t>(cores, 4));
    playback_decoder_threads_ = static_cast<int>(
        std::clamp<int64_t>((pixels + kPixelsPerThread - 1) / kPixelsPerThread, 1, seek_decoder_threads_));
    video_decoder_ = NewVideoDecoder(codec, playback_decoder_threads_);
    if (video_decoder_ == nullptr) {
        *why = "cannot open the picture decoder";
        return false;
    }
    video_decoder_threads_ = playback_decoder_threads_;
    AVRational rate = stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
    if (rate.num > 0 && rate.den > 0) frame_interval_us_ = av_rescale(AV_TIME_BASE, rate.den, rate.num);
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        if (static_cast<int>(i) != video_stream_) format_->streams[i]->discard = AVDISCARD_ALL;
    }
    return true;
}

AVCodecContext* Player::NewVideoDecoder(const AVCodec* codec, int threads) const {
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

bool Player::ReplaceVideoDecoder(int threads) {
    AVCodecContext* replacement = NewVideoDecoder(video_decoder_->codec, threads);
    if (replacement == nullptr) return false;
    avcodec_free_context(&video_decoder_);
    video_decoder_ = replacement;
    video_decoder_threads_ = threads;
    return true;
}

void Player::OpenAudioDecoder() {
    const AVCodec* codec = nullptr;
    int index = av_find_best_stream(format_, AVMEDIA_TYPE_AUDIO, -1, video_stream_, &codec, 0);
    if (index < 0 || codec == nullptr) return;
    // Only a stream that really decodes counts as sound.
    AVCodecContext* probe = avcodec_alloc_context3(codec);
    bool ok = probe != nullptr &&
              avcodec_parameters_to_context(probe, format_->streams[index]->codecpar) >= 0 &&
              avcodec_open2(probe, codec, nullptr) >= 0;
    avcodec_free_context(&probe);
    if (!ok) return;
    audio_stream_ = index;
    // Sound packets are read for the cut and for sound output.
    format_->streams[index]->discard = AVDISCARD_DEFAULT;
}

// Reads and decodes up to the first picture on the opening thread; the sound
// read meanwhile is queued as the read thread would have.
bool Player::DecodeFirstPicture() {
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    bool got = false;
    bool draining = false;
    while (packet != nullptr && frame != nullptr) {
        int received = avcodec_receive_frame(video_decoder_, frame);
        if (received == 0) {
            got = true;
            break;
        }
        if (received == AVERROR_EOF || draining) break;
        if (av_read_frame(format_, packet) < 0) {
            avcodec_send_packet(video_decoder_, nullptr);
            draining = true;
            read_ended_ = true;
            continue;
        }
        cut_->Add(packet, PacketTimeUs(packet), 0);
        if (packet->stream_index == video_stream_) {
            avcodec_send_packet(video_decoder_, packet);
            av_packet_unref(packet);
        } else {
            RoutePacketLocked(packet);
        }
    }
    av_packet_free(&packet);
    if (!got) {
        av_frame_free(&frame);
        return false;
    }
    Picture first;
    first.frame = frame;
    first.time_us = FrameTimeUs(frame);
    first.duration_us = FrameDurationUs(frame);
    first.id = next_picture_id_++;
    pictures_.push_back(first);
    if (draining) {
        Picture end;
        end.id = next_picture_id_++;
        pictures_.push_back(end);
    }
    return true;
}

void Player::StartThreads() {
    // After a drained open the pictures are all queued already.
    const bool all_decoded = read_ended_;
    reader_ = std::thread([this] { ReadLoop(); });
    if (!all_decoded) video_ = std::thread([this] { VideoLoop(); });
    if (audio_stream_ >= 0) sound_ = std::thread([this] { SoundLoop(); });
    presenter_ = std::thread([this] { PresentLoop(); });
}

void Player::SetHandle(PlayerHandle handle) { events_.SetHandle(handle); }

// --- times ------------------------------------------------------------------

int64_t Player::FrameTimeUs(const AVFrame* frame) const {
    int64_t pts = frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
    if (pts == AV_NOPTS_VALUE) return shown_us_ + frame_interval_us_;
    return av_rescale_q(pts, format_->streams[video_stream_]->time_base, AV_TIME_BASE_Q) - start_us_;
}

int64_t Player::FrameDurationUs(const AVFrame* frame) const {
    if (frame->pkt_duration > 0) {
        return av_rescale_q(frame->pkt_duration, format_->streams[video_stream_]->time_base, AV_TIME_BASE_Q);
    }
    return frame_interval_us_;
}

int64_t Player::PacketTimeUs(const AVPacket* packet) const {
    int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    if (ts == AV_NOPTS_VALUE) return kUnknownTime;
    return av_rescale_q(ts, format_->streams[packet->stream_index]->time_base, AV_TIME_BASE_Q) - start_us_;
}

bool Player::PastHeldEnd(const AVPacket* packet) const {
    if (held_end_us_ == AV_NOPTS_VALUE || packet->dts == AV_NOPTS_VALUE) return false;
    return av_rescale_q(packet->dts, format_->streams[packet->stream_index]->time_base, AV_TIME_BASE_Q) >= held_end_us_;
}

void Player::GrowTotal(const AVPacket* packet) {
    const int64_t time_us = PacketTimeUs(packet);
    if (time_us == kUnknownTime) return;
    const int64_t end_ms = (time_us + PacketDurationUs(packet)) / 1000;
    if (end_ms > total_ms_.load() && end_ms <= UINT32_MAX) total_ms_ = static_cast<uint32_t>(end_ms);
}

int64_t Player::PacketDurationUs(const AVPacket* packet) const {
    if (packet->duration > 0) {
        return av_rescale_q(packet->duration, format_->streams[packet->stream_index]->time_base, AV_TIME_BASE_Q);
    }
    return packet->stream_index == video_stream_ ? frame_interval_us_ : 0;
}

// --- read thread ------------------------------------------------------------

bool Player::HoldsShare(const PacketQueue& queue, double share) {
    return static_cast<double>(queue.Count()) >= static_cast<double>(kMinQueuedPackets) * share &&
           (static_cast<double>(queue.DurationUs()) >= static_cast<double>(kQueueAheadUs) * share ||
            queue.DurationUs() == 0);
}

bool Player::QueuesFullLocked() const {
    if (video_packets_.Bytes() + sound_packets_.Bytes() > kMaxQueuedBytes) return true;
    return HoldsShare(video_packets_, 1.0) && (audio_stream_ < 0 || HoldsShare(sound_packets_, 1.0));
}

void Player::PacketTakenLocked() {
    constexpr double kRefillShare = 0.75;
    if (!HoldsShare(video_packets_, kRefillShare) || (audio_stream_ >= 0 && !HoldsShare(sound_packets_, kRefillShare))) {
        reader_wake_.notify_one();
    }
}

void Player::RoutePacketLocked(AVPacket* packet) {
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
    if (index == video_stream_) {
        video_packets_.Push(owned, serial_, PacketDurationUs(owned));
        video_wake_.notify_one();
    } else {
        sound_packets_.Push(owned, serial_, PacketDurationUs(owned));
        sound_wake_.notify_one();
    }
}

void Player::ClearPicturesLocked() {
    for (Picture& picture : pictures_) av_frame_free(&picture.frame);
    pictures_.clear();
}

// Carries out the latest seek asked for; what was queued before it is dropped.
void Player::SeekLocked(std::unique_lock<std::mutex>& lock) {
    const int64_t target = seek_target_us_;
    seek_pending_ = false;
    ++serial_;
    serial_target_us_ = target;
    serial_exact_ = true;
    read_ended_ = false;
    video_packets_.Clear();
    sound_packets_.Clear();
    ClearPicturesLocked();
    if (audio_) audio_->Flush(serial_);
    video_wake_.notify_all();
    sound_wake_.notify_all();
    presenter_wake_.notify_all();
    lock.unlock();
    if (!seek_by_reading_ || !SeekToKeyFrameAtOrBefore(target)) {
        const int64_t ts = start_us_ + target;
        if (avformat_seek_file(format_, -1, INT64_MIN, ts, ts, 0) < 0) {
            avformat_seek_file(format_, -1, INT64_MIN, ts, INT64_MAX, 0);
        }
    }
    cut_->Discontinuity();
    lock.lock();
}

// A container without a key-frame index (MPEG-TS, MPEG-PS) seeks by
// timestamps alone and lands on any picture. So: land a little before the
// target, read on (demultiplexing only) to the last key frame at or before
// it, further back until there is one, and go to its byte position. False
// when no key frame was found that way.
bool Player::SeekToKeyFrameAtOrBefore(int64_t target_us) {
    AVPacket* packet = av_packet_alloc();
    if (packet == nullptr) return false;
    const AVRational video_base = format_->streams[video_stream_]->time_base;
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
        if (avformat_seek_file(format_, -1, INT64_MIN, start_us_ + from_us, start_us_ + from_us, 0) < 0) {
            // Timestamps that jump: a guess by the byte position.
            if (size <= 0 || total_ms_ == 0) break;
            const auto guess = static_cast<int64_t>(static_cast<double>(size) * from_us / (total_ms_ * 1000.0));
            if (avformat_seek_file(format_, -1, INT64_MIN, guess, guess, AVSEEK_FLAG_BYTE) < 0) break;
        }
        int64_t scanned = 0;
        for (int n = 0; scanned < kKeyFrameSearchBytes; ++n) {
            if ((n & 15) == 0) {
                std::lock_guard lock(mutex_);
                superseded = quit_ || seek_pending_;
            }
            if (superseded || av_read_frame(format_, packet) < 0) break;
            scanned += packet->size;
            bool passed = false;
            if (packet->stream_index == video_stream_) {
                const int64_t pts = PacketTimeUs(packet);
                if ((packet->flags & AV_PKT_FLAG_KEY) != 0 && packet->pos >= 0 && pts != kUnknownTime &&
                    pts <= target_us) {
                    found = packet->pos;
                }
                // In decoding order: past the target, no key frame to come is at or before it.
                const int64_t dts = packet->dts != AV_NOPTS_VALUE
                                        ? av_rescale_q(packet->dts, video_base, AV_TIME_BASE_Q) - start_us_
                                        : pts;
                passed = dts != kUnknownTime && dts > target_us;
            }
            av_packet_unref(packet);
            if (passed) break;
        }
    }
    av_packet_free(&packet);
    if (superseded) return true;  // the newer seek goes its own way
    if (from_start) {
        return avformat_seek_file(format_, -1, INT64_MIN, 0, 0, AVSEEK_FLAG_BYTE) >= 0;
    }
    return found >= 0 && avformat_seek_file(format_, -1, INT64_MIN, found, found, AVSEEK_FLAG_BYTE) >= 0;
}

void Player::ReadLoop() {
    AVPacket* packet = av_packet_alloc();
    std::unique_lock lock(mutex_);
    while (!quit_ && packet != nullptr) {
        if (seek_pending_) {
            SeekLocked(lock);
            continue;
        }
        if (read_ended_ || QueuesFullLocked()) {
            reader_wake_.wait(lock);
            continue;
        }
        lock.unlock();
        int result = av_read_frame(format_, packet);
        if (result >= 0 && PastHeldEnd(packet)) {
            av_packet_unref(packet);  // the part of a sample cut short
            result = AVERROR_EOF;
        }
        if (result >= 0) cut_->Add(packet, PacketTimeUs(packet), shown_us_);
        lock.lock();
        if (result < 0) {
            if (result == AVERROR(EAGAIN)) {
                reader_wake_.wait_for(lock, 10ms);
            } else if (!seek_pending_) {
                read_ended_ = true;
                video_wake_.notify_all();
                sound_wake_.notify_all();
                presenter_wake_.notify_all();
            }
            continue;
        }
        if (seek_pending_) {
            av_packet_unref(packet);  // read before the seek
            continue;
        }
        GrowTotal(packet);
        RoutePacketLocked(packet);
    }
    av_packet_free(&packet);
}

// --- picture thread ---------------------------------------------------------

struct Player::DecodeState {
    int serial = 0;
    int64_t target_us = 0;
    bool refining = false;      // decoding on to an exact seek target
    bool preview_sent = false;
    bool need_key = false;      // packets are dropped until a key frame
    bool drained = false;
    int speed_step = 0;
    AVFrame* frame = nullptr;
    AVFrame* held = nullptr;    // the latest picture before the target
};

void Player::PushPicture(Picture picture) {
    std::unique_lock lock(mutex_);
    video_wake_.wait(lock, [&] {
        return quit_ || picture.serial != serial_ || seek_pending_ || pictures_.size() < kPictureQueueSize;
    });
    if (quit_ || picture.serial != serial_ || seek_pending_) {
        av_frame_free(&picture.frame);
        return;
    }
    picture.id = next_picture_id_++;
    pictures_.push_back(picture);
    presenter_wake_.notify_one();
}

// Hands a decoded picture on: while refining a seek, the first picture is
// shown at once as a preview and the one at the target follows.
void Player::OfferPicture(AVFrame* frame, DecodeState& state) {
    if (state.speed_step >= kKeyFramesOnlyStep && !frame->key_frame) {
        av_frame_unref(frame);
        return;
    }
    auto make = [&](AVFrame* source, bool preview) {
        Picture picture;
        picture.frame = av_frame_alloc();
        if (picture.frame == nullptr) return picture;
        av_frame_move_ref(picture.frame, source);
        picture.serial = state.serial;
        picture.time_us = FrameTimeUs(picture.frame);
        picture.duration_us = FrameDurationUs(picture.frame);
        picture.preview = preview;
        return picture;
    };
    if (state.refining) {
        const int64_t time = FrameTimeUs(frame);
        bool before;
        {
            // The target may have moved on meanwhile (a merged seek).
            std::lock_guard lock(mutex_);
            if (state.serial == serial_) state.target_us = serial_target_us_;
            before = time + FrameDurationUs(frame) <= state.target_us;
            refined_to_us_ = std::max(refined_to_us_, time + FrameDurationUs(frame));
            if (!before) refining_ = false;
        }
        if (before) {
            if (!state.preview_sent) {
                state.preview_sent = true;
                AVFrame* copy = av_frame_clone(frame);
                if (copy != nullptr) {
                    Picture preview = make(copy, true);
                    av_frame_free(&copy);
                    if (preview.frame != nullptr) PushPicture(preview);
                }
            }
            av_frame_unref(state.held);
            av_frame_move_ref(state.held, frame);
            return;
        }
        state.refining = false;
        // A gap in the pictures: the one before the target is on screen at it.
        if (time > state.target_us && state.held->buf[0] != nullptr) {
            Picture before = make(state.held, false);
            if (before.frame != nullptr) PushPicture(before);
        }
        av_frame_unref(state.held);
    }
    Picture picture = make(frame, false);
    if (picture.frame != nullptr) PushPicture(picture);
}

void Player::DecodePacket(AVPacket* packet, DecodeState& state) {
    for (int attempt = 0; attempt < 8 && !quit_; ++attempt) {
        int sent = avcodec_send_packet(video_decoder_, packet);
        while (avcodec_receive_frame(video_decoder_, state.frame) == 0) OfferPicture(state.frame, state);
        // EAGAIN: the decoder had pictures to give first; now it takes the packet.
        if (sent != AVERROR(EAGAIN)) break;
    }
}

void Player::VideoLoop() {
    DecodeState state;
    state.frame = av_frame_alloc();
    state.held = av_frame_alloc();
    std::unique_lock lock(mutex_);
    while (!quit_ && state.frame != nullptr && state.held != nullptr) {
        if (seek_pending_) {
            // A newer seek is coming: nothing queued now is worth decoding.
            video_wake_.wait(lock);
            continue;
        }
        if (state.serial != serial_) {
            state.serial = serial_;
            state.target_us = serial_target_us_;
            state.refining = serial_exact_;
            refining_ = serial_exact_;
            refined_to_us_ = 0;
            state.preview_sent = false;
            state.need_key = true;
            state.drained = false;
            lock.unlock();
            if (!state.refining || video_decoder_threads_ == seek_decoder_threads_ ||
                !ReplaceVideoDecoder(seek_decoder_threads_)) {
                avcodec_flush_buffers(video_decoder_);
            }
            av_frame_unref(state.held);
            lock.lock();
            continue;
        }
        if (video_packets_.Empty()) {
            if (read_ended_ && !state.drained) {
                state.drained = true;
                state.speed_step = speed_step_;
                lock.unlock();
                DecodePacket(nullptr, state);
                {
                    std::lock_guard refining_lock(mutex_);
                    refining_ = false;
                }
                if (state.refining && state.held->buf[0] != nullptr) {
                    // The target is past the last picture: that one is shown.
                    state.refining = false;
                    AVFrame* last = av_frame_alloc();
                    if (last != nullptr) {
                        av_frame_move_ref(last, state.held);
                        Picture picture;
                        picture.frame = last;
                        picture.serial = state.serial;
                        picture.time_us = FrameTimeUs(last);
                        picture.duration_us = FrameDurationUs(last);
                        PushPicture(picture);
                    }
                }
                Picture end;
                end.serial = state.serial;
                PushPicture(end);
                lock.lock();
                continue;
            }
            video_wake_.wait(lock);
            continue;
        }
        QueuedPacket item = video_packets_.Pop();
        PacketTakenLocked();
        if (item.serial != state.serial) {
            av_packet_free(&item.packet);
            continue;
        }
        state.speed_step = speed_step_;
        state.target_us = serial_target_us_;
        lock.unlock();
        AVPacket* packet = item.packet;
        const bool key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
        if (key && !state.refining && video_decoder_threads_ != playback_decoder_threads_) {
            // The exact seek is over: the pictures before this key frame come
            // out of the seek's decoder, then playing goes on with fewer threads.
            DecodePacket(nullptr, state);
            if (!ReplaceVideoDecoder(playback_decoder_threads_)) avcodec_flush_buffers(video_decoder_);
        }
        const bool key_frames_only = state.speed_step >= kKeyFramesOnlyStep;
        if (key) state.need_key = false;
        if (!key && key_frames_only) state.need_key = true;  // back below 8x a key frame comes first
        if (key || !state.need_key) {
            // Pictures before an exact target are never shown: those that no
            // other picture refers to need no decoding.
            const int64_t time = PacketTimeUs(packet);
            const bool before_target = state.refining && time != kUnknownTime &&
                                       time + PacketDurationUs(packet) <= state.target_us;
            video_decoder_->skip_frame = before_target ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
            DecodePacket(packet, state);
        }
        av_packet_free(&packet);
        lock.lock();
    }
    av_frame_free(&state.frame);
    av_frame_free(&state.held);
}

// --- sound thread -----------------------------------------------------------

bool Player::SoundWantedLocked() const { return sound_on_ && audio_ != nullptr && HeardAtSpeed(SpeedOf(speed_step_)); }

void Player::SoundLoop() {
    std::unique_ptr<SoundDecoder> decoder;
    std::unique_ptr<TempoStretcher> stretcher;  // at speeds other than 1
    int decoder_serial = -1;
    const AVStream* stream = format_->streams[audio_stream_];
    std::unique_lock lock(mutex_);
    while (!quit_) {
        if (sound_packets_.Empty()) {
            sound_wake_.wait(lock);
            continue;
        }
        const QueuedPacket& front = sound_packets_.Front();
        const int64_t clock_us = clock_.NowUs();
        int64_t time = PacketTimeUs(front.packet);
        if (time == kUnknownTime) time = clock_us;
        const int64_t end = time + front.duration_us;
        if (!SoundWantedLocked()) {
            // Unheard sound goes in step with the clock, so that it is there
            // when sound is turned on.
            if (end <= clock_us || front.serial != serial_) {
                QueuedPacket item = sound_packets_.Pop();
                av_packet_free(&item.packet);
                PacketTakenLocked();
                continue;
            }
            // Back once a few packets are behind the clock, to drop them together.
            sound_wake_.wait_for(lock, clock_.WallUntil(end + kUnheardSoundBatchUs));
            continue;
        }
        AudioOutput* audio = audio_.get();  // lives until the threads are joined
        if (const int64_t buffered = audio->BufferedUs(); buffered >= kSoundAheadUs) {
            // Topped up: back when half of it is heard, to refill in one go
            // rather than wake for every piece.
            sound_wake_.wait_for(lock, std::chrono::microseconds(buffered - kSoundAheadUs / 2));
            continue;
        }
        QueuedPacket item = sound_packets_.Pop();
        PacketTakenLocked();
        const int serial = serial_;
        const double speed = SpeedOf(speed_step_);
        if (item.serial != serial) {
            av_packet_free(&item.packet);
            continue;
        }
        lock.unlock();
        if (!decoder) decoder = SoundDecoder::Create(stream, start_us_, audio->Rate(), audio->Channels());
        const int frame_bytes = audio->Channels() * 2;
        const int64_t bytes_per_second = static_cast<int64_t>(audio->Rate()) * frame_bytes;
        // Hands a piece to the device, with what the clock has passed already cut off.
        auto play = [&](int64_t pts_us, double piece_speed, std::vector<uint8_t> samples) {
            const int64_t now = clock_.NowUs();
            if (pts_us < now) {
                auto drop = static_cast<size_t>(static_cast<double>(now - pts_us) / piece_speed * bytes_per_second / 1e6);
                drop -= drop % static_cast<size_t>(frame_bytes);
                if (drop >= samples.size()) return;
                samples.erase(samples.begin(), samples.begin() + static_cast<long>(drop));
                pts_us += static_cast<int64_t>(static_cast<double>(drop) * piece_speed * 1e6 / bytes_per_second);
            }
            audio->Push(serial, pts_us, piece_speed, std::move(samples));
        };
        if (decoder && decoder_serial != serial) {
            decoder->Flush();
            stretcher.reset();
            decoder_serial = serial;
        }
        // A new stretcher for the speed; what the old one holds is still
        // heard at its own tempo.
        auto restart_stretcher = [&] {
            if (stretcher) {
                const double old = stretcher->Tempo();
                stretcher->Stretch(0, nullptr, [&](int64_t pts_us, std::vector<uint8_t> out) { play(pts_us, old, std::move(out)); });
            }
            stretcher = speed != 1.0 ? TempoStretcher::Create(audio->Rate(), audio->Channels(), speed) : nullptr;
        };
        if (stretcher ? stretcher->Tempo() != speed : speed != 1.0) restart_stretcher();
        if (decoder && end > clock_us - kSoundSkipBehindUs) {
            decoder->Decode(item.packet, [&](int64_t pts_us, std::vector<uint8_t> samples) {
                if (stretcher && !stretcher->Continues(pts_us)) restart_stretcher();
                if (!stretcher) {
                    play(pts_us, 1.0, std::move(samples));
                    return;
                }
                stretcher->Stretch(pts_us, &samples, [&](int64_t out_pts_us, std::vector<uint8_t> out) {
                    play(out_pts_us, speed, std::move(out));
                });
            });
        }
        av_packet_free(&item.packet);
        lock.lock();
        if (seeking_ || starting_) presenter_wake_.notify_one();  // the clock waits for this sound
    }
}

// --- presenting thread ------------------------------------------------------

// Makes next_ the next picture of the current serial; false when none is decoded.
bool Player::TakeNextLocked() {
    for (;;) {
        if (has_next_) {
            // Pictures decoded before a step to 8x or faster may be other than
            // key frames: they are dropped like those the decoder now skips.
            const bool skipped_by_speed = speed_step_ >= kKeyFramesOnlyStep && next_.frame != nullptr &&
                                          !next_.frame->key_frame;
            if (next_.serial == serial_ && !(next_.preview && seek_pending_) && !skipped_by_speed) return true;
            av_frame_free(&next_.frame);
            has_next_ = false;
        }
        if (pictures_.empty()) return false;
        next_ = pictures_.front();
        pictures_.pop_front();
        has_next_ = true;
        video_wake_.notify_one();
    }
}

void Player::PreRender(Picture& picture) {
    window_.With([&](PlayerWindow* window) {
        if (window->area_size == nullptr) return;
        int width = 0, height = 0;
        window->area_size(window->context, &width, &height);
        rendered_id_ = scaler_.Render(picture.frame, width, height) ? picture.id : 0;
        rendered_for_ = window;
    });
}

// Presents next_ and makes it the picture on screen.
void Player::Show(Picture& picture) {
    // The play time is the picture's before the window can see the picture.
    if (!picture.preview) {
        shown_us_ = std::max<int64_t>(0, picture.time_us);
        last_end_us_ = picture.time_us + picture.duration_us;
    }
    // ...and the picture a snapshot takes, so that a snapshot taken once the
    // window has it is of that picture.
    {
        std::lock_guard lock(shown_mutex_);
        av_frame_unref(shown_);
        av_frame_ref(shown_, picture.frame);
    }
    window_.With([&](PlayerWindow* window) {
        if (rendered_id_ != picture.id || rendered_for_ != window) {
            rendered_id_ = 0;
            if (window->area_size != nullptr) {
                int width = 0, height = 0;
                window->area_size(window->context, &width, &height);
                if (scaler_.Render(picture.frame, width, height)) rendered_id_ = picture.id;
            }
            rendered_for_ = window;
        }
        if (rendered_id_ == picture.id && window->present != nullptr) {
            window->present(window->context, scaler_.Pixels(), scaler_.Width(), scaler_.Height(), scaler_.Stride());
        }
    });
    last_present_ = Wall::now();
    av_frame_free(&picture.frame);
    has_next_ = false;
}

bool Player::SoundReadyLocked() const {
    if (!SoundWantedLocked()) return true;
    return audio_->HasSound(serial_) || (read_ended_ && sound_packets_.Empty());
}

int Player::ShowAndAwaitSoundLocked(std::unique_lock<std::mutex>& lock, Picture& picture) {
    const int serial = serial_;
    lock.unlock();
    Show(picture);
    lock.lock();
    const auto deadline = Wall::now() + kSoundReadyWait;
    while (!quit_ && serial == serial_ && !seek_pending_ && !paused_ && !SoundReadyLocked() && Wall::now() < deadline) {
        presenter_wake_.wait_for(lock, 5ms);
    }
    return serial;
}

bool Player::EndReachedLocked() const {
    if (clock_.NowUs() < last_end_us_) return false;
    return !SoundWantedLocked() || (sound_packets_.Empty() && audio_->Drained());
}

void Player::PresentLoop() {
    std::unique_lock lock(mutex_);
    while (!quit_) {
        if (!started_ || !TakeNextLocked()) {
            presenter_wake_.wait(lock);
            continue;
        }
        Picture& picture = next_;
        if (picture.frame == nullptr) {
            // Every picture is out: the end comes once the last one has had
            // its time and the sound has drained.
            if ((seeking_ && !seek_pending_) || starting_) {
                seeking_ = starting_ = false;  // a seek past the last picture, or nothing to show
                UpdateClockLocked();
            }
            if (ended_ || paused_ || buffering_ || seeking_) {
                presenter_wake_.wait(lock);
                continue;
            }
            if (EndReachedLocked()) {
                ended_ = true;
                UpdateClockLocked();
                lock.unlock();
                events_.Post(PLAYER_EVENT_END);
                lock.lock();
                continue;
            }
            presenter_wake_.wait_for(lock, 10ms);
            continue;
        }
        if (picture.preview) {
            lock.unlock();
            Show(picture);
            lock.lock();
            continue;
        }
        if (seeking_) {
            if (seek_pending_) {
                presenter_wake_.wait(lock);
                continue;
            }
            // The picture at the target: shown at once; the clock starts from
            // the target with the sound there.
            const int64_t target = serial_target_us_;
            const int serial = ShowAndAwaitSoundLocked(lock, picture);
            if (serial == serial_ && !seek_pending_) {
                seeking_ = false;
                clock_.Set(target);
                UpdateClockLocked();
            }
            continue;
        }
        if (starting_) {
            // The first picture: shown at once, the clock starts with its sound
            // (the first change of speed may still be loading the stretcher).
            ShowAndAwaitSoundLocked(lock, picture);
            starting_ = false;
            UpdateClockLocked();
            continue;
        }
        if (steps_ > 0) {
            --steps_;
            lock.unlock();
            Show(picture);
            clock_.Set(shown_us_);
            lock.lock();
            continue;
        }
        const bool held = paused_ || buffering_ || ended_;
        const auto wait = held ? Wall::duration::max() : clock_.WallUntil(picture.time_us);
        if (wait > Wall::duration::zero()) {
            if (rendered_id_ != picture.id) {
                lock.unlock();
                PreRender(picture);
                lock.lock();
            } else if (held) {
                presenter_wake_.wait(lock);
            } else {
                // Until the picture is due: whatever changes the clock but
                // the sound's small re-anchoring wakes this thread.
                presenter_wake_.wait_for(lock, std::min<Wall::duration>(wait, kLongestPresenterSleep));
            }
            continue;
        }
        // Due. Dropped when the picture after it is due too, unless nothing
        // has been shown for a while.
        bool late = false;
        if (!pictures_.empty()) {
            const Picture& following = pictures_.front();
            late = following.frame != nullptr && !following.preview && following.serial == picture.serial &&
                   clock_.NowUs() >= following.time_us && Wall::now() - last_present_ < kLongestWithoutPicture;
        }
        if (late) {
            last_end_us_ = picture.time_us + picture.duration_us;
            av_frame_free(&picture.frame);
            has_next_ = false;
            continue;
        }
        lock.unlock();
        Show(picture);
        lock.lock();
    }
}

// --- entry points -----------------------------------------------------------

void Player::UpdateClockLocked() {
    const bool running = started_ && !starting_ && !paused_ && !buffering_ && !ended_ && !seeking_;
    clock_.SetRunning(running);
    if (audio_) audio_->SetActive(running && SoundWantedLocked());
    presenter_wake_.notify_all();
    sound_wake_.notify_all();
}

bool Player::SameKeyFrame(int64_t a_us, int64_t b_us) const {
    if (key_times_us_.empty()) return false;
    auto a = std::upper_bound(key_times_us_.begin(), key_times_us_.end(), a_us);
    auto b = std::upper_bound(key_times_us_.begin(), key_times_us_.end(), b_us);
    return a == b && a != key_times_us_.begin();
}

void Player::RequestSeekLocked(int64_t target_us) {
    // While the picture thread decodes on to an exact target, a target further
    // on before the next key frame is reached by decoding on: no new seek.
    const bool decode_on = seeking_ && !seek_pending_ && refining_ && target_us >= refined_to_us_ &&
                           SameKeyFrame(serial_target_us_, target_us);
    if (decode_on) {
        serial_target_us_ = target_us;
    } else {
        seek_pending_ = true;
        seek_target_us_ = target_us;
    }
    seeking_ = true;
    starting_ = false;  // the landing waits for the sound instead
    ended_ = false;
    steps_ = 0;
    shown_us_ = target_us;
    UpdateClockLocked();
    clock_.Set(target_us);
    reader_wake_.notify_all();
    video_wake_.notify_all();
}

bool Player::Play(PlayerWindow* window) {
    bool fixed;
    {
        std::lock_guard lock(mutex_);
        if (closed_) return false;
        fixed = window_fixed_;
    }
    if (!fixed) {
        if (window == nullptr) return false;
        // Once this returns the previous window is not called again.
        window_.Set(window);
    }
    std::lock_guard lock(mutex_);
    if (closed_) return false;
    if (!fixed && !started_) started_ = starting_ = true;
    if (ended_) RequestSeekLocked(0);  // played to the end: again from the start
    paused_ = false;
    steps_ = 0;
    UpdateClockLocked();
    return true;
}

void Player::AttachPictureWindow(PlayerWindow* window) {
    window_.Set(window);
    std::lock_guard lock(mutex_);
    window_fixed_ = true;
}

void Player::Start() {
    std::lock_guard lock(mutex_);
    if (!started_) started_ = starting_ = true;
    UpdateClockLocked();
}

void Player::SetBuffering(bool buffering) {
    std::lock_guard lock(mutex_);
    buffering_ = buffering;
    UpdateClockLocked();
}

bool Player::Pause() {
    std::lock_guard lock(mutex_);
    paused_ = true;
    UpdateClockLocked();
    return true;
}

bool Player::StepFrame() {
    std::lock_guard lock(mutex_);
    if (ended_ || closed_) return false;
    paused_ = true;
    started_ = true;
    ++steps_;
    UpdateClockLocked();
    return true;
}

bool Player::Faster() {
    std::lock_guard lock(mutex_);
    if (speed_step_ >= kMaxSpeedStep) return false;
    ++speed_step_;
    clock_.SetSpeed(SpeedOf(speed_step_));
    UpdateClockLocked();
    return true;
}

bool Player::Slower() {
    std::lock_guard lock(mutex_);
    if (speed_step_ <= kMinSpeedStep) return false;
    --speed_step_;
    clock_.SetSpeed(SpeedOf(speed_step_));
    UpdateClockLocked();
    return true;
}

bool Player::SeekToMs(uint32_t ms) {
    if (!seekable_ || ms > total_ms_) return false;
    std::lock_guard lock(mutex_);
    if (closed_) return false;
    RequestSeekLocked(static_cast<int64_t>(ms) * 1000);
    return true;
}

bool Player::SeekToRatio(float ratio) {
    if (!(ratio >= 0.0f && ratio <= 1.0f)) return false;
    return SeekToMs(static_cast<uint32_t>(static_cast<double>(ratio) * total_ms_));
}

uint32_t Player::PlayMs() const {
    return static_cast<uint32_t>(std::clamp<int64_t>(shown_us_ / 1000, 0, UINT32_MAX));
}

bool Player::SoundOn() {
    if (!HasAudio()) return false;
    std::lock_guard lock(mutex_);
    if (closed_) return false;
    if (!audio_ && SoundDeviceAvailable()) {
        const AVCodecParameters* sound = format_->streams[audio_stream_]->codecpar;
        audio_ = AudioOutput::Create(sound->sample_rate, std::clamp(sound->ch_layout.nb_channels, 1, 2), &clock_);
        if (audio_) audio_->Flush(serial_);
    }
    sound_on_ = true;
    UpdateClockLocked();
    return true;
}

bool Player::SoundOff() {
    if (!HasAudio()) return false;
    std::lock_guard lock(mutex_);
    sound_on_ = false;
    if (audio_) audio_->Flush(serial_);
    UpdateClockLocked();
    return true;
}

bool Player::Snapshot(const std::string& path) {
    AVFrame* picture = av_frame_alloc();
    if (picture == nullptr) return false;
    {
        std::lock_guard lock(shown_mutex_);
        if (shown_ != nullptr && shown_->buf[0] != nullptr) av_frame_ref(picture, shown_);
    }
    bool ok = false;
    if (picture->buf[0] != nullptr) {
        std::vector<uint8_t> bmp;
        ok = EncodeBmp24(picture, &bmp) && SaveBmpFile(MapDrivePath(path), bmp);
    }
    av_frame_free(&picture);
    return ok;
}

bool Player::StartCut(const std::string& path) { return cut_->Start(path, shown_us_); }

bool Player::StopCut() { return cut_->Stop(); }

void Player::Close() {
    std::lock_guard close_lock(close_mutex_);
    {
        std::lock_guard lock(mutex_);
        if (closed_) return;
        closed_ = true;
        quit_ = true;
        reader_wake_.notify_all();
        video_wake_.notify_all();
        sound_wake_.notify_all();
        presenter_wake_.notify_all();
    }
    events_.Close();
    input_->Interrupt();
    for (std::thread* thread : {&reader_, &video_, &sound_, &presenter_}) {
        if (thread->joinable()) thread->join();
    }
    std::unique_ptr<AudioOutput> audio;
    {
        std::lock_guard lock(mutex_);
        audio = std::move(audio_);
    }
    audio.reset();  // closes the device, waiting for its callback, with no lock held
    if (cut_) cut_->Stop();
    window_.Set(nullptr);
}

}  // namespace playersdk
