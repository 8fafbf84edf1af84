// The light-weight shell's number parsing and path joining for non-Windows
// builds.
#pragma once

#include "vidozir_wintypes.h"

#define STIF_DEFAULT 0x00000000u
#define STIF_SUPPORT_HEX 0x00000001u

// Optional sign, then decimal digits up to the first other character; no
// digits gives 0. Values beyond 32 bits wrap.
int StrToIntW(LPCWSTR text);
int StrToIntA(LPCSTR text);

// Leading white space, an optional sign, then decimal digits (or "0x" and hex
// digits with STIF_SUPPORT_HEX). FALSE, with *result 0, when no digit follows.
BOOL StrToInt64ExW(LPCWSTR text, DWORD flags, LONGLONG* result);
BOOL StrToInt64ExA(LPCSTR text, DWORD flags, LONGLONG* result);

// Joins a folder and a name with one backslash and resolves "." and ".."
// parts into `dest` (at least MAX_PATH units): a name that is absolute (a
// drive, or "\\" for a share) is taken as it is, one that starts with a
// single backslash goes below the folder's root ("C:\" or "\"). ".." never
// climbs above the root. A null or empty side gives the other one alone; an
// empty result is "\". Null, with `dest` emptied, when both are null or the
// joined text has MAX_PATH units or more.
LPWSTR PathCombineW(LPWSTR dest, LPCWSTR dir, LPCWSTR file);
