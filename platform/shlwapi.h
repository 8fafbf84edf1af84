// The light-weight shell's number parsing for non-Windows builds.
#pragma once

#include "vidozir_wintypes.h"
#include "vidozir/export.h"

#define STIF_DEFAULT 0x00000000u
#define STIF_SUPPORT_HEX 0x00000001u

// Optional sign, then decimal digits up to the first other character; no
// digits gives 0. Values beyond 32 bits wrap.
VIDOZIR_API int StrToIntW(LPCWSTR text);
VIDOZIR_API int StrToIntA(LPCSTR text);

// Leading white space, an optional sign, then decimal digits (or "0x" and hex
// digits with STIF_SUPPORT_HEX). FALSE, with *result 0, when no digit follows.
VIDOZIR_API BOOL StrToInt64ExW(LPCWSTR text, DWORD flags, LONGLONG* result);
VIDOZIR_API BOOL StrToInt64ExA(LPCSTR text, DWORD flags, LONGLONG* result);
