// Times as ONVIF writes them: xs:dateTime in SOAP bodies and the RTSP clock
// form in Range headers. Both are UTC; times are counted from 1970 like time_t.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace onvif {

// "YYYY-MM-DDThh:mm:ss", optionally with a fraction (dropped: whole seconds,
// rounded down) and "Z" or a "+hh:mm"/"-hh:mm" offset; without a zone the time
// is taken as UTC. Nothing for text that is not such a time.
std::optional<int64_t> ParseXsDateTime(std::string_view text);

// "YYYY-MM-DDThh:mm:ssZ".
std::string FormatXsDateTime(int64_t utc_s);

// "YYYYMMDDThhmmss.mmmZ", as in "Range: clock=".
std::string FormatRtspClock(int64_t utc_ms);

// "YYYYMMDDThhmmss" with an optional fraction of any length and an optional
// "Z", in milliseconds (rounded down). Nothing for anything else.
std::optional<int64_t> ParseRtspClock(std::string_view text);

}  // namespace onvif
