// Handing files and folders to the shell.
#include <cwchar>

#include "diskutil/shell_select.h"
#include "platform/win32.h"
#include "vidozir/diskutil.h"

namespace VidOzir {
namespace DiskUtil {

void RunProgram(const CLuStringW& path) {
    if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) {
        ShellExecuteW(nullptr, nullptr, path, nullptr, nullptr, SW_SHOW);
    }
}

void OnFileInDefault(const CLuStringW& path) {
    ShellExecuteW(nullptr, L"open", path, nullptr, nullptr, SW_SHOW);
}

void OpenFolderAndSelectFile(const CLuStringW& path) {
    CLuStringW folder;
    CLuStringW name;
    GetFilePathAndNameWithoutSlash(path, folder, name);
    std::list<std::wstring> files(1, std::wstring(name.GetString()));
    OpenFolderAndSelectFiles(folder, files);
}

void OpenFolderAndSelectFiles(const wchar_t* folder, std::list<std::wstring>& files) {
    std::vector<std::wstring> names;
    for (const std::wstring& file : files) {
        wchar_t entry[MAX_PATH] = {};
        file.copy(entry, MAX_PATH - 1);
        const wchar_t* slash = std::wcsrchr(entry, L'\\');
        names.emplace_back(slash != nullptr ? slash : entry);
    }
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    if (GetVersionExW(&version) &&
        version.dwMajorVersion * 65536 + version.dwMinorVersion >= 0x50001) {
        if (!names.empty()) {
            SelectInFolder(folder, names);
        }
        return;
    }
    // Older systems: Explorer selects the first file only.
    if (!names.empty()) {
        CLuStringW parameters;
        parameters.Format(L"/select,%s%s", folder, names.front().c_str());
        ShellExecuteW(nullptr, L"open", L"explorer.exe", parameters, nullptr, SW_SHOWNORMAL);
    }
}

}  // namespace DiskUtil
}  // namespace VidOzir
