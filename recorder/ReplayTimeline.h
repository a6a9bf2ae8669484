// A channel's video recordings laid on one UTC timeline, as the ONVIF side
// shows them: each channel is one recording whose segments follow each other
// with gaps between them, and whose stretches of data present are the runs
// of segments without a gap.
#pragma once

#include "RecordingIndex.h"

#include <cstdint>
#include <string>
#include <vector>

namespace recorder {

// A moment of the recorder's local calendar (the machine's time zone) as
// seconds since the Unix epoch, UTC; the inverse of localCivilTime.
int64_t utcFromLocalCivil(CivilSeconds civil);

// Segments named to the second are one stretch when the next starts at most
// this long after the previous one ends.
inline constexpr int64_t kGapToleranceMs = 1000;

struct TimelineSegment {
    std::string path;  // relative to the recorder's folder
    int64_t startMs = 0;  // UTC
    int64_t endMs = 0;
    uint64_t size = 0;
    bool followsGap = false;  // the first segment, or one after a gap
};

struct Stretch {
    int64_t startMs = 0;
    int64_t endMs = 0;
    uint64_t size = 0;  // bytes of the segments in it
};

class ReplayTimeline {
public:
    ReplayTimeline() = default;
    // The channel's video recordings in the index as it is now.
    static ReplayTimeline ofChannel(const RecordingIndex& index, int channel);

    const std::vector<TimelineSegment>& segments() const { return segments_; }
    bool empty() const { return segments_.empty(); }
    int64_t startMs() const { return segments_.empty() ? 0 : segments_.front().startMs; }
    int64_t endMs() const { return endMs_; }
    std::vector<Stretch> stretches() const;

    // The segment to replay from for a moment: the one holding it, else the
    // first after it; segments().size() when none is left.
    size_t segmentAt(int64_t ms) const;

private:
    std::vector<TimelineSegment> segments_;
    int64_t endMs_ = 0;
};

}  // namespace recorder
