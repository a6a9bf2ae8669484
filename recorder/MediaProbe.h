// What a recording file says about itself, read once with libavformat: is
// it a video or a JPEG picture, how long does it run, when was it made.
#pragma once

#include "RecordingIndex.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

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

// A moment of the system clock (seconds since the Unix epoch, UTC) in the
// recorder's local calendar (the machine's time zone).
CivilSeconds localCivilTime(int64_t unixSeconds);

}  // namespace recorder
