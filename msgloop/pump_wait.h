// The waiting time and the work step shared by the pumps.
#pragma once

#include <climits>

#include "vidozir/foundation.h"
#include "platform/win32.h"
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
// The pumps send at most one wake-up at a time: a flag, raised by the post
// that sends it and lowered by the loop's thread when it takes the wake-up,
// before it looks at the incoming queue. A post that finds the flag raised
// needs nothing more: the loop has yet to take that wake-up, so it will look
// at the queue after this post's entry is in it. Reading before exchanging
// keeps the many posts that find it raised from writing its cache line.
inline bool RaiseWakeFlag(volatile LONG* flag) {
#if defined(_MSC_VER)
    const LONG raised = *flag;  // a volatile read acquires under MSVC
#else
    const LONG raised = __atomic_load_n(flag, __ATOMIC_SEQ_CST);
#endif
    return raised == 0 && InterlockedExchange(flag, 1) == 0;
}

inline int DoWorkAfterWakeUp(CMessagePump::Delegate* delegate) {
    return delegate->DoWork() || delegate->DoWork() ? 1 : 0;
}

}  // namespace VidOzir
