// Opening: the input behind the demultiplexer, the streams and their
// decoders, the length, and the first picture, all on the calling thread;
// then the threads start.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "core/CutRecorder.h"
#include "core/EngineBounds.h"
#include "core/MediaExtent.h"
#include "core/Engine.h"
#include "core/Timeline.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace playersdk {

namespace {

int64_t MsFromWall() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(PlaybackClock::WallClock::now().time_since_epoch())
        .count();
}

// Containers may name further files or addresses (playlists, references):
// this library plays the one input it was given and opens nothing else.
int RefuseNestedOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
    return AVERROR(EPERM);
}

}  // namespace

std::unique_ptr<Engine> Engine::Open(std::unique_ptr<MediaInput> input, std::string* why) {
    if (!input) {
        if (why) *why = "no input";
        return nullptr;
    }
    std::unique_ptr<Engine> engine(new Engine(std::move(input)));
    std::string reason;
    if (!engine->OpenMedia(&reason)) {
        if (why) *why = reason;
        return nullptr;
    }
    // What the open read was all there was then; a file still being written
    // has more by now.
    engine->format_->pb->eof_reached = 0;
    engine->input_->Opened(engine->may_grow_);
    engine->StartThreads();
    return engine;
}

int Engine::ReadPacket(void* opaque, uint8_t* buffer, int size) {
    auto* self = static_cast<Engine*>(opaque);
    if (self->quit_) return AVERROR_EXIT;
    self->read_started_ms_ = MsFromWall();
    int n = self->input_->Read(buffer, size);
    self->read_started_ms_ = 0;
    if (self->quit_) return AVERROR_EXIT;
    return n == 0 ? AVERROR_EOF : n;
}

int64_t Engine::SeekInput(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<Engine*>(opaque);
    return self->input_->Seek(offset, whence);
}

int Engine::Interrupted(void* opaque) { return static_cast<Engine*>(opaque)->quit_ ? 1 : 0; }

int64_t Engine::ReadBlockedMs() const {
    int64_t started = read_started_ms_;
    return started == 0 ? 0 : std::max<int64_t>(0, MsFromWall() - started);
}

bool Engine::OpenMedia(std::string* why) {
    seekable_ = input_->Seekable();
    auto* buffer = static_cast<uint8_t*>(av_malloc(kAvioBufferSize));
    if (buffer == nullptr) return false;
    avio_ = avio_alloc_context(buffer, kAvioBufferSize, 0, this, &Engine::ReadPacket, nullptr,
                               seekable_ ? &Engine::SeekInput : nullptr);
    if (avio_ == nullptr) {
        av_free(buffer);
        return false;
    }
    if (!seekable_) avio_->seekable = 0;
    format_ = avformat_alloc_context();
    if (format_ == nullptr) return false;
    format_->pb = avio_;
    format_->flags |= AVFMT_FLAG_CUSTOM_IO;
    format_->interrupt_callback = {&Engine::Interrupted, this};
    format_->io_open = &RefuseNestedOpen;
    // A fragmented MP4 still being written (here or at the recorder): its
    // fragments are read as they come, those written after the open too,
    // rather than indexed at the open.
    const bool fragments_as_they_come = input_->BeingWritten() && Mp4Fragmented(avio_);
    if (fragments_as_they_come) format_->flags |= AVFMT_FLAG_IGNIDX;
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
    // Timestamps that jump, or none: the length is the sum of the stretches.
    timeline_ = std::make_unique<Timeline>(format_, video_stream_, audio_stream_, frame_interval_us_);
    if (timeline_->Enabled() && seekable_ && input_->Local() && timeline_->Scan()) {
        if (timeline_->Stretches().size() > 1 || timeline_->Raw()) duration = timeline_->EndUs() - start_us_;
        SeekToByte(0);
    }
    if (duration == AV_NOPTS_VALUE || duration < 0) duration = 0;
    total_ms_ = static_cast<uint32_t>(std::clamp<int64_t>(duration / 1000, 0, UINT32_MAX));

    // Key frames are found by reading: in containers without an index, and
    // in raw streams without timestamps.
    seek_by_reading_ = (format_->iformat->flags & AVFMT_TS_DISCONT) != 0 || timeline_->Raw();
    // An MP4 indexed whole at the open cannot be read further as it grows.
    const bool mp4 = std::strncmp(format_->iformat->name, "mov", 3) == 0;
    may_grow_ = !mp4 || fragments_as_they_come;
    if (fragments_as_they_come) {
        const AVStream* video = format_->streams[video_stream_];
        written_end_ = std::make_unique<FragmentEnd>(
            video->id, video->time_base, av_rescale_q(frame_interval_us_, AV_TIME_BASE_Q, video->time_base));
    } else if (input_->BeingWritten() && input_->Local() && std::strcmp(format_->iformat->name, "mpegts") == 0) {
        // Its tail is read again and again: a local file only, where that costs little.
        const AVStream* video = format_->streams[video_stream_];
        written_end_ = std::make_unique<TransportStreamEnd>(
            video->id, video->time_base, video->start_time,
            av_rescale_q(frame_interval_us_, AV_TIME_BASE_Q, video->time_base),
            av_rescale_q(timeline_->JumpUs(), AV_TIME_BASE_Q, video->time_base));
    }
    if (written_end_) FollowWrittenEnd();
    if (mp4 && !fragments_as_they_come) {
        std::vector<int64_t> key_times_us;
        AVStream* video = format_->streams[video_stream_];
        // The index dates samples by decoding time, and seeks go by the time a
        // picture is shown: a key picture is shown as much later as the first
        // picture is, at most the pictures the decoder holds back to reorder
        // (an edit list that starts past the first sample says nothing of it).
        const AVIndexEntry* first = avformat_index_get_entry(video, 0);
        const int64_t reorder = av_rescale_q(video->codecpar->video_delay * frame_interval_us_, AV_TIME_BASE_Q,
                                             video->time_base);
        const int64_t held_back = first != nullptr && video->start_time != AV_NOPTS_VALUE
                                      ? std::clamp<int64_t>(video->start_time - first->timestamp, 0, reorder)
                                      : 0;
        for (int i = 0, n = avformat_index_get_entries_count(video); i < n; ++i) {
            const AVIndexEntry* entry = avformat_index_get_entry(video, i);
            if (entry != nullptr && (entry->flags & AVINDEX_KEYFRAME) != 0) {
                key_times_us.push_back(
                    av_rescale_q(entry->timestamp + held_back, video->time_base, AV_TIME_BASE_Q) - start_us_);
            }
        }
        key_frames_.SetWhole(key_times_us);
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

bool Engine::OpenVideoDecoder(std::string* why) {
    const AVCodec* codec = nullptr;
    video_stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (video_stream_ < 0 || codec == nullptr) {
        *why = "no decodable picture stream";
        return false;
    }
    AVStream* stream = format_->streams[video_stream_];
    const int64_t pixels = static_cast<int64_t>(std::max(stream->codecpar->width, 1)) *
                           std::max(stream->codecpar->height, 1);
    const auto cores = static_cast<int64_t>(std::max(1u, std::thread::hardware_concurrency()));
    seek_decoder_threads_ = static_cast<int>(std::min<int64_t>(cores, kMaxDecoderThreads));
    playback_decoder_threads_ = static_cast<int>(
        std::clamp<int64_t>((pixels + kPixelsPerDecoderThread - 1) / kPixelsPerDecoderThread, 1, seek_decoder_threads_));
    // Opened on a thread of the picture thread's priority, as the decoder's
    // own threads keep that of the thread that started them. The first
    // picture is decoded here by the decoder the picture thread goes on
    // with: a decoder opened anew there would lack the pictures the next
    // ones refer to, and show them spoilt up to the next key frame.
    std::thread([&] {
        LowerThisThreadsPriority(kDecoderNiceness);
        video_decoder_ = NewVideoDecoder(codec, playback_decoder_threads_);
    }).join();
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

void Engine::OpenAudioDecoder() {
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

// Reads and decodes up to the first picture on the opening thread, from the
// first key frame on, within kFirstPictureBytes and kFirstPictureUs; the
// sound read meanwhile is queued as the read thread would have.
bool Engine::DecodeFirstPicture() {
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    bool got = false;
    bool draining = false;
    bool keyed = false;  // a key frame has gone to the decoder
    const int64_t first_byte = avio_tell(format_->pb);
    int64_t first_video_us = kUnknownTime;
    while (packet != nullptr && frame != nullptr) {
        int received = avcodec_receive_frame(video_decoder_, frame);
        if (received == 0) {
            got = true;
            break;
        }
        if (received == AVERROR_EOF || draining) break;
        const int64_t bytes = avio_tell(format_->pb) - first_byte;
        if (bytes > kFirstPictureBytes) break;
        if (ReadMediaPacket(packet) < 0) {
            avcodec_send_packet(video_decoder_, nullptr);
            draining = true;
            video_packets_.MarkEnd();
            sound_packets_.MarkEnd();
            continue;
        }
        const int64_t time = PacketTimeUs(packet);
        cut_->Add(packet, time, 0);
        if (packet->stream_index == video_stream_) {
            if (first_video_us == kUnknownTime) first_video_us = time;
            if (time != kUnknownTime && time - first_video_us > kFirstPictureUs) {
                av_packet_unref(packet);
                break;
            }
            // Pictures before the first key frame lack what they refer to.
            const bool key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
            if (!keyed) opened_on_key_frame_ = key;
            keyed = keyed || key || bytes > kFirstPictureBytes / 2;
            if (keyed && avcodec_send_packet(video_decoder_, packet) < 0) opened_on_key_frame_ = false;
            if (time != kUnknownTime) video_read_us_ = time;
            av_packet_unref(packet);
        } else {
            RoutePacket(packet);
        }
    }
    av_packet_free(&packet);
    if (!got) {
        av_frame_free(&frame);
        return false;
    }
    QueuedPicture first;
    first.frame = frame;
    first.time_us = FrameTimeUs(frame);
    first.duration_us = FrameDurationUs(frame);
    decoded_to_us_ = first.time_us + first.duration_us;  // a seek to it is not reached by decoding on
    pictures_.Push(first);
    return true;
}

void Engine::StartThreads() {
    // Also after an open that read the whole file: the picture thread gives
    // out what the decoder still holds, then the end, and is there for the
    // next seek.
    reader_ = std::thread([this] { ReadLoop(); });
    video_ = std::thread([this] { VideoLoop(); });
    if (audio_stream_ >= 0) sound_ = std::thread([this] { SoundLoop(); });
    presenter_ = std::thread([this] { PresentLoop(); });
}

}  // namespace playersdk
