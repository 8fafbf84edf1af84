// Where things live: the application-data folder, the client's folder in it,
// the folders of the executable and of this library, the temporary folder.
#include "platform/win32.h"
#include "vidozir/diskutil.h"

namespace VidOzir {
namespace DiskUtil {

namespace {

// The shell's application-data folder, created if missing; false when the
// shell cannot say.
bool AppDataFolder(CLuStringW& folder) {
    wchar_t buffer[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr,
                                SHGFP_TYPE_CURRENT, buffer)))
        return false;
    folder = buffer;
    return true;
}

// Any object of this library: its address names the module that holds it,
// whether that is the library's own file or a program it is linked into.
const char kInThisModule = 0;

}  // namespace

CLuStringW GetAppdataPath() {
    CLuStringW folder;
    if (!AppDataFolder(folder))
        return CLuStringW();
    folder.Replace(L'/', L'\\');
    if (folder.IsEmpty() || folder[folder.GetLength() - 1] != L'\\')
        folder += L'\\';
    return folder;
}

CLuStringW GetUserAppDataPath() {
    CLuStringW folder;
    if (!AppDataFolder(folder))
        return CLuStringW();
    CLuStringW path(folder);
    const bool endsWithBackslash = !folder.IsEmpty() && folder[folder.GetLength() - 1] == L'\\';
    path.AppendFormat(endsWithBackslash ? L"Corvane\\%s\\" : L"\\Corvane\\%s\\", L"CirrelSync");
    return path;
}

CLuStringW GetModulePath(int ofExecutable) {
    HMODULE module = nullptr;
    if (!ofExecutable && !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                                 GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                             reinterpret_cast<LPCWSTR>(&kInThisModule), &module))
        return CLuStringW();
    wchar_t file[MAX_PATH] = {};
    if (GetModuleFileNameW(module, file, MAX_PATH) == 0)
        return CLuStringW();
    CLuStringW dir;
    GetFilePath(file, dir);
    return dir;
}

CLuStringW GetExeDir() {
    return GetModulePath(1);
}

std::string GetTempPathW() {
    char buffer[MAX_PATH] = {};
    const DWORD length = GetTempPathA(MAX_PATH, buffer);
    if (length == 0 || length >= MAX_PATH)
        return std::string();
    return std::string(buffer, length);
}

}  // namespace DiskUtil
}  // namespace VidOzir
