// The application-data, client, module and temporary folders.
#include "diskutil_test.h"

static std::wstring FolderOf(const std::string& file) {
    const std::wstring path = vidozir_test::WindowsForm(file);
    return path.substr(0, path.rfind(L'\\'));
}

static void ExpectFolders(const std::wstring& appData) {
    EXPECT_EQ(W(GetAppdataPath()), appData);
    EXPECT_EQ(W(GetUserAppDataPath()), appData.empty() ? L"" : appData + L"Corvane\\CirrelSync\\");
}

TEST(Folders, AppDataAndTempPathEndWithOneBackslash) {
    char temp[MAX_PATH] = {};
    ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
    EXPECT_EQ(GetTempPathW(), temp);

    // The shell's folder has no separator at its end: the library adds one.
    wchar_t folder[MAX_PATH] = {};
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, folder),
              S_OK);
    ExpectFolders(std::wstring(folder) + L"\\");
#if !defined(_WIN32)
    // The folder is created when missing. At the root the one backslash
    // before Corvane is the root's own; when the shell cannot answer, both
    // are empty.
    const char* saved = std::getenv("XDG_DATA_HOME");
    const std::string previous = saved ? saved : "";
    const std::string missing = vidozir_test::MakeTempDir("appdata") + "/data";
    const std::pair<std::string, std::wstring> homes[] = {
        {missing, vidozir_test::WindowsForm(missing) + L"\\"},
        {"/", L"\\"},
        {"/" + std::string(300, 'x'), L""}};
    for (const auto& [home, appData] : homes) {
        ASSERT_EQ(setenv("XDG_DATA_HOME", home.c_str(), 1), 0);
        ExpectFolders(appData);
    }
    saved ? setenv("XDG_DATA_HOME", previous.c_str(), 1) : unsetenv("XDG_DATA_HOME");
#endif
}

// GetModulePath as this library's shared build answers it when loaded from a
// folder other than the test program's: from build/lib on Linux, from a copy
// in bin/module on Windows (see this folder's CMakeLists.txt). The test
// program may link the library statically or dynamically; the loaded copy is
// a module of its own either way.
TEST(Folders, ModulePathOfExecutableAndOfLibrary) {
    const char kSymbol[] = "_ZN7VidOzir8DiskUtil13GetModulePathEi";
    const std::wstring programFolder = FolderOf(vidozir_test::SelfPath());
    EXPECT_EQ(W(GetExeDir()), programFolder);
#if defined(_WIN32)
    const std::wstring libraryFolder = programFolder + L"\\module";
    HMODULE library = LoadLibraryW((libraryFolder + L"\\vidozir.dll").c_str());
    ASSERT_NE(library, nullptr) << GetLastError();
    auto modulePath = reinterpret_cast<CLuStringW (*)(int)>(GetProcAddress(library, kSymbol));
#else
    const std::wstring libraryFolder =
        FolderOf(std::filesystem::canonical(VIDOZIR_SHARED_LIBRARY).string());
    void* library = dlopen(VIDOZIR_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    auto modulePath = reinterpret_cast<CLuStringW (*)(int)>(dlsym(library, kSymbol));
#endif
    ASSERT_NE(modulePath, nullptr);
    ASSERT_NE(libraryFolder, programFolder);
    EXPECT_EQ(W(modulePath(0)), libraryFolder);
}
