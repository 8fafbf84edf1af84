#include "platform/win32.h"
#include "vidozir/foundation.h"

namespace VidOzir {

CLock::CLock() {
    InitializeCriticalSection(&m_cs);
}
CLock::~CLock() {
    DeleteCriticalSection(&m_cs);
}
void CLock::Lock() {
    EnterCriticalSection(&m_cs);
}
void CLock::Unlock() {
    LeaveCriticalSection(&m_cs);
}

CWaitableEvent::CWaitableEvent(int manualReset, int initiallySignaled)
    : m_hEvent(CreateEventW(nullptr, manualReset != 0, initiallySignaled != 0, nullptr)) {}

CWaitableEvent::~CWaitableEvent() {
    if (m_hEvent != nullptr) {
        CloseHandle(m_hEvent);
    }
}

void CWaitableEvent::Signal() {
    SetEvent(m_hEvent);
}
void CWaitableEvent::Reset() {
    ResetEvent(m_hEvent);
}

int CWaitableEvent::Wait() {
    return m_hEvent != nullptr && WaitForSingleObject(m_hEvent, INFINITE) == WAIT_OBJECT_0 ? 1 : 0;
}

int CWaitableEvent::TimedWait(int milliseconds) {
    // A negative time-out would mean "forever" to the system; treat it as 0.
    DWORD limit = milliseconds < 0 ? 0 : static_cast<DWORD>(milliseconds);
    return m_hEvent != nullptr && WaitForSingleObject(m_hEvent, limit) == WAIT_OBJECT_0 ? 1 : 0;
}

}  // namespace VidOzir
