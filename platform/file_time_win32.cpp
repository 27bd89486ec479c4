// DOS and calendar times through the real Win32 conversions.

#include <windows.h>

#include "platform/file_time.h"

namespace platform {

bool DosDateTimeToFileTime(std::uint16_t dosDate, std::uint16_t dosTime, FileTime& fileTime) {
    FILETIME ft{};
    if (!::DosDateTimeToFileTime(dosDate, dosTime, &ft)) return false;
    fileTime = (static_cast<FileTime>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return true;
}

namespace {

// The active time zone, read again once it is a second old: asking the
// system for it on every entry costs more than reading the entry (under
// Wine, 100,000 entries listed in 2.5 s instead of 1 s), and a zone the
// user changes is in force a second later all the same.
bool ActiveZone(TIME_ZONE_INFORMATION& zone) {
    thread_local TIME_ZONE_INFORMATION cached{};
    thread_local ULONGLONG readAt = 0;
    thread_local bool known = false;
    const ULONGLONG now = ::GetTickCount64();
    if (!known || now - readAt >= 1000) {
        known = ::GetTimeZoneInformation(&cached) != TIME_ZONE_ID_INVALID;
        readAt = now;
    }
    zone = cached;
    return known;
}

}  // namespace

bool LocalDosDateTimeToFileTime(std::uint16_t dosDate, std::uint16_t dosTime, FileTime& fileTime) {
    // DosDateTimeToFileTime only lays the fields out; the zone's offset for
    // that very date (standard or daylight time) comes from
    // TzSpecificLocalTimeToSystemTime. LocalFileTimeToFileTime would apply
    // today's offset to every date.
    FILETIME asTheyStand{};
    SYSTEMTIME local{}, utc{};
    FILETIME ft{};
    TIME_ZONE_INFORMATION zone{};
    if (!ActiveZone(zone) || !::DosDateTimeToFileTime(dosDate, dosTime, &asTheyStand) ||
        !::FileTimeToSystemTime(&asTheyStand, &local) || !::TzSpecificLocalTimeToSystemTime(&zone, &local, &utc) ||
        !::SystemTimeToFileTime(&utc, &ft))
        return false;
    fileTime = (static_cast<FileTime>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return true;
}

bool CalendarToFileTime(const CalendarTime& c, FileTime& fileTime) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(c.year);
    st.wMonth = static_cast<WORD>(c.month);
    st.wDay = static_cast<WORD>(c.day);
    st.wHour = static_cast<WORD>(c.hour);
    st.wMinute = static_cast<WORD>(c.minute);
    st.wSecond = static_cast<WORD>(c.second);
    st.wMilliseconds = static_cast<WORD>(c.milliseconds);
    if (c.year < 0 || c.year > 0xFFFF || c.month < 0 || c.day < 0 || c.hour < 0 || c.minute < 0 || c.second < 0 ||
        c.milliseconds < 0) {
        return false;
    }
    FILETIME ft{};
    if (!::SystemTimeToFileTime(&st, &ft)) return false;
    fileTime = (static_cast<FileTime>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return true;
}

}  // namespace platform
