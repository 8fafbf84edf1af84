#include "vidozir/thread.h"

#include <mutex>

#include "msgloop/backoff.h"
#include "platform/win32.h"

namespace VidOzir {

namespace {

// m_spMsgLoop is emptied by the thread at its end while the owner may read it
// (GetMsgLoop, StopThread, the destructor). One lock for all thread objects
// guards it: a stop posts its quit task under the lock, through the member
// itself, so the thread's own reference is never outlived by a transient
// copy and the loop is destroyed on its own thread. m_hThread is read and
// written atomically.
std::mutex& LoopReferenceLock() {
    static std::mutex* lock = new std::mutex;
    return *lock;
}

}  // namespace

CThreadBase::CThreadBase(const CLuStringA& name)
    : m_hThread(nullptr),
      m_dwThreadId(0),
      m_eventStarted(0, 0),
      m_eventStopped(0, 0),
      m_strName(name) {}

CThreadBase::~CThreadBase() {
    // The plain wait, for every kind.
    if (PostQuit() || GetThreadHandle() != nullptr) {
        WaitUntilEnded(false);
    }
}

int CThreadBase::StartThread() {
    if (GetThreadHandle() != nullptr) {
        return 1;
    }
    // A thread that stopped itself leaves the stop event signalled, as nobody
    // waited for it; a stale signal would end the next stop's wait early.
    // The handle is null, so that thread no longer touches this object.
    m_eventStopped.Reset();
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, &CThreadBase::ThreadProc, this, 0, &id);
    if (thread == nullptr) {
        return 0;
    }
    m_dwThreadId = id;
    InterlockedExchangePointer(&m_hThread, thread);
    m_eventStarted.Wait();
    return 1;
}

// Also waits when the thread is already ending on its own (it stopped itself
// and let go of its loop, but still runs): "stopped" then means ended, as
// for every other stop, so the object may be destroyed or restarted.
void CThreadBase::StopThread() {
    if (PostQuit() || GetThreadHandle() != nullptr) {
        WaitUntilEnded(false);
    }
}

void CThreadBase::WaitUntilEnded(bool dispatchMessages) {
    if (IsOwnThread()) {
        return;  // the loop stops once the current task returns
    }
    if (dispatchMessages) {
        HANDLE stopped = m_eventStopped.GetHandle();
        while (MsgWaitForMultipleObjects(1, &stopped, FALSE, INFINITE, QS_ALLINPUT) ==
               WAIT_OBJECT_0 + 1) {
            MSG msg;
            if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
    } else {
        m_eventStopped.Wait();
    }
    // The thread clears its handle right after the signal, as its last touch
    // of this object: a few instructions later, unless it was preempted in
    // between, so this spins and yields before it sleeps (a plain Sleep(1)
    // made every stop cost a millisecond).
    int spins = 0;
    while (GetThreadHandle() != nullptr) {
        Backoff(&spins);
    }
}

boost::shared_ptr<CMessageLoop> CThreadBase::GetMsgLoop() const {
    std::lock_guard<std::mutex> lock(LoopReferenceLock());
    return m_spMsgLoop;
}

void* CThreadBase::GetThreadHandle() const {
    return InterlockedCompareExchangePointer(const_cast<HANDLE*>(&m_hThread), nullptr, nullptr);
}

DWORD WINAPI CThreadBase::ThreadProc(void* thread) {
    return static_cast<CThreadBase*>(thread)->Run();
}

unsigned int CThreadBase::RunLoop(CMessageLoop* created) {
    boost::shared_ptr<CMessageLoop> loop(created);
    {
        std::lock_guard<std::mutex> lock(LoopReferenceLock());
        m_spMsgLoop = loop;
    }
    if (!m_strName.IsEmpty()) {
        loop->SetThreadName(m_strName);
    }
    m_eventStarted.Signal();
    loop->Run();
    loop.reset();
    // Our reference is dropped here, on the loop's own thread: when it is the
    // last one, the loop is destroyed on the thread it is bound to.
    boost::shared_ptr<CMessageLoop> last;
    {
        std::lock_guard<std::mutex> lock(LoopReferenceLock());
        last.swap(m_spMsgLoop);
    }
    last.reset();
    // Signalled before the handle is cleared, so that clearing it is the last
    // touch of this object: an owner that sees the null handle (the waits
    // above do) may destroy or restart the object at once.
    HANDLE handle = GetThreadHandle();
    m_eventStopped.Signal();
    InterlockedExchangePointer(&m_hThread, nullptr);
    if (handle != nullptr) {
        CloseHandle(handle);
    }
    return 0;
}

bool CThreadBase::PostQuit() {
    std::lock_guard<std::mutex> lock(LoopReferenceLock());
    if (!m_spMsgLoop) {
        return false;
    }
    m_spMsgLoop->PostTask(new CMessageLoop::QuitTask, 0);
    return true;
}

bool CThreadBase::IsOwnThread() const {
    return ::GetCurrentThreadId() == m_dwThreadId;
}

CThreadDefault::CThreadDefault(const CLuStringA& name) : CThreadBase(name) {}
CThreadDefault::~CThreadDefault() = default;
unsigned int CThreadDefault::Run() {
    return RunLoop(new CMessageLoop(CMessageLoop::TYPE_DEFAULT));
}

CThreadIO::CThreadIO(const CLuStringA& name) : CThreadBase(name) {}
CThreadIO::~CThreadIO() = default;
unsigned int CThreadIO::Run() {
    return RunLoop(new CMessageLoopIO);
}
boost::shared_ptr<CMessageLoopIO> CThreadIO::GetMsgLoop() const {
    return boost::static_pointer_cast<CMessageLoopIO>(CThreadBase::GetMsgLoop());
}

CThreadUI::CThreadUI(const CLuStringA& name) : CThreadBase(name) {}
CThreadUI::~CThreadUI() = default;
unsigned int CThreadUI::Run() {
    return RunLoop(new CMessageLoopUI);
}
boost::shared_ptr<CMessageLoopUI> CThreadUI::GetMsgLoop() const {
    return boost::static_pointer_cast<CMessageLoopUI>(CThreadBase::GetMsgLoop());
}

void CThreadUI::StopThread() {
    if (PostQuit() || GetThreadHandle() != nullptr) {
        WaitUntilEnded(true);
    }
}

}  // namespace VidOzir
