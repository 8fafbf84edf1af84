// Creating directories and asking whether files and folders exist.
#include "platform/win32.h"
#include "vidozir/diskutil.h"

namespace VidOzir {
namespace DiskUtil {

int CreateAllDirectory(const CLuStringW& path) {
    if (path.IsEmpty())
        return 0;
    // Every step is tried; only the last one's result and the thread's last
    // error after the walk decide.
    BOOL created = FALSE;
    for (int at = path.Find(L'\\'); at >= 0; at = path.Find(L'\\', at + 1))
        created = CreateDirectoryW(path.Left(at).GetString(), nullptr);
    if (path[path.GetLength() - 1] != L'\\')
        created = CreateDirectoryW(path.GetString(), nullptr);
    if (GetLastError() == ERROR_ALREADY_EXISTS)
        return 1;
    return created;
}

bool CreateDir(const std::string& path) {
    if (PathFileExistsA(path.c_str()))
        return true;
    const size_t first = path.find('\\');
    if (first == std::string::npos)
        return false;
    if (!PathFileExistsA(path.substr(0, first + 1).c_str()))
        return false;
    for (size_t at = path.find('\\', first + 1); at != std::string::npos;
         at = path.find('\\', at + 1)) {
        const std::string part = path.substr(0, at);
        if (!PathFileExistsA(part.c_str()) && !CreateDirectoryA(part.c_str(), nullptr))
            return false;
    }
    if (!PathFileExistsA(path.c_str()))
        return CreateDirectoryA(path.c_str(), nullptr) != FALSE;
    return true;
}

int CheckDirectoryExist(CLuStringW path) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(path.GetString(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    FindClose(search);
    return 1;
}

int IsFileExist(const CLuStringW& path, int* isFolder) {
    const DWORD attributes = GetFileAttributesW(path.GetString());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return 0;
    if (isFolder)
        *isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
    return 1;
}

int IsFileExist2(const CLuStringW& path) {
    if (GetFileAttributesW(path.GetString()) != INVALID_FILE_ATTRIBUTES)
        return 1;
    return GetLastError() == ERROR_ACCESS_DENIED ? 1 : 0;
}

int IsFolder(const CLuStringW& path) {
    int folder = 0;
    return IsFileExist(path, &folder) && folder;
}

}  // namespace DiskUtil
}  // namespace VidOzir
