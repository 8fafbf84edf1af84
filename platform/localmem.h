// Local memory blocks for non-Windows builds: what the Linux layer hands to a
// caller to release with LocalFree (SID texts, security descriptors).
#pragma once

#include "vidozir_wintypes.h"
#include "vidozir/export.h"

typedef HANDLE HLOCAL;

#define LMEM_FIXED 0x0000u
#define LMEM_ZEROINIT 0x0040u
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

// Only fixed blocks; null with ERROR_NOT_ENOUGH_MEMORY when none is left.
VIDOZIR_API HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
// Null on success (also for a null block).
VIDOZIR_API HLOCAL LocalFree(HLOCAL block);
