// The version file's path and GetCirrelResVersion over the fixture modules.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>

#include "platform/win32.h"
#include "support/fixtures.h"
#include "support/test_support.h"
#include "vidozir/diskutil.h"
#include "vidozir/version.h"

using namespace VidOzir;

namespace {

CLuStringW FixturePath(const std::string& name) {
    return vidozir_test::FixturePath("version_fixtures", name);
}

// The pieces come back in the order one, two, four, three ("pieces.dll" holds
// "10.-2.x3.40000beta"; "multi" a first translation without a file version).
// Refused, with the outputs left alone: one piece "1, 0, 0, 1" (commas), three
// or five pieces, a listed translation without its table (unlisted), no
// version resource (plain), no file. Damaged modules are the platform's
// reader's (tested there, and against the system on Windows).
TEST(GetCirrelResVersion, ReadsPiecesOneTwoFourThree) {
    const std::array<DWORD, 4> untouched = {11, 22, 33, 44};
    const std::pair<CLuStringW, std::array<DWORD, 4>> cases[] = {
        {FixturePath("basic.dll"), {1, 2, 4, 3}},
        {FixturePath("multi.exe"), {5, 6, 8, 7}},
        {FixturePath("pieces.dll"), {10, 4294967294u, 40000, 0}},
        {FixturePath("commas.dll"), untouched},
        {FixturePath("three.dll"), untouched},
        {FixturePath("five.dll"), untouched},
        {FixturePath("unlisted.dll"), untouched},
        {FixturePath("plain.dll"), untouched},
        {FixturePath("missing.dll"), untouched}};
    for (const auto& [path, expected] : cases) {
        SCOPED_TRACE(DiskUtil::Utf8FromWS(path).GetString());
        std::array<DWORD, 4> out = untouched;
        const int result = DiskUtil::GetCirrelResVersion(path, out[0], out[1], out[2], out[3]);
        EXPECT_EQ(result, expected == untouched ? 0 : 1);
        EXPECT_EQ(out, expected);
    }
}

// On Linux the application-data folder is made missing: only a path the shell
// was asked to create comes back; the client's folders in it are not made.
TEST(GetVersionFilePath, AppDataFollowedByTheClientFolders) {
#if !defined(_WIN32)
    const std::string data = vidozir_test::MakeTempDir("appdata") + "/data";
    ASSERT_EQ(setenv("XDG_DATA_HOME", data.c_str(), 1), 0);
    const CLuStringW folder(vidozir_test::WindowsForm(data).c_str());
#else
    wchar_t folder[MAX_PATH] = {};
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, folder)));
#endif
    EXPECT_EQ(DiskUtil::GetVersionFilePath(),
              CLuStringW(folder) + L"\\Corvane\\CirrelSync\\Version.ini");
#if !defined(_WIN32)
    EXPECT_FALSE(std::filesystem::exists(data + "/Corvane"));
#endif
}

}  // namespace
