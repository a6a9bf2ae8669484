// What a recording file says about itself, read once with libavformat: is
// it a video or a JPEG picture, how long does it run, when was it made.
#pragma once

#include "RecordingIndex.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace recorder {

struct ProbeResult {
    bool ok = false;
    RecordingType type = RecordingType::Mpeg4;
    int64_t durationMs = 0;  // 0 for a picture
    std::optional<CivilSeconds> created;  // the container's creation time, local calendar
    std::string error;  // why it is not a recording, when !ok
};

// Opens `file` and reads its container header, and for containers that
// keep no length (MPEG-TS) the timestamps at its two ends; decodes nothing.
ProbeResult probeMedia(const std::filesystem::path& file);

// probeMedia of the files in their order, on up to `threads` threads at
// once: the calling thread first runs `meanwhile` (if any) while the others
// probe, then joins them. Files are begun until `slice` after `meanwhile`
// returned; the answers are those of the first files, at least one when
// there are any.
std::vector<ProbeResult> probeMediaFor(const std::vector<std::filesystem::path>& files, unsigned threads,
                                       std::chrono::steady_clock::duration slice,
                                       const std::function<void()>& meanwhile = {});

// A moment of the system clock (seconds since the Unix epoch, UTC) in the
// recorder's local calendar (the machine's time zone).
CivilSeconds localCivilTime(int64_t unixSeconds);

}  // namespace recorder
