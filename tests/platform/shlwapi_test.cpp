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

namespace {

// The same table runs against the system's PathCombineW on Windows (and Wine)
// and against the stand-in elsewhere, so the two agree case by case.
TEST(Shlwapi, PathCombine) {
    const struct {
        const wchar_t* dir;
        const wchar_t* file;
        const wchar_t* out;
    } cases[] = {
        {L"C:\\a", L"b", L"C:\\a\\b"},
        {L"C:\\a\\", L"b", L"C:\\a\\b"},
        {L"C:\\a", L"b\\", L"C:\\a\\b\\"},
        {L"C:\\a\\b", L"..\\c", L"C:\\a\\c"},
        {L"C:\\a\\b", L"..\\..\\..\\c", L"C:\\c"},
        {L"C:\\a", L".\\b\\.\\c", L"C:\\a\\b\\c"},
        {L"C:\\a\\.\\b", L"c", L"C:\\a\\b\\c"},
        {L"C:\\a\\..\\b", L"c", L"C:\\b\\c"},
        {L"C:\\a", L"..", L"C:\\"},
        {L"C:\\a\\b", L"..", L"C:\\a"},
        {L"C:\\a", L"D:\\x", L"D:\\x"},
        {L"C:\\a", L"\\\\server\\share\\x", L"\\\\server\\share\\x"},
        {L"C:\\a\\b", L"\\x", L"C:\\x"},
        {L"\\home\\u", L"x", L"\\home\\u\\x"},
        {L"\\home\\u", L"\\tmp\\x", L"\\tmp\\x"},
        {L"\\home\\u", L"..\\v", L"\\home\\v"},
        {L"\\home", L"..\\..\\x", L"\\x"},
        {nullptr, L"C:\\x\\.\\y", L"C:\\x\\y"},
        {L"", L"C:\\x\\..\\y", L"C:\\y"},
        {L"C:\\a\\..\\b", nullptr, L"C:\\b"},
        {L"C:\\a", L"", L"C:\\a"},
        {L"C:", L"x", L"C:\\x"},
        {L"C:\\", L"x", L"C:\\x"},
        {L"C:\\a", L"b..c\\d.e", L"C:\\a\\b..c\\d.e"},
        {L"C:\\a", L".hidden", L"C:\\a\\.hidden"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.dir ? c.dir : L"(null)") + L" + " +
                                            (c.file ? c.file : L"(null)")));
        wchar_t out[MAX_PATH] = {L'?'};
        EXPECT_EQ(PathCombineW(out, c.dir, c.file), out);
        EXPECT_EQ(std::wstring(out), c.out);
    }
    wchar_t out[MAX_PATH] = {L'?'};
#if !defined(_WIN32)
    // A final "." is resolved like any other; Wine's PathCombineW keeps it.
    EXPECT_EQ(std::wstring(PathCombineW(out, L"C:\\a", L".")), L"C:\\a");
#endif
    EXPECT_EQ(PathCombineW(out, nullptr, nullptr), nullptr);
    EXPECT_EQ(out[0], L'\0');
    const std::wstring longName(MAX_PATH, L'n');
    out[0] = L'?';
    EXPECT_EQ(PathCombineW(out, L"C:\\a", longName.c_str()), nullptr);
    EXPECT_EQ(out[0], L'\0');
}

}  // namespace
