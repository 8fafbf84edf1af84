// Module handles found from an address and module file names.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32.h"
#include "support/test_support.h"

namespace {

std::wstring WindowsForm(const std::string& native) {
    std::wstring path;
    for (char c : native)
        path += c == '/' ? L'\\' : wchar_t(static_cast<unsigned char>(c));
    return path;
}

const int kInThisProgram = 0;

TEST(Modules, ExecutableFromNullAndFromAnAddress) {
    wchar_t name[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, name, MAX_PATH);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(std::wstring(name, length), WindowsForm(vidozir_test::SelfPath()));

    HMODULE module = nullptr;
    ASSERT_TRUE(GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&kInThisProgram), &module));
    ASSERT_NE(module, nullptr);
    wchar_t viaHandle[MAX_PATH] = {};
    EXPECT_EQ(GetModuleFileNameW(module, viaHandle, MAX_PATH), length);
    EXPECT_EQ(std::wstring(viaHandle), std::wstring(name));
}

TEST(Modules, TooSmallABufferTruncates) {
    wchar_t name[4] = {L'?', L'?', L'?', L'?'};
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameW(nullptr, name, 4), 4u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    const std::wstring self = WindowsForm(vidozir_test::SelfPath());
    EXPECT_EQ(std::wstring(name, 3), self.substr(0, 3));
    VIDOZIR_SKIP_UNDER_WINE(
        "GetModuleFileNameW leaves a truncated name unterminated, as Windows XP did");
    EXPECT_EQ(name[3], L'\0');
}

}  // namespace
