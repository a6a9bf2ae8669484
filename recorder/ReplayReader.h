// Reads a channel's timeline as one run of access units in recording order,
// segment after segment, each with its absolute time and the marks ONVIF
// replay sends with it: clean point, first after a gap, last before one.
// Pictures go out as they are stored (H.264 or H.265), rewritten to start
// codes with the parameter sets before each clean point, so that a receiver
// can start at any of them; sound (AAC, G.711) goes out as stored when the
// first segment has it.
#pragma once

#include "ReplayTimeline.h"

#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace recorder {

enum class VideoCodec { H264, H265 };
enum class AudioCodec { Aac, Pcma, Pcmu };
enum class Track { Video = 0, Audio = 1 };

struct VideoFormat {
    VideoCodec codec = VideoCodec::H264;
    // Parameter sets without start codes: H.264 SPS and PPS, H.265 VPS, SPS and PPS.
    std::vector<std::string> parameterSets;
    int width = 0;
    int height = 0;
    double frameRate = 0;  // 0 when the container gives none
};

struct AudioFormat {
    AudioCodec codec = AudioCodec::Aac;
    int sampleRate = 0;
    int channels = 0;
    std::string config;  // AAC's AudioSpecificConfig
};

struct ReplayFormat {
    VideoFormat video;
    std::optional<AudioFormat> audio;
};

struct AccessUnit {
    Track track = Track::Video;
    std::string data;  // video: NAL units, each after a start code; sound: one frame
    int64_t timeUs = 0;  // UTC
    bool clean = false;
    bool followsGap = false;   // the track's first unit of a stretch reached by playing on
    bool endsStretch = false;  // the track's last unit before a gap or the end of the footage
    bool last = false;         // no unit of the track follows
};

class ReplayReader {
public:
    ReplayReader(std::filesystem::path root, ReplayTimeline timeline);
    ~ReplayReader();
    ReplayReader(const ReplayReader&) = delete;
    ReplayReader& operator=(const ReplayReader&) = delete;

    const ReplayTimeline& timeline() const { return timeline_; }
    // The tracks of the first segment with H.264 or H.265 video; sound of
    // another kind than that segment's is left out.
    std::optional<ReplayFormat> format();
    // Goes to the clean point at or before `ms`, or to the first one of the
    // next stretch when `ms` falls in a gap; false when nothing is left.
    bool seek(int64_t ms);
    // Pictures at clean points only from here on, no sound; the E and D
    // marks then follow the units read.
    void keepCleanOnly(bool only) { cleanOnly_ = only; }
    // The next unit, or nothing at the end of the footage.
    std::optional<AccessUnit> next();
    // The time of the unit next() returns next, if any.
    std::optional<int64_t> nextTimeUs();

private:
    struct Segment;
    std::unique_ptr<Segment> openSegment(size_t index) const;
    std::optional<AccessUnit> read();

    std::filesystem::path root_;
    ReplayTimeline timeline_;
    bool formatKnown_ = false;
    std::optional<AudioFormat> audio_;  // the sound kept, from format()
    std::unique_ptr<Segment> current_;
    size_t nextIndex_ = 0;  // the segment opened after the current one ends
    bool gapPending_[2] = {false, false};
    bool cleanOnly_ = false;
    // Units read ahead until each one's E mark is known: a later unit of its
    // track, a gap or the end.
    std::deque<AccessUnit> ahead_;
    bool exhausted_ = false;
};

}  // namespace recorder
