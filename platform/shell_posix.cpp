// SHGetFolderPathW for the one special folder the library asks for.
#include "platform/shell.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/path_posix.h"

namespace {

// $XDG_DATA_HOME when absolute (the base-directory rules ignore relative
// values), else the home folder's .local/share.
std::string AppDataFolder() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/')
        return xdg;
    std::string home;
    if (const char* value = std::getenv("HOME"); value && value[0] == '/') {
        home = value;
    } else {
        struct passwd entry;
        struct passwd* found = nullptr;
        char buffer[4096];
        if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found &&
            found->pw_dir && found->pw_dir[0] == '/')
            home = found->pw_dir;
    }
    if (home.empty())
        return home;
    if (home.back() != '/')
        home += '/';
    return home + ".local/share";
}

bool MakeFolders(const std::string& folder) {
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            return true;
    }
}

}  // namespace

HRESULT SHGetFolderPathW(HWND, int folder, HANDLE, DWORD, LPWSTR path) {
    if (!path || (folder & ~CSIDL_FLAG_CREATE) != CSIDL_APPDATA)
        return E_INVALIDARG;
    std::string native = AppDataFolder();
    if (native.empty())
        return E_FAIL;
    // Like the shell's answer, no trailing separator (the root stays "\").
    while (native.size() > 1 && native.back() == '/')
        native.pop_back();
    struct stat info;
    if (stat(native.c_str(), &info) != 0) {
        if (!(folder & CSIDL_FLAG_CREATE) || !MakeFolders(native))
            return E_FAIL;
    } else if (!S_ISDIR(info.st_mode)) {
        return E_FAIL;
    }
    const std::wstring windows = vidozir::platform::WindowsPath(native);
    if (windows.empty() || windows.size() >= MAX_PATH)
        return E_FAIL;
    for (size_t i = 0; i < windows.size(); ++i)
        path[i] = windows[i];
    path[windows.size()] = 0;
    return S_OK;
}
