// Files opened by Windows-form name on Linux.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "platform/win32.h"
#include "support/test_support.h"

namespace {

TEST(WideFileOpen, TakesWindowsFormNames) {
    const std::string dir = vidozir_test::MakeTempDir("wfopen");
    std::wstring name(dir.begin(), dir.end());
    for (wchar_t& c : name) {
        c = c == L'/' ? L'\\' : c;
    }
    name += L"\\\x65E5.txt";  // a name beyond ASCII goes to the system as UTF-8
    FILE* fp = _wfopen(name.c_str(), L"wb");
    ASSERT_NE(fp, nullptr);
    std::fputs("x", fp);
    std::fclose(fp);
    fp = std::fopen((dir + "/\xE6\x97\xA5.txt").c_str(), "rb");
    ASSERT_NE(fp, nullptr);
    EXPECT_EQ(std::fgetc(fp), 'x');
    std::fclose(fp);

    struct Case {
        const wchar_t* szName;
        const wchar_t* szMode;
        int nErrno;
    } const cases[] = {
        {nullptr, L"rb", ENOENT},
        {L"", L"rb", ENOENT},
        {name.c_str(), L"", EINVAL},
        {name.c_str(), L"r\x00E9", EINVAL},
        {L"\\no\\such\\folder\\file", L"rb", ENOENT},
    };
    for (const Case& c : cases) {
        errno = 0;
        EXPECT_EQ(_wfopen(c.szName, c.szMode), nullptr);
        EXPECT_EQ(errno, c.nErrno);
    }
}

}  // namespace
