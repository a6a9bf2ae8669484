#include "core/Player.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "core/AudioOutput.h"
#include "core/BmpWriter.h"
#include "core/CutWriter.h"
#include "core/DrivePath.h"

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
// The containers this library plays: MP4 and its family, and JPEG pictures.
constexpr const char* kFormatWhitelist = "mov,mp4,m4a,3gp,3g2,mj2,jpeg_pipe";
constexpr int kMinSpeedStep = -4;  // 1/16
constexpr int kMaxSpeedStep = 4;   // 16
constexpr int kKeyFramesOnlyStep = 3;  // 8x and faster
// A late picture is still shown when nothing was shown for this long, so the
// picture keeps moving on a machine too slow for the speed asked.
constexpr auto kLongestWithoutPicture = 250ms;

int64_t MsFromWall() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Wall::now().time_since_epoch()).count();
}

}  // namespace

Player::Player(std::unique_ptr<MediaInput> input) : input_(std::move(input)) {}

Player::~Player() {
    Close();
    av_frame_free(&next_);
    av_frame_free(&dropped_);
    av_frame_free(&shown_);
    av_packet_free(&packet_);
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
    player->thread_ = std::thread([raw = player.get()] { raw->Run(); });
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
    format_->format_whitelist = av_strdup(kFormatWhitelist);
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
    if (LooksTruncated()) {
        *why = "the file is shorter than its index says";
        return false;
    }
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
    int64_t duration = end_us != AV_NOPTS_VALUE ? end_us - start_us_ : format_->duration;
    if (duration == AV_NOPTS_VALUE || duration < 0) duration = 0;
    total_ms_ = static_cast<uint32_t>(std::clamp<int64_t>(duration / 1000, 0, UINT32_MAX));

    packet_ = av_packet_alloc();
    next_ = av_frame_alloc();
    dropped_ = av_frame_alloc();
    shown_ = av_frame_alloc();
    if (packet_ == nullptr || next_ == nullptr || dropped_ == nullptr || shown_ == nullptr) return false;
    // A file whose pictures cannot be decoded is refused at the open.
    if (!DecodeNext(next_)) {
        *why = "no picture can be decoded";
        return false;
    }
    has_next_ = true;
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
    video_decoder_ = avcodec_alloc_context3(codec);
    if (video_decoder_ == nullptr ||
        avcodec_parameters_to_context(video_decoder_, stream->codecpar) < 0) {
        *why = "cannot set up the picture decoder";
        return false;
    }
    unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    video_decoder_->thread_count = static_cast<int>(std::min(cores, 4u));
    video_decoder_->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    video_decoder_->pkt_timebase = stream->time_base;
    if (avcodec_open2(video_decoder_, codec, nullptr) < 0) {
        *why = "cannot open the picture decoder";
        return false;
    }
    AVRational rate = stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
    if (rate.num > 0 && rate.den > 0) frame_interval_us_ = av_rescale(AV_TIME_BASE, rate.den, rate.num);
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        if (static_cast<int>(i) != video_stream_) format_->streams[i]->discard = AVDISCARD_ALL;
    }
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

bool Player::LooksTruncated() const {
    int64_t size = avio_size(format_->pb);
    if (size <= 0) return false;
    AVStream* stream = format_->streams[video_stream_];
    int entries = avformat_index_get_entries_count(stream);
    if (entries <= 0) return false;
    const AVIndexEntry* last = avformat_index_get_entry(stream, entries - 1);
    return last != nullptr && last->pos >= 0 && last->pos + last->size > size;
}

void Player::SetHandle(PlayerHandle handle) { events_.SetHandle(handle); }

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

void Player::RoutePacket(AVPacket* packet) {
    {
        std::lock_guard lock(cut_mutex_);
        if (cut_) cut_->Write(packet);
    }
    if (packet->stream_index != audio_stream_) return;
    AudioOutput* audio;
    {
        std::lock_guard lock(mutex_);
        audio = (sound_wanted_ && speed_step_ == 0) ? audio_.get() : nullptr;
    }
    // The output lives until Close, after this thread has been joined.
    if (audio != nullptr) audio->Push(packet);
}

bool Player::DecodeNext(AVFrame* frame) {
    for (;;) {
        int result = avcodec_receive_frame(video_decoder_, frame);
        if (result == 0) {
            // Pictures already in the decoder when 8x was asked are skipped too.
            if (!frame->key_frame && SpeedStep() >= kKeyFramesOnlyStep) {
                av_frame_unref(frame);
                continue;
            }
            return true;
        }
        if (result == AVERROR_EOF || quit_) return false;
        // EAGAIN, or a broken picture that is skipped: feed the next packet.
        if (demux_ended_) {
            if (decoder_drained_) return false;
            avcodec_send_packet(video_decoder_, nullptr);
            decoder_drained_ = true;
            continue;
        }
        if (av_read_frame(format_, packet_) < 0) {
            demux_ended_ = true;
            continue;
        }
        if (packet_->stream_index != video_stream_) {
            RoutePacket(packet_);
            av_packet_unref(packet_);
            continue;
        }
        RoutePacket(packet_);
        bool key = (packet_->flags & AV_PKT_FLAG_KEY) != 0;
        bool key_frames_only = SpeedStep() >= kKeyFramesOnlyStep;
        if (key) keyframes_until_key_ = false;
        if (!key && (key_frames_only || keyframes_until_key_)) {
            // Back below 8x the decoder needs a key frame first.
            keyframes_until_key_ = true;
            av_packet_unref(packet_);
            continue;
        }
        avcodec_send_packet(video_decoder_, packet_);
        av_packet_unref(packet_);
    }
}

int Player::SpeedStep() const {
    std::lock_guard lock(mutex_);
    return speed_step_;
}

bool Player::RenderForWindow(const AVFrame* frame) {
    PlayerWindow* window;
    {
        std::lock_guard lock(mutex_);
        window = window_;
    }
    if (window == nullptr || window->area_size == nullptr) return false;
    int width = 0, height = 0;
    window->area_size(window->context, &width, &height);
    return scaler_.Render(frame, width, height);
}

// Presents next_ and makes it the picture on screen.
void Player::ShowNext() {
    bool rendered = next_rendered_ || RenderForWindow(next_);
    PlayerWindow* window;
    {
        std::lock_guard lock(mutex_);
        window = window_;
    }
    // The play time is the picture's before the window can see the picture.
    int64_t time = FrameTimeUs(next_);
    last_end_us_ = time + FrameDurationUs(next_);
    shown_us_ = std::max<int64_t>(0, time);
    if (rendered && window != nullptr && window->present != nullptr) {
        window->present(window->context, scaler_.Pixels(), scaler_.Width(), scaler_.Height(), scaler_.Stride());
    }
    last_present_ = Wall::now();
    {
        std::lock_guard lock(shown_mutex_);
        av_frame_unref(shown_);
        av_frame_move_ref(shown_, next_);
    }
    has_next_ = false;
    next_rendered_ = false;
}

void Player::UpdateClockLocked() {
    clock_.SetRunning(started_ && !paused_ && !buffering_ && !ended_ && !seek_pending_);
    if (audio_) audio_->SetPaused(paused_ || buffering_ || ended_);
}

void Player::DoSeek(int64_t target_us) {
    int64_t target = start_us_ + target_us;
    int flags = 0;
    if (avformat_seek_file(format_, -1, INT64_MIN, target, target, flags) < 0) {
        avformat_seek_file(format_, -1, INT64_MIN, target, INT64_MAX, 0);
    }
    avcodec_flush_buffers(video_decoder_);
    {
        std::lock_guard lock(mutex_);
        if (audio_) audio_->Flush();
    }
    {
        std::lock_guard lock(cut_mutex_);
        if (cut_) cut_->Discontinuity();
    }
    demux_ended_ = false;
    decoder_drained_ = false;
    keyframes_until_key_ = false;
    has_dropped_ = false;
    has_next_ = false;
    next_rendered_ = false;
    // Decode up to the picture on screen at the target: the last one that
    // starts at or before it (the last picture when the target is past it).
    AVFrame* candidate = av_frame_alloc();
    bool have_candidate = false;
    while (!quit_ && DecodeNext(next_)) {
        int64_t time = FrameTimeUs(next_);
        if (time > target_us && have_candidate) break;
        std::swap(candidate, next_);
        have_candidate = true;
        av_frame_unref(next_);
        if (time + FrameDurationUs(candidate) > target_us) {
            break;
        }
    }
    if (have_candidate) {
        // next_ may hold the picture after the candidate: keep it queued.
        AVFrame* following = next_;
        bool have_following = following->buf[0] != nullptr;
        next_ = candidate;
        has_next_ = true;
        ShowNext();
        candidate = following;
        if (have_following) {
            av_frame_move_ref(next_, following);
            has_next_ = true;
        }
        clock_.Set(shown_us_);
    }
    av_frame_free(&candidate);
}

void Player::Run() {
    std::unique_lock lock(mutex_);
    while (!quit_) {
        if (seek_pending_) {
            int64_t target = seek_target_us_;
            seek_pending_ = false;
            ended_ = false;
            at_end_ = false;
            lock.unlock();
            DoSeek(target);
            lock.lock();
            if (seek_pending_) continue;  // a newer seek came meanwhile
            UpdateClockLocked();
            continue;
        }
        if (!started_ || ended_) {
            wake_.wait(lock);
            continue;
        }
        if (!has_next_ && !at_end_) {
            lock.unlock();
            bool decoded = DecodeNext(next_);
            lock.lock();
            if (seek_pending_) continue;
            if (decoded) {
                has_next_ = true;
                next_rendered_ = false;
            } else {
                at_end_ = true;
                if (has_dropped_) {
                    // The last picture was late: it is shown all the same.
                    std::swap(next_, dropped_);
                    has_dropped_ = false;
                    has_next_ = true;
                    next_rendered_ = false;
                }
            }
            continue;
        }
        if (steps_ > 0) {
            if (!has_next_) {
                steps_ = 0;  // nothing after the last picture
                continue;
            }
            --steps_;
            lock.unlock();
            ShowNext();
            clock_.Set(shown_us_);
            lock.lock();
            continue;
        }
        if (paused_ || buffering_) {
            wake_.wait(lock);
            continue;
        }
        if (!has_next_) {
            // Every picture is out: the end comes once the last one has had
            // its time and the sound has drained.
            auto wait = clock_.WallUntil(last_end_us_);
            bool sound_left = audio_ && !audio_->Drained() && speed_step_ == 0 && sound_wanted_;
            if (wait > Wall::duration::zero() || sound_left) {
                wake_.wait_for(lock, std::clamp<Wall::duration>(wait, 1ms, 20ms));
                continue;
            }
            ended_ = true;
            UpdateClockLocked();
            events_.Post(PLAYER_EVENT_END);
            continue;
        }
        int64_t due = FrameTimeUs(next_);
        auto wait = clock_.WallUntil(due);
        if (wait > Wall::duration::zero()) {
            if (!next_rendered_) {
                lock.unlock();
                next_rendered_ = RenderForWindow(next_);
                lock.lock();
                continue;
            }
            wake_.wait_for(lock, std::min<Wall::duration>(wait, 100ms));
            continue;
        }
        // Due. A picture more than a frame late is dropped, unless nothing
        // has been shown for a while.
        bool late = clock_.NowUs() - due > std::max<int64_t>(frame_interval_us_, FrameDurationUs(next_));
        lock.unlock();
        if (late && Wall::now() - last_present_ < kLongestWithoutPicture) {
            // Kept aside: if it turns out to be the last picture, it is shown.
            int64_t time = FrameTimeUs(next_);
            last_end_us_ = time + FrameDurationUs(next_);
            std::swap(next_, dropped_);
            av_frame_unref(next_);
            has_dropped_ = true;
            has_next_ = false;
            next_rendered_ = false;
        } else {
            has_dropped_ = false;
            ShowNext();
        }
        lock.lock();
    }
}

bool Player::Play(PlayerWindow* window) {
    std::lock_guard lock(mutex_);
    if (!window_fixed_) {
        if (window == nullptr) return false;
        window_ = window;
        started_ = true;
    }
    if (ended_) {
        // Played to the end: play again from the start.
        seek_pending_ = true;
        seek_target_us_ = 0;
    }
    paused_ = false;
    steps_ = 0;
    UpdateClockLocked();
    wake_.notify_all();
    return true;
}

void Player::AttachPictureWindow(PlayerWindow* window) {
    std::lock_guard lock(mutex_);
    window_ = window;
    window_fixed_ = true;
}

void Player::Start() {
    std::lock_guard lock(mutex_);
    started_ = true;
    UpdateClockLocked();
    wake_.notify_all();
}

void Player::SetBuffering(bool buffering) {
    std::lock_guard lock(mutex_);
    buffering_ = buffering;
    UpdateClockLocked();
    wake_.notify_all();
}

bool Player::Pause() {
    std::lock_guard lock(mutex_);
    paused_ = true;
    UpdateClockLocked();
    wake_.notify_all();
    return true;
}

bool Player::StepFrame() {
    std::lock_guard lock(mutex_);
    if (ended_) return false;
    paused_ = true;
    started_ = true;
    ++steps_;
    UpdateClockLocked();
    wake_.notify_all();
    return true;
}

bool Player::Faster() {
    std::lock_guard lock(mutex_);
    if (speed_step_ >= kMaxSpeedStep) return false;
    ++speed_step_;
    clock_.SetSpeed(speed_step_ >= 0 ? double(1 << speed_step_) : 1.0 / (1 << -speed_step_));
    if (audio_ && speed_step_ != 0) audio_->Flush();
    wake_.notify_all();
    return true;
}

bool Player::Slower() {
    std::lock_guard lock(mutex_);
    if (speed_step_ <= kMinSpeedStep) return false;
    --speed_step_;
    clock_.SetSpeed(speed_step_ >= 0 ? double(1 << speed_step_) : 1.0 / (1 << -speed_step_));
    if (audio_ && speed_step_ != 0) audio_->Flush();
    wake_.notify_all();
    return true;
}

bool Player::SeekToMs(uint32_t ms) {
    if (!seekable_ || ms > total_ms_) return false;
    std::lock_guard lock(mutex_);
    seek_pending_ = true;
    seek_target_us_ = static_cast<int64_t>(ms) * 1000;
    shown_us_ = seek_target_us_;
    steps_ = 0;
    UpdateClockLocked();
    wake_.notify_all();
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
    if (!HasAudio() || quit_) return false;
    std::lock_guard lock(mutex_);
    if (!audio_ && SoundDeviceAvailable()) {
        audio_ = AudioOutput::Create(format_->streams[audio_stream_], start_us_, &clock_);
    }
    sound_wanted_ = true;
    UpdateClockLocked();
    return true;
}

bool Player::SoundOff() {
    if (!HasAudio()) return false;
    std::lock_guard lock(mutex_);
    sound_wanted_ = false;
    if (audio_) audio_->Flush();
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

bool Player::StartCut(const std::string& path) {
    std::lock_guard lock(cut_mutex_);
    if (cut_) cut_->Finish();
    cut_ = CutWriter::Start(MapDrivePath(path), format_, video_stream_, audio_stream_);
    return cut_ != nullptr;
}

bool Player::StopCut() {
    std::lock_guard lock(cut_mutex_);
    if (!cut_) return false;
    bool ok = cut_->Finish();
    cut_.reset();
    return ok;
}

void Player::Close() {
    std::lock_guard close_lock(close_mutex_);
    if (closed_) return;
    closed_ = true;
    events_.Close();
    quit_ = true;
    input_->Interrupt();
    {
        std::lock_guard lock(mutex_);
        wake_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
    audio_.reset();
    StopCut();
    std::lock_guard lock(mutex_);
    window_ = nullptr;
}

}  // namespace playersdk
