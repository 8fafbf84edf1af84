// File times, system times and millisecond counts since 1970: examples across
// the range, the rounding towards zero and the clamps.
#include "diskutil_test.h"

#include <climits>

#include "support/filetime.h"

constexpr unsigned long long kEpoch = 116444736000000000ull;
constexpr long long kLeapDay = 951827696789LL;  // 2000-02-29 12:34:56.789
constexpr long long kLast = 32535244799LL;      // 3001-01-01 07:59:59

using vidozir_test::Ft;
using vidozir_test::Ticks;

TEST(FileTimeConversions, ToAndFromMillisecondsClampedTo1970And3001) {
    const std::pair<unsigned long long, long long> toUtc[] = {
        {kEpoch, 0},          {kEpoch + 10000, 1},    {kEpoch + 19999, 1},
        {kEpoch - 19999, -1}, {0, -11644473600000LL}, {kEpoch + kLeapDay * 10000ull, kLeapDay}};
    for (const auto& [fileTime, utc] : toUtc)
        EXPECT_EQ(FileTimeToUtc(Ft(fileTime)), utc) << fileTime;
    EXPECT_EQ(Ticks(FileTimeToMilliseconds(Ft(116444736000012345ull))), 116444736000010000ull);
    EXPECT_EQ(Ticks(FileTimeToMilliseconds(Ft(~0ull))), 18446744073709550000ull);

    // A system time that the conversion rejects counts as 1970.
    const std::pair<SYSTEMTIME, long long> fromSystem[] = {
        {{2000, 2, 2, 29, 12, 34, 56, 789}, kLeapDay},
        {{1601, 1, 1, 1, 0, 0, 0, 0}, -11644473600000LL},
        {{1970, 13, 0, 2, 0, 0, 0, 0}, 0}};
    for (const auto& [time, utc] : fromSystem)
        EXPECT_EQ(SystemTimeToUtc(time), utc) << utc;

    // -1000 leaves no milliseconds over: still 1970. Past the last second the
    // clamp keeps only the milliseconds.
    const std::pair<long long, unsigned long long> fromUtc[] = {
        {0, kEpoch},
        {kLeapDay, kEpoch + kLeapDay * 10000ull},
        {-500, kEpoch},
        {-1000, kEpoch},
        {LLONG_MIN, kEpoch},
        {kLast * 1000 + 999, kEpoch + (kLast * 1000 + 999) * 10000ull},
        {kLast * 1000 + 1000, kEpoch + kLast * 10000000ull},
        {kLast * 1000 + 1234, kEpoch + kLast * 10000000ull + 234 * 10000ull},
        {LLONG_MAX, kEpoch + kLast * 10000000ull + 807 * 10000ull}};
    for (const auto& [ms, fileTime] : fromUtc)
        EXPECT_EQ(Ticks(UtcToFileTime(ms)), fileTime) << ms;
}
