#include "platform/sysinfo.h"

#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/kernel.h"

BOOL GetVersionExW(LPOSVERSIONINFOW info) {
    if (info == nullptr || (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW) &&
                            info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOEXW))) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    DWORD size = info->dwOSVersionInfoSize;
    std::memset(info, 0, size);
    info->dwOSVersionInfoSize = size;
    info->dwMajorVersion = 10;
    info->dwMinorVersion = 0;
    info->dwBuildNumber = 19045;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    return TRUE;
}

DWORD GetVersion() {
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    GetVersionExW(&info);
    return info.dwMajorVersion | info.dwMinorVersion << 8 | (info.dwBuildNumber & 0x7FFF) << 16;
}

BOOL GetComputerNameW(LPWSTR buffer, LPDWORD size) {
    if (size == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Read once, as Windows reads the computer name once at start-up: a new
    // name counts from the next start.
    static const std::string name = [] {
        char host[256] = {};
        if (gethostname(host, sizeof(host) - 1) != 0) {
            std::strcpy(host, "LOCALHOST");
        }
        return std::string(host);
    }();
    const char* host = name.c_str();
    size_t length = 0;
    while (length < MAX_COMPUTERNAME_LENGTH && host[length] != 0 && host[length] != '.') {
        ++length;
    }
    if (buffer == nullptr || *size < length + 1) {
        *size = static_cast<DWORD>(length + 1);
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return FALSE;
    }
    for (size_t i = 0; i < length; ++i) {
        char c = host[i];
        buffer[i] = static_cast<wchar_t>(c >= 'a' && c <= 'z' ? c - 32 : c);
    }
    buffer[length] = 0;
    *size = static_cast<DWORD>(length);
    return TRUE;
}

static_assert(sizeof(OSVERSIONINFOW) == 276 && sizeof(OSVERSIONINFOEXW) == 284,
              "the version records have the sizes of Windows");
