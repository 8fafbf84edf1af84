// Module handles found from an address and module file names.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32.h"
#include "support/test_support.h"

namespace {

const int kInThisProgram = 0;

TEST(Modules, FileNamesOfTheExecutable) {
    const std::wstring self = vidozir_test::WindowsForm(vidozir_test::SelfPath());
    wchar_t name[MAX_PATH] = {}, viaHandle[MAX_PATH] = {};
    EXPECT_EQ(GetModuleFileNameW(nullptr, name, MAX_PATH), self.size());
    EXPECT_EQ(std::wstring(name), self);
    HMODULE module = nullptr;
    ASSERT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                       GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                   reinterpret_cast<LPCWSTR>(&kInThisProgram), &module) &&
                module != nullptr);
    EXPECT_EQ(GetModuleFileNameW(module, viaHandle, MAX_PATH), self.size());
    EXPECT_EQ(std::wstring(viaHandle), self);

    // Too small a buffer truncates.
    wchar_t small[4] = {L'?', L'?', L'?', L'?'};
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameW(nullptr, small, 4), 4u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::wstring(small, 3), self.substr(0, 3));
    VIDOZIR_SKIP_UNDER_WINE(
        "GetModuleFileNameW leaves a truncated name unterminated, as Windows XP did");
    EXPECT_EQ(small[3], L'\0');
}

}  // namespace
