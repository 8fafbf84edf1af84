// The application-data folder as the shell gives it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/win32.h"
#include "support/test_support.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace {

std::wstring AppData(int flags, HRESULT* result) {
    wchar_t path[MAX_PATH] = {};
    *result = SHGetFolderPathW(nullptr, CSIDL_APPDATA | flags, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

TEST(Shell, AppDataHasNoTrailingSeparator) {
    HRESULT result = E_FAIL;
    const std::wstring path = AppData(CSIDL_FLAG_CREATE, &result);
    ASSERT_EQ(result, S_OK);
    ASSERT_FALSE(path.empty());
    EXPECT_NE(path.back(), L'\\');
    EXPECT_EQ(path.find(L'/'), std::wstring::npos);
}

#if !defined(_WIN32)
struct Environment {
    Environment() {
        for (const char* name : {"XDG_DATA_HOME", "HOME"}) {
            const char* value = std::getenv(name);
            saved.emplace_back(name, value ? value : "");
        }
    }
    ~Environment() {
        for (auto& entry : saved)
            setenv(entry.first.c_str(), entry.second.c_str(), 1);
    }
    std::vector<std::pair<std::string, std::string>> saved;
};

using vidozir_test::WindowsForm;

TEST(Shell, XdgDataHomeThenHome) {
    Environment restore;
    const std::string temp = vidozir_test::MakeTempDir("shell");
    HRESULT result = S_OK;

    setenv("XDG_DATA_HOME", (temp + "/xdg//").c_str(), 1);
    EXPECT_EQ(AppData(0, &result), L"");  // missing, not asked to create
    EXPECT_EQ(result, E_FAIL);
    EXPECT_EQ(AppData(CSIDL_FLAG_CREATE, &result), WindowsForm(temp + "/xdg"));
    EXPECT_EQ(result, S_OK);
    struct stat info;
    EXPECT_EQ(stat((temp + "/xdg").c_str(), &info), 0);
    EXPECT_EQ(AppData(0, &result), WindowsForm(temp + "/xdg"));

    unsetenv("XDG_DATA_HOME");
    setenv("HOME", (temp + "/home").c_str(), 1);
    EXPECT_EQ(AppData(CSIDL_FLAG_CREATE, &result), WindowsForm(temp + "/home/.local/share"));
    setenv("XDG_DATA_HOME", "", 1);  // empty counts as unset
    EXPECT_EQ(AppData(0, &result), WindowsForm(temp + "/home/.local/share"));
    setenv("XDG_DATA_HOME", "relative/dir", 1);  // so does a relative one
    EXPECT_EQ(AppData(0, &result), WindowsForm(temp + "/home/.local/share"));

    // Only the application-data folder is answered, and only in MAX_PATH.
    wchar_t path[MAX_PATH];
    EXPECT_EQ(SHGetFolderPathW(nullptr, 0x0005, nullptr, 0, path), E_INVALIDARG);
    setenv("XDG_DATA_HOME", ("/" + std::string(300, 'x')).c_str(), 1);
    EXPECT_TRUE(FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, path)));
}
#endif

}  // namespace
