#pragma once
// Calendar and DOS time conversions to Windows file times, with the results
// of DosDateTimeToFileTime and SystemTimeToFileTime on every platform.

#include <cstdint>

#include "platform/file.h"

namespace platform {

struct CalendarTime {
    int year = 0;
    int month = 0;   // 1..12
    int day = 0;     // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int milliseconds = 0;
};

// MS-DOS date and time words, taken as they stand (no time-zone shift).
// False, with `fileTime` untouched, for values Windows refuses (month 0 or
// above 12, day 0, hour above 23, minute above 59, seconds above 59).
bool DosDateTimeToFileTime(std::uint16_t dosDate, std::uint16_t dosTime, FileTime& fileTime);

// MS-DOS date and time words read as what they are, the local wall clock of
// the machine that wrote them, and given as a UTC file time: the offset of
// this process's time zone on that date, daylight saving included (POSIX:
// the C library's local time, in the zone tzset last read from TZ;
// Windows: the active time zone, read at most a second before, through
// TzSpecificLocalTimeToSystemTime).
// False, with `fileTime` untouched, for the words DosDateTimeToFileTime
// refuses, or when the zone can't place the moment.
bool LocalDosDateTimeToFileTime(std::uint16_t dosDate, std::uint16_t dosTime, FileTime& fileTime);

// Calendar fields read as UTC (SystemTimeToFileTime). False, with `fileTime`
// untouched, for fields out of range (years 1601..30827, real day of month).
bool CalendarToFileTime(const CalendarTime& calendar, FileTime& fileTime);

// UTC calendar fields of a count of seconds since 1970-01-01 (negative
// counts too). Portable arithmetic, no OS call.
CalendarTime UtcCalendarFromUnixSeconds(std::int64_t seconds);

}  // namespace platform
