// The waiting time and the work step shared by the pumps.
#pragma once

#include <climits>

#include "vidozir/foundation.h"
#include "vidozir/msgloop.h"

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

// DoWork looks at the incoming queue only when its work queue is empty as the
// call begins; a call that merely moves delayed entries onto their heap
// returns 0 without having seen what was posted meanwhile. The I/O and UI
// pumps take their wake-up (a packet, a message) while the work queue may
// still hold such entries, so a single 0 would send them to sleep with a post
// unseen until the next timer. A 0 is trusted only from a call that began
// with an empty work queue, which the call after a 0 always is.
inline int DoWorkAfterWakeUp(CMessagePump::Delegate* delegate) {
    return delegate->DoWork() || delegate->DoWork() ? 1 : 0;
}

}  // namespace VidOzir
