// Date-times in the recorder's local calendar, as plain seconds counted from
// 1970-01-01 00:00:00 of that calendar. No time zone is involved: the
// recorder's files, its search ranges and the library's records all speak
// the same wall-clock calendar.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace recorder {

using CivilSeconds = int64_t;

struct CivilDateTime {
    int year = 1970;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Seconds for a valid date-time; nullopt when a field is out of range.
std::optional<CivilSeconds> toCivilSeconds(const CivilDateTime& t);
CivilDateTime fromCivilSeconds(CivilSeconds s);

// "YYYYMMDDHHMMSS", the form used on the wire.
std::optional<CivilSeconds> parseCompact(std::string_view text);
std::string formatCompact(CivilSeconds s);

}  // namespace recorder
