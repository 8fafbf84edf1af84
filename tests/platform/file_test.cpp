// Files and directories with the Windows error codes the library reads. The
// same cases run against the system on Windows, so the stand-in agrees.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <string>

#include "platform/win32.h"
#include "support/test_support.h"

namespace {

class Files : public testing::Test {
protected:
    void SetUp() override {
        native_ = vidozir_test::MakeTempDir("files");
        ASSERT_FALSE(native_.empty());
        FILE* file = std::fopen((native_ + "/file.txt").c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fputs("12345", file);
        std::fclose(file);
        for (char c : native_)
            root_ += c == '/' ? L'\\' : wchar_t(static_cast<unsigned char>(c));
    }
    std::wstring At(const wchar_t* relative) const { return root_ + L"\\" + relative; }
    std::string native_;
    std::wstring root_;  // ASCII temporary folders only, in Windows form
};

TEST_F(Files, ErrorCodes) {
    const struct {
        const wchar_t* path;
        DWORD attributesError;
        DWORD createError;  // 0: created
    } cases[] = {
        {L"file.txt", 0, ERROR_ALREADY_EXISTS},
        {L"missing", ERROR_FILE_NOT_FOUND, 0},
        {L"none\\deeper", ERROR_PATH_NOT_FOUND, ERROR_PATH_NOT_FOUND},
        {L"file.txt\\sub", ERROR_PATH_NOT_FOUND, ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases) {
        const std::wstring path = At(c.path);
        SCOPED_TRACE(testing::PrintToString(path));
        SetLastError(0);
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (c.attributesError) {
            EXPECT_EQ(attributes, INVALID_FILE_ATTRIBUTES);
            EXPECT_EQ(GetLastError(), DWORD(c.attributesError));
        } else {
            EXPECT_EQ(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
        }
        SetLastError(0);
        EXPECT_EQ(CreateDirectoryW(path.c_str(), nullptr) != FALSE, c.createError == 0);
        if (c.createError)
            EXPECT_EQ(GetLastError(), DWORD(c.createError));
        else
            EXPECT_NE(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    }
    const std::string narrow = native_ + "/made";
    EXPECT_FALSE(PathFileExistsA(narrow.c_str()));
    EXPECT_TRUE(CreateDirectoryA(narrow.c_str(), nullptr));
    EXPECT_TRUE(PathFileExistsA(narrow.c_str()));
    EXPECT_FALSE(CreateDirectoryA(narrow.c_str(), nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
}

TEST_F(Files, FindFirstFile) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(At(L"fi?e.*").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(std::wstring(found.cFileName), L"file.txt");
    EXPECT_EQ(found.nFileSizeLow, 5u);
    EXPECT_EQ(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_TRUE(FindClose(search));

    search = FindFirstFileW(root_.c_str(), &found);  // the folder itself
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_NE(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_TRUE(FindClose(search));

    EXPECT_EQ(FindFirstFileW(At(L"*.doc").c_str(), &found), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(FindFirstFileW(At(L"none\\*").c_str(), &found), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
}

TEST(TempPath, TrailingBackslashAndSizeAsked) {
    char buffer[MAX_PATH] = {};
    const DWORD length = GetTempPathA(MAX_PATH, buffer);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, DWORD(MAX_PATH));
    EXPECT_EQ(buffer[length - 1], '\\');
    char small[2] = {};
    EXPECT_EQ(GetTempPathA(1, small), length + 1);
#if !defined(_WIN32)
    const char* saved = std::getenv("TMPDIR");
    const std::string previous = saved ? saved : "";
    for (const auto& [tmpdir, expected] : {std::pair<const char*, const char*>{nullptr, "\\tmp\\"},
                                           {"relative", "\\tmp\\"},  // only an absolute one counts
                                           {"/var/tmp/", "\\var\\tmp\\"},
                                           {"/", "\\"}}) {
        if (tmpdir)
            setenv("TMPDIR", tmpdir, 1);
        else
            unsetenv("TMPDIR");
        ASSERT_GT(GetTempPathA(MAX_PATH, buffer), 0u);
        EXPECT_STREQ(buffer, expected);
    }
    if (saved)
        setenv("TMPDIR", previous.c_str(), 1);
    else
        unsetenv("TMPDIR");
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
