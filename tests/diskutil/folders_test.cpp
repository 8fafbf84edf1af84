// The application-data, client, module and temporary folders.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/win32.h"
#include "support/test_support.h"
#include "vidozir/diskutil.h"

#if !defined(_WIN32)
#include <dlfcn.h>
#include <limits.h>
#endif

using namespace VidOzir::DiskUtil;

namespace {

std::wstring W(const CLuStringW& text) {
    return std::wstring(text.GetString(), size_t(text.GetLength()));
}

std::wstring WindowsForm(std::string native) {
    for (char& c : native) {
        if (c == '/')
            c = '\\';
    }
    return W(Utf8ToWS(CLuStringA(native.c_str())));
}

std::wstring FolderOf(const std::string& file) {
    const std::wstring path = WindowsForm(file);
    return path.substr(0, path.rfind(L'\\'));
}

void ExpectClientFolderOf(const CLuStringW& appData) {
    const std::wstring folder = W(appData);
    ASSERT_GE(folder.size(), 1u);
    EXPECT_EQ(folder.back(), L'\\');
    EXPECT_EQ(folder.find(L'/'), std::wstring::npos);
    if (folder.size() > 1)
        EXPECT_NE(folder[folder.size() - 2], L'\\');
    const std::wstring client = W(GetUserAppDataPath());
    EXPECT_EQ(client, folder + L"Corvane\\CirrelSync\\");
}

TEST(Folders, AppDataEndsWithOneBackslash) {
    ExpectClientFolderOf(GetAppdataPath());
}

#if !defined(_WIN32)
// The folder the shell stand-in answers, moved to a temporary tree and to the
// root, where the one backslash before Corvane is the root's own.
TEST(Folders, AppDataFollowsTheShellFolder) {
    const char* saved = std::getenv("XDG_DATA_HOME");
    const std::string previous = saved ? saved : "";
    const std::string data = vidozir_test::MakeTempDir("appdata") + "/data";
    ASSERT_EQ(setenv("XDG_DATA_HOME", (data + "//").c_str(), 1), 0);
    EXPECT_EQ(W(GetAppdataPath()), WindowsForm(data) + L"\\");
    ExpectClientFolderOf(GetAppdataPath());
    ASSERT_EQ(setenv("XDG_DATA_HOME", "/", 1), 0);
    EXPECT_EQ(W(GetAppdataPath()), L"\\");
    EXPECT_EQ(W(GetUserAppDataPath()), L"\\Corvane\\CirrelSync\\");
    ASSERT_EQ(setenv("XDG_DATA_HOME", ("/" + std::string(300, 'x')).c_str(), 1), 0);
    EXPECT_EQ(W(GetAppdataPath()), L"");  // the shell fails
    EXPECT_EQ(W(GetUserAppDataPath()), L"");
    if (saved)
        setenv("XDG_DATA_HOME", previous.c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");
}
#endif

TEST(Folders, TempPathKeepsTheTrailingBackslash) {
    char buffer[MAX_PATH] = {};
    const DWORD length = GetTempPathA(MAX_PATH, buffer);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(GetTempPathW(), std::string(buffer, length));
    EXPECT_EQ(GetTempPathW().back(), '\\');
}

// GetModulePath as this library's shared build answers it when loaded from a
// folder other than the test program's: from build/lib on Linux, from a copy
// in bin/module on Windows (see this folder's CMakeLists.txt). The test
// program may link the library statically or dynamically; the loaded copy is
// a module of its own either way.
using ModulePathFunction = CLuStringW (*)(int);
const char kModulePathSymbol[] = "_ZN7VidOzir8DiskUtil13GetModulePathEi";

TEST(Folders, ModulePathOfExecutableAndOfLibrary) {
    const std::wstring programFolder = FolderOf(vidozir_test::SelfPath());
    EXPECT_EQ(W(GetExeDir()), programFolder);
    EXPECT_EQ(W(GetModulePath(1)), programFolder);
    EXPECT_NE(W(GetModulePath(0)), L"");

#if defined(_WIN32)
    const std::wstring libraryFolder = programFolder + L"\\module";
    HMODULE library = LoadLibraryW((libraryFolder + L"\\vidozir.dll").c_str());
    ASSERT_NE(library, nullptr) << GetLastError();
    auto modulePath =
        reinterpret_cast<ModulePathFunction>(GetProcAddress(library, kModulePathSymbol));
#else
    char resolved[PATH_MAX];
    ASSERT_NE(realpath(VIDOZIR_SHARED_LIBRARY, resolved), nullptr);
    const std::wstring libraryFolder = FolderOf(resolved);
    void* library = dlopen(VIDOZIR_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    auto modulePath = reinterpret_cast<ModulePathFunction>(dlsym(library, kModulePathSymbol));
#endif
    ASSERT_NE(modulePath, nullptr);
    ASSERT_NE(libraryFolder, programFolder);
    EXPECT_EQ(W(modulePath(0)), libraryFolder);
    EXPECT_EQ(W(modulePath(1)), programFolder);
#if defined(_WIN32)
    FreeLibrary(library);
#else
    dlclose(library);
#endif
}

}  // namespace
