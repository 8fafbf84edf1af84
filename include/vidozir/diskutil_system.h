// VidOzir::DiskUtil: processes, shell, security and system queries, and
// conversions between file times and millisecond counts since 1970.
#pragma once

#include <list>
#include <string>

#include "vidozir/export.h"
#include "vidozir/lustring.h"
#include "vidozir_wintypes.h"

namespace VidOzir {
namespace DiskUtil {

// Processes by executable name (compared ignoring case); the calling process
// is never found. GetProcessHandle and KillProcess take only processes whose
// image is validly signed by a signer whose name holds "corvane" in any case.
VIDOZIR_API DWORD GetProcessId(CLuStringW name);  // 0 when there is none
// All access; the caller closes it. Null when there is none.
VIDOZIR_API HANDLE GetProcessHandle(CLuStringW name);
// Ends every such process, one at a time with a 50 ms pause after each.
VIDOZIR_API void KillProcess(const CLuStringW& name);

// Shell.
VIDOZIR_API void RunProgram(const CLuStringW& path);  // nothing when the path does not exist
VIDOZIR_API void OnFileInDefault(const CLuStringW& path);
VIDOZIR_API void OpenFolderAndSelectFile(const CLuStringW& path);
// `folder` followed directly by each entry's text from its last backslash on
// names an item to select.
VIDOZIR_API void OpenFolderAndSelectFiles(const wchar_t* folder, std::list<std::wstring>& files);

// Security and system.
// 0 on success (also for a privilege the process does not hold), otherwise
// the last error of the step that failed.
VIDOZIR_API DWORD SetPrivilege(const wchar_t* privilege, int enable);
// A descriptor whose DACL admits only the current logon session; the caller
// frees it with LocalFree. 1 on success, 0 otherwise.
VIDOZIR_API int GetLogonSessionOnlyDACL(SECURITY_DESCRIPTOR** out);
VIDOZIR_API int IsWow64();
VIDOZIR_API CLuStringW GetOSName();     // "Microsoft Windows <major>.<minor>"
VIDOZIR_API CLuStringW GetOSVersion();  // "<major>.<minor>"
VIDOZIR_API void GetComputeName(CLuStringW& out);

// File times (100 ns since 1601) and milliseconds since 1970, both UTC.
VIDOZIR_API FILETIME FileTimeToMilliseconds(const FILETIME& time);  // cut to whole ms
VIDOZIR_API long long FileTimeToUtc(const FILETIME& time);
VIDOZIR_API long long SystemTimeToUtc(const SYSTEMTIME& time);
// Counts below 0 give 1970-01-01, counts past 3001-01-01 07:59:59 that time.
VIDOZIR_API FILETIME UtcToFileTime(const long long& milliseconds);

}  // namespace DiskUtil
}  // namespace VidOzir
