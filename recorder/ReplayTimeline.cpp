#include "ReplayTimeline.h"

#include <algorithm>
#include <ctime>

namespace recorder {

namespace {

int64_t mktimeOfCivil(CivilSeconds civil) {
    const CivilDateTime c = fromCivilSeconds(civil);
    struct tm local {};
    local.tm_year = c.year - 1900;
    local.tm_mon = c.month - 1;
    local.tm_mday = c.day;
    local.tm_hour = c.hour;
    local.tm_min = c.minute;
    local.tm_sec = c.second;
    local.tm_isdst = -1;
    const time_t t = ::mktime(&local);
    return t == static_cast<time_t>(-1) ? civil : static_cast<int64_t>(t);
}

}  // namespace

int64_t utcFromLocalCivil(CivilSeconds civil) {
    // mktime looks at the zone's file on each call, and a timeline converts
    // two times a segment: the hour's start and the next hour's are asked
    // once, and an hour they are 3600 s apart in holds no change of offset,
    // so a time within it is its start plus the seconds since.
    struct Hour {
        CivilSeconds start = -1;
        int64_t utc = 0;
        bool even = false;
    };
    thread_local Hour hour;
    if (civil < 0) return mktimeOfCivil(civil);
    const CivilSeconds start = civil - civil % 3600;
    if (start != hour.start) {
        hour.start = start;
        hour.utc = mktimeOfCivil(start);
        hour.even = mktimeOfCivil(start + 3600) - hour.utc == 3600;
    }
    return hour.even ? hour.utc + (civil - start) : mktimeOfCivil(civil);
}

ReplayTimeline ReplayTimeline::ofChannel(const RecordingIndex& index, int channel) {
    SearchQuery query;
    query.channel = channel;
    query.type = RecordingType::Mpeg4;
    ReplayTimeline timeline;
    for (const Recording* r : index.search(query)) {
        TimelineSegment s;
        s.path = r->path;
        s.startMs = utcFromLocalCivil(r->key.start) * 1000;
        s.endMs = std::max(s.startMs, utcFromLocalCivil(r->key.end) * 1000);
        s.size = r->size;
        // A long segment may cover shorter ones after it: the furthest end so far counts.
        s.followsGap = timeline.segments_.empty() || s.startMs > timeline.endMs_ + kGapToleranceMs;
        timeline.endMs_ = std::max(timeline.endMs_, s.endMs);
        timeline.segments_.push_back(std::move(s));
    }
    return timeline;
}

std::vector<Stretch> ReplayTimeline::stretches() const {
    std::vector<Stretch> out;
    for (size_t i = 0; i < segments_.size(); ++i) {
        const TimelineSegment& s = segments_[i];
        if (s.followsGap) out.push_back({s.startMs, s.endMs, 0});
        out.back().endMs = std::max(out.back().endMs, s.endMs);
        out.back().size += s.size;
    }
    return out;
}

size_t ReplayTimeline::segmentAt(int64_t ms) const {
    for (size_t i = 0; i < segments_.size(); ++i)
        if (segments_[i].endMs > ms) return i;
    return segments_.size();
}

}  // namespace recorder
