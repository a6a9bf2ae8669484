#include "core/CutWriter.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <iterator>

#include "core/DrivePath.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace playersdk {
namespace {

// Each key frame starts a fragment; the header carries no samples, so the
// file is playable from its first fragment on.
constexpr const char* kFragmentFlags = "frag_keyframe+empty_moov+default_base_moof";

bool Carries(const AVOutputFormat* format, const AVStream* stream) {
    if (avformat_query_codec(format, stream->codecpar->codec_id, FF_COMPLIANCE_NORMAL) == 1) return true;
    // QuickTime also keeps sound that has a WAV format tag, as an "ms" sample
    // entry: the G.726 of cameras, which no native entry holds.
    const AVCodecTag* const wav_tags[] = {avformat_get_riff_audio_tags(), nullptr};
    return std::strcmp(format->name, "mov") == 0 && stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO &&
           av_codec_get_tag(wav_tags, stream->codecpar->codec_id) != 0;
}

// MP4 when it carries every stream; else its QuickTime sibling, whose sample
// entries also hold the sound of cameras (G.711 as "alaw", "ulaw"; G.726 as
// an "ms" entry), when that keeps more of them. Both are the same ISO file
// layout and play alike.
const AVOutputFormat* CutFormat(const AVFormatContext* input, int video_stream, int audio_stream) {
    const AVOutputFormat* mp4 = av_guess_format("mp4", nullptr, nullptr);
    if (audio_stream < 0 || Carries(mp4, input->streams[audio_stream])) return mp4;
    const AVOutputFormat* mov = av_guess_format("mov", nullptr, nullptr);
    bool mov_keeps_all = Carries(mov, input->streams[video_stream]) && Carries(mov, input->streams[audio_stream]);
    return mov_keeps_all ? mov : mp4;
}

// AAC read from MPEG-TS comes in ADTS frames, each with a header of its own
// and no stream-wide configuration; MP4 wants the configuration once, in the
// header, and bare frames.
bool InAdtsFrames(const AVCodecParameters* codec) {
    return codec->codec_id == AV_CODEC_ID_AAC && codec->extradata_size == 0;
}

// The AudioSpecificConfig of such a stream: object type, sampling frequency
// index and channel configuration, from what the input found out about it.
bool AudioSpecificConfig(const AVCodecParameters* codec, uint8_t config[2]) {
    static constexpr int kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050,
                                     16000, 12000, 11025, 8000,  7350};
    int rate_index = -1;
    for (int i = 0; i < static_cast<int>(std::size(kRates)); ++i) {
        if (kRates[i] == codec->sample_rate) rate_index = i;
    }
    const int channels = codec->ch_layout.nb_channels;
    if (rate_index < 0 || channels < 1 || channels > 7) return false;
    const int object_type = codec->profile >= 0 && codec->profile <= 3 ? codec->profile + 1 : 2;  // else LC
    config[0] = static_cast<uint8_t>(object_type << 3 | rate_index >> 1);
    config[1] = static_cast<uint8_t>((rate_index & 1) << 7 | channels << 3);
    return true;
}

// The length of the ADTS header a packet starts with, or 0.
int AdtsHeaderSize(const AVPacket* packet) {
    if (packet->size < 7 || packet->data[0] != 0xff || (packet->data[1] & 0xf6) != 0xf0) return 0;
    const bool has_crc = (packet->data[1] & 0x01) == 0;
    const int size = has_crc ? 9 : 7;
    return packet->size > size ? size : 0;
}

}  // namespace

std::unique_ptr<CutWriter> CutWriter::Start(const std::string& path, const AVFormatContext* input,
                                            int video_stream, int audio_stream) {
    if (input == nullptr || video_stream < 0 || path.empty()) return nullptr;
    std::unique_ptr<CutWriter> cut(new CutWriter);
    cut->input_ = input;
    const AVOutputFormat* format = CutFormat(input, video_stream, audio_stream);
    if (avformat_alloc_output_context2(&cut->output_, format, nullptr, nullptr) < 0) return nullptr;
    for (int index : {video_stream, audio_stream}) {
        if (index < 0) continue;
        const AVStream* source = input->streams[index];
        uint8_t adts_config[2] = {};
        const bool adts = InAdtsFrames(source->codecpar);
        if (!Carries(format, source) || (adts && !AudioSpecificConfig(source->codecpar, adts_config))) {
            if (index == video_stream) return nullptr;
            continue;  // sound neither layout can carry is left out
        }
        AVStream* target = avformat_new_stream(cut->output_, nullptr);
        if (target == nullptr || avcodec_parameters_copy(target->codecpar, source->codecpar) < 0) {
            return nullptr;
        }
        target->codecpar->codec_tag = 0;
        target->time_base = source->time_base;
        Track track;
        track.input_index = index;
        track.output_index = target->index;
        if (adts) {
            target->codecpar->extradata = static_cast<uint8_t*>(av_mallocz(2 + AV_INPUT_BUFFER_PADDING_SIZE));
            if (target->codecpar->extradata == nullptr) return nullptr;
            target->codecpar->extradata_size = 2;
            std::memcpy(target->codecpar->extradata, adts_config, 2);
            track.strip_adts = true;
        }
        cut->tracks_.push_back(track);
    }
    struct stat info;
    if (lstat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) return nullptr;
    if (!CreateParentFolders(path)) return nullptr;
    cut->path_ = path;
    // "file:" keeps a path that looks like a URL from reaching another protocol.
    if (avio_open(&cut->output_->pb, ("file:" + path).c_str(), AVIO_FLAG_WRITE) < 0) return nullptr;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", kFragmentFlags, 0);
    int written = avformat_write_header(cut->output_, &options);
    av_dict_free(&options);
    avio_flush(cut->output_->pb);
    if (written < 0 || cut->output_->pb->error < 0) {
        avio_closep(&cut->output_->pb);
        std::remove(path.c_str());
        return nullptr;
    }
    cut->scratch_ = av_packet_alloc();
    if (cut->scratch_ == nullptr) return nullptr;
    return cut;
}

CutWriter::~CutWriter() {
    Finish();
    av_packet_free(&scratch_);
    if (output_ != nullptr) {
        if (output_->pb != nullptr) avio_closep(&output_->pb);
        avformat_free_context(output_);
    }
}

CutWriter::Track* CutWriter::TrackOf(int input_index) {
    for (Track& track : tracks_) {
        if (track.input_index == input_index) return &track;
    }
    return nullptr;
}

void CutWriter::Discontinuity() {
    if (waiting_for_key_) return;
    waiting_for_key_ = true;
    for (Track& track : tracks_) {
        const AVStream* out = output_->streams[track.output_index];
        int64_t end_us = av_rescale_q(track.next_dts, out->time_base, AV_TIME_BASE_Q);
        if (end_us > resume_us_) resume_us_ = end_us;
        track.have_shift = false;
    }
}

void CutWriter::Write(const AVPacket* packet) {
    if (failed_ || finished_) return;
    Track* track = TrackOf(packet->stream_index);
    if (track == nullptr) return;
    const AVStream* in = input_->streams[packet->stream_index];
    int64_t dts = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
    if (dts == AV_NOPTS_VALUE) return;
    bool is_video = track == &tracks_.front();
    if (waiting_for_key_) {
        if (!is_video || (packet->flags & AV_PKT_FLAG_KEY) == 0) return;
        // The segment starts at this key frame: every track's timestamps are
        // shifted so that its picture lands at resume_us_.
        int64_t key_pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : dts;
        int64_t key_us = av_rescale_q(key_pts, in->time_base, AV_TIME_BASE_Q);
        for (Track& each : tracks_) {
            AVRational base = input_->streams[each.input_index]->time_base;
            each.shift = av_rescale_q(key_us - resume_us_, AV_TIME_BASE_Q, base);
            each.have_shift = true;
        }
        waiting_for_key_ = false;
    }
    if (!track->have_shift) return;
    if (!is_video && dts - track->shift < 0) return;  // sound from before the key frame
    if (av_packet_ref(scratch_, packet) < 0) {
        failed_ = true;
        return;
    }
    if (track->strip_adts) {
        const int header = AdtsHeaderSize(scratch_);
        scratch_->data += header;
        scratch_->size -= header;
    }
    scratch_->dts = dts - track->shift;
    scratch_->pts = (packet->pts != AV_NOPTS_VALUE ? packet->pts : dts) - track->shift;
    scratch_->stream_index = track->output_index;
    scratch_->pos = -1;
    const AVStream* out = output_->streams[track->output_index];
    av_packet_rescale_ts(scratch_, in->time_base, out->time_base);
    if (track->last_dts != INT64_MIN && scratch_->dts <= track->last_dts) {
        scratch_->dts = track->last_dts + 1;
        if (scratch_->pts < scratch_->dts) scratch_->pts = scratch_->dts;
    }
    track->last_dts = scratch_->dts;
    track->next_dts = scratch_->dts + (scratch_->duration > 0 ? scratch_->duration : 1);
    bool key = is_video && (packet->flags & AV_PKT_FLAG_KEY) != 0;
    if (av_write_frame(output_, scratch_) < 0) failed_ = true;
    av_packet_unref(scratch_);
    // The fragment before this key frame is complete: get it to the disk.
    if (key) avio_flush(output_->pb);
    if (output_->pb->error < 0) failed_ = true;
}

bool CutWriter::Finish() {
    if (finished_) return !failed_;
    finished_ = true;
    if (output_ == nullptr || output_->pb == nullptr) return false;
    if (!failed_ && av_write_trailer(output_) < 0) failed_ = true;
    avio_flush(output_->pb);
    if (output_->pb->error < 0) failed_ = true;
    if (avio_closep(&output_->pb) < 0) failed_ = true;
    // A cut that could not be written whole is not left behind half written.
    if (failed_) std::remove(path_.c_str());
    return !failed_;
}

}  // namespace playersdk
