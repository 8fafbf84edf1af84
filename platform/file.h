// Files opened by Windows-form name for non-Windows builds: the C runtime's
// _wfopen over the path boundary (UTF-16 name, either separator).
#pragma once

#include <cstdio>

#include "vidozir/export.h"

// fopen of the name's native form; a null or empty name or mode fails with
// errno ENOENT (name) or EINVAL (mode), as the C runtime of Windows does.
VIDOZIR_API FILE* _wfopen(const wchar_t* name, const wchar_t* mode);
