// DOS and calendar time conversions: the POSIX stand-ins must agree with
// DosDateTimeToFileTime and SystemTimeToFileTime, which this same table
// checks under Wine.

#include <gtest/gtest.h>

#include "platform/file_time.h"
#include "tests/support/time_zone.h"

namespace {

constexpr std::uint64_t kSecond = 10000000ULL;

std::uint64_t FromUnix(std::int64_t seconds) {
    return static_cast<std::uint64_t>(seconds + platform::kFileTimeUnixEpochSeconds) * kSecond;
}

std::uint16_t DosDate(int y, int m, int d) { return static_cast<std::uint16_t>(((y - 1980) << 9) | (m << 5) | d); }
std::uint16_t DosTime(int h, int mi, int s) { return static_cast<std::uint16_t>((h << 11) | (mi << 5) | (s / 2)); }

TEST(DosTime, ConvertsValidFieldsAsTheyStand) {
    struct Case {
        const char* fault;
        std::uint16_t date, time;
        std::int64_t unix;
    };
    const Case cases[] = {
        {"fields shifted", DosDate(2013, 5, 1), DosTime(12, 34, 56), 1367411696},
        {"DOS epoch wrong", DosDate(1980, 1, 1), DosTime(0, 0, 0), 315532800},
        {"leap day refused", DosDate(2024, 2, 29), DosTime(23, 59, 58), 1709251198},
        {"last DOS year wrong", DosDate(2107, 12, 31), DosTime(23, 59, 58), 4354819198},
    };
    for (const auto& c : cases) {
        std::uint64_t ft = 0;
        ASSERT_TRUE(platform::DosDateTimeToFileTime(c.date, c.time, ft)) << c.fault;
        EXPECT_EQ(ft, FromUnix(c.unix)) << c.fault;
    }
}

TEST(DosTime, RefusesFieldsWindowsRefuses) {
    struct Case {
        const char* fault;
        std::uint16_t date, time;
    };
    const Case cases[] = {
        {"all-zero date accepted", 0, 0},
        {"month 0 accepted", DosDate(2000, 0, 1), 0},
        {"month 13 accepted", DosDate(2000, 13, 1), 0},
        {"day 0 accepted", DosDate(2000, 1, 0), 0},
        {"hour 24 accepted", DosDate(2000, 1, 1), DosTime(24, 0, 0)},
        {"minute 60 accepted", DosDate(2000, 1, 1), DosTime(0, 60, 0)},
        {"second 60 accepted", DosDate(2000, 1, 1), static_cast<std::uint16_t>(30)},
    };
    for (const auto& c : cases) {
        std::uint64_t ft = 12345;
        EXPECT_FALSE(platform::DosDateTimeToFileTime(c.date, c.time, ft)) << c.fault;
        EXPECT_EQ(ft, 12345u) << c.fault << ": output touched on failure";
    }
}

// The DOS fields as the local clock of a zone, across its changes of
// offset. On Windows only the rows of the zone the process started in run
// (CTest starts this test once per zone there).
TEST(LocalDosTime, IsTheWallClockOfTheZoneOnThatDate) {
    struct Case {
        const char* fault;
        const char* zone;
        std::uint16_t date, time;
        std::int64_t unix;  // the instant, UTC
    };
    const Case cases[] = {
        {"Tokyo: read as UTC", "Asia/Tokyo", DosDate(2013, 5, 1), DosTime(12, 34, 56), 1367379296},
        {"Tokyo: the DOS epoch wrong", "Asia/Tokyo", DosDate(1980, 1, 1), DosTime(0, 0, 0), 315500400},
        {"Tokyo: the last DOS day wrong", "Asia/Tokyo", DosDate(2107, 12, 31), DosTime(23, 59, 58), 4354786798},
        {"UTC: shifted", "UTC", DosDate(2013, 5, 1), DosTime(12, 34, 56), 1367411696},
        {"New York: the last second of EST on its day", "America/New_York", DosDate(2024, 3, 10),
         DosTime(1, 59, 58), 1710053998},
        {"New York: the first EDT hour taken as EST", "America/New_York", DosDate(2024, 3, 10), DosTime(3, 0, 0),
         1710054000},
        {"New York: summer read with the winter offset", "America/New_York", DosDate(2024, 7, 1),
         DosTime(10, 0, 0), 1719842400},
        {"New York: the first EST hour taken as EDT", "America/New_York", DosDate(2024, 11, 3), DosTime(2, 0, 0),
         1730617200},
    };
    int ran = 0;
    for (const auto& c : cases) {
        if (!testsupport::UseTimeZone(c.zone)) continue;
        ++ran;
        std::uint64_t ft = 0;
        ASSERT_TRUE(platform::LocalDosDateTimeToFileTime(c.date, c.time, ft)) << c.fault;
        EXPECT_EQ(ft, FromUnix(c.unix)) << c.fault;
        std::uint64_t untouched = 12345;
        EXPECT_FALSE(platform::LocalDosDateTimeToFileTime(DosDate(2000, 13, 1), 0, untouched)) << c.fault;
        EXPECT_EQ(untouched, 12345u) << c.fault;
    }
    testsupport::RestoreTimeZone();
    if (ran == 0) GTEST_SKIP() << "no row's zone is this process's (TZ unset or another zone)";
}

TEST(CalendarTime, ConvertsAndRefusesLikeSystemTimeToFileTime) {
    std::uint64_t ft = 0;
    ASSERT_TRUE(platform::CalendarToFileTime({1970, 1, 1, 0, 0, 0, 0}, ft));
    EXPECT_EQ(ft, FromUnix(0));
    ASSERT_TRUE(platform::CalendarToFileTime({1601, 1, 1, 0, 0, 0, 0}, ft));
    EXPECT_EQ(ft, 0u);
    ASSERT_TRUE(platform::CalendarToFileTime({2038, 1, 19, 3, 14, 7, 5}, ft));
    EXPECT_EQ(ft, FromUnix(2147483647) + 5 * 10000ULL);
    const platform::CalendarTime refused[] = {
        {1600, 12, 31, 23, 59, 59, 0}, {2013, 0, 1, 0, 0, 0, 0}, {2013, 13, 1, 0, 0, 0, 0}, {2013, 1, 1, 24, 0, 0, 0},
    };
    for (const auto& c : refused) {
        EXPECT_FALSE(platform::CalendarToFileTime(c, ft)) << c.year << "-" << c.month << "-" << c.day;
    }
}

TEST(CalendarTime, UtcFieldsOfUnixSecondsRoundTrip) {
    const std::int64_t stamps[] = {0, 1367411696, -1, -86400, -2147483648LL, 2147483647, 951782400 /*2000-02-29*/};
    for (std::int64_t s : stamps) {
        const platform::CalendarTime c = platform::UtcCalendarFromUnixSeconds(s);
        std::uint64_t ft = 0;
        ASSERT_TRUE(platform::CalendarToFileTime(c, ft)) << s;
        EXPECT_EQ(ft, FromUnix(s)) << s;
    }
    const platform::CalendarTime c = platform::UtcCalendarFromUnixSeconds(-1);
    EXPECT_EQ(c.year, 1969);
    EXPECT_EQ(c.month, 12);
    EXPECT_EQ(c.day, 31);
    EXPECT_EQ(c.second, 59);
}

}  // namespace
