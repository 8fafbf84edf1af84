// The code-page conversions the library relies on. Runs against the real
// Win32 calls on Windows and against the ICU layer elsewhere.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32.h"
#include "support/test_support.h"

namespace {

std::string ToBytes(UINT codePage, const std::wstring& text, BOOL* used = nullptr,
                    const char* defaultChar = nullptr, DWORD flags = 0) {
    const int size = WideCharToMultiByte(codePage, flags, text.c_str(), int(text.size()), nullptr,
                                         0, defaultChar, used);
    if (size <= 0)
        return "<fail>";
    std::string bytes(size_t(size), '\0');
    EXPECT_EQ(WideCharToMultiByte(codePage, flags, text.c_str(), int(text.size()), &bytes[0], size,
                                  defaultChar, used),
              size);
    return bytes;
}

std::wstring ToWide(UINT codePage, const std::string& bytes, DWORD flags = 0) {
    const int size =
        MultiByteToWideChar(codePage, flags, bytes.data(), int(bytes.size()), nullptr, 0);
    if (size <= 0)
        return L"<fail>";
    std::wstring text(size_t(size), L'\0');
    EXPECT_EQ(MultiByteToWideChar(codePage, flags, bytes.data(), int(bytes.size()), &text[0], size),
              size);
    return text;
}

TEST(CodePage, SizesAndTerminators) {
    // With -1 the terminator is converted and counted.
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"\x00E9t\x00E9", -1, nullptr, 0, nullptr, nullptr),
              6);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"\x00E9t\x00E9", 3, nullptr, 0, nullptr, nullptr),
              5);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xC3\xA9t", -1, nullptr, 0), 3);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "", -1, nullptr, 0), 1);

    wchar_t small[2];
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, small, 2), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    char narrow[2];
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"\x00E9", -1, narrow, 2, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));

    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 0, nullptr, 0), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST(CodePage, Utf8Replacements) {
    // Unpaired surrogates become U+FFFD; broken UTF-8 becomes U+FFFD.
    EXPECT_EQ(ToBytes(CP_UTF8,
                      L"a\xD800"
                      L"b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(ToBytes(CP_UTF8, L"\xDC00"), "\xEF\xBF\xBD");
    EXPECT_EQ(ToBytes(CP_UTF8, L"\xD83D\xDE00"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(ToWide(CP_UTF8, "a\xFF"), L"a\xFFFD");
    EXPECT_EQ(ToWide(CP_UTF8, "\xF0\x9F\x98\x80"), L"\xD83D\xDE00");

    // The strict flags refuse instead.
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xFF", 2, nullptr, 0), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_UNICODE_TRANSLATION));
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, L"a\xD800", 2, nullptr, 0, nullptr,
                                  nullptr),
              0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(CodePage, Utf8RefusesTheDefaultCharacterReport) {
    VIDOZIR_SKIP_UNDER_WINE("WideCharToMultiByte accepts a default-character report for UTF-8");
    BOOL used = FALSE;
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"a", 1, nullptr, 0, nullptr, &used), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"a", 1, nullptr, 0, "?", nullptr), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST(CodePage, DefaultCharacterReport) {
    BOOL used = TRUE;
    EXPECT_EQ(ToBytes(1252, L"caf\x00E9 \x20AC", &used), "caf\xE9 \x80");
    EXPECT_FALSE(used);
    EXPECT_EQ(ToBytes(1252, L"x\x4E00y", &used), "x?y");
    EXPECT_TRUE(used);
    EXPECT_EQ(ToBytes(1252, L"x\x4E00y", &used, "#"), "x#y");
    EXPECT_TRUE(used);
    EXPECT_EQ(ToBytes(1251, L"\x0416\x00E9", &used, nullptr, WC_NO_BEST_FIT_CHARS), "\xC6?");
    EXPECT_TRUE(used);
}

TEST(CodePage, CommonCodePages) {
    struct Case {
        UINT codePage;
        const wchar_t* text;
        const char* bytes;
    };
    const Case cases[] = {
        {1252, L"\x00E9\x20AC", "\xE9\x80"}, {1251, L"\x0416\x0436", "\xC6\xE6"},
        {1250, L"\x0141\x00F3", "\xA3\xF3"}, {866, L"\x0416", "\x86"},
        {437, L"\x00E9\x2591", "\x82\xB0"},  {28591, L"\x00E9", "\xE9"},
        {20866, L"\x0416", "\xF6"},          {932, L"\x65E5\x672C", "\x93\xFA\x96\x7B"},
        {936, L"\x4E2D", "\xD6\xD0"},        {949, L"\xD55C", "\xC7\xD1"},
        {950, L"\x4E2D", "\xA4\xA4"},        {65001, L"\x00E9", "\xC3\xA9"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ToBytes(c.codePage, c.text), c.bytes) << c.codePage;
        EXPECT_EQ(ToWide(c.codePage, c.bytes), c.text) << c.codePage;
    }
}

TEST(CodePage, UnknownCodePagesFail) {
    for (UINT codePage : {12345u, 1200u, 1201u, 12000u}) {
        SetLastError(0);
        EXPECT_EQ(MultiByteToWideChar(codePage, 0, "a", 1, nullptr, 0), 0) << codePage;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER)) << codePage;
    }
}

TEST(CodePage, AnsiCarriesAscii) {
    EXPECT_EQ(ToWide(CP_ACP, "plain <ascii/> 123"), L"plain <ascii/> 123");
    EXPECT_EQ(ToBytes(CP_ACP, L"plain <ascii/> 123"), "plain <ascii/> 123");
}

#if !defined(_WIN32)
// Every code page of the XML encoding table that ICU carries converts text
// both ways; the rest fail like a code page that is not installed.
TEST(CodePage, EncodingTableCoverage) {
    const UINT supported[] = {437,   720,   737,   775,   850,   852,   855,   857,   858,   860,
                              861,   862,   863,   864,   865,   866,   869,   874,   932,   936,
                              949,   950,   1125,  1133,  1250,  1251,  1252,  1253,  1254,  1255,
                              1256,  1257,  1258,  10000, 10006, 10007, 10017, 10029, 10081, 20127,
                              20866, 20932, 20936, 20949, 21866, 28591, 28592, 28593, 28594, 28595,
                              28596, 28597, 28598, 28599, 28603, 28605, 38598, 50220, 50221, 50222,
                              50225, 50227, 51932, 51936, 51949, 52936, 54936, 57002, 57003, 57004,
                              57005, 57006, 57007, 57008, 57009, 57010, 57011, 65000, 65001};
    const std::wstring sample = L"<doc a=\"1\">Text 42</doc>";
    for (UINT codePage : supported) {
        EXPECT_TRUE(IsValidCodePage(codePage)) << codePage;
        const std::string bytes = ToBytes(codePage, sample);
        EXPECT_NE(bytes, "<fail>") << codePage;
        EXPECT_EQ(ToWide(codePage, bytes), sample) << codePage;
    }
    const UINT missing[] = {154,   708,   853,   1361,  10001, 10002, 10003, 10004, 10005,
                            10008, 10010, 10021, 10079, 10082, 20000, 20001, 20002, 20003,
                            20004, 20005, 20105, 20106, 20107, 20108, 20261, 20269, 29001};
    for (UINT codePage : missing) {
        EXPECT_FALSE(IsValidCodePage(codePage)) << codePage;
        SetLastError(0);
        EXPECT_EQ(WideCharToMultiByte(codePage, 0, L"a", 1, nullptr, 0, nullptr, nullptr), 0);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    }
}

TEST(CodePage, StatefulPagesRefuseTheReport) {
    BOOL used = FALSE;
    for (UINT codePage : {50220u, 52936u, 54936u, 57002u, 65000u}) {
        SetLastError(0);
        EXPECT_EQ(WideCharToMultiByte(codePage, 0, L"a", 1, nullptr, 0, nullptr, &used), 0);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER)) << codePage;
    }
    EXPECT_EQ(ToBytes(50220, L"\x65E5"), "\x1B$BF|\x1B(B");
    EXPECT_EQ(ToWide(52936, "~{VP~}"), L"\x4E2D");
}
#endif

}  // namespace
