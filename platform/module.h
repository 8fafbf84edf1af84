// Modules (the executable and shared objects) for non-Windows builds. A
// module handle is the address where the module's image starts, as on
// Windows; a null handle, or GetModuleHandleW(nullptr)'s, is the executable.
#pragma once

#include "vidozir_wintypes.h"

#define GET_MODULE_HANDLE_EX_FLAG_PIN 0x00000001u
#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x00000002u
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x00000004u

// Only with GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS: `name` is an address, and
// the module whose image holds it is the answer. Reference counts are not
// kept, so the other flags change nothing.
BOOL GetModuleHandleExW(DWORD flags, LPCWSTR name, HMODULE* module);
// The module's file as an absolute Windows-form path. Too small a buffer gets
// the truncated name with its terminator, `size` is returned and the last
// error is ERROR_INSUFFICIENT_BUFFER.
DWORD GetModuleFileNameW(HMODULE module, LPWSTR name, DWORD size);
