// Version texts, the computer name and 32-bit emulation as the system reports them.
#include "diskutil_test.h"

TEST(SystemQueries, AsTheSystemAnswers) {
    OSVERSIONINFOW info = {sizeof(info)};
    ASSERT_TRUE(GetVersionExW(&info));
    const std::wstring version =
        std::to_wstring(info.dwMajorVersion) + L"." + std::to_wstring(info.dwMinorVersion);
    EXPECT_EQ(std::wstring(GetOSVersion()), version);
    EXPECT_EQ(std::wstring(GetOSName()), L"Microsoft Windows " + version);
#if !defined(_WIN32)
    EXPECT_EQ(version, L"10.0");  // Linux takes the modern paths
#endif

    // The computer name is the system's (replacing what `out` held).
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    ASSERT_TRUE(GetComputerNameW(name, &size));
    CLuStringW out = L"stale";
    GetComputeName(out);
    EXPECT_EQ(std::wstring(out), std::wstring(name));

    // Only a 32-bit program on a 64-bit system is emulated.
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_EQ(IsWow64(), sizeof(void*) == 8 ? 0 : wow64 ? 1 : 0);
}
