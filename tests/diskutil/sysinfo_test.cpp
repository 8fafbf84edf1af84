// Version texts, the computer name and 32-bit emulation as the system reports them.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32.h"
#include "vidozir/diskutil.h"

using namespace VidOzir::DiskUtil;

TEST(SystemQueries, AsTheSystemAnswers) {
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    ASSERT_TRUE(GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info)));
    const std::wstring version =
        std::to_wstring(info.dwMajorVersion) + L"." + std::to_wstring(info.dwMinorVersion);
    EXPECT_EQ(std::wstring(GetOSVersion()), version);
    EXPECT_EQ(std::wstring(GetOSName()), L"Microsoft Windows " + version);
#if !defined(_WIN32)
    EXPECT_EQ(version, L"10.0");  // Linux takes the modern paths
#endif

    // The computer name is the system's, which is at most 15 characters.
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    ASSERT_TRUE(GetComputerNameW(name, &size));
    CLuStringW out = L"stale";
    GetComputeName(out);
    EXPECT_EQ(std::wstring(out), std::wstring(name));
    EXPECT_TRUE(out.GetLength() > 0 && out.GetLength() <= 15);

    // Only a 32-bit program on a 64-bit system is emulated.
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_EQ(IsWow64(), sizeof(void*) == 8 ? 0 : wow64 ? 1 : 0);
}
