// Privileges of the current process and the logon-session-only descriptor.
#include <cstdlib>
#include <cstring>

#include "platform/win32.h"
#include "vidozir/diskutil.h"

namespace VidOzir {
namespace DiskUtil {

DWORD SetPrivilege(const wchar_t* privilege, int enable) {
    const DWORD access = TOKEN_ADJUST_PRIVILEGES | TOKEN_ADJUST_GROUPS | TOKEN_ADJUST_DEFAULT |
                         TOKEN_QUERY | READ_CONTROL;  // 0x200E8
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), access, &token)) {
        return GetLastError();
    }
    TOKEN_PRIVILEGES state = {};
    state.PrivilegeCount = 1;
    state.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
    if (!LookupPrivilegeValueW(nullptr, privilege, &state.Privileges[0].Luid) ||
        !AdjustTokenPrivileges(token, FALSE, &state, 0, nullptr, nullptr)) {
        DWORD error = GetLastError();
        CloseHandle(token);
        return error;
    }
    // Closed on success too: nothing keeps the token, and leaving it open
    // would lose one handle per call.
    CloseHandle(token);
    return 0;
}

int GetLogonSessionOnlyDACL(SECURITY_DESCRIPTOR** out) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return 0;
    }
    int result = 0;
    DWORD size = 0;
    TOKEN_GROUPS* groups = nullptr;
    if (!GetTokenInformation(token, TokenGroups, nullptr, 0, &size) &&
        GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        groups = static_cast<TOKEN_GROUPS*>(std::calloc(1, size));
    }
    if (groups != nullptr && GetTokenInformation(token, TokenGroups, groups, size, &size) &&
        groups->GroupCount != 0) {
        for (DWORD i = 0; i < groups->GroupCount; ++i) {
            if ((groups->Groups[i].Attributes & SE_GROUP_LOGON_ID) != SE_GROUP_LOGON_ID) {
                continue;
            }
            LPWSTR sid = nullptr;
            if (ConvertSidToStringSidW(groups->Groups[i].Sid, &sid)) {
                CLuStringW text;
                text.Format(L"D:(A;OICI;GA;;;%s)", sid);
                LocalFree(sid);
                PSECURITY_DESCRIPTOR descriptor = nullptr;
                if (ConvertStringSecurityDescriptorToSecurityDescriptorW(
                        text.GetString(), SDDL_REVISION_1, &descriptor, nullptr)) {
                    *out = static_cast<SECURITY_DESCRIPTOR*>(descriptor);
                    result = 1;
                }
            }
            break;
        }
    }
    std::free(groups);
    CloseHandle(token);
    return result;
}

}  // namespace DiskUtil
}  // namespace VidOzir
