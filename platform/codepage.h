// Code page conversions for non-Windows builds: MultiByteToWideChar and
// WideCharToMultiByte on ICU converters, with the default-character report.
#pragma once

#include "vidozir_wintypes.h"

#define CP_ACP 0
#define CP_UTF7 65000
#define CP_UTF8 65001

#define MB_PRECOMPOSED 0x00000001u
#define MB_ERR_INVALID_CHARS 0x00000008u
#define WC_NO_BEST_FIT_CHARS 0x00000400u
#define WC_ERR_INVALID_CHARS 0x00000080u

#define ERROR_INVALID_FLAGS 1004L
#define ERROR_NO_UNICODE_TRANSLATION 1113L

typedef BOOL* LPBOOL;

// Wide text is UTF-16 code units, one per wchar_t. A length of -1 takes the
// source up to and including its terminating null; a destination size of 0
// asks for the size needed. Failures return 0 with the last error set as on
// Windows (ERROR_INVALID_PARAMETER for an unknown code page or bad arguments,
// ERROR_INSUFFICIENT_BUFFER, ERROR_NO_UNICODE_TRANSLATION with the "invalid
// characters" flags).
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceLength,
                        LPWSTR destination, int destinationLength);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source, int sourceLength,
                        LPSTR destination, int destinationLength, LPCSTR defaultChar,
                        LPBOOL usedDefaultChar);

// True when the code page can be converted here.
BOOL IsValidCodePage(UINT codePage);
