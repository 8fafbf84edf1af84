// File times and millisecond counts: the documented examples, the clamps, and
// a property check over random dates from 1970 to 3001 against the
// platform's SystemTimeToFileTime and a calendar oracle of the test's own.
#include <gtest/gtest.h>

#include <climits>
#include <random>

#include "platform/win32.h"
#include "vidozir/diskutil.h"

using namespace VidOzir::DiskUtil;

namespace {

constexpr unsigned long long kEpoch = 116444736000000000ull;

FILETIME Ft(unsigned long long value) {
    return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}
unsigned long long Value(const FILETIME& time) {
    return static_cast<unsigned long long>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

// Calendar fields of a day count since 1970-01-01 (proleptic Gregorian).
void CivilFromDays(long long days, int* year, int* month, int* day) {
    days += 719468;
    const long long era = days / 146097;
    const long long doe = days - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    *year = static_cast<int>(yoe + era * 400 + (*month <= 2));
}

SYSTEMTIME SystemTimeOf(long long ms) {
    int year = 0, month = 0, day = 0;
    const long long seconds = ms / 1000;
    CivilFromDays(seconds / 86400, &year, &month, &day);
    SYSTEMTIME time = {};
    time.wYear = WORD(year);
    time.wMonth = WORD(month);
    time.wDay = WORD(day);
    time.wDayOfWeek = WORD((seconds / 86400 + 4) % 7);  // 1970-01-01 was a Thursday
    time.wHour = WORD(seconds % 86400 / 3600);
    time.wMinute = WORD(seconds % 3600 / 60);
    time.wSecond = WORD(seconds % 60);
    time.wMilliseconds = WORD(ms % 1000);
    return time;
}

TEST(FileTimeConversions, DocumentedExamples) {
    const struct {
        unsigned long long fileTime;
        long long utc;
    } toUtc[] = {{kEpoch, 0},         {kEpoch + 10000, 1},  {kEpoch - 10000, -1},
                 {kEpoch + 19999, 1}, {kEpoch - 19999, -1}, {0, -11644473600000LL}};
    for (const auto& c : toUtc) {
        EXPECT_EQ(FileTimeToUtc(Ft(c.fileTime)), c.utc) << c.fileTime;
    }
    EXPECT_EQ(Value(FileTimeToMilliseconds(Ft(116444736000012345ull))), 116444736000010000ull);
    EXPECT_EQ(Value(FileTimeToMilliseconds(Ft(~0ull))), ~0ull / 10000 * 10000);

    const long long kLast = 32535244799LL;  // 3001-01-01 07:59:59
    const struct {
        long long ms;
        unsigned long long fileTime;
    } fromUtc[] = {
        {0, kEpoch},
        {1500, 116444736015000000ull},
        {-500, kEpoch},
        {-1000, kEpoch},  // no milliseconds left over: still 1970
        {-1, kEpoch},
        {LLONG_MIN, kEpoch},
        {kLast * 1000 + 999, kEpoch + (kLast * 1000 + 999) * 10000ull},
        {kLast * 1000 + 1000, kEpoch + kLast * 10000000ull},  // clamped, no milliseconds
        {kLast * 1000 + 1234, kEpoch + kLast * 10000000ull + 234 * 10000ull},
        {LLONG_MAX, kEpoch + kLast * 10000000ull + (LLONG_MAX % 1000) * 10000ull},
    };
    for (const auto& c : fromUtc) {
        EXPECT_EQ(Value(UtcToFileTime(c.ms)), c.fileTime) << c.ms;
    }
}

TEST(FileTimeConversions, RandomDatesAgreeWithTheSystemConversion) {
    std::mt19937_64 random(20261206);
    std::uniform_int_distribution<long long> pick(0, 32535244799999LL);
    for (int i = 0; i < 3000; ++i) {
        const long long ms = i == 0 ? 951782400000LL /* 2000-02-29 */ : pick(random);
        const SYSTEMTIME time = SystemTimeOf(ms);
        FILETIME system = {};
        ASSERT_TRUE(SystemTimeToFileTime(&time, &system)) << ms;
        ASSERT_EQ(Value(system), kEpoch + static_cast<unsigned long long>(ms) * 10000) << ms;
        EXPECT_EQ(SystemTimeToUtc(time), ms);
        EXPECT_EQ(Value(UtcToFileTime(ms)), Value(system)) << ms;
        EXPECT_EQ(FileTimeToUtc(system), ms);
    }
    // A system time that the conversion rejects counts as 1970.
    SYSTEMTIME bad = SystemTimeOf(86400000);
    bad.wMonth = 13;
    EXPECT_EQ(SystemTimeToUtc(bad), 0);
    bad = SystemTimeOf(86400000);
    bad.wDay = 32;
    EXPECT_EQ(SystemTimeToUtc(bad), 0);
}

}  // namespace
