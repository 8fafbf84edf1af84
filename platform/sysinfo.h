// System version and computer name for non-Windows builds.
#pragma once

#include "vidozir_wintypes.h"

#define VER_PLATFORM_WIN32_NT 2u
#define MAX_COMPUTERNAME_LENGTH 15
#define ERROR_BUFFER_OVERFLOW 111L

// The service-pack texts are UTF-16 units of 16 bits, so the records have the
// sizes of Windows: 276 and 284 bytes.
typedef struct _OSVERSIONINFOW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    char16_t szCSDVersion[128];
} OSVERSIONINFOW, *LPOSVERSIONINFOW;

// The extended record adds its fields after the plain one's.
typedef struct _OSVERSIONINFOEXW : OSVERSIONINFOW {
    WORD wServicePackMajor;
    WORD wServicePackMinor;
    WORD wSuiteMask;
    BYTE wProductType;
    BYTE wReserved;
} OSVERSIONINFOEXW, *LPOSVERSIONINFOEXW;

// Answers as Windows 10 (10.0), the system whose behaviour this layer follows;
// ERROR_INSUFFICIENT_BUFFER unless the size field is 276 or 284.
BOOL GetVersionExW(LPOSVERSIONINFOW info);
// The host name up to its first dot, upper-cased and cut to 15 characters,
// like a NetBIOS computer name. *size counts characters: on entry the
// buffer's, on success the name's, on ERROR_BUFFER_OVERFLOW the size needed.
BOOL GetComputerNameW(LPWSTR buffer, LPDWORD size);
