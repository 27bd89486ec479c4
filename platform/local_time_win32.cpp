// Local time through the runtime library's 64-bit time functions.

#include <windows.h>

#include <cstdlib>
#include <ctime>

#include "platform/local_time.h"

namespace platform {

namespace {

// The Gregorian calendar repeats itself, weekdays included, every 400
// years. Some runtimes (Wine's among them) refuse local dates in the year
// 3001 although their UTC instant lies inside the range, in zones east of
// UTC; such dates are converted 400 years earlier and shifted back.
constexpr int kCycleYears = 400;
constexpr std::int64_t kCycleSeconds = 146097LL * 86400;
constexpr std::int64_t kYear3000Utc = 32503680000LL;  // 3000-01-01 00:00:00 UTC

bool Convert(const CalendarTime& local, int yearShift, __time64_t& result) {
    std::tm fields{};
    fields.tm_year = local.year - yearShift - 1900;
    fields.tm_mon = local.month - 1;
    fields.tm_mday = local.day;
    fields.tm_hour = local.hour;
    fields.tm_min = local.minute;
    fields.tm_sec = local.second;
    fields.tm_isdst = -1;
    result = ::_mktime64(&fields);
    return result != static_cast<__time64_t>(-1);
}

}  // namespace

bool LocalCalendarToSeconds(const CalendarTime& local, std::int64_t& seconds) {
    __time64_t t = 0;
    if (!Convert(local, 0, t)) {
        if (local.year < 3000 || !Convert(local, kCycleYears, t)) return false;
        t += kCycleSeconds;
    }
    // The runtime keeps to this range itself; checked again so that every
    // runtime version gives the same answer as the POSIX build.
    if (t < kEarliestLocalTime || t > kLatestLocalTime) return false;
    seconds = static_cast<std::int64_t>(t);
    return true;
}

bool SecondsToLocalCalendar(std::int64_t seconds, CalendarTime& local) {
    if (seconds < kEarliestLocalTime || seconds > kLatestLocalTime) return false;
    const bool shifted = seconds >= kYear3000Utc;
    const __time64_t t = static_cast<__time64_t>(shifted ? seconds - kCycleSeconds : seconds);
    std::tm fields{};
    if (::_localtime64_s(&fields, &t) != 0) return false;
    local = CalendarTime{fields.tm_year + 1900 + (shifted ? kCycleYears : 0), fields.tm_mon + 1, fields.tm_mday,
                         fields.tm_hour, fields.tm_min, fields.tm_sec, 0};
    return true;
}

void SetProcessTimeZone(const std::string& tz) {
    ::_putenv_s("TZ", tz.c_str());
    ::_tzset();
}

}  // namespace platform
