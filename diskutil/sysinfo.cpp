// Small questions about the system: 32-bit emulation, version texts, the
// computer's name.
#include "platform/win32.h"
#include "vidozir/diskutil.h"

namespace VidOzir {
namespace DiskUtil {

namespace {

OSVERSIONINFOEXW ExtendedVersion() {
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    // A failure leaves the numbers at 0 and 0, as the texts then show.
    GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info));
    return info;
}

}  // namespace

int IsWow64() {
    BOOL wow64 = FALSE;
#if defined(_WIN32)
    typedef BOOL(WINAPI * IsWow64Fn)(HANDLE, PBOOL);
    HMODULE kernel = GetModuleHandleW(L"kernel32");
    auto isWow64 = kernel != nullptr ? reinterpret_cast<IsWow64Fn>(reinterpret_cast<void*>(
                                           GetProcAddress(kernel, "IsWow64Process")))
                                     : nullptr;
#else
    // The Linux layer always has the call, so there is nothing to look up.
    auto isWow64 = &IsWow64Process;
#endif
    if (isWow64 == nullptr || !isWow64(GetCurrentProcess(), &wow64)) {
        return 0;
    }
    return wow64 ? 1 : 0;
}

CLuStringW GetOSName() {
    OSVERSIONINFOEXW info = ExtendedVersion();
    CLuStringW name;
    name.Format(L"Microsoft Windows %d.%d", static_cast<int>(info.dwMajorVersion),
                static_cast<int>(info.dwMinorVersion));
    return name;
}

CLuStringW GetOSVersion() {
    OSVERSIONINFOEXW info = ExtendedVersion();
    CLuStringW version;
    version.Format(L"%d.%d", static_cast<int>(info.dwMajorVersion),
                   static_cast<int>(info.dwMinorVersion));
    return version;
}

void GetComputeName(CLuStringW& out) {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    // A name that cannot be read empties `out`: the caller gets no stale text.
    if (!GetComputerNameW(name, &size)) {
        name[0] = 0;
    }
    out = name;
}

}  // namespace DiskUtil
}  // namespace VidOzir
