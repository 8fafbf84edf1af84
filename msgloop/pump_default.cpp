// The default pump: waits on an auto-reset event between tasks.
#include "vidozir/msgloop.h"

#include "msgloop/pump_wait.h"

namespace VidOzir {

CMessagePumpDefault::CMessagePumpDefault() : m_bQuit(0), m_event(0, 0), m_lSignaled(0) {}

CMessagePumpDefault::~CMessagePumpDefault() {}

// Unlike the other pumps this one needs no second DoWork (see pump_wait.h):
// its wake-up is taken only by the wait, and it waits only after a DoWork
// returned 0, which leaves the work queue empty, so the DoWork after any wait
// looks at the incoming queue.
void CMessagePumpDefault::Run(Delegate* delegate) {
    int didWork = delegate->DoWork();
    if (m_bQuit) {
        return;
    }
    for (;;) {
        didWork |= delegate->DoDelayedWork(&m_timeNextDelayed);
        if (m_bQuit) {
            return;
        }
        if (!didWork) {
            if (m_timeNextDelayed.IsNull()) {
                m_event.Wait();
            } else {
                const int wait = MillisecondsUntil(m_timeNextDelayed);
                if (wait > 0) {
                    m_event.TimedWait(wait);
                } else {
                    // Less than a millisecond left: poll until it is due.
                    m_timeNextDelayed = Time();
                }
            }
            // Lowered after the wait, before DoWork reads the incoming queue
            // (see RaiseWakeFlag).
            InterlockedExchange(&m_lSignaled, 0);
        }
        didWork = delegate->DoWork();
        if (m_bQuit) {
            return;
        }
    }
}

void CMessagePumpDefault::Quit() {
    m_bQuit = 1;
}

void CMessagePumpDefault::NotifyWork() {
    // A set event needs no second signal; the flag spares the posts that
    // find it set a call into the system.
    if (RaiseWakeFlag(&m_lSignaled)) {
        m_event.Signal();
    }
}

void CMessagePumpDefault::SetNextDelayedTime(const Time& time) {
    // Called from the loop's own thread inside DoWork: nothing is waiting.
    m_timeNextDelayed = time;
}

}  // namespace VidOzir
