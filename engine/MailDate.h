#pragma once
// Mail dates as a day count: day 0 is 30 December 1899, the fraction is the
// time of day. 0 means "no date".
#include <ctime>
#include <string_view>

using TDateTime = double;

// Local time minus UTC now, in days.
[[nodiscard]] double LocalTimeBias();
// The moment a Date header names, in the machine's local time; 0 when there
// is no usable date; the current local time when the date is invalid.
[[nodiscard]] TDateTime ParseMailDate(std::string_view text);

enum class TMailDateKind { None, Invalid, Valid };
struct TMailDateParts {
    TMailDateKind kind;
    TDateTime utc; // the moment in UTC when kind is Valid
};
// The same reading of a Date text, stopping at the UTC moment.
[[nodiscard]] TMailDateParts ParseMailDateUtc(std::string_view text);

// Helpers shared with the viewer and tools.
[[nodiscard]] TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second);
[[nodiscard]] bool IsValidCalendarDate(long long year, long long month, long long day);
[[nodiscard]] TDateTime NowLocal();
[[nodiscard]] TDateTime UnixSecondsToDateTime(long long seconds);
[[nodiscard]] long long DateTimeToUnixSeconds(TDateTime utcDays);
