// Local memory blocks for non-Windows builds: what the Linux layer hands to a
// caller to release with LocalFree (SID texts, security descriptors).
#pragma once

#include "vidozir_wincalls.h"
#include "vidozir_wintypes.h"

#define LMEM_FIXED 0x0000u
#define LMEM_ZEROINIT 0x0040u
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

// Only fixed blocks; null with ERROR_NOT_ENOUGH_MEMORY when none is left.
HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
// LocalFree, part of the Linux interface, is declared in vidozir_wincalls.h.
