// The version file's path and GetCirrelResVersion over the fixture modules.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <fstream>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "platform/win32.h"
#include "support/fixtures.h"
#include "support/test_support.h"
#include "vidozir/diskutil.h"
#include "vidozir/version.h"

using namespace VidOzir;

namespace {

CLuStringW Windows(const std::string& native) {
    return CLuStringW(vidozir_test::WindowsForm(native).c_str());
}
CLuStringW FixturePath(const std::string& name) {
    return vidozir_test::FixturePath("version_fixtures", name);
}

// The pieces come back in the order one, two, four, three ("pieces.dll" holds
// "10.-2.x3.40000beta"; "multi" a first translation without a file version).
// Refused, with the outputs left alone: one piece "1, 0, 0, 1" (commas), three
// pieces, a listed translation without its table (unlisted), no version
// resource (plain), no file, no module, an empty file.
TEST(GetCirrelResVersion, ReadsPiecesOneTwoFourThree) {
    const std::string temp = vidozir_test::MakeTempDir("resversion");
    std::ofstream(temp + "/text.dll") << "MZ but not a module at all";
    std::ofstream(temp + "/empty.dll");
    const std::array<DWORD, 4> untouched = {11, 22, 33, 44};
    const std::pair<CLuStringW, std::array<DWORD, 4>> cases[] = {
        {FixturePath("basic.dll"), {1, 2, 4, 3}},
        {FixturePath("basic32.dll"), {1, 2, 4, 3}},
        {FixturePath("multi.exe"), {5, 6, 8, 7}},
        {FixturePath("multi32.exe"), {5, 6, 8, 7}},
        {FixturePath("pieces.dll"), {10, 4294967294u, 40000, 0}},
        {FixturePath("commas.dll"), untouched},
        {FixturePath("three.dll"), untouched},
        {FixturePath("unlisted.dll"), untouched},
        {FixturePath("plain.dll"), untouched},
        {FixturePath("missing.dll"), untouched},
        {Windows(temp + "/text.dll"), untouched},
        {Windows(temp + "/empty.dll"), untouched}};
    for (const auto& [path, expected] : cases) {
        SCOPED_TRACE(DiskUtil::Utf8FromWS(path).GetString());
        std::array<DWORD, 4> out = untouched;
        const int result = DiskUtil::GetCirrelResVersion(path, out[0], out[1], out[2], out[3]);
        EXPECT_EQ(result, expected == untouched ? 0 : 1);
        EXPECT_EQ(out, expected);
    }
}

TEST(GetVersionFilePath, AppDataFollowedByTheClientFolders) {
    const CLuStringW tail = L"\\Corvane\\CirrelSync\\Version.ini";
#if !defined(_WIN32)
    const std::string home = std::getenv("HOME"), temp = vidozir_test::MakeTempDir("appdata"),
                      data = temp + "/data/home";
    ASSERT_EQ(setenv("XDG_DATA_HOME", (data + "/").c_str(), 1), 0);
    EXPECT_EQ(DiskUtil::GetVersionFilePath(), Windows(data) + tail);
    struct stat info;
    EXPECT_EQ(stat(data.c_str(), &info), 0);  // the folder itself is created, nothing inside
    EXPECT_NE(stat((data + "/Corvane").c_str(), &info), 0);
    // A relative XDG_DATA_HOME is ignored in favour of the home folder, as is none.
    const CLuStringW local = Windows(temp + "/.local/share") + tail;
    ASSERT_EQ(setenv("HOME", temp.c_str(), 1), 0);
    ASSERT_EQ(setenv("XDG_DATA_HOME", "relative/dir", 1), 0);
    EXPECT_EQ(DiskUtil::GetVersionFilePath(), local);
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(DiskUtil::GetVersionFilePath(), local);
    setenv("HOME", home.c_str(), 1);
#else
    wchar_t folder[MAX_PATH] = {};
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, folder)));
    EXPECT_EQ(DiskUtil::GetVersionFilePath(), CLuStringW(folder) + tail);
#endif
}

}  // namespace
