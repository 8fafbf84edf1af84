// Files and directories for non-Windows builds: Windows-form paths (either
// separator) over the native file system, failing with the Windows error
// codes (ERROR_FILE_NOT_FOUND when only the last part is missing,
// ERROR_PATH_NOT_FOUND when a folder on the way is, ERROR_ACCESS_DENIED,
// ERROR_ALREADY_EXISTS, ...). Narrow paths are bytes in the process's narrow
// code page, handed to the system as they are.
#pragma once

#include <cstdio>

#include "vidozir_wintypes.h"

#define MAX_PATH 260
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u

#define ERROR_INVALID_NAME 123L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_DISK_FULL 112L
#define ERROR_GEN_FAILURE 31L

typedef struct _WIN32_FIND_DATAW {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    WCHAR cFileName[MAX_PATH];
    WCHAR cAlternateFileName[14];
} WIN32_FIND_DATAW, *LPWIN32_FIND_DATAW;

// The security attributes are not used: folders get the process's default
// permissions, as with a null argument on Windows.
BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes);
BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES attributes);
BOOL PathFileExistsA(LPCSTR path);
// FILE_ATTRIBUTE_DIRECTORY for folders, FILE_ATTRIBUTE_NORMAL for other
// files, FILE_ATTRIBUTE_READONLY where the owner may not write.
DWORD GetFileAttributesW(LPCWSTR path);
// The first entry of a folder whose name matches the last part of `path`,
// where "*" stands for any run of characters and "?" for one ("*.*" matches
// every name); "." and ".." are entries too. A last part without wildcards
// finds that entry itself. Names match case-sensitively, as the file system
// stores them. The handle only serves FindClose.
HANDLE FindFirstFileW(LPCWSTR path, LPWIN32_FIND_DATAW found);
BOOL FindClose(HANDLE search);
// $TMPDIR when it is an absolute path, else /tmp, in Windows form with a
// trailing backslash. Returns the length without the terminator, or the size
// needed (with it) when `size` is too small.
DWORD GetTempPathA(DWORD size, LPSTR buffer);
// The C runtime's _wfopen: fopen of the name's native form; a null or empty
// name or mode fails with errno ENOENT (name) or EINVAL (mode), as the C
// runtime of Windows does.
FILE* _wfopen(const wchar_t* name, const wchar_t* mode);
