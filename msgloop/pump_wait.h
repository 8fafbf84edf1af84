// The waiting time shared by the pumps.
#pragma once

#include <climits>

#include "vidozir/foundation.h"

namespace VidOzir {

// Milliseconds from now until `due`, truncated toward zero and limited to the
// range of int; negative when the time has passed.
inline int MillisecondsUntil(const Time& due) {
    const long long delta = (due.GetValue() - Time::Now().GetValue()) / 1000;
    if (delta > INT_MAX) {
        return INT_MAX;
    }
    return delta < INT_MIN ? INT_MIN : static_cast<int>(delta);
}

}  // namespace VidOzir
