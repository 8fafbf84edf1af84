// The shell's number parsing as the library uses it.
#include <gtest/gtest.h>

#include "platform/win32.h"

namespace {

TEST(Shlwapi, StrToInt) {
    EXPECT_EQ(StrToIntW(L"123abc"), 123);
    EXPECT_EQ(StrToIntW(L"-45"), -45);
    EXPECT_EQ(StrToIntW(L"abc"), 0);
    EXPECT_EQ(StrToIntW(L""), 0);
    EXPECT_EQ(StrToIntW(L"0x1F"), 0);
    EXPECT_EQ(StrToIntW(L"2147483647"), 2147483647);
    EXPECT_EQ(StrToIntW(L"\x0661"), 0);  // only ASCII digits count
    EXPECT_EQ(StrToIntA("77 trombones"), 77);
    EXPECT_EQ(StrToIntA("-"), 0);
}

TEST(Shlwapi, StrToInt64Ex) {
    LONGLONG value = 5;
    EXPECT_TRUE(StrToInt64ExW(L"  -1234567890123", STIF_DEFAULT, &value));
    EXPECT_EQ(value, -1234567890123LL);
    EXPECT_TRUE(StrToInt64ExA("9223372036854775807", STIF_DEFAULT, &value));
    EXPECT_EQ(value, 9223372036854775807LL);
    EXPECT_TRUE(StrToInt64ExW(L"0x1F", STIF_DEFAULT, &value));
    EXPECT_EQ(value, 0);
    EXPECT_TRUE(StrToInt64ExW(L"0x1F", STIF_SUPPORT_HEX, &value));
    EXPECT_EQ(value, 31);
    EXPECT_TRUE(StrToInt64ExA("12ab", STIF_DEFAULT, &value));
    EXPECT_EQ(value, 12);
    EXPECT_FALSE(StrToInt64ExW(L"abc", STIF_DEFAULT, &value));
    EXPECT_FALSE(StrToInt64ExA("", STIF_DEFAULT, &value));
    EXPECT_FALSE(StrToInt64ExA("-", STIF_DEFAULT, &value));
}

}  // namespace
