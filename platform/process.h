// Processes for non-Windows builds: snapshots of the process list from
// /proc, process handles over pidfds (waitable like any handle of this
// layer), ending a process, and a process's image path in Windows form.
#pragma once

#include "vidozir_wintypes.h"

#define TH32CS_SNAPPROCESS 0x00000002u
#define PROCESS_TERMINATE 0x0001u
#define PROCESS_VM_READ 0x0010u
#define PROCESS_QUERY_INFORMATION 0x0400u
#define SYNCHRONIZE 0x00100000u
#define PROCESS_ALL_ACCESS 0x001F0FFFu
#define ERROR_NO_MORE_FILES 18L
#define ERROR_BAD_LENGTH 24L

typedef BOOL* PBOOL;

// The Windows record's fields; the executable name is the file name of the
// process's image (its short kernel name where the image cannot be read, as
// for kernel threads).
typedef struct tagPROCESSENTRY32W {
    DWORD dwSize;
    DWORD cntUsage;
    DWORD th32ProcessID;
    ULONG_PTR th32DefaultHeapID;
    DWORD th32ModuleID;
    DWORD cntThreads;
    DWORD th32ParentProcessID;
    LONG pcPriClassBase;
    DWORD dwFlags;
    WCHAR szExeFile[260];
} PROCESSENTRY32W, *LPPROCESSENTRY32W;

// The pseudo handle of the calling process, as on Windows.
HANDLE GetCurrentProcess();
// TRUE in *wow64 for a 32-bit process on a 64-bit kernel, the Linux
// counterpart of 32-bit emulation. Only the calling process is asked.
BOOL IsWow64Process(HANDLE process, PBOOL wow64);

// TH32CS_SNAPPROCESS only: every process of /proc at the time of the call.
HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD processId);
BOOL Process32FirstW(HANDLE snapshot, LPPROCESSENTRY32W entry);
BOOL Process32NextW(HANDLE snapshot, LPPROCESSENTRY32W entry);

// A waitable handle, signalled when the process ends. ERROR_INVALID_PARAMETER
// when there is no such process; ERROR_ACCESS_DENIED when `access` asks for
// ending it (PROCESS_TERMINATE) and it may not be signalled, or for reading it
// (PROCESS_VM_READ, PROCESS_QUERY_INFORMATION) and its image cannot be read.
HANDLE OpenProcess(DWORD access, BOOL inheritHandle, DWORD processId);
// SIGKILL; the exit code is not passed on (a killed process has none).
BOOL TerminateProcess(HANDLE process, UINT exitCode);
// The image path of the process (`module` must be null) in Windows form;
// truncated to `size` units with the terminator. Returns the units copied.
DWORD GetModuleFileNameExW(HANDLE process, HMODULE module, LPWSTR name, DWORD size);

namespace vidozir::platform {
// A handle of a child process this layer started: the child is reaped when
// it ends, whether or not the handle is still open.
HANDLE ChildProcessHandle(int pid);
}  // namespace vidozir::platform
