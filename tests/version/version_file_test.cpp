// The version file's path and GetCirrelResVersion over the fixture modules.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <fstream>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "platform/win32.h"
#include "version/fixtures.h"
#include "vidozir/version.h"

using namespace VidOzir;
using version_test::FixturePath;

namespace {

struct Outputs {
    DWORD first = 11, second = 22, third = 33, fourth = 44;
    int Read(const CLuStringW& path) {
        return DiskUtil::GetCirrelResVersion(path.GetString(), first, second, third, fourth);
    }
    bool Untouched() const { return first == 11 && second == 22 && third == 33 && fourth == 44; }
};

TEST(GetCirrelResVersion, ReadsPiecesOneTwoFourThree) {
    const std::pair<const char*, std::array<DWORD, 4>> cases[] = {
        {"basic.dll", {1, 2, 4, 3}},
        {"basic32.dll", {1, 2, 4, 3}},
        {"multi.exe", {5, 6, 8, 7}},  // the first translation with a file version
        {"multi32.exe", {5, 6, 8, 7}},
        {"pieces.dll", {10, 4294967294u, 40000, 0}},  // "10.-2.x3.40000beta" as shell numbers
    };
    for (const auto& c : cases) {
        Outputs out;
        ASSERT_EQ(out.Read(FixturePath(c.first)), 1) << c.first;
        EXPECT_EQ((std::array<DWORD, 4>{out.first, out.second, out.third, out.fourth}), c.second)
            << c.first;
    }
}

TEST(GetCirrelResVersion, RefusesAndLeavesOutputsAlone) {
    const std::string temp = vidozir_test::MakeTempDir("resversion");
    std::ofstream(temp + "/text.dll") << "MZ but not a module at all";
    std::ofstream(temp + "/empty.dll");
    CLuStringW tempDir = DiskUtil::Utf8ToWS(CLuStringA(temp.c_str()));
#if defined(_WIN32)
    tempDir = DiskUtil::AnsiToUnicode(CLuStringA(temp.c_str()));
#endif
    const CLuStringW refused[] = {
        FixturePath("commas.dll"),    // "1, 0, 0, 1" is one piece
        FixturePath("three.dll"),     // three pieces
        FixturePath("unlisted.dll"),  // the listed translation has no table
        FixturePath("plain.dll"),     // no version resource
        FixturePath("missing.dll"),  tempDir + L"\\text.dll", tempDir + L"\\empty.dll",
    };
    for (const CLuStringW& path : refused) {
        Outputs out;
        EXPECT_EQ(out.Read(path), 0) << DiskUtil::Utf8FromWS(path).GetString();
        EXPECT_TRUE(out.Untouched());
    }
}

TEST(GetVersionFilePath, AppDataFollowedByTheClientFolders) {
#if !defined(_WIN32)
    const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    const std::string temp = vidozir_test::MakeTempDir("appdata");
    const std::string data = temp + "/data/home";
    ASSERT_EQ(setenv("XDG_DATA_HOME", (data + "/").c_str(), 1), 0);
    CLuStringW expected = DiskUtil::Utf8ToWS(CLuStringA(data.c_str()));
    expected.Replace(L'/', L'\\');
    EXPECT_EQ(DiskUtil::GetVersionFilePath(), expected + L"\\Corvane\\CirrelSync\\Version.ini");
    struct stat info;
    EXPECT_EQ(stat(data.c_str(), &info), 0);  // the folder itself is created, nothing inside
    EXPECT_NE(stat((data + "/Corvane").c_str(), &info), 0);

    // A relative XDG_DATA_HOME is ignored in favour of the home folder.
    ASSERT_EQ(setenv("XDG_DATA_HOME", "relative/dir", 1), 0);
    ASSERT_EQ(setenv("HOME", temp.c_str(), 1), 0);
    CLuStringW home = DiskUtil::Utf8ToWS(CLuStringA((temp + "/.local/share").c_str()));
    home.Replace(L'/', L'\\');
    EXPECT_EQ(DiskUtil::GetVersionFilePath(), home + L"\\Corvane\\CirrelSync\\Version.ini");
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(DiskUtil::GetVersionFilePath(), home + L"\\Corvane\\CirrelSync\\Version.ini");
    setenv("HOME", savedHome.c_str(), 1);
#else
    wchar_t folder[MAX_PATH] = {};
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, folder)));
    EXPECT_EQ(DiskUtil::GetVersionFilePath(),
              CLuStringW(folder) + L"\\Corvane\\CirrelSync\\Version.ini");
#endif
}

}  // namespace
