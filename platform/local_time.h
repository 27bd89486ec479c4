#pragma once
// Local calendar time and seconds since 1970-01-01 UTC, in the process's
// time zone (daylight saving decided by the zone). Both directions refuse
// instants outside 1970-01-01 00:00:00 UTC .. 3000-12-31 23:59:59 UTC, the
// range of the Windows runtime's 64-bit time functions, on every platform,
// so that the same backup name is accepted or refused alike everywhere.

#include <cstdint>
#include <string>

#include "platform/file_time.h"

namespace platform {

inline constexpr std::int64_t kEarliestLocalTime = 0;
inline constexpr std::int64_t kLatestLocalTime = 32535215999LL;  // 3000-12-31 23:59:59 UTC

// _mktime64 / mktime with the daylight-saving flag -1. Fields beyond their
// range roll over (day 31 of a 30-day month is the 1st of the next). False
// when the conversion fails or the instant is out of range.
bool LocalCalendarToSeconds(const CalendarTime& local, std::int64_t& seconds);

// _localtime64_s / localtime_r. False when out of range or the conversion
// fails. `milliseconds` is 0.
bool SecondsToLocalCalendar(std::int64_t seconds, CalendarTime& local);

// Sets the time zone of this process from a TZ text that both runtimes read
// the same way ("JST-9": nine hours east of UTC, no daylight saving). For
// tests and tools that must not depend on the machine's zone.
void SetProcessTimeZone(const std::string& tz);

}  // namespace platform
