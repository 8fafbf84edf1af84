// The converter engine of the code-page layer: ICU converters, opened once
// per code page and thread and reset before each use, so a conversion opens
// nothing and shares nothing with other threads. The code-page calls
// (platform/codepage_posix.cpp) map code page numbers to ICU names.
#pragma once

#include <unicode/ucnv.h>

#include "vidozir_wintypes.h"

namespace vidozir::platform {

// The calling thread's converter for a code page, reset; nameOf gives the
// ICU converter name of a code page (null when there is none) the first
// time. Null when ICU cannot open it.
UConverter* ConverterFor(UINT codePage, const char* (*nameOf)(UINT));

}  // namespace vidozir::platform
