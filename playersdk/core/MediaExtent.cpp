#include "core/MediaExtent.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <span>

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

struct BoxHead {
    int64_t size = 0;  // the whole box; 0 when it runs to the end of the file
    uint32_t type = 0;
    int header = 8;
};

// The MP4 box header at `at`; false when the input ends before it.
bool ReadBoxHead(AVIOContext* pb, int64_t at, BoxHead& box) {
    if (avio_seek(pb, at, SEEK_SET) != at) return false;
    box.size = avio_rb32(pb);
    box.type = avio_rl32(pb);
    box.header = 8;
    if (box.size == 1) {
        box.size = static_cast<int64_t>(avio_rb64(pb));
        box.header = 16;
    }
    return !avio_feof(pb);
}

// True when a moof box follows the moov among the top-level boxes.
bool HasFragments(AVIOContext* pb) {
    constexpr int kMostBoxes = 64;  // ftyp, moov, maybe free/sidx, then the first moof
    int64_t at = 0;
    bool moov = false;
    BoxHead box;
    for (int i = 0; i < kMostBoxes && ReadBoxHead(pb, at, box); ++i) {
        if (box.type == MKTAG('m', 'o', 'o', 'f')) return moov;
        if (box.type == MKTAG('m', 'o', 'o', 'v')) moov = true;
        if (box.size < 8) return false;  // 0: the last box runs to the end
        at += box.size;
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

int64_t FragmentEnd::MoofEnd(AVIOContext* pb, int64_t from, int64_t to) const {
    // moof > traf > tfhd (track, default duration), tfdt (start), trun (samples).
    for (int64_t at = from; at + 8 <= to;) {
        if (avio_seek(pb, at, SEEK_SET) != at) return -1;
        const int64_t size = avio_rb32(pb);
        const uint32_t type = avio_rl32(pb);
        if (size < 8 || at + size > to) return -1;
        if (type == MKTAG('t', 'r', 'a', 'f')) {
            bool ours = false;
            int64_t start = -1, samples = 0, durations = 0, default_duration = fallback_duration_;
            for (int64_t child = at + 8; child + 12 <= at + size;) {
                avio_seek(pb, child, SEEK_SET);
                const int64_t child_size = avio_rb32(pb);
                const uint32_t child_type = avio_rl32(pb);
                if (child_size < 12 || child + child_size > at + size) break;
                const uint32_t version_flags = avio_rb32(pb);
                const uint32_t flags = version_flags & 0xffffff;
                if (child_type == MKTAG('t', 'f', 'h', 'd')) {
                    ours = static_cast<int>(avio_rb32(pb)) == track_id_;
                    if (flags & 0x01) avio_skip(pb, 8);
                    if (flags & 0x02) avio_skip(pb, 4);
                    if (flags & 0x08) default_duration = avio_rb32(pb);
                } else if (child_type == MKTAG('t', 'f', 'd', 't')) {
                    start = (version_flags >> 24) == 1 ? static_cast<int64_t>(avio_rb64(pb)) : avio_rb32(pb);
                } else if (child_type == MKTAG('t', 'r', 'u', 'n')) {
                    const int64_t count = avio_rb32(pb);
                    if (flags & 0x100) {  // each sample's own duration
                        if (flags & 0x01) avio_skip(pb, 4);
                        if (flags & 0x04) avio_skip(pb, 4);
                        const int rest = 4 * (((flags & 0x200) != 0) + ((flags & 0x400) != 0) + ((flags & 0x800) != 0));
                        for (int64_t i = 0; i < count && !avio_feof(pb); ++i) {
                            durations += avio_rb32(pb);
                            avio_skip(pb, rest);
                        }
                    } else {
                        samples += count;
                    }
                }
                child += child_size;
            }
            if (ours && start >= 0) return start + durations + samples * default_duration;
        }
        at += size;
    }
    return -1;
}

int64_t FragmentEnd::EndUs(AVIOContext* pb) {
    const int64_t position = avio_tell(pb);
    const int64_t file_size = avio_size(pb);
    BoxHead box;
    while (file_size > 0 && next_box_ + 8 <= file_size && ReadBoxHead(pb, next_box_, box)) {
        // A box still being written (0: it runs to the end) is walked over next time.
        if (box.size < box.header || next_box_ + box.size > file_size) break;
        if (box.type == MKTAG('m', 'o', 'o', 'f')) {
            pending_end_ = MoofEnd(pb, next_box_ + box.header, next_box_ + box.size);
        } else if (box.type == MKTAG('m', 'd', 'a', 't') && pending_end_ >= 0) {
            end_ = std::max(end_, pending_end_);
            pending_end_ = -1;
        }
        next_box_ += box.size;
    }
    avio_seek(pb, position, SEEK_SET);
    return end_ >= 0 ? av_rescale_q(end_, time_base_, AV_TIME_BASE_Q) : AV_NOPTS_VALUE;
}

int64_t TransportStreamEnd::EndIn(AVIOContext* pb, int64_t from, int64_t window, int64_t seen) {
    // One buffer for every look: a file being written is looked at every
    // half second, and a fresh megabyte each time costs its page faults.
    if (tail_.size() < static_cast<size_t>(window)) tail_.resize(static_cast<size_t>(window));
    if (avio_seek(pb, from, SEEK_SET) != from) return -1;
    const int read = avio_read(pb, tail_.data(), static_cast<int>(window));
    if (read <= 0) return -1;
    const std::span<const uint8_t> bytes(tail_.data(), static_cast<size_t>(read));
    // The packet size (plain, with a 4-byte time code, or with 16 bytes of
    // error correction) and where the packets start: three syncs in a row.
    size_t packet_size = 0, at = 0;
    for (size_t i = 0; i < 204 && packet_size == 0 && i < bytes.size(); ++i) {
        for (size_t size : {188, 192, 204}) {
            if (i + 2 * size < bytes.size() && bytes[i] == 0x47 && bytes[i + size] == 0x47 && bytes[i + 2 * size] == 0x47) {
                packet_size = size;
                at = i;
                break;
            }
        }
    }
    if (packet_size == 0) return -1;
    constexpr int64_t kWrap = int64_t{1} << 33;
    int64_t last = -1, end = -1;  // the picture last begun may not be whole: it does not count
    for (; at + 188 <= bytes.size(); at += packet_size) {
        const uint8_t* p = &bytes[at];
        if (p[0] != 0x47 || (p[1] & 0x40) == 0 || (((p[1] & 0x1f) << 8) | p[2]) != pid_ || (p[3] & 0x10) == 0) continue;
        const size_t payload = 4 + ((p[3] & 0x20) != 0 ? 1 + p[4] : 0);
        if (payload + 14 > 188) continue;
        const uint8_t* pes = p + payload;
        if (pes[0] != 0 || pes[1] != 0 || pes[2] != 1 || (pes[7] & 0x80) == 0) continue;
        int64_t pts = (static_cast<int64_t>(pes[9] & 0x0e) << 29) | (pes[10] << 22) | ((pes[11] & 0xfe) << 14) |
                      (pes[12] << 7) | (pes[13] >> 1);
        if (start_ != AV_NOPTS_VALUE && pts < start_ - kWrap / 2) pts += kWrap;
        if (last >= 0 && std::abs(pts - last) > jump_) {
            end = -1;  // a new stretch
            if (seen >= 0 && from + static_cast<int64_t>(at) >= seen) jumped_ = true;
        } else if (last >= 0) {
            end = std::max(end, last + frame_duration_);
        }
        last = pts;
    }
    return end;
}

int64_t TransportStreamEnd::EndUs(AVIOContext* pb) {
    const int64_t size = avio_size(pb);
    if (size <= 0 || size == size_seen_ || jumped_) return end_us_;
    const int64_t seen = size_seen_;
    size_seen_ = size;
    const int64_t position = avio_tell(pb);
    int64_t end = -1;
    // A picture may span more than the first window: wider ones, as at the open.
    for (int64_t window = 1 << 20; end < 0; window *= 4) {
        end = EndIn(pb, std::max<int64_t>(0, size - window), std::min(window, size), seen);
        if (window >= size || window >= (16 << 20)) break;
    }
    avio_seek(pb, position, SEEK_SET);
    if (end >= 0 && !jumped_) end_us_ = av_rescale_q(end, time_base_, AV_TIME_BASE_Q);
    return end_us_;
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
