// The local calendar for the windows' time values, on every platform the
// same: moments before 1970 included, which the Windows C runtime refuses.
#pragma once

#include <ctime>

namespace ui {

// The local calendar fields of a moment (seconds since 1970-01-01 00:00:00 UTC).
std::tm LocalCalendar(std::time_t moment);

// The moment of local calendar fields (in range; tm_isdst -1 lets the local
// rules decide daylight saving); -1 when the calendar cannot place it.
std::time_t LocalMoment(std::tm fields);

}  // namespace ui
