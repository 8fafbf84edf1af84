// The registry calls' limits the library relies on: the longest key name, a
// name's buffer with room for its terminator, a value's buffer of exactly its
// size. Held against the system's own answers on Windows.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32.h"
#include "support/test_support.h"

namespace {

const bool g_registry = vidozir_test::UseTempRegistry();

TEST(Registry, NamesAndBuffersHaveTheSystemsLimits) {
    const std::wstring path = L"VidozirTest\\Limits-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring longest(255, L'k');
    HKEY key, child;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (path + L"\\" + longest).c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &child, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(child);
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, &key), 0);
    // Windows refuses a name of 256 units (Wine takes 256 and refuses 257).
    const std::wstring tooLong = longest + (vidozir_test::IsWine() ? L"kk" : L"k");
    EXPECT_EQ(RegCreateKeyExW(key, tooLong.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child,
                              nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegOpenKeyExW(key, (L"\\" + longest).c_str(), 0, KEY_READ, &child),
              ERROR_BAD_PATHNAME);
    wchar_t name[256];
    DWORD length = 255, read = 0, size = 4;
    EXPECT_EQ(RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    length = 256;
    EXPECT_EQ(RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(length, 255u);
    const DWORD value = 0x01020304;
    ASSERT_EQ(RegSetValueExW(key, L"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4), 0);
    EXPECT_EQ(RegQueryValueExW(key, L"v", nullptr, nullptr, reinterpret_cast<BYTE*>(&read), &size),
              0);
    EXPECT_EQ(read, value);
    size = 3;
    EXPECT_EQ(RegQueryValueExW(key, L"v", nullptr, nullptr, reinterpret_cast<BYTE*>(&read), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(RegDeleteKeyW(key, longest.c_str()), 0);
    RegCloseKey(key);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str()), 0);
}

}  // namespace
