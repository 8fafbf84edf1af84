// Starting programs and opening documents for non-Windows builds.
//
// An executable file (an ELF program or a script with "#!", with execute
// permission) is started directly with posix_spawn, its parameters split as
// Windows splits a command line. Documents, folders and URLs go to xdg-open,
// found through PATH; that hand-off counts as the launch, so it gives no
// process handle (as a launch that Windows hands to a running program). A
// path that does not exist fails with ERROR_FILE_NOT_FOUND, or
// ERROR_PATH_NOT_FOUND when a folder on its way is missing.
#pragma once

#include "vidozir_wintypes.h"

#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_NORMAL 1
#define SW_SHOW 5
#define SEE_MASK_NOCLOSEPROCESS 0x00000040u
#define SE_ERR_FNF 2
#define SE_ERR_PNF 3
#define SE_ERR_ACCESSDENIED 5
#define ERROR_NO_ASSOCIATION 1155L

typedef struct _SHELLEXECUTEINFOW {
    DWORD cbSize;
    ULONG fMask;
    HWND hwnd;
    LPCWSTR lpVerb;
    LPCWSTR lpFile;
    LPCWSTR lpParameters;
    LPCWSTR lpDirectory;
    int nShow;
    HINSTANCE hInstApp;
    void* lpIDList;
    LPCWSTR lpClass;
    HKEY hkeyClass;
    DWORD dwHotKey;
    HANDLE hIcon;
    HANDLE hProcess;
} SHELLEXECUTEINFOW, *LPSHELLEXECUTEINFOW;

// Only the default verb (null) and "open". Values above 32 are success.
HINSTANCE ShellExecuteW(HWND window, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters,
                        LPCWSTR directory, int show);
// hProcess is the started program's handle when fMask has
// SEE_MASK_NOCLOSEPROCESS and a program was started directly; null otherwise.
BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info);
