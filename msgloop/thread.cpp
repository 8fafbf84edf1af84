#include "vidozir/thread.h"

#include "platform/win32.h"

namespace VidOzir {

// m_spMsgLoop and m_hThread are emptied by the thread at its end while the
// owner may read them (GetMsgLoop, StopThread, the destructor): they are read
// and written atomically, so a stop racing the thread's own end is safe.

CThreadBase::CThreadBase(const CLuStringA& name)
    : m_hThread(nullptr), m_dwThreadId(0), m_eventStarted(0, 0), m_eventStopped(0, 0), m_strName(name) {}

CThreadBase::~CThreadBase() {
    // The plain wait, for every kind.
    if (PostQuit() && !IsOwnThread()) {
        m_eventStopped.Wait();
    }
}

int CThreadBase::StartThread() {
    if (GetThreadHandle() != nullptr) {
        return 1;
    }
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

void CThreadBase::StopThread() {
    if (PostQuit() && !IsOwnThread()) {
        m_eventStopped.Wait();
    }
}

boost::shared_ptr<CMessageLoop> CThreadBase::GetMsgLoop() const {
    return boost::atomic_load(&m_spMsgLoop);
}

void* CThreadBase::GetThreadHandle() const {
    return InterlockedCompareExchangePointer(const_cast<HANDLE*>(&m_hThread), nullptr, nullptr);
}

DWORD WINAPI CThreadBase::ThreadProc(void* thread) {
    return static_cast<CThreadBase*>(thread)->Run();
}

unsigned int CThreadBase::RunLoop(const boost::shared_ptr<CMessageLoop>& loop) {
    boost::atomic_store(&m_spMsgLoop, loop);
    if (!m_strName.IsEmpty()) {
        loop->SetThreadName(m_strName);
    }
    m_eventStarted.Signal();
    loop->Run();
    // Our reference is dropped here, on the loop's own thread: when it is the
    // last one, the loop is destroyed on the thread it is bound to.
    boost::atomic_store(&m_spMsgLoop, boost::shared_ptr<CMessageLoop>());
    HANDLE handle = InterlockedExchangePointer(&m_hThread, nullptr);
    if (handle != nullptr) {
        CloseHandle(handle);
    }
    m_eventStopped.Signal();
    return 0;
}

bool CThreadBase::PostQuit() {
    boost::shared_ptr<CMessageLoop> loop = GetMsgLoop();
    if (!loop) {
        return false;
    }
    loop->PostTask(new CMessageLoop::QuitTask, 0);
    return true;
}

bool CThreadBase::IsOwnThread() const { return ::GetCurrentThreadId() == m_dwThreadId; }

CThreadDefault::CThreadDefault(const CLuStringA& name) : CThreadBase(name) {}
CThreadDefault::~CThreadDefault() = default;
unsigned int CThreadDefault::Run() {
    return RunLoop(boost::shared_ptr<CMessageLoop>(new CMessageLoop(CMessageLoop::TYPE_DEFAULT)));
}

CThreadIO::CThreadIO(const CLuStringA& name) : CThreadBase(name) {}
CThreadIO::~CThreadIO() = default;
unsigned int CThreadIO::Run() {
    return RunLoop(boost::shared_ptr<CMessageLoop>(new CMessageLoopIO));
}
boost::shared_ptr<CMessageLoopIO> CThreadIO::GetMsgLoop() const {
    return boost::static_pointer_cast<CMessageLoopIO>(CThreadBase::GetMsgLoop());
}

CThreadUI::CThreadUI(const CLuStringA& name) : CThreadBase(name) {}
CThreadUI::~CThreadUI() = default;
unsigned int CThreadUI::Run() {
    return RunLoop(boost::shared_ptr<CMessageLoop>(new CMessageLoopUI));
}
boost::shared_ptr<CMessageLoopUI> CThreadUI::GetMsgLoop() const {
    return boost::static_pointer_cast<CMessageLoopUI>(CThreadBase::GetMsgLoop());
}

void CThreadUI::StopThread() {
    if (!PostQuit() || IsOwnThread()) {
        return;
    }
    HANDLE stopped = m_eventStopped.GetHandle();
    while (MsgWaitForMultipleObjects(1, &stopped, FALSE, INFINITE, QS_ALLINPUT) ==
           WAIT_OBJECT_0 + 1) {
        MSG msg;
        if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

}  // namespace VidOzir
