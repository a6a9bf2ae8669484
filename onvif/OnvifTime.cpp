#include "OnvifTime.h"

#include <cstdio>

namespace onvif {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's
// days_from_civil), and back.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

struct Civil {
    int64_t year;
    int month, day, hour, minute, second;
};

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

Civil CivilFromSeconds(int64_t s) {
    const int64_t days = FloorDiv(s, 86400);
    const int64_t rest = s - days * 86400;
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    return {yoe + era * 400 + (month <= 2), month, day, static_cast<int>(rest / 3600),
            static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60)};
}

bool IsLeap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int64_t y, int m) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Reads exactly `count` digits from the front of `text`.
bool TakeDigits(std::string_view& text, size_t count, int& value) {
    if (text.size() < count) return false;
    value = 0;
    for (size_t i = 0; i < count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    text.remove_prefix(count);
    return true;
}

bool TakeChar(std::string_view& text, char c) {
    if (text.empty() || text.front() != c) return false;
    text.remove_prefix(1);
    return true;
}

// The fraction after a '.', in milliseconds rounded down; at least one digit.
bool TakeFractionMs(std::string_view& text, int& ms) {
    if (!TakeChar(text, '.')) return true;
    size_t digits = 0;
    ms = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
        if (digits < 3) ms = ms * 10 + (text[digits] - '0');
        ++digits;
    }
    if (digits == 0) return false;
    for (size_t i = digits; i < 3; ++i) ms *= 10;
    text.remove_prefix(digits);
    return true;
}

std::optional<int64_t> CheckedSeconds(int year, int month, int day, int hour, int minute, int second) {
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 || minute > 59 ||
        second > 59)
        return std::nullopt;
    return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

}  // namespace

std::optional<int64_t> ParseXsDateTime(std::string_view text) {
    int year, month, day, hour, minute, second, ms = 0;
    if (!TakeDigits(text, 4, year) || !TakeChar(text, '-') || !TakeDigits(text, 2, month) || !TakeChar(text, '-') ||
        !TakeDigits(text, 2, day) || !TakeChar(text, 'T') || !TakeDigits(text, 2, hour) || !TakeChar(text, ':') ||
        !TakeDigits(text, 2, minute) || !TakeChar(text, ':') || !TakeDigits(text, 2, second) ||
        !TakeFractionMs(text, ms))
        return std::nullopt;
    int offset_s = 0;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        const int sign = text.front() == '-' ? -1 : 1;
        text.remove_prefix(1);
        int oh, om;
        if (!TakeDigits(text, 2, oh) || !TakeChar(text, ':') || !TakeDigits(text, 2, om) || oh > 14 || om > 59)
            return std::nullopt;
        offset_s = sign * (oh * 3600 + om * 60);
    } else {
        TakeChar(text, 'Z');
    }
    if (!text.empty()) return std::nullopt;
    const auto local = CheckedSeconds(year, month, day, hour, minute, second);
    if (!local) return std::nullopt;
    return *local - offset_s;
}

std::string FormatXsDateTime(int64_t utc_s) {
    const Civil c = CivilFromSeconds(utc_s);
    char text[40];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02dZ", static_cast<long long>(c.year), c.month,
                  c.day, c.hour, c.minute, c.second);
    return text;
}

std::string FormatRtspClock(int64_t utc_ms) {
    const int64_t seconds = FloorDiv(utc_ms, 1000);
    const Civil c = CivilFromSeconds(seconds);
    char text[40];
    std::snprintf(text, sizeof text, "%04lld%02d%02dT%02d%02d%02d.%03dZ", static_cast<long long>(c.year), c.month,
                  c.day, c.hour, c.minute, c.second, static_cast<int>(utc_ms - seconds * 1000));
    return text;
}

std::optional<int64_t> ParseRtspClock(std::string_view text) {
    int year, month, day, hour, minute, second, ms = 0;
    if (!TakeDigits(text, 4, year) || !TakeDigits(text, 2, month) || !TakeDigits(text, 2, day) ||
        !TakeChar(text, 'T') || !TakeDigits(text, 2, hour) || !TakeDigits(text, 2, minute) ||
        !TakeDigits(text, 2, second) || !TakeFractionMs(text, ms))
        return std::nullopt;
    TakeChar(text, 'Z');
    if (!text.empty()) return std::nullopt;
    const auto seconds = CheckedSeconds(year, month, day, hour, minute, second);
    if (!seconds) return std::nullopt;
    return *seconds * 1000 + ms;
}

}  // namespace onvif
