#include "net/ReplayMuxer.h"

#include <fcntl.h>
#include <unistd.h>

#include <sys/stat.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iterator>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

namespace playersdk::net {
namespace {

constexpr int kAvioBufferBytes = 64 * 1024;

AVCodecID CodecIdOf(TrackCodec codec) {
    switch (codec) {
        case TrackCodec::H264: return AV_CODEC_ID_H264;
        case TrackCodec::H265: return AV_CODEC_ID_HEVC;
        case TrackCodec::Aac: return AV_CODEC_ID_AAC;
        case TrackCodec::Pcma: return AV_CODEC_ID_PCM_ALAW;
        case TrackCodec::Pcmu: return AV_CODEC_ID_PCM_MULAW;
        case TrackCodec::None: break;
    }
    return AV_CODEC_ID_NONE;
}

bool IsG711(TrackCodec codec) { return codec == TrackCodec::Pcma || codec == TrackCodec::Pcmu; }

}  // namespace

std::unique_ptr<ReplayMuxer> ReplayMuxer::Open(Kind kind, const std::vector<MuxTrack>& tracks, MuxOutput output) {
    std::unique_ptr<ReplayMuxer> muxer(new ReplayMuxer);
    muxer->output_ = std::move(output);
    bool g711 = false;
    for (const auto& track : tracks) g711 |= IsG711(track.codec);
    // MP4 proper has no G.711 sample entry; MOV's variant has.
    const char* format = kind == Kind::Stream ? "mpegts" : g711 ? "mov" : "mp4";
    if (avformat_alloc_output_context2(&muxer->format_, nullptr, format, nullptr) < 0) return nullptr;
    int streams = 0;
    for (const auto& given : tracks) {
        MuxTrack track = given;
        // MPEG-TS has no place for G.711: a stream carries it as AAC.
        std::unique_ptr<G711ToAac> to_aac;
        if (kind == Kind::Stream && IsG711(track.codec)) {
            to_aac = G711ToAac::Open(track.codec == TrackCodec::Pcma, track.clock_rate, track.channels);
            if (to_aac) track = {TrackCodec::Aac, to_aac->Config(), to_aac->SampleRate(), track.channels};
        }
        const bool carried = CodecIdOf(track.codec) != AV_CODEC_ID_NONE && !(kind == Kind::Stream && IsG711(track.codec));
        AVStream* stream = carried ? avformat_new_stream(muxer->format_, nullptr) : nullptr;
        muxer->stream_of_track_.push_back(stream != nullptr ? streams++ : -1);
        muxer->last_dts_.push_back(INT64_MIN);
        muxer->reorder_.push_back(IsPicture(track.codec) ? std::make_unique<Reorder>() : nullptr);
        muxer->to_aac_.push_back(std::move(to_aac));
        if (stream == nullptr) continue;
        AVCodecParameters* par = stream->codecpar;
        par->codec_id = CodecIdOf(track.codec);
        stream->time_base = {1, 1000};
        if (IsPicture(track.codec)) {
            par->codec_type = AVMEDIA_TYPE_VIDEO;
        } else {
            par->codec_type = AVMEDIA_TYPE_AUDIO;
            par->sample_rate = track.clock_rate;
            av_channel_layout_default(&par->ch_layout, track.channels);
            if (IsG711(track.codec)) {
                par->bits_per_coded_sample = 8;
                par->block_align = track.channels;
            }
        }
        if (!track.extradata.empty()) {
            par->extradata = static_cast<uint8_t*>(av_mallocz(track.extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
            if (par->extradata == nullptr) return nullptr;
            std::memcpy(par->extradata, track.extradata.data(), track.extradata.size());
            par->extradata_size = static_cast<int>(track.extradata.size());
        }
    }
    if (streams == 0) return nullptr;
    auto* buffer = static_cast<uint8_t*>(av_malloc(kAvioBufferBytes));
    if (buffer == nullptr) return nullptr;
    const bool seekable = kind == Kind::File;
    muxer->avio_ = avio_alloc_context(buffer, kAvioBufferBytes, 1, muxer.get(), nullptr, &ReplayMuxer::WritePacket,
                                      seekable ? &ReplayMuxer::SeekPacket : nullptr);
    if (muxer->avio_ == nullptr) {
        av_free(buffer);
        return nullptr;
    }
    muxer->format_->pb = muxer->avio_;
    muxer->format_->flags |= AVFMT_FLAG_CUSTOM_IO;
    muxer->kind_ = kind;
    muxer->tracks_ = tracks;
    return muxer;
}

bool ReplayMuxer::WriteHeader(size_t video_track, const ReplayFrame& key_frame) {
    AVCodecParameters* par = format_->streams[stream_of_track_[video_track]]->codecpar;
    // The picture size, which MP4 must know, from the parameter sets.
    AVCodecParserContext* parser = av_parser_init(par->codec_id);
    AVCodecContext* context = avcodec_alloc_context3(nullptr);
    if (parser != nullptr && context != nullptr) {
        const std::string bytes = tracks_[video_track].extradata + key_frame.data;
        uint8_t* out = nullptr;
        int out_size = 0;
        av_parser_parse2(parser, context, &out, &out_size, reinterpret_cast<const uint8_t*>(bytes.data()),
                         static_cast<int>(bytes.size()), AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        av_parser_parse2(parser, context, &out, &out_size, nullptr, 0, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        par->width = parser->width > 0 ? parser->width : context->width;
        par->height = parser->height > 0 ? parser->height : context->height;
    }
    av_parser_close(parser);
    avcodec_free_context(&context);
    AVDictionary* options = nullptr;
    // A stream's packets leave at once, so that the reader gets each frame
    // as it arrives.
    if (kind_ == Kind::Stream) av_dict_set(&options, "flush_packets", "1", 0);
    const int written = avformat_write_header(format_, &options);
    av_dict_free(&options);
    header_written_ = written >= 0;
    return header_written_;
}

ReplayMuxer::~ReplayMuxer() {
    if (format_ != nullptr) avformat_free_context(format_);
    if (avio_ != nullptr) {
        av_freep(&avio_->buffer);
        avio_context_free(&avio_);
    }
}

int ReplayMuxer::WritePacket(void* opaque, uint8_t* data, int size) {
    auto* self = static_cast<ReplayMuxer*>(opaque);
    if (!self->output_.write(data, size)) {
        self->failed_ = true;
        return AVERROR(EIO);
    }
    self->written_ += size;
    return size;
}

int64_t ReplayMuxer::SeekPacket(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<ReplayMuxer*>(opaque);
    if (!self->output_.seek) return -1;
    return self->output_.seek(offset, whence);
}

bool ReplayMuxer::Write(size_t track, const ReplayFrame& frame, int64_t time_ms) {
    if (track >= stream_of_track_.size() || stream_of_track_[track] < 0) return true;
    if (failed_) return false;
    // The container starts with the first key picture; what comes before it
    // could not be shown.
    if (!header_written_) {
        if (!IsPicture(tracks_[track].codec) || !frame.key) return true;
        if (!WriteHeader(track, frame)) return false;
    }
    if (reorder_[track]) return Hold(track, frame, time_ms);
    if (to_aac_[track])
        return to_aac_[track]->Push(frame.data, time_ms, [&](const uint8_t* data, int size, int64_t aac_ms) {
            return WriteOne(track, data, size, true, aac_ms, aac_ms);
        });
    return WriteOne(track, reinterpret_cast<const uint8_t*>(frame.data.data()), static_cast<int>(frame.data.size()),
                    frame.key, time_ms, time_ms);
}

bool ReplayMuxer::Hold(size_t track, const ReplayFrame& frame, int64_t pts_ms) {
    Reorder& reorder = *reorder_[track];
    reorder.held.push_back({frame.data, frame.key, pts_ms});
    reorder.unused_pts.insert(pts_ms);
    return reorder.held.size() <= kReorderDepth || WriteHeld(track);
}

bool ReplayMuxer::WriteHeld(size_t track) {
    Reorder& reorder = *reorder_[track];
    if (reorder.given == 0) {
        // The first pictures go before the smallest presentation time, one
        // picture's spacing apart.
        const auto smallest = reorder.unused_pts.begin();
        const auto next = std::next(smallest);
        if (next != reorder.unused_pts.end()) reorder.step = std::max<int64_t>(*next - *smallest, 1);
        reorder.first_dts = *smallest - static_cast<int64_t>(kReorderDepth) * reorder.step;
    }
    int64_t dts = 0;
    if (reorder.given < kReorderDepth) {
        dts = reorder.first_dts + static_cast<int64_t>(reorder.given) * reorder.step;
    } else {
        dts = *reorder.unused_pts.begin();
        reorder.unused_pts.erase(reorder.unused_pts.begin());
    }
    ++reorder.given;
    const HeldPicture picture = std::move(reorder.held.front());
    reorder.held.pop_front();
    return WriteOne(track, reinterpret_cast<const uint8_t*>(picture.data.data()),
                    static_cast<int>(picture.data.size()), picture.key, picture.pts_ms, dts);
}

bool ReplayMuxer::WriteOne(size_t track, const uint8_t* data, int size, bool key, int64_t pts_ms, int64_t dts_ms) {
    // Decoding times climb: one that would go back is moved on just past
    // the last, and a presentation is never before its decoding.
    int64_t& last = last_dts_[track];
    const int64_t dts = last != INT64_MIN && dts_ms <= last ? last + 1 : dts_ms;
    last = dts;
    AVPacket* packet = av_packet_alloc();
    if (packet == nullptr || av_new_packet(packet, size) < 0) {
        av_packet_free(&packet);
        return false;
    }
    std::memcpy(packet->data, data, static_cast<size_t>(size));
    packet->stream_index = stream_of_track_[track];
    const AVRational time_base = format_->streams[packet->stream_index]->time_base;
    packet->dts = av_rescale_q(dts, {1, 1000}, time_base);
    packet->pts = av_rescale_q(std::max(pts_ms, dts), {1, 1000}, time_base);
    if (key) packet->flags |= AV_PKT_FLAG_KEY;
    const int result = av_interleaved_write_frame(format_, packet);
    av_packet_free(&packet);
    return result >= 0 && !failed_;
}

bool ReplayMuxer::Finish() {
    if (!header_written_ || finished_) return false;
    finished_ = true;
    bool held_written = true;
    for (size_t track = 0; track < reorder_.size(); ++track)
        while (reorder_[track] && !reorder_[track]->held.empty()) held_written = WriteHeld(track) && held_written;
    const bool ok = av_write_trailer(format_) >= 0;
    avio_flush(avio_);
    return held_written && ok && !failed_;
}

ReplayFile::~ReplayFile() { Discard(); }

bool ReplayFile::Open(const std::string& final_path) {
    Discard();
    std::error_code error;
    const std::filesystem::path parent = std::filesystem::path(final_path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, error);
    std::string name = final_path + ".partXXXXXX";
    fd_ = mkstemp(name.data());
    if (fd_ < 0) return false;
    fchmod(fd_, 0644);
    final_path_ = final_path;
    temp_path_ = name;
    return true;
}

MuxOutput ReplayFile::Output() {
    return {[this](const uint8_t* data, int size) {
                for (int done = 0; done < size;) {
                    const ssize_t n = ::write(fd_, data + done, static_cast<size_t>(size - done));
                    if (n < 0 && errno == EINTR) continue;
                    if (n <= 0) return false;
                    done += static_cast<int>(n);
                }
                return true;
            },
            [this](int64_t offset, int whence) -> int64_t {
                if (whence == AVSEEK_SIZE) {
                    struct stat st {};
                    return fstat(fd_, &st) == 0 ? st.st_size : -1;
                }
                return ::lseek(fd_, offset, whence & ~AVSEEK_FORCE);
            }};
}

bool ReplayFile::Commit() {
    if (fd_ < 0) return false;
    bool ok = ::fsync(fd_) == 0;
    ok = ::close(fd_) == 0 && ok;
    fd_ = -1;
    if (ok) ok = ::rename(temp_path_.c_str(), final_path_.c_str()) == 0;
    if (!ok) ::unlink(temp_path_.c_str());
    temp_path_.clear();
    return ok;
}

void ReplayFile::Discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temp_path_.empty()) ::unlink(temp_path_.c_str());
    temp_path_.clear();
}

}  // namespace playersdk::net
