// How far a file's media really goes, where its container may claim more:
// a recording cut short (the power went, a copy taken while it was written)
// keeps the index or the header written for all of it.
#pragma once

#include <cstdint>
#include <vector>

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/rational.h>
}

struct AVFormatContext;
struct AVIOContext;

namespace playersdk {

// The end of the media the input holds, in AV_TIME_BASE units on the
// container's own timeline (as its start_time), when its container claims
// more; AV_NOPTS_VALUE when nothing is missing or it cannot be told.
//  - MP4/MOV: the decoding time of the first of the samples of
//    `video_stream` that lie past the end of the input, up to the last (its
//    index was written whole).
//  - Matroska: the end of the last block in the input's last few MiB.
// Called before playing: the demuxer is left at the start.
int64_t HeldEndUs(AVFormatContext* format, int video_stream);

// Whether an MP4 is made of fragments (a moof box after its moov), which a
// writer adds to as it records: FFmpeg indexes those there at the open
// unless told to read them as they come. False for anything else. Leaves
// the input where it was.
bool Mp4Fragmented(AVIOContext* pb);

// Where the media of a file still being written ends now: asked again and
// again as the file grows, for the total and the seek bar.
class WrittenEnd {
public:
    virtual ~WrittenEnd() = default;
    // The end in AV_TIME_BASE units on the container's own timeline, or
    // AV_NOPTS_VALUE while it cannot be told. Leaves the input where it was.
    virtual int64_t EndUs(AVIOContext* pb) = 0;
};

// A fragmented MP4: the end of one track's samples in the last fragment
// (moof and its mdat) stored whole. Each call walks on from where the one
// before stopped, over the boxes added since, so following a file costs a
// few header reads per fragment.
class FragmentEnd final : public WrittenEnd {
public:
    // fallback_duration: a sample's duration (track time base) when the
    // fragment gives none.
    FragmentEnd(int track_id, AVRational time_base, int64_t fallback_duration)
        : track_id_(track_id), time_base_(time_base), fallback_duration_(fallback_duration) {}

    // AV_NOPTS_VALUE before a whole fragment.
    int64_t EndUs(AVIOContext* pb) override;

private:
    // The track's decoding time after the samples of this moof, or -1.
    int64_t MoofEnd(AVIOContext* pb, int64_t from, int64_t to) const;

    int track_id_;
    AVRational time_base_;
    int64_t fallback_duration_;
    int64_t next_box_ = 0;             // the first top-level box not walked over yet
    int64_t pending_end_ = -1;         // a moof's end, until its mdat is whole
    int64_t end_ = -1;                 // track time base
};

// An MPEG-TS: the end of the last picture of one stream (by its PID) stored
// whole in the file's last few MiB, read from the PES headers there, as the
// demuxer finds a TS's length at the open. Read again only when the file's
// size changed. Only the pictures after the last jump of their timestamps
// there count; a jump among those added since the look before starts a
// stretch whose place on the continuous timeline is not known yet: from
// then on the end stays where it was (the total grows as the file is read).
class TransportStreamEnd final : public WrittenEnd {
public:
    // start: the stream's first timestamp, against which the 33-bit
    // timestamps are unwrapped; frame_duration: a picture's duration; jump:
    // a step of the timestamps beyond this is a jump (all in the stream's
    // time base).
    TransportStreamEnd(int pid, AVRational time_base, int64_t start, int64_t frame_duration, int64_t jump)
        : pid_(pid), time_base_(time_base), start_(start), frame_duration_(frame_duration), jump_(jump) {}

    int64_t EndUs(AVIOContext* pb) override;

private:
    // The end of the last whole picture in `window` bytes read from `from`,
    // -1 when none; sets jumped_ on a jump past `seen` (bytes).
    int64_t EndIn(AVIOContext* pb, int64_t from, int64_t window, int64_t seen);

    int pid_;
    AVRational time_base_;
    int64_t start_;
    int64_t frame_duration_;
    int64_t jump_;
    int64_t size_seen_ = -1;
    bool jumped_ = false;
    int64_t end_us_ = AV_NOPTS_VALUE;
    std::vector<uint8_t> tail_;  // the bytes last read from the file's end
};

}  // namespace playersdk
