// Local time through the runtime library's 64-bit time functions.

#include <windows.h>

#include <cstdlib>
#include <ctime>

#include "platform/local_time.h"

namespace platform {

bool LocalCalendarToSeconds(const CalendarTime& local, std::int64_t& seconds) {
    std::tm fields{};
    fields.tm_year = local.year - 1900;
    fields.tm_mon = local.month - 1;
    fields.tm_mday = local.day;
    fields.tm_hour = local.hour;
    fields.tm_min = local.minute;
    fields.tm_sec = local.second;
    fields.tm_isdst = -1;
    const __time64_t t = ::_mktime64(&fields);
    if (t == static_cast<__time64_t>(-1)) return false;
    // The runtime keeps to this range itself; checked again so that every
    // runtime version (and Wine's) gives the same answer as the POSIX build.
    if (t < kEarliestLocalTime || t > kLatestLocalTime) return false;
    seconds = static_cast<std::int64_t>(t);
    return true;
}

bool SecondsToLocalCalendar(std::int64_t seconds, CalendarTime& local) {
    if (seconds < kEarliestLocalTime || seconds > kLatestLocalTime) return false;
    const __time64_t t = static_cast<__time64_t>(seconds);
    std::tm fields{};
    if (::_localtime64_s(&fields, &t) != 0) return false;
    local = CalendarTime{fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday, fields.tm_hour,
                         fields.tm_min,        fields.tm_sec,      0};
    return true;
}

void SetProcessTimeZone(const std::string& tz) {
    ::_putenv_s("TZ", tz.c_str());
    ::_tzset();
}

}  // namespace platform
