#include <gtest/gtest.h>

#include <chrono>
#include <climits>

#include "vidozir/foundation.h"

using VidOzir::Time;

namespace {

TEST(Time, NullAndComparison) {
    Time null;
    EXPECT_EQ(null.IsNull(), 1);
    EXPECT_EQ(Time(1).IsNull(), 0);
    EXPECT_EQ(null == Time(1), 0);
    EXPECT_EQ(null != Time(1), 1);
    EXPECT_EQ(Time(-5) < Time(3), 1);
    EXPECT_EQ(Time(3) <= Time(3), 1);
    EXPECT_EQ(Time(4) > Time(3), 1);
    EXPECT_EQ(Time(2) >= Time(3), 0);
    Time copy;
    copy = Time(77);
    EXPECT_EQ(copy.GetValue(), 77);
}

TEST(Time, MillisecondArithmetic) {
    EXPECT_EQ((Time() + -1).GetValue(), -1000);
    EXPECT_EQ((Time(500) - 2).GetValue(), -1500);
    Time t(0);
    t += INT_MAX;  // formed in 64 bits: no overflow
    EXPECT_EQ(t.GetValue(), 2147483647000LL);
    t -= INT_MIN;
    EXPECT_EQ(t.GetValue(), 2147483647000LL + 2147483648000LL);
}

TEST(Time, DifferenceTruncatesAndSaturates) {
    EXPECT_EQ(Time(5000000) - Time(2000), 4998);
    EXPECT_EQ(Time(1) - Time(0), 0);
    EXPECT_EQ(Time(0) - Time(1999), -1);  // toward zero, not floor
    EXPECT_EQ(Time(3000000000LL * 1000) - Time(0), 2147483647);
    EXPECT_EQ(Time(2147483648LL * 1000) - Time(0), 2147483647);
    EXPECT_EQ(Time(2147483647LL * 1000) - Time(0), 2147483647);
    EXPECT_EQ(Time(0) - Time(1000000), -1000);
    // Below the saturation point only the low 32 bits survive.
    EXPECT_EQ(Time(0) - Time(4294967296LL * 1000 + 5000), -5);
}

TEST(Time, FileTimeAndUtcConversions) {
    for (long long v : {0LL, 1LL, 13000000000000000LL, -7LL, 123456789012345LL}) {
        Time t(v);
        Time back;
        back.FromFileTime(t.ToFileTime());
        EXPECT_EQ(back.GetValue(), v);
    }
    FILETIME ft;
    ft.dwHighDateTime = 0;
    ft.dwLowDateTime = 19;  // 1.9 microseconds truncate to 1
    Time t;
    t.FromFileTime(ft);
    EXPECT_EQ(t.GetValue(), 1);
    ft.dwHighDateTime = 0xFFFFFFFFu;
    ft.dwLowDateTime = 0xFFFFFFFFu - 18;  // -19 as a signed count truncates to -1
    t.FromFileTime(ft);
    EXPECT_EQ(t.GetValue(), -1);

    Time epoch(11644473600000000LL);
    EXPECT_EQ(epoch.ToUtcTime(), 0);
    EXPECT_EQ(static_cast<long long>(epoch), 0);
    EXPECT_EQ(Time(11644473600000000LL + 1999).ToUtcTime(), 1);
    EXPECT_EQ(Time(11644473600000000LL - 1999).ToUtcTime(), -1);
    Time unchanged(42);
    unchanged.FromUtcTime(123456);
    EXPECT_EQ(unchanged.GetValue(), 42);
}

TEST(Time, NowAgreesWithSystemClock) {
    const Time now = Time::Now();
    long long system = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    EXPECT_LT(std::llabs(now.ToUtcTime() - system), 2000);
    EXPECT_EQ(static_cast<long long>(now), now.ToUtcTime());  // one reading, both views
}

}  // namespace
