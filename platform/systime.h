// Calendar conversions for non-Windows builds: the system-time record to a
// file time, and the runtime's 64-bit UTC break-down.
#pragma once

#include <time.h>

#include "vidozir_wintypes.h"

typedef int64_t __time64_t;

// Fails with ERROR_INVALID_PARAMETER for a field out of range (years 1601 to
// 30827, days of the month as the calendar has them, milliseconds up to 999);
// the day of the week is ignored.
BOOL SystemTimeToFileTime(const SYSTEMTIME* time, LPFILETIME fileTime);
// 0, or EINVAL with *out filled with -1 for a time outside 1970-01-01 00:00:00
// to 3001-01-01 07:59:59 UTC, the range of the Microsoft runtime.
int _gmtime64_s(struct tm* out, const __time64_t* time);
