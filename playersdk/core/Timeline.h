// One continuous media time for a recording whose timestamps jump: MPEG-TS
// and MPEG-PS (any container lavf flags AVFMT_TS_DISCONT) from a recorder
// that restarted, segments joined end to end, a camera clock that was reset.
//
// A step of the pictures' timestamps by more than a few frame intervals
// (between 1 s and 10 s), either way, starts a new stretch: its media time
// goes on from the last picture plus one frame, with the same offset for
// every stream. Sound is judged against the pictures, so a sound track that
// merely pauses starts nothing. The read thread passes every packet through
// Normalise, which rewrites its timestamps, so that decoders, the clock and
// the cut all see one timeline.
//
// Scan finds the stretches when the file is opened, so that the total time is
// the sum of the stretches and a seek can go to the stretch the bar points
// at: a file up to 8 MiB is read through (packets, not pictures); a larger
// one is sampled at 48 places, and only where two samples disagree with the
// file's byte rate is it searched, by halving, down to 1 MiB windows read
// through (at most 256 samples and 32 MiB of windows: a jump missed there is
// still caught while playing). After a seek the stretch of the first packet
// read, found by its byte position, gives the offset again.
//
// A raw H.264 or H.265 elementary stream has no timestamps at all: its
// picture packets are given decoding times one duration apart (the rate of
// the parameter sets, else lavf's 25), and Scan adds them up for the length.
#pragma once

#include <cstdint>
#include <vector>

struct AVFormatContext;
struct AVPacket;

namespace playersdk {

class Timeline {
public:
    // A part of the file whose timestamps run on without a jump.
    struct Stretch {
        int64_t pos = 0;        // byte position of the packet that starts it
        int64_t offset_us = 0;  // added to its timestamps (AV_TIME_BASE units)
        int64_t start_us = 0;   // its first timestamp, offset added
        int64_t end_us = 0;     // the end of its last picture, offset added
    };

    Timeline(AVFormatContext* format, int video_stream, int audio_stream, int64_t frame_interval_us);

    // False for containers whose timestamps do not jump: Normalise then
    // leaves every packet as it is.
    bool Enabled() const { return enabled_; }
    // An H.264 or H.265 elementary stream, whose packets carry no timestamps.
    bool Raw() const { return raw_; }
    // Reads the file's timestamps to find its stretches (see above); leaves
    // the read position anywhere. False when none could be read.
    bool Scan();
    const std::vector<Stretch>& Stretches() const { return stretches_; }
    // A step of the pictures' timestamps beyond this starts a new stretch.
    int64_t JumpUs() const { return jump_us_; }
    // The end of the last stretch on the continuous timeline; INT64_MIN
    // (AV_NOPTS_VALUE) before a successful Scan.
    int64_t EndUs() const { return stretches_.empty() ? INT64_MIN : stretches_.back().end_us; }
    // The stretch holding a time of the continuous timeline (the last one
    // starting at or before it); nullptr before a successful Scan.
    const Stretch* StretchAtTime(int64_t time_us) const;

    // Where in the file (bytes) a time of the continuous timeline about is,
    // when the container's own timestamps cannot say: between the stretch's
    // first and last byte, or for a raw stream, by its share of the length.
    // -1 when the timestamps can say (one stretch) or nothing was scanned.
    int64_t PosOf(int64_t time_us) const;

    // Moves a packet's timestamps onto the continuous timeline.
    void Normalise(AVPacket* packet);
    // The input was moved (a seek): the next packet's byte position picks
    // the stretch, and nothing read before counts as the one before.
    void Restart();

private:
    struct Track {
        int64_t last_us = INT64_MIN;  // the latest decoding time, offset added
    };
    // The offset for a packet of `stream` with this raw decoding time.
    int64_t OffsetFor(int stream, int64_t raw_us, int64_t pos);
    void Record(int stream, int64_t dts_us, int64_t pts_us, int64_t duration_us);
    // A raw elementary stream's picture packet gets the decoding time its
    // place gives, one picture's duration after the one before.
    void MakeTimestamp(AVPacket* packet);
    bool Near(int64_t a_us, int64_t b_us, int64_t within_us) const;
    const Stretch* StretchAtPos(int64_t pos) const;
    // Scanning.
    struct Sample {
        int64_t pos = 0;
        int64_t raw_us = 0;
    };
    bool SampleAt(int64_t pos, Sample* sample);
    // Passes every packet from `from` up to `to` (bytes) through the rule;
    // false when nothing could be read.
    bool ReadThrough(int64_t from, int64_t to);
    void SearchBetween(const Sample& a, const Sample& b, double bytes_per_us, int depth);
    void ContinueTo(const Sample& sample);
    void StartStretch(int64_t pos, int64_t offset_us);

    AVFormatContext* format_;
    int video_stream_;
    int audio_stream_;
    bool raw_;  // an H.264 or H.265 elementary stream: no timestamps at all
    bool enabled_;
    int64_t frame_interval_us_;
    int64_t jump_us_;  // a step of the pictures' times beyond this is a jump

    int64_t offset_us_ = 0;
    int64_t previous_offset_us_ = 0;
    bool has_previous_ = false;
    bool restarted_ = true;
    bool scanning_ = false;
    Track video_;
    Track audio_;
    int64_t video_end_us_ = INT64_MIN;  // end of the latest picture, offset added
    int64_t made_next_us_ = INT64_MIN;  // the next made timestamp; unknown after a seek
    std::vector<Stretch> stretches_;
    int samples_taken_ = 0;
    int64_t search_bytes_left_ = 0;
};

}  // namespace playersdk
