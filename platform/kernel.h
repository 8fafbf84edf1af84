// Kernel objects for non-Windows builds: handles, events, waits, critical
// sections, threads, thread-local slots, interlocked operations, time.
#pragma once

#include "vidozir_wintypes.h"
#include "vidozir/export.h"

// Exported so the tests (and the library's Linux users) reach the same layer.

#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED_0 0x00000080u
#define WAIT_ABANDONED WAIT_ABANDONED_0
#define WAIT_IO_COMPLETION 0x000000C0u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64
#define STILL_ACTIVE 259u
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define TLS_OUT_OF_INDEXES 0xFFFFFFFFu

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_TIMEOUT 1460L

typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID);

VIDOZIR_API DWORD GetLastError();
VIDOZIR_API void SetLastError(DWORD error);

VIDOZIR_API BOOL CloseHandle(HANDLE handle);

VIDOZIR_API HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset,
                                BOOL initialState, LPCWSTR name);
VIDOZIR_API BOOL SetEvent(HANDLE event);
VIDOZIR_API BOOL ResetEvent(HANDLE event);

VIDOZIR_API DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
VIDOZIR_API DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                         DWORD milliseconds);

VIDOZIR_API void InitializeCriticalSection(LPCRITICAL_SECTION section);
VIDOZIR_API void DeleteCriticalSection(LPCRITICAL_SECTION section);
VIDOZIR_API void EnterCriticalSection(LPCRITICAL_SECTION section);
VIDOZIR_API BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section);
VIDOZIR_API void LeaveCriticalSection(LPCRITICAL_SECTION section);

VIDOZIR_API HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                                LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
                                LPDWORD threadId);
VIDOZIR_API DWORD GetCurrentThreadId();
VIDOZIR_API DWORD GetThreadId(HANDLE thread);
VIDOZIR_API DWORD GetCurrentProcessId();
VIDOZIR_API BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
VIDOZIR_API void Sleep(DWORD milliseconds);

VIDOZIR_API DWORD TlsAlloc();
VIDOZIR_API BOOL TlsFree(DWORD index);
VIDOZIR_API LPVOID TlsGetValue(DWORD index);
VIDOZIR_API BOOL TlsSetValue(DWORD index, LPVOID value);

VIDOZIR_API LONG InterlockedIncrement(LONG volatile* target);
VIDOZIR_API LONG InterlockedDecrement(LONG volatile* target);
VIDOZIR_API LONG InterlockedExchange(LONG volatile* target, LONG value);
VIDOZIR_API LONG InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand);

VIDOZIR_API void GetSystemTimeAsFileTime(LPFILETIME time);
VIDOZIR_API DWORD GetTickCount();
VIDOZIR_API ULONGLONG GetTickCount64();
