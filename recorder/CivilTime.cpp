#include "CivilTime.h"

#include <cstdio>

namespace recorder {
namespace {

// Days from 1970-01-01 to y-m-d in the proleptic Gregorian calendar.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (month <= 2));
}

bool isLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

}  // namespace

std::optional<CivilSeconds> toCivilSeconds(const CivilDateTime& t) {
    if (t.year < 1 || t.year > 9999 || t.month < 1 || t.month > 12 || t.day < 1 ||
        t.day > daysInMonth(t.year, t.month) || t.hour < 0 || t.hour > 23 || t.minute < 0 ||
        t.minute > 59 || t.second < 0 || t.second > 59)
        return std::nullopt;
    return daysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day)) *
               86400 +
           t.hour * 3600 + t.minute * 60 + t.second;
}

CivilDateTime fromCivilSeconds(CivilSeconds s) {
    int64_t days = s / 86400;
    int64_t rest = s % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    CivilDateTime t;
    civilFromDays(days, t.year, t.month, t.day);
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>(rest / 60 % 60);
    t.second = static_cast<int>(rest % 60);
    return t;
}

std::optional<CivilSeconds> parseCompact(std::string_view text) {
    if (text.size() != 14) return std::nullopt;
    for (char c : text)
        if (c < '0' || c > '9') return std::nullopt;
    auto field = [&](size_t at, size_t len) {
        int v = 0;
        for (size_t i = at; i < at + len; ++i) v = v * 10 + (text[i] - '0');
        return v;
    };
    return toCivilSeconds({field(0, 4), field(4, 2), field(6, 2), field(8, 2), field(10, 2),
                           field(12, 2)});
}

std::string formatCompact(CivilSeconds s) {
    const CivilDateTime t = fromCivilSeconds(s);
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return text;
}

}  // namespace recorder
