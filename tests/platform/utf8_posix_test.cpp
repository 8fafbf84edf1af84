// The quick UTF-8 road of the code-page layer, seen through
// MultiByteToWideChar: well-formed text converts exactly, anything else still
// gets ICU's substitutions.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32.h"

namespace {

TEST(Utf8Road, AcceptsExactlyWellFormedText) {
    struct Case {
        std::string bytes;
        bool bValid;
        std::wstring units;
    } const cases[] = {
        {"plain ascii text, longer than one block of sixteen", true,
         L"plain ascii text, longer than one block of sixteen"},
        {"caf\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x98\x80", true, L"caf\xE9 \x65E5 \xD83D\xDE00"},
        {"\xF4\x8F\xBF\xBF", true, L"\xDBFF\xDFFF"},
        {"\xC0\x80", false, L""},          // overlong
        {"\xE0\x80\xAF", false, L""},      // overlong
        {"\xED\xA0\x80", false, L""},      // surrogate
        {"\xF4\x90\x80\x80", false, L""},  // above U+10FFFF
        {"abc\xC3", false, L""},           // cut off
        {"\x80", false, L""},
    };
    for (const Case& c : cases) {
        // Ill-formed text goes to ICU, which substitutes.
        const int n =
            MultiByteToWideChar(CP_UTF8, 0, c.bytes.data(), int(c.bytes.size()), nullptr, 0);
        std::wstring wide(size_t(n), L'\0');
        EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, c.bytes.data(), int(c.bytes.size()), &wide[0], n),
                  n);
        if (c.bValid) {
            EXPECT_EQ(wide, c.units);
        } else {
            EXPECT_NE(wide.find(L'\xFFFD'), std::wstring::npos) << c.bytes;
        }
    }
}

}  // namespace
