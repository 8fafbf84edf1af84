// File version resources for non-Windows builds: the version block of a PE
// file, read by the library's own PE reader.
#pragma once

#include "vidozir_wintypes.h"

#define ERROR_BAD_FORMAT 11L
#define ERROR_RESOURCE_DATA_NOT_FOUND 1812L
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813L

// The buffer size for the version block (the VS_VERSIONINFO resource) of the
// file: twice the block.
DWORD GetFileVersionInfoSizeW(LPCWSTR fileName, LPDWORD handle);
// Copies the block into the first half of `data` at most, zeros the rest.
BOOL GetFileVersionInfoW(LPCWSTR fileName, DWORD handle, DWORD length, LPVOID data);
// Looks up "\", "\VarFileInfo\Translation" or "\StringFileInfo\<lang><cp>\<name>"
// (keys compare without regard to ASCII case). Texts are UTF-16 units of 16
// bits, as on Windows: `length` counts them; other values count bytes.
BOOL VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, UINT* length);
