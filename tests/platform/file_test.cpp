// Files and directories with the Windows error codes the library reads. The
// same cases run against the system on Windows, so the stand-in agrees.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <tuple>
#include <utility>

#include "platform/win32.h"
#include "support/test_support.h"

namespace {

TEST(Files, ErrorCodesAndSearches) {
    const std::string native = vidozir_test::MakeTempDir("files");
    ASSERT_TRUE((std::ofstream(native + "/file.txt") << "12345").good());
    const std::wstring root = vidozir_test::WindowsForm(native) + L"\\";
    // path, error of GetFileAttributesW, error of CreateDirectoryW (0: created)
    const std::tuple<const wchar_t*, DWORD, DWORD> cases[] = {
        {L"file.txt", 0, ERROR_ALREADY_EXISTS},
        {L"missing", ERROR_FILE_NOT_FOUND, 0},
        {L"none\\deeper", ERROR_PATH_NOT_FOUND, ERROR_PATH_NOT_FOUND},
        {L"file.txt\\sub", ERROR_PATH_NOT_FOUND, ERROR_PATH_NOT_FOUND}};
    for (const auto& [name, attributesError, createError] : cases) {
        const std::wstring path = root + name;
        SCOPED_TRACE(path);
        SetLastError(0);
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributesError)
            EXPECT_TRUE(attributes == INVALID_FILE_ATTRIBUTES && GetLastError() == attributesError);
        else
            EXPECT_EQ(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
        SetLastError(0);
        EXPECT_EQ(CreateDirectoryW(path.c_str(), nullptr) != FALSE, createError == 0);
        if (createError)
            EXPECT_EQ(GetLastError(), createError);
        else
            EXPECT_NE(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    }
    const std::string made = native + "/made";
    EXPECT_FALSE(PathFileExistsA(made.c_str()));
    EXPECT_TRUE(CreateDirectoryA(made.c_str(), nullptr) && PathFileExistsA(made.c_str()));
    EXPECT_FALSE(CreateDirectoryA(made.c_str(), nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));

    WIN32_FIND_DATAW found;
    for (const wchar_t* pattern : {L"fi?e.txt", L"f*.*", L"file.txt"}) {
        const HANDLE search = FindFirstFileW((root + pattern).c_str(), &found);
        ASSERT_NE(search, INVALID_HANDLE_VALUE) << pattern;
        EXPECT_EQ(std::wstring(found.cFileName), L"file.txt");
        EXPECT_EQ(found.nFileSizeLow, 5u);
        EXPECT_EQ(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
        EXPECT_TRUE(FindClose(search));
    }
    EXPECT_EQ(FindFirstFileW((root + L"*.doc").c_str(), &found), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(FindFirstFileW((root + L"none\\*").c_str(), &found), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
}

TEST(TempPath, TrailingBackslashAndSizeAsked) {
    char buffer[MAX_PATH] = {}, small[2] = {};
    const DWORD length = GetTempPathA(MAX_PATH, buffer);
    ASSERT_TRUE(length > 0 && length < MAX_PATH);
    EXPECT_EQ(buffer[length - 1], '\\');
    EXPECT_EQ(GetTempPathA(1, small), length + 1);
#if !defined(_WIN32)
    const char* saved = std::getenv("TMPDIR");
    const std::string previous = saved ? saved : "";
    for (const auto& [tmpdir, expected] : {std::pair<const char*, const char*>{nullptr, "\\tmp\\"},
                                           {"relative", "\\tmp\\"},  // only an absolute one counts
                                           {"/var/tmp/", "\\var\\tmp\\"}}) {
        tmpdir ? setenv("TMPDIR", tmpdir, 1) : unsetenv("TMPDIR");
        ASSERT_GT(GetTempPathA(MAX_PATH, buffer), 0u);
        EXPECT_STREQ(buffer, expected);
    }
    saved ? setenv("TMPDIR", previous.c_str(), 1) : unsetenv("TMPDIR");
#endif
}

}  // namespace
#ifndef _WIN32
// _wfopen takes Windows-form names on Linux too; names beyond ASCII reach the
// system as UTF-8.
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
#endif
