// The DLL's COM entry points, found as Windows finds them: by plain name with
// GetProcAddress, and through regsvr32.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <string>

namespace {

HMODULE Library() {
    return LoadLibraryW(L"vidozir.dll");  // already loaded: the tests link it
}

template <class F>
F Entry(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(Library(), name)));
}

using Plain = HRESULT(STDAPICALLTYPE*)();
using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);

TEST(ComModule, EntryPointsOfAModuleWithoutClasses) {
    ASSERT_NE(Library(), nullptr);
    auto registerServer = Entry<Plain>("DllRegisterServer");
    auto unregisterServer = Entry<Plain>("DllUnregisterServer");
    auto canUnloadNow = Entry<Plain>("DllCanUnloadNow");
    auto getClassObject = Entry<GetClassObject>("DllGetClassObject");
    ASSERT_TRUE(registerServer && unregisterServer && canUnloadNow && getClassObject);

    EXPECT_EQ(registerServer(), S_OK);
    EXPECT_EQ(unregisterServer(), S_OK);
    EXPECT_EQ(canUnloadNow(), S_OK);  // nothing holds the module

    const CLSID anyClass = {0x12345678, 0x9abc, 0xdef0, {1, 2, 3, 4, 5, 6, 7, 8}};
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(getClassObject(anyClass, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(getClassObject(anyClass, IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(canUnloadNow(), S_OK);
}

DWORD SubkeyCount(const wchar_t* path) {
    HKEY key = nullptr;
    DWORD count = 0;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr);
        RegCloseKey(key);
    }
    return count;
}

// Exit code of "regsvr32 <flags> <the DLL>", or -1.
int RunRegsvr32(const std::wstring& flags) {
    wchar_t dll[MAX_PATH];
    GetModuleFileNameW(Library(), dll, MAX_PATH);
    std::wstring command = L"regsvr32.exe " + flags + L" \"" + dll + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return -1;
    }
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &code);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

TEST(ComModule, Regsvr32RegistersAndUnregistersNothingOfOurs) {
    const DWORD classes = SubkeyCount(L"CLSID");
    const DWORD typeLibraries = SubkeyCount(L"TypeLib");
    EXPECT_EQ(RunRegsvr32(L"/s"), 0);
    EXPECT_EQ(SubkeyCount(L"CLSID"), classes);
    EXPECT_EQ(SubkeyCount(L"TypeLib"), typeLibraries);
    EXPECT_EQ(RunRegsvr32(L"/u /s"), 0);
    EXPECT_EQ(SubkeyCount(L"CLSID"), classes);
}

}  // namespace
