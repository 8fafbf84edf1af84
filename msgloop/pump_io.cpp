// The I/O pump: waits on a completion port, which carries both the wake-up
// packets of posted work and the completions of overlapped I/O on the
// handles registered with it; completions are dispatched on the loop's thread.
#include "vidozir/msgloop.h"

#include "msgloop/pump_wait.h"
#include "platform/win32.h"

namespace VidOzir {

namespace {
const unsigned long kIdleWaitMilliseconds = 100;
}

CMessagePumpIO::IOHandler::~IOHandler() {}

CMessagePumpIO::CMessagePumpIO() : m_bQuit(0), m_hPort(nullptr), m_lHaveWork(0) {
    m_hPort = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
}

CMessagePumpIO::~CMessagePumpIO() {
    // Saved completions are dropped; their contexts belong to their callers.
    if (m_hPort != nullptr) {
        CloseHandle(m_hPort);
    }
}

void CMessagePumpIO::Run(Delegate* delegate) {
    int didWork = DoWorkAfterWakeUp(delegate);
    if (m_bQuit) {
        return;
    }
    for (;;) {
        int more = WaitForIOCompletion(0, nullptr);
        if (m_bQuit) {
            return;
        }
        more |= delegate->DoDelayedWork(&m_timeNextDelayed);
        if (m_bQuit) {
            return;
        }
        if (!didWork && !more) {
            unsigned long wait = kIdleWaitMilliseconds;
            if (!m_timeNextDelayed.IsNull()) {
                const int until = MillisecondsUntil(m_timeNextDelayed);
                wait = until > 0 ? static_cast<unsigned long>(until) : 0;
            }
            WaitForIOCompletion(wait, nullptr);
        }
        didWork = DoWorkAfterWakeUp(delegate);
        if (m_bQuit) {
            return;
        }
    }
}

void CMessagePumpIO::Quit() {
    m_bQuit = 1;
}

void CMessagePumpIO::NotifyWork() {
    // At most one wake-up packet is queued; its dequeue clears the flag.
    if (RaiseWakeFlag(&m_lHaveWork)) {
        PostQueuedCompletionStatus(m_hPort, 0, reinterpret_cast<ULONG_PTR>(this),
                                   reinterpret_cast<LPOVERLAPPED>(this));
    }
}

void CMessagePumpIO::SetNextDelayedTime(const Time& time) {
    m_timeNextDelayed = time;
}

void CMessagePumpIO::RegisterIOHandler(void* file, IOHandler* handler) {
    CreateIoCompletionPort(file, m_hPort, reinterpret_cast<ULONG_PTR>(handler), 1);
}

bool CMessagePumpIO::TakeSavedItem(IOHandler* filter, CompletionItem* item) {
    for (auto it = m_savedItems.begin(); it != m_savedItems.end(); ++it) {
        if (filter == nullptr || it->m_pHandler == filter) {
            *item = *it;
            m_savedItems.erase(it);
            return true;
        }
    }
    return false;
}

int CMessagePumpIO::WaitForIOCompletion(unsigned long milliseconds, IOHandler* filter) {
    CompletionItem item = {};
    if (m_savedItems.empty() || !TakeSavedItem(filter, &item)) {
        DWORD bytes = 0;
        ULONG_PTR key = 0;
        LPOVERLAPPED overlapped = nullptr;
        if (GetQueuedCompletionStatus(m_hPort, &bytes, &key, &overlapped,
                                      static_cast<DWORD>(milliseconds))) {
            item.m_dwBytes = bytes;
        } else {
            if (overlapped == nullptr) {
                return 0;  // nothing arrived
            }
            item.m_dwError = GetLastError();
        }
        item.m_pHandler = reinterpret_cast<IOHandler*>(key);
        item.m_pContext = reinterpret_cast<CompletionContext*>(overlapped);
        if (key == reinterpret_cast<ULONG_PTR>(this) &&
            overlapped == reinterpret_cast<LPOVERLAPPED>(this)) {
            InterlockedExchange(&m_lHaveWork, 0);
            return 1;
        }
    }
    if (item.m_pContext == nullptr) {
        // A packet posted without an OVERLAPPED: only its handler can know it.
        if (item.m_pHandler != nullptr && (filter == nullptr || item.m_pHandler == filter)) {
            item.m_pHandler->HandleCompletion(nullptr, item.m_dwBytes, item.m_dwError);
        } else if (item.m_pHandler != nullptr) {
            m_savedItems.push_back(item);
        }
        return 1;
    }
    if (item.m_pContext->m_pHandler == nullptr) {
        delete item.m_pContext;  // abandoned by its caller
        return 1;
    }
    if (filter != nullptr && item.m_pHandler != filter) {
        m_savedItems.push_back(item);
        return 1;
    }
    item.m_pHandler->HandleCompletion(item.m_pContext, item.m_dwBytes, item.m_dwError);
    return 1;
}

CMessageLoopIO::CMessageLoopIO() : CMessageLoop(TYPE_IO) {}

CMessageLoopIO* CMessageLoopIO::Current() {
    return static_cast<CMessageLoopIO*>(CMessageLoop::Current());
}

void CMessageLoopIO::RegisterIOHandler(void* file, CMessagePumpIO::IOHandler* handler) {
    if (GetType() == TYPE_IO && GetPump() != nullptr) {
        static_cast<CMessagePumpIO*>(GetPump())->RegisterIOHandler(file, handler);
    }
}

int CMessageLoopIO::WaitForIOCompletion(unsigned long milliseconds,
                                        CMessagePumpIO::IOHandler* filter) {
    if (GetType() != TYPE_IO || GetPump() == nullptr) {
        return 0;
    }
    return static_cast<CMessagePumpIO*>(GetPump())->WaitForIOCompletion(milliseconds, filter);
}

}  // namespace VidOzir
