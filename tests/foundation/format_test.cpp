#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

#include "vidozir/lustring.h"

namespace {

CLuStringW W(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    CLuStringW s;
    s.FormatV(format, args);
    va_end(args);
    return s;
}

TEST(Format, IntegerConversions) {
    EXPECT_EQ(W(L"%d|%d|%d", 0, -42, INT_MIN), L"0|-42|-2147483648");
    EXPECT_EQ(W(L"%u|%u", 7u, 4294967295u), L"7|4294967295");
    EXPECT_EQ(W(L"%x|%X|%02X|%04x", 255u, 255u, 10u, 0xABu), L"ff|FF|0A|00ab");
    EXPECT_EQ(W(L"%llu|%lld", 18446744073709551615ull, LLONG_MIN),
              L"18446744073709551615|-9223372036854775808");
    EXPECT_EQ(W(L"%ld|%lu", -5L, 5UL), L"-5|5");
    EXPECT_EQ(W(L"%I64d|%I64u", -1LL, 1ULL << 40), L"-1|1099511627776");
    EXPECT_EQ(W(L"%5d|%-5d|%05d|%+d|% d", 42, 42, -42, 3, 3), L"   42|42   |-0042|+3| 3");
    EXPECT_EQ(W(L"%.3d|%#x|%#o|%*d", 5, 255u, 8u, 4, 1), L"005|0xff|010|   1");
    EXPECT_EQ(W(L"[%.0d|%.0d|%.1d]", 0, 7, 0), L"[|7|0]");  // no digit for 0 at precision 0
    // A precision turns off the zero flag; 0 takes no prefix; a negative * width pads right.
    EXPECT_EQ(W(L"[%05.3d|%#x|%#o|%*d]", 5, 0u, 0u, -4, 1), L"[  005|0|0|1   ]");
    EXPECT_EQ(W(L"%hhu|%hd", 0x1FFu, 70000), L"255|4464");
    EXPECT_EQ(W(L"%zu", static_cast<size_t>(12)), L"12");
}

TEST(Format, TextConversions) {
    EXPECT_EQ(W(L"[%s]", L"wide"), L"[wide]");
    EXPECT_EQ(W(L"[%s]", L"\xD83D\xDE00"), CLuStringW(L"[\xD83D\xDE00]"));
    EXPECT_EQ(W(L"[%S]", "narrow"), L"[narrow]");
    EXPECT_EQ(W(L"[%hs]", "\xC3\xA9"), L"[\x00E9]");  // narrow text is read as UTF-8
    EXPECT_EQ(W(L"[%hs]", "\xF0\x9F\x98\x80"), CLuStringW(L"[\xD83D\xDE00]"));
    EXPECT_EQ(W(L"[%6s|%-6s|%.2s]", L"ab", L"ab", L"abcdef"), L"[    ab|ab    |ab]");
    EXPECT_EQ(W(L"%s", static_cast<const wchar_t*>(nullptr)), L"(null)");
    EXPECT_EQ(W(L"%c%c", L'o', L'k'), L"ok");
    EXPECT_EQ(W(L"100%% %q"), L"100% %q");  // unknown conversions pass through
    EXPECT_EQ(W(L"%.2f|%g", 3.14159, 0.5), L"3.14|0.5");

    CLuStringA a;
    a.Format("%s=%d %ls %02X %ls", "key", 9, L"w\x00E9", 0xA, L"\xD83D\xDE00");
    EXPECT_EQ(a, "key=9 w\xC3\xA9 0A \xF0\x9F\x98\x80");
}

TEST(Format, AppendFormatAndLongOutput) {
    CLuStringW s(L"n=");
    s.AppendFormat(L"%d", 1);
    s.AppendFormat(L",%d", 2);
    EXPECT_EQ(s, L"n=1,2");

    CLuStringW big(L"");
    CLuStringW piece;
    piece.Preallocate(100000);
    for (int i = 0; i < 100000; ++i) {
        piece += L'a' + static_cast<wchar_t>(i % 26);
    }
    big.Format(L"<%s>", piece.GetString());
    EXPECT_EQ(big.GetLength(), 100002);
    EXPECT_EQ(big.Mid(1, 100000), piece);
}

}  // namespace
