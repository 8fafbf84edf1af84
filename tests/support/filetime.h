// A FILETIME as its 64-bit count of 100-nanosecond ticks since 1601, and back.
#pragma once

#include "platform/win32.h"

namespace vidozir_test {

inline FILETIME Ft(unsigned long long ticks) {
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}
inline unsigned long long Ticks(const FILETIME& time) {
    return static_cast<unsigned long long>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

}  // namespace vidozir_test
