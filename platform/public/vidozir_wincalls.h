// The Win32 calls that the library's interface makes its callers use: closing
// the process handle that GetProcessHandle returns, creating the stop event of
// a launch, freeing a security descriptor that the library allocated. On
// Windows they are the system's own; the Linux build exports its stand-ins of
// these (and only these) from libvidozir.so.
#pragma once

#include "vidozir_wintypes.h"

#if !defined(_WIN32)
#include "vidozir/export.h"

VIDOZIR_API BOOL CloseHandle(HANDLE handle);
VIDOZIR_API HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset,
                                BOOL initialState, LPCWSTR name);
// Frees a block of LocalAlloc; null is allowed. Returns null on success, the
// block itself when it fails.
VIDOZIR_API HLOCAL LocalFree(HLOCAL block);
#endif
