// Finding and ending the client's own processes by executable name.
#include "platform/win32.h"
#include "vidozir/diskutil.h"
#include "vidozir/trust.h"

#if defined(_WIN32)
#include <psapi.h>
#include <tlhelp32.h>
#endif

namespace VidOzir {
namespace DiskUtil {

namespace {

// Older systems of the legacy family list full paths: the name must end the
// path, right after a backslash. Elsewhere the executable names are compared.
bool NameMatches(const PROCESSENTRY32W& entry, const CLuStringW& name) {
    const DWORD version = GetVersion();
    if ((version & 0x80000000u) != 0 && (version & 0xFF) == 4) {
        const CLuStringW path(entry.szExeFile);
        const int at = path.Find(name.GetString());
        return at > 0 && at + name.GetLength() == path.GetLength() && path[at - 1] == L'\\';
    }
    return CLuStringW(entry.szExeFile).CompareNoCase(name.GetString()) == 0;
}

// Calls `match(entry)` for every other process whose name matches, in
// snapshot order, until it returns true.
template <class Match>
void WalkMatches(const CLuStringW& name, Match match) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return;
    }
    const DWORD self = GetCurrentProcessId();
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID != self && NameMatches(entry, name) && match(entry)) {
            break;
        }
    }
    CloseHandle(snapshot);
}

// The maker check: the image is validly signed, and its signer's name holds
// "corvane" in any case.
bool IsMakersProcess(HANDLE process) {
    wchar_t image[260] = {};
    if (GetModuleFileNameExW(process, nullptr, image, 259) == 0 || !CheckFileTrust(image)) {
        return false;
    }
    wchar_t signer[1024] = {};
    FetchSignatureInfo(image, signer, 1023);
    CLuStringW lower(signer);
    lower.MakeLower();
    return lower.Find(L"corvane") >= 0;
}

// The first matching process of the maker, opened with all access; null when none.
HANDLE OpenMakersProcess(const CLuStringW& name) {
    HANDLE found = nullptr;
    WalkMatches(name, [&found](const PROCESSENTRY32W& entry) {
        HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, entry.th32ProcessID);
        if (process != nullptr && IsMakersProcess(process)) {
            found = process;
            return true;
        }
        if (process != nullptr) {
            CloseHandle(process);
        }
        return false;
    });
    return found;
}

}  // namespace

DWORD GetProcessId(CLuStringW name) {
    DWORD id = 0;
    WalkMatches(name, [&id](const PROCESSENTRY32W& entry) {
        id = entry.th32ProcessID;
        return true;
    });
    return id;
}

HANDLE GetProcessHandle(CLuStringW name) {
    return OpenMakersProcess(name);
}

void KillProcess(const CLuStringW& name) {
    // Each pass ends one process. A process that survives TerminateProcess
    // would be found in every pass, so the passes stop at 256: far more than
    // the client ever runs at once, and about 13 s of pauses at most.
    for (int pass = 0; pass < 256; ++pass) {
        HANDLE process = OpenMakersProcess(name);
        if (process == nullptr) {
            return;
        }
        TerminateProcess(process, 0);
        CloseHandle(process);
        Sleep(50);
    }
}

}  // namespace DiskUtil
}  // namespace VidOzir
