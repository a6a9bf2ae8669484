// Reads a channel's timeline as one run of video access units in recording
// order, segment after segment, each with its absolute time and the marks
// ONVIF replay sends with it: clean point, first after a gap, last before
// one. Pictures go out as they are stored (H.264 or H.265), rewritten to
// start codes with the parameter sets before each clean point, so that a
// receiver can start at any of them.
#pragma once

#include "ReplayTimeline.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace recorder {

enum class VideoCodec { H264, H265 };

struct VideoFormat {
    VideoCodec codec = VideoCodec::H264;
    // Parameter sets without start codes: H.264 SPS and PPS, H.265 VPS, SPS and PPS.
    std::vector<std::string> parameterSets;
    int width = 0;
    int height = 0;
};

struct AccessUnit {
    std::string annexB;  // NAL units, each after a start code
    int64_t timeUs = 0;  // UTC
    bool clean = false;
    bool followsGap = false;   // the first unit of a stretch reached by playing on
    bool endsStretch = false;  // the last unit before a gap or the end of the footage
    bool last = false;         // no unit follows
};

class ReplayReader {
public:
    ReplayReader(std::filesystem::path root, ReplayTimeline timeline);
    ~ReplayReader();
    ReplayReader(const ReplayReader&) = delete;
    ReplayReader& operator=(const ReplayReader&) = delete;

    const ReplayTimeline& timeline() const { return timeline_; }
    // The format of the first segment with H.264 or H.265 video.
    std::optional<VideoFormat> format();
    // Goes to the clean point at or before `ms`, or to the first one of the
    // next stretch when `ms` falls in a gap; false when nothing is left.
    bool seek(int64_t ms);
    // Clean points only from here on; the E and D marks then follow the
    // units read.
    void keepCleanOnly(bool only) { cleanOnly_ = only; }
    // The next unit, or nothing at the end of the footage.
    std::optional<AccessUnit> next();
    // The time of the unit next() returns next, if any.
    std::optional<int64_t> nextTimeUs() const;

private:
    struct Segment;
    std::unique_ptr<Segment> openSegment(size_t index) const;
    std::optional<AccessUnit> read();

    std::filesystem::path root_;
    ReplayTimeline timeline_;
    std::unique_ptr<Segment> current_;
    size_t nextIndex_ = 0;  // the segment opened after the current one ends
    bool gapPending_ = false;
    bool cleanOnly_ = false;
    std::optional<AccessUnit> ahead_;
};

}  // namespace recorder
