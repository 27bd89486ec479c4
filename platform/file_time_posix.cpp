// POSIX stand-ins for DosDateTimeToFileTime and SystemTimeToFileTime, with
// the ranges the Windows calls accept.

#include <ctime>

#include "platform/file_time.h"

namespace platform {
namespace {

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Days since 1970-01-01 of a civil date.
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

}  // namespace

bool CalendarToFileTime(const CalendarTime& c, FileTime& fileTime) {
    if (c.year < 1601 || c.year > 30827 || c.month < 1 || c.month > 12 || c.day < 1 ||
        c.day > DaysInMonth(c.year, c.month) || c.hour < 0 || c.hour > 23 || c.minute < 0 || c.minute > 59 ||
        c.second < 0 || c.second > 59 || c.milliseconds < 0 || c.milliseconds > 999) {
        return false;
    }
    const std::int64_t days = DaysFromCivil(c.year, c.month, c.day);
    const std::int64_t seconds = days * 86400 + c.hour * 3600 + c.minute * 60 + c.second + kFileTimeUnixEpochSeconds;
    fileTime = static_cast<FileTime>(seconds) * 10000000u + static_cast<FileTime>(c.milliseconds) * 10000u;
    return true;
}

bool DosDateTimeToFileTime(std::uint16_t dosDate, std::uint16_t dosTime, FileTime& fileTime) {
    CalendarTime c;
    c.year = 1980 + (dosDate >> 9);
    c.month = (dosDate >> 5) & 0x0F;
    c.day = dosDate & 0x1F;
    c.hour = dosTime >> 11;
    c.minute = (dosTime >> 5) & 0x3F;
    c.second = (dosTime & 0x1F) * 2;
    // Windows refuses a day beyond the month's end only through the calendar
    // check below, and seconds up to 58 are the only ones a DOS time holds.
    return CalendarToFileTime(c, fileTime);
}

bool LocalDosDateTimeToFileTime(std::uint16_t dosDate, std::uint16_t dosTime, FileTime& fileTime) {
    // The words are checked as Windows checks them; the fields read as UTC
    // give the instant the wall clock would show with no offset.
    FileTime asTheyStand = 0;
    if (!DosDateTimeToFileTime(dosDate, dosTime, asTheyStand)) return false;
    const std::int64_t wall = static_cast<std::int64_t>(asTheyStand / 10000000u) - kFileTimeUnixEpochSeconds;
    // The instant is the wall clock less the offset in force then, which
    // depends on the instant: found from localtime_r's offsets, taken again
    // once so that a date across a change of offset (daylight saving) gets
    // that date's own. mktime would do the same but looks at the zone's
    // file again on every call: a second per 100,000 entries. A wall clock
    // time that a change skips lands within the hour it skips.
    auto offsetAt = [](std::int64_t t, long& offset) {
        const std::time_t tt = static_cast<std::time_t>(t);
        std::tm fields{};
        if (!::localtime_r(&tt, &fields)) return false;
        offset = fields.tm_gmtoff;
        return true;
    };
    long offset = 0;
    if (!offsetAt(wall, offset)) return false;
    std::int64_t instant = wall - offset;
    for (int pass = 0; pass < 2; ++pass) {
        if (!offsetAt(instant, offset)) return false;
        instant = wall - offset;
    }
    fileTime = static_cast<FileTime>(instant + kFileTimeUnixEpochSeconds) * 10000000u;
    return true;
}

}  // namespace platform
