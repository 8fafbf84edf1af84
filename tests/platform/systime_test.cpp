// The calendar calls against a day count of the test's own (days from a civil
// date, proleptic Gregorian); on Windows the real calls answer to it.
#include <gtest/gtest.h>

#include <cerrno>
#include <ctime>

#include "platform/win32.h"
#include "support/filetime.h"
#include "support/test_support.h"

namespace {

// Days from 1970-01-01 (a civil-date count from 0000-03-01), moved to 1601.
long long DaysSince1601(int y, int m, int d) {
    y -= m <= 2;
    const long long era = y / 400, yoe = y - era * 400;
    const long long doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468 + 134774;
}

TEST(SysTime, FileTimesCountCalendarDays) {
    const struct {
        WORD y, mo, d, h, mi, s, ms;
        bool valid;
    } cases[] = {
        {1601, 1, 1, 0, 0, 0, 0, true},       {1970, 1, 1, 0, 0, 0, 0, true},
        {2000, 2, 29, 23, 59, 59, 999, true}, {2024, 3, 1, 12, 30, 15, 5, true},
        {2100, 3, 1, 0, 0, 0, 0, true},       {30827, 12, 31, 23, 59, 59, 999, true},
        {2023, 2, 29, 0, 0, 0, 0, false},     {2100, 2, 29, 0, 0, 0, 0, false},
        {2000, 4, 31, 0, 0, 0, 0, false},     {2000, 13, 1, 0, 0, 0, 0, false},
        {2000, 1, 0, 0, 0, 0, 0, false},      {2000, 1, 1, 24, 0, 0, 0, false},
        {2000, 1, 1, 0, 60, 0, 0, false},     {2000, 1, 1, 0, 0, 60, 0, false},
        {2000, 1, 1, 0, 0, 0, 1000, false},   {1600, 12, 31, 23, 59, 59, 999, false},
    };
    for (const auto& c : cases) {
        if (c.mo == 2 && c.d == 29 && !c.valid && vidozir_test::IsWine()) {
            continue;  // Wine's SystemTimeToFileTime takes February 29 of any year
        }
        SCOPED_TRACE(std::to_string(c.y) + "-" + std::to_string(c.mo) + "-" + std::to_string(c.d));
        const SYSTEMTIME time{c.y, c.mo, 0, c.d, c.h, c.mi, c.s, c.ms};
        FILETIME ft{};
        ASSERT_EQ(SystemTimeToFileTime(&time, &ft) != FALSE, c.valid);
        const long long seconds =
            DaysSince1601(c.y, c.mo, c.d) * 86400 + c.h * 3600 + c.mi * 60 + c.s;
        EXPECT_TRUE(!c.valid || vidozir_test::Ticks(ft) == (seconds * 1000 + c.ms) * 10000ull);
    }
}

TEST(SysTime, UtcFieldsUpToTheLastSecondOfTheRuntime) {
    const struct {
        __time64_t t;
        int year, yday, hour, sec;  // year since 1900
    } cases[] = {
        {0, 70, 0, 0, 0},
        {951868799, 100, 59, 23, 59},   // 2000-02-29 23:59:59
        {32535244799, 1101, 0, 7, 59},  // 3001-01-01 07:59:59
        {-1, -1, -1, -1, -1},
        {32535244800, -1, -1, -1, -1},
    };
    for (const auto& c : cases) {
        struct tm fields {};
        EXPECT_EQ(_gmtime64_s(&fields, &c.t), c.year < 0 ? EINVAL : 0) << c.t;
        EXPECT_EQ(fields.tm_year, c.year) << c.t;  // every field -1 when refused
        EXPECT_EQ(fields.tm_yday, c.yday) << c.t;
        EXPECT_EQ(fields.tm_hour * 100 + fields.tm_sec, c.hour * 100 + c.sec) << c.t;
    }
}

}  // namespace
