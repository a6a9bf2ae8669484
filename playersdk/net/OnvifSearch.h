// A search of an ONVIF device's recordings: the recordings of the channel's
// video source, one row per stretch of recorded data in the range.
//
// The channel (0-based) is the device's N-th video source, counted in the
// order its recordings with a video track are listed. A stretch comes from
// the recording's data-present events (IsDataPresent true .. false) within
// the range, else from its earliest and latest times. A row's size is an
// estimate: the recording's bit rate as the device gives it at the first
// stretch found (GetMediaAttributes) times the stretch's length; 0 when it
// gives none. Rows are handed on a page of events at a time. Stopped early, the device's searches are ended
// (EndSearch).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "net/OnvifDevice.h"
#include "net/SearchTask.h"

namespace playersdk::net {

struct OnvifSearchRequest {
    int channel = 0;  // 0-based
    int type = 1;     // 1 video recordings; 2 (pictures) finds nothing
    bool limit = false;
    int64_t from_ms = 0;  // UTC, when limit
    int64_t to_ms = 0;
};

std::unique_ptr<SearchSource> MakeOnvifSearch(std::shared_ptr<OnvifDevice> device, OnvifSearchRequest request);

// A row's name, from which the stretch is replayed: "TOKEN@START-END" with
// the times as RTSP clock texts. Nothing when it would pass 99 bytes.
struct ReplayStretch {
    std::string recording;
    int64_t start_ms = 0;
    int64_t end_ms = 0;
};
std::optional<std::string> ReplayName(const ReplayStretch& stretch);
std::optional<ReplayStretch> ParseReplayName(const std::string& name);

// The window's local calendar <-> UTC.
std::optional<int64_t> LocalNetTimeToUtcMs(const NetTime& time);
NetTime UtcMsToLocalNetTime(int64_t utc_ms);

}  // namespace playersdk::net
