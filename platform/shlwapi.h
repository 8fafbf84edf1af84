// The light-weight shell's number parsing for non-Windows builds.
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
