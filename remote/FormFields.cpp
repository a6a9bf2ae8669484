#include "remote/FormFields.h"

#include <charconv>
#include <limits>

#include "ui/Calendar.h"

namespace remote {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::optional<int32_t> ParseDecimalInt(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    if (begin == end) return std::nullopt;
    int32_t value = 0;
    const char* first = text.data() + begin;
    const char* last = text.data() + end;
    auto [stop, error] = std::from_chars(first, last, value, 10);
    if (error != std::errc() || stop != last) return std::nullopt;
    return value;
}

int CharacterCount(const std::string& text) {
    int count = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80) ++count;
    return count;
}

int32_t ToTimeValue(std::time_t seconds) {
    constexpr auto lowest = std::numeric_limits<int32_t>::min();
    constexpr auto highest = std::numeric_limits<int32_t>::max();
    if (seconds < lowest) return lowest;
    if (seconds > highest) return highest;
    return static_cast<int32_t>(seconds);
}

std::tm LocalCalendar(int32_t time_value) { return ui::LocalCalendar(time_value); }

int32_t LocalDayAt(std::time_t now, int hour, int minute, int second) {
    std::tm today = ui::LocalCalendar(now);
    today.tm_hour = hour;
    today.tm_min = minute;
    today.tm_sec = second;
    today.tm_isdst = -1;  // the local rules decide whether daylight saving applies
    return ToTimeValue(ui::LocalMoment(today));
}

}  // namespace remote
