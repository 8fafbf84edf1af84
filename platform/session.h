// Sessions and accounts for non-Windows builds: the session of a process, the
// user logged on to it, and that user's SID, S-1-22-1-<uid> (the Unix user
// SID convention).
//
// A process's session is its kernel audit login session when the kernel keeps
// one (/proc/<pid>/sessionid), else its POSIX session. The user logged on to
// an audit session is its login uid, which su, sudo and set-user-id programs
// leave as it was; the user of a POSIX session is the real user of its leader,
// or of the asking process when the leader is gone.
#pragma once

#include "vidozir_wintypes.h"

#define WTS_CURRENT_SERVER_HANDLE ((HANDLE) nullptr)
#define WTS_CURRENT_SESSION ((DWORD)-1)
#define ERROR_NONE_MAPPED 1332L
#define ERROR_INVALID_SID 1337L

typedef enum _WTS_INFO_CLASS {
    WTSInitialProgram,
    WTSApplicationName,
    WTSWorkingDirectory,
    WTSOEMId,
    WTSSessionId,
    WTSUserName,
    WTSWinStationName,
    WTSDomainName
} WTS_INFO_CLASS;

typedef enum _SID_NAME_USE { SidTypeUser = 1 } SID_NAME_USE, *PSID_NAME_USE;
typedef void* PSID;

BOOL ProcessIdToSessionId(DWORD processId, DWORD* sessionId);
// WTSUserName and WTSDomainName (the computer name) only, on the local server.
// A user without a name in the user database is named by the decimal uid.
// The buffer is released with WTSFreeMemory.
BOOL WTSQuerySessionInformationW(HANDLE server, DWORD sessionId, WTS_INFO_CLASS infoClass,
                                 LPWSTR* buffer, DWORD* bytes);
void WTSFreeMemory(void* memory);
// "user" or "<computer name>\user" on the local system (a null or empty system
// name); a decimal uid is taken for a user the database does not name.
// Sizes as on Windows: ERROR_INSUFFICIENT_BUFFER with the sizes needed.
BOOL LookupAccountNameW(LPCWSTR systemName, LPCWSTR accountName, PSID sid, LPDWORD sidSize,
                        LPWSTR domain, LPDWORD domainSize, PSID_NAME_USE use);
// The S-1-... form in a block to release with LocalFree.
BOOL ConvertSidToStringSidW(PSID sid, LPWSTR* text);
