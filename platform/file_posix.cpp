// Files and directories over the native file system, answering in the
// Windows form and with the Windows error codes.
#include "platform/file.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

#include "platform/path_posix.h"
#include "platform/win32.h"

namespace {

using vidozir::platform::NativePath;
using vidozir::platform::WindowsPath;

std::string NativeNarrow(const char* path) {
    std::string native(path);
    for (char& c : native) {
        if (c == '\\')
            c = '/';
    }
    return native;
}

// A missing entry is ERROR_FILE_NOT_FOUND when its folder exists and
// ERROR_PATH_NOT_FOUND when the folder is missing too, as Windows tells them
// apart.
bool ParentIsFolder(std::string native) {
    while (native.size() > 1 && native.back() == '/')
        native.pop_back();
    const size_t slash = native.rfind('/');
    const std::string parent =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : native.substr(0, slash));
    struct stat info;
    return stat(parent.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

DWORD ErrorFrom(int error, const std::string& native) {
    switch (error) {
        case ENOENT:
            return !native.empty() && ParentIsFolder(native) ? ERROR_FILE_NOT_FOUND
                                                             : ERROR_PATH_NOT_FOUND;
        case ENOTDIR:
        case ELOOP:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
            return ERROR_ACCESS_DENIED;
        case EEXIST:
            return ERROR_ALREADY_EXISTS;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case ENOSPC:
        case EDQUOT:
            return ERROR_DISK_FULL;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            return ERROR_GEN_FAILURE;
    }
}

template <typename Result>
Result Fail(DWORD error, Result result) {
    SetLastError(error);
    return result;
}

BOOL MakeFolder(const std::string& native) {
    if (native.empty())
        return Fail(ERROR_PATH_NOT_FOUND, FALSE);
    if (mkdir(native.c_str(), 0777) != 0)
        return Fail(ErrorFrom(errno, native), FALSE);
    return TRUE;
}

DWORD AttributesOf(const struct stat& info) {
    if (S_ISDIR(info.st_mode))
        return FILE_ATTRIBUTE_DIRECTORY;
    return (info.st_mode & S_IWUSR) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
}

FILETIME FileTimeOf(const struct timespec& time) {
    // 100-nanosecond steps since 1601-01-01, the FILETIME epoch.
    const ULONGLONG ticks =
        (ULONGLONG(time.tv_sec) + 11644473600ull) * 10000000ull + ULONGLONG(time.tv_nsec) / 100;
    return FILETIME{DWORD(ticks), DWORD(ticks >> 32)};
}

void Describe(const std::string& name, const struct stat& info, WIN32_FIND_DATAW& found) {
    std::memset(&found, 0, sizeof found);
    found.dwFileAttributes = AttributesOf(info);
    found.ftCreationTime = FileTimeOf(info.st_ctim);
    found.ftLastAccessTime = FileTimeOf(info.st_atim);
    found.ftLastWriteTime = FileTimeOf(info.st_mtim);
    if (!S_ISDIR(info.st_mode)) {
        found.nFileSizeHigh = DWORD(ULONGLONG(info.st_size) >> 32);
        found.nFileSizeLow = DWORD(info.st_size);
    }
    const std::wstring wide = WindowsPath(name);
    const size_t length = wide.size() < MAX_PATH ? wide.size() : MAX_PATH - 1;
    wide.copy(found.cFileName, length);
}

// "*" any run of units, "?" exactly one; backtracks only to the last "*".
bool Matches(const std::wstring& pattern, const std::wstring& name) {
    if (pattern == L"*.*")
        return true;
    size_t p = 0, n = 0, star = std::wstring::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == L'?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == L'*') {
            star = p++;
            resume = n;
        } else if (star != std::wstring::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*')
        ++p;
    return p == pattern.size();
}

// Search handles only live between FindFirstFileW and FindClose; the set
// lets a stale or doubled FindClose fail instead of freeing twice.
struct Search {};
std::mutex g_searchesLock;
std::set<Search*> g_searches;

HANDLE NewSearch() {
    Search* search = new Search;
    std::lock_guard<std::mutex> hold(g_searchesLock);
    g_searches.insert(search);
    return search;
}

bool FindInFolder(const std::string& folder, const std::string& pattern, WIN32_FIND_DATAW& found) {
    DIR* entries = opendir(folder.c_str());
    if (!entries) {
        const int error = errno;  // a folder that is missing is a path not found
        return Fail(error == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFrom(error, folder), false);
    }
    const std::wstring widePattern = WindowsPath(pattern);
    bool matched = false;
    while (const struct dirent* entry = readdir(entries)) {
        struct stat info;
        if (Matches(widePattern, WindowsPath(entry->d_name)) &&
            fstatat(dirfd(entries), entry->d_name, &info, 0) == 0) {
            Describe(entry->d_name, info, found);
            matched = true;
            break;
        }
    }
    closedir(entries);
    return matched || Fail(ERROR_FILE_NOT_FOUND, false);
}

}  // namespace

BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES) {
    std::string native;
    if (!NativePath(path, native))
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    return MakeFolder(native);
}

BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES) {
    if (!path)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    return MakeFolder(NativeNarrow(path));
}

BOOL PathFileExistsA(LPCSTR path) {
    if (!path)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    const std::string native = NativeNarrow(path);
    struct stat info;
    if (native.empty())
        return Fail(ERROR_PATH_NOT_FOUND, FALSE);
    if (stat(native.c_str(), &info) != 0)
        return Fail(ErrorFrom(errno, native), FALSE);
    return TRUE;
}

DWORD GetFileAttributesW(LPCWSTR path) {
    std::string native;
    if (!NativePath(path, native))
        return Fail(ERROR_INVALID_PARAMETER, INVALID_FILE_ATTRIBUTES);
    if (native.empty())
        return Fail(ERROR_PATH_NOT_FOUND, INVALID_FILE_ATTRIBUTES);
    struct stat info;
    if (stat(native.c_str(), &info) != 0)
        return Fail(ErrorFrom(errno, native), INVALID_FILE_ATTRIBUTES);
    return AttributesOf(info);
}

HANDLE FindFirstFileW(LPCWSTR path, LPWIN32_FIND_DATAW found) {
    std::string native;
    if (!NativePath(path, native) || !found)
        return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    const size_t slash = native.rfind('/');
    const std::string last = slash == std::string::npos ? native : native.substr(slash + 1);
    // Like Windows, a search for nothing (an empty path or one that ends with
    // a separator) finds nothing.
    if (last.empty())
        return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    if (last.find_first_of("*?") == std::string::npos) {
        struct stat info;
        if (stat(native.c_str(), &info) != 0)
            return Fail(ErrorFrom(errno, native), INVALID_HANDLE_VALUE);
        Describe(last, info, *found);
        return NewSearch();
    }
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : native.substr(0, slash));
    if (!FindInFolder(folder, last, *found))
        return INVALID_HANDLE_VALUE;
    return NewSearch();
}

BOOL FindClose(HANDLE search) {
    Search* object = static_cast<Search*>(search);
    {
        std::lock_guard<std::mutex> hold(g_searchesLock);
        if (g_searches.erase(object) == 0)
            return Fail(ERROR_INVALID_HANDLE, FALSE);
    }
    delete object;
    return TRUE;
}

DWORD GetTempPathA(DWORD size, LPSTR buffer) {
    const char* tmp = std::getenv("TMPDIR");
    std::string path = tmp && tmp[0] == '/' ? tmp : "/tmp";
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    if (path.back() != '\\')
        path += '\\';
    if (!buffer || path.size() + 1 > size)
        return DWORD(path.size() + 1);
    path.copy(buffer, path.size());
    buffer[path.size()] = 0;
    return DWORD(path.size());
}

FILE* _wfopen(const wchar_t* name, const wchar_t* mode) {
    std::string native;
    if (!vidozir::platform::NativePath(name, native) || native.empty()) {
        errno = ENOENT;
        return nullptr;
    }
    // Modes are ASCII ("rb", "wb", "a+", ...).
    std::string narrowMode;
    for (const wchar_t* p = mode; p && *p; ++p) {
        if (*p > 0x7F) {
            errno = EINVAL;
            return nullptr;
        }
        narrowMode += static_cast<char>(*p);
    }
    if (narrowMode.empty()) {
        errno = EINVAL;
        return nullptr;
    }
    return std::fopen(native.c_str(), narrowMode.c_str());
}
