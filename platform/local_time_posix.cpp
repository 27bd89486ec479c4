// Local time through the C library (64-bit time_t).

#include <cstdlib>
#include <ctime>

#include "platform/local_time.h"

namespace platform {

static_assert(sizeof(std::time_t) >= 8, "local times up to the year 3000 need a 64-bit time_t");

bool LocalCalendarToSeconds(const CalendarTime& local, std::int64_t& seconds) {
    std::tm fields{};
    fields.tm_year = local.year - 1900;
    fields.tm_mon = local.month - 1;
    fields.tm_mday = local.day;
    fields.tm_hour = local.hour;
    fields.tm_min = local.minute;
    fields.tm_sec = local.second;
    fields.tm_isdst = -1;
    const std::time_t t = std::mktime(&fields);
    // -1 is also 1969-12-31 23:59:59 UTC, which is out of range anyway.
    if (t == static_cast<std::time_t>(-1)) return false;
    if (t < kEarliestLocalTime || t > kLatestLocalTime) return false;
    seconds = static_cast<std::int64_t>(t);
    return true;
}

bool SecondsToLocalCalendar(std::int64_t seconds, CalendarTime& local) {
    if (seconds < kEarliestLocalTime || seconds > kLatestLocalTime) return false;
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm fields{};
    if (!::localtime_r(&t, &fields)) return false;
    local = CalendarTime{fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday, fields.tm_hour,
                         fields.tm_min,        fields.tm_sec,      0};
    return true;
}

void SetProcessTimeZone(const std::string& tz) {
    ::setenv("TZ", tz.c_str(), 1);
    ::tzset();
}

}  // namespace platform
