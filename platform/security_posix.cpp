#include "platform/security.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/access_posix.h"
#include "platform/handles_posix.h"
#include "platform/kernel.h"

namespace {

class Token final : public vidozir::platform::KernelObject,
                    public vidozir::platform::GrantedAccess {
public:
    explicit Token(DWORD access) : GrantedAccess(access) {}
};

// A binary SID: revision 1, the count, the 48-bit authority (big-endian) and
// the sub-authorities (little-endian, as Windows keeps them).
std::vector<BYTE> Sid(BYTE authority, std::initializer_list<uint32_t> subs) {
    std::vector<BYTE> sid = {1, static_cast<BYTE>(subs.size()), 0, 0, 0, 0, 0, authority};
    for (uint32_t sub : subs) {
        for (int i = 0; i < 4; ++i) {
            sid.push_back(static_cast<BYTE>(sub >> (8 * i)));
        }
    }
    return sid;
}

// Privileges in the Windows table: name, identifier, and the Linux capability
// that stands for it (-1: none; `always` privileges every user holds).
struct Privilege {
    const char16_t* name;
    DWORD luid;
    int capability;
    bool always;
};
const Privilege kPrivileges[] = {
    {u"SeCreateTokenPrivilege", 2, -1, false},
    {u"SeAssignPrimaryTokenPrivilege", 3, -1, false},
    {u"SeLockMemoryPrivilege", 4, CAP_IPC_LOCK, false},
    {u"SeIncreaseQuotaPrivilege", 5, CAP_SYS_RESOURCE, false},
    {u"SeMachineAccountPrivilege", 6, -1, false},
    {u"SeTcbPrivilege", 7, CAP_SYS_ADMIN, false},
    {u"SeSecurityPrivilege", 8, CAP_AUDIT_CONTROL, false},
    {u"SeTakeOwnershipPrivilege", 9, CAP_CHOWN, false},
    {u"SeLoadDriverPrivilege", 10, CAP_SYS_MODULE, false},
    {u"SeSystemProfilePrivilege", 11, -1, false},
    {u"SeSystemtimePrivilege", 12, CAP_SYS_TIME, false},
    {u"SeProfileSingleProcessPrivilege", 13, -1, false},
    {u"SeIncreaseBasePriorityPrivilege", 14, CAP_SYS_NICE, false},
    {u"SeCreatePagefilePrivilege", 15, -1, false},
    {u"SeCreatePermanentPrivilege", 16, -1, false},
    {u"SeBackupPrivilege", 17, CAP_DAC_READ_SEARCH, false},
    {u"SeRestorePrivilege", 18, CAP_DAC_OVERRIDE, false},
    {u"SeShutdownPrivilege", 19, CAP_SYS_BOOT, false},
    {u"SeDebugPrivilege", 20, CAP_SYS_PTRACE, false},
    {u"SeAuditPrivilege", 21, CAP_AUDIT_WRITE, false},
    {u"SeSystemEnvironmentPrivilege", 22, -1, false},
    {u"SeChangeNotifyPrivilege", 23, -1, true},
    {u"SeRemoteShutdownPrivilege", 24, -1, false},
    {u"SeUndockPrivilege", 25, -1, false},
    {u"SeSyncAgentPrivilege", 26, -1, false},
    {u"SeEnableDelegationPrivilege", 27, -1, false},
    {u"SeManageVolumePrivilege", 28, -1, false},
    {u"SeImpersonatePrivilege", 29, CAP_SETUID, false},
    {u"SeCreateGlobalPrivilege", 30, -1, true},
    {u"SeTrustedCredManAccessPrivilege", 31, -1, false},
    {u"SeRelabelPrivilege", 32, CAP_FOWNER, false},
    {u"SeIncreaseWorkingSetPrivilege", 33, -1, true},
    {u"SeTimeZonePrivilege", 34, -1, true},
    {u"SeCreateSymbolicLinkPrivilege", 35, -1, true},
    {u"SeDelegateSessionUserImpersonatePrivilege", 36, -1, false},
};

wchar_t Upper(wchar_t c) {
    return c >= L'a' && c <= L'z' ? c - 32 : c;
}

const Privilege* FindPrivilege(LPCWSTR name) {
    for (const Privilege& entry : kPrivileges) {
        size_t i = 0;
        while (entry.name[i] != 0 && Upper(name[i]) == Upper(entry.name[i])) {
            ++i;
        }
        if (entry.name[i] == 0 && name[i] == 0) {
            return &entry;
        }
    }
    return nullptr;
}

struct Capabilities {
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
};

bool ReadCapabilities(Capabilities* caps) {
    return syscall(SYS_capget, &caps->header, caps->data) == 0;
}

// Sets or clears one effective capability; false when it is not permitted.
// Linux keeps capabilities per thread, so the change holds for the calling
// thread (and the threads it starts afterwards), not for the whole process.
bool SetEffective(Capabilities* caps, int capability, bool enable) {
    __u32 bit = 1u << (capability % 32);
    __user_cap_data_struct& word = caps->data[capability / 32];
    if ((word.permitted & bit) == 0) {
        return false;
    }
    word.effective = enable ? word.effective | bit : word.effective & ~bit;
    return true;
}

}  // namespace

BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
    if (token == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (process != GetCurrentProcess()) {
        SetLastError(ERROR_ACCESS_DENIED);  // other processes' tokens are not offered
        return FALSE;
    }
    *token = vidozir::platform::InsertHandle(std::make_shared<Token>(access));
    return *token != nullptr;
}

BOOL GetTokenInformation(HANDLE handle, TOKEN_INFORMATION_CLASS kind, void* buffer, DWORD length,
                         DWORD* returnLength) {
    if (!vidozir::platform::RequireAccess<Token>(handle, TOKEN_QUERY)) {
        return FALSE;
    }
    if (kind != TokenGroups || returnLength == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD session = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session)) {
        return FALSE;
    }
    std::vector<std::pair<std::vector<BYTE>, DWORD>> groups;
    const DWORD enabled = SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED;
    groups.emplace_back(Sid(1, {0}), enabled);
    int count = getgroups(0, nullptr);
    std::vector<gid_t> ids(count > 0 ? static_cast<size_t>(count) : 0u);
    count = getgroups(count, ids.data());
    ids.resize(count > 0 ? static_cast<size_t>(count) : 0u);
    ids.insert(ids.begin(), getegid());
    for (size_t i = 0; i < ids.size(); ++i) {
        if (std::find(ids.begin(), ids.begin() + i, ids[i]) == ids.begin() + i) {
            groups.emplace_back(Sid(22, {2, static_cast<uint32_t>(ids[i])}), enabled);
        }
    }
    groups.emplace_back(Sid(5, {5, 0, session}), enabled | SE_GROUP_LOGON_ID);

    size_t head = offsetof(TOKEN_GROUPS, Groups) + groups.size() * sizeof(SID_AND_ATTRIBUTES);
    size_t needed = head;
    for (const auto& group : groups) {
        needed += group.first.size();
    }
    *returnLength = static_cast<DWORD>(needed);
    if (buffer == nullptr || length < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* record = static_cast<TOKEN_GROUPS*>(buffer);
    record->GroupCount = static_cast<DWORD>(groups.size());
    BYTE* sids = static_cast<BYTE*>(buffer) + head;
    for (size_t i = 0; i < groups.size(); ++i) {
        std::memcpy(sids, groups[i].first.data(), groups[i].first.size());
        record->Groups[i].Sid = sids;
        record->Groups[i].Attributes = groups[i].second;
        sids += groups[i].first.size();
    }
    return TRUE;
}

BOOL LookupPrivilegeValueW(LPCWSTR systemName, LPCWSTR name, PLUID luid) {
    if (systemName != nullptr && *systemName != 0) {
        SetLastError(ERROR_NOT_SUPPORTED);  // remote systems are not asked
        return FALSE;
    }
    if (name == nullptr || luid == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const Privilege* privilege = FindPrivilege(name);
    if (privilege == nullptr) {
        SetLastError(ERROR_NO_SUCH_PRIVILEGE);
        return FALSE;
    }
    luid->LowPart = privilege->luid;
    luid->HighPart = 0;
    return TRUE;
}

BOOL AdjustTokenPrivileges(HANDLE handle, BOOL disableAll, PTOKEN_PRIVILEGES newState,
                           DWORD /*bufferLength*/, PTOKEN_PRIVILEGES previousState,
                           DWORD* /*returnLength*/) {
    if (!vidozir::platform::RequireAccess<Token>(handle, TOKEN_ADJUST_PRIVILEGES)) {
        return FALSE;
    }
    if (disableAll || newState == nullptr || previousState != nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    Capabilities caps;
    if (!ReadCapabilities(&caps)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    bool allHeld = true;
    bool changed = false;
    for (DWORD i = 0; i < newState->PrivilegeCount; ++i) {
        const LUID_AND_ATTRIBUTES& entry = newState->Privileges[i];
        const Privilege* privilege = nullptr;
        for (const Privilege& candidate : kPrivileges) {
            if (entry.Luid.HighPart == 0 && candidate.luid == entry.Luid.LowPart) {
                privilege = &candidate;
            }
        }
        if (privilege == nullptr || (!privilege->always && privilege->capability < 0)) {
            allHeld = false;
        } else if (privilege->capability >= 0) {
            bool enable = (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
            bool held = SetEffective(&caps, privilege->capability, enable);
            allHeld = allHeld && held;
            changed = changed || held;
        }
    }
    if (changed && syscall(SYS_capset, &caps.header, caps.data) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    SetLastError(allHeld ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
    return TRUE;
}
