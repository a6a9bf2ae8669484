#include "core/MediaExtent.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
}

namespace playersdk {
namespace {

int64_t IndexedEndUs(AVFormatContext* format, int video_stream, int64_t size) {
    AVStream* stream = format->streams[video_stream];
    // The samples after the last one stored whole; a single entry pointing
    // past the end among whole ones is damage, not a cut.
    const AVIndexEntry* first_missing = nullptr;
    for (int i = avformat_index_get_entries_count(stream) - 1; i >= 0; --i) {
        const AVIndexEntry* entry = avformat_index_get_entry(stream, i);
        if (entry == nullptr || entry->pos < 0) continue;
        if (entry->pos + entry->size <= size) break;
        first_missing = entry;
    }
    return first_missing != nullptr ? av_rescale_q(first_missing->timestamp, stream->time_base, AV_TIME_BASE_Q)
                                    : AV_NOPTS_VALUE;
}

// Reads the blocks in the last `window` bytes (the demuxer finds the next
// cluster on its own); the end of the last one, or AV_NOPTS_VALUE.
int64_t TailEndUs(AVFormatContext* format, int64_t size, int64_t window) {
    if (avio_seek(format->pb, std::max<int64_t>(0, size - window), SEEK_SET) < 0) return AV_NOPTS_VALUE;
    AVPacket* packet = av_packet_alloc();
    if (packet == nullptr) return AV_NOPTS_VALUE;
    int64_t end_us = AV_NOPTS_VALUE;
    while (av_read_frame(format, packet) >= 0) {
        const AVStream* stream = format->streams[packet->stream_index];
        const int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (pts != AV_NOPTS_VALUE) {
            const int64_t end = av_rescale_q(pts + std::max<int64_t>(packet->duration, 0), stream->time_base, AV_TIME_BASE_Q);
            if (end_us == AV_NOPTS_VALUE || end > end_us) end_us = end;
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    return end_us;
}

// True when a moof box follows the moov among the top-level boxes.
bool HasFragments(AVIOContext* pb) {
    constexpr int kMostBoxes = 64;  // ftyp, moov, maybe free/sidx, then the first moof
    int64_t at = 0;
    bool moov = false;
    for (int i = 0; i < kMostBoxes && avio_seek(pb, at, SEEK_SET) == at; ++i) {
        int64_t size = avio_rb32(pb);
        const uint32_t type = avio_rl32(pb);
        if (avio_feof(pb)) return false;
        if (size == 1) size = static_cast<int64_t>(avio_rb64(pb));
        if (type == MKTAG('m', 'o', 'o', 'f')) return moov;
        if (type == MKTAG('m', 'o', 'o', 'v')) moov = true;
        if (size < 8) return false;  // 0: the last box runs to the end
        at += size;
    }
    return false;
}

}  // namespace

bool Mp4Fragmented(AVIOContext* pb) {
    const int64_t position = avio_tell(pb);
    const bool fragmented = HasFragments(pb);
    avio_seek(pb, position, SEEK_SET);
    return fragmented;
}

int64_t HeldEndUs(AVFormatContext* format, int video_stream) {
    const int64_t size = avio_size(format->pb);
    if (size <= 0 || video_stream < 0) return AV_NOPTS_VALUE;
    const char* name = format->iformat->name;
    if (std::strncmp(name, "mov", 3) == 0) return IndexedEndUs(format, video_stream, size);
    if (std::strncmp(name, "matroska", 8) != 0) return AV_NOPTS_VALUE;
    // A cluster may be larger than the first window: wider ones until one
    // holds a block start, as FFmpeg looks for the last timestamps of a TS.
    int64_t end_us = AV_NOPTS_VALUE;
    for (int64_t window = 1 << 20; window <= (16 << 20) && end_us == AV_NOPTS_VALUE; window *= 4) {
        end_us = TailEndUs(format, size, window);
        if (window >= size) break;
    }
    const int64_t start = format->start_time != AV_NOPTS_VALUE ? format->start_time : 0;
    avformat_seek_file(format, -1, INT64_MIN, start, start, 0);
    return end_us;
}

}  // namespace playersdk
