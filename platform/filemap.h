// Named shared memory for non-Windows builds: file-mapping sections backed by
// POSIX shared memory objects, and named mutexes that are process-shared
// robust pthread mutexes, each in a shared memory object of its own.
//
// Names follow Windows: "Local\X" and "X" name the same object, "Global\X" a
// machine-wide one, and names are case-sensitive. A named object lives while
// some process holds a handle to it (or a view of it), as on Windows: the last
// holder to let go removes the name, and a name whose holders all died is
// taken as free.
#pragma once

#include "platform/kernel.h"

#define PAGE_READONLY 0x02u
#define PAGE_READWRITE 0x04u
#define FILE_MAP_WRITE 0x0002u
#define FILE_MAP_READ 0x0004u
#define FILE_MAP_ALL_ACCESS 0xF001Fu

#define ERROR_NOT_OWNER 288L
#define ERROR_INVALID_ADDRESS 487L
#define ERROR_MAPPED_ALIGNMENT 1132L

// Only sections on the paging file (file == INVALID_HANDLE_VALUE) exist here.
// A null or empty name makes an unnamed section. On success the last error is
// ERROR_ALREADY_EXISTS when an existing section was opened, else 0.
HANDLE CreateFileMappingW(HANDLE file, LPSECURITY_ATTRIBUTES attributes, DWORD protect,
                          DWORD maximumSizeHigh, DWORD maximumSizeLow, LPCWSTR name);
HANDLE OpenFileMappingW(DWORD access, BOOL inheritHandle, LPCWSTR name);
// The offset must be a multiple of the allocation granularity (64 KiB, as on
// Windows); bytes 0 maps from the offset to the end of the section. A view
// keeps its memory after the section's handles are closed (the name goes with
// the last handle, as on Windows).
LPVOID MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes);
BOOL UnmapViewOfFile(LPCVOID base);

// A mutex is owned by a thread and re-entrant for it; it is always created
// unowned (initialOwner must be FALSE). A wait whose previous
// owner ended (thread or process) without releasing it returns WAIT_ABANDONED
// and owns the mutex. A mutex can only be waited on alone (WaitForSingleObject,
// or WaitForMultipleObjects with one handle).
HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCWSTR name);
BOOL ReleaseMutex(HANDLE mutex);
