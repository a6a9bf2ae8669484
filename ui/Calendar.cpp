#include "ui/Calendar.h"

namespace ui {
namespace {

#ifdef _WIN32
// The Windows runtime takes no moment before 1970-01-01 00:00 UTC, which east
// of UTC is still 1970 locally. The Gregorian calendar, weekdays included,
// repeats every 400 years, and so do the runtime's daylight-saving rules:
// such a moment is read 400 years later.
constexpr int kCycleYears = 400;
constexpr __time64_t kCycleSeconds = __time64_t{146097} * 86400;
#endif

}  // namespace

std::tm LocalCalendar(std::time_t moment) {
    std::tm fields{};
#ifdef _WIN32
    // In 64 bits: a 32-bit time_t holds no moment 400 years on.
    __time64_t when = moment;
    const bool early = when < 0;
    if (early) when += kCycleSeconds;
    _localtime64_s(&fields, &when);
    if (early) fields.tm_year -= kCycleYears;
#else
    localtime_r(&moment, &fields);
#endif
    return fields;
}

std::time_t LocalMoment(std::tm fields) {
#ifdef _WIN32
    std::tm copy = fields;
    __time64_t moment = _mktime64(&copy);
    if (moment == -1) {
        fields.tm_year += kCycleYears;
        const __time64_t later = _mktime64(&fields);
        if (later != -1) moment = later - kCycleSeconds;
    }
    // A 32-bit time_t holds no moment after 2038-01-19 03:14:07 UTC.
    const bool fits = moment == static_cast<std::time_t>(moment);
    return fits ? static_cast<std::time_t>(moment) : -1;
#else
    return std::mktime(&fields);
#endif
}

}  // namespace ui
