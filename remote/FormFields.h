// Parsing and checking of the remote window's typed fields, kept apart from
// the window so that the rules can be read (and tested) on their own.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace remote {

// The messages the form shows when it refuses a value, worded as the
// platform's own validation messages.
inline constexpr const char* kNotAnIntegerMessage = "请输入一个整数。";
inline constexpr const char* kBufferRangeMessage = "请输入一个介于 1 和 20 之间的整数。";
inline constexpr const char* kAddressTooLongMessage = "请在此字段中输入不超过 40 个字符。";

inline constexpr int kAddressMaxCharacters = 40;
inline constexpr int32_t kBufferSecondsMin = 1;
inline constexpr int32_t kBufferSecondsMax = 20;

// A decimal integer that fits a signed 32-bit value, with an optional minus
// sign and blanks around it; anything else (an empty text, other characters,
// a value out of range) gives nothing.
std::optional<int32_t> ParseDecimalInt(const std::string& text);

// The number of characters in a UTF-8 text (each lead byte counts once).
int CharacterCount(const std::string& text);

// The form's time values are signed 32-bit counts of seconds since
// 1970-01-01 00:00:00 UTC. A picker value that does not fit is held at the
// nearest end of the range rather than wrapped into an unrelated date.
int32_t ToTimeValue(std::time_t seconds);

// The local calendar fields of a time value.
std::tm LocalCalendar(int32_t time_value);

// Today (in the local calendar of the given moment) at the given time of
// day, with daylight saving decided by the local rules.
int32_t LocalDayAt(std::time_t now, int hour, int minute, int second);

}  // namespace remote
