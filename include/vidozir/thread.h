// Threads that own a message loop: CThreadDefault (event pump), CThreadIO
// (I/O completion-port pump) and CThreadUI (window-message pump).
#pragma once

#include <boost/shared_ptr.hpp>

#include "vidozir/export.h"
#include "vidozir/foundation.h"
#include "vidozir/msgloop.h"

namespace VidOzir {

// Thread objects are not copyable or movable: a copy would share the handle
// and the two events with the original, and whichever was destroyed first
// would close them under the other's running thread.
class VIDOZIR_API CThreadBase {
public:
    // Posts a quit task to the loop and waits until the thread has ended
    // (returns at once when called from the thread itself).
    virtual void StopThread();

protected:
    virtual ~CThreadBase();
    virtual unsigned int Run() = 0;

public:
    CThreadBase(const CThreadBase&) = delete;
    CThreadBase& operator=(const CThreadBase&) = delete;

    // 1 when the thread runs (also when it already did), 0 when it could not start.
    int StartThread();
    boost::shared_ptr<CMessageLoop> GetMsgLoop() const;
    void* GetThreadHandle() const;
    unsigned long GetThreadId() const { return m_dwThreadId; }

protected:
    explicit CThreadBase(const CLuStringA& name);
    static DWORD WINAPI ThreadProc(void* thread);
    // The body shared by the three kinds, given the loop each made on the
    // new thread; takes ownership of it.
    unsigned int RunLoop(CMessageLoop* created);
    // Posts the quit task; false when there is no loop (never started, or ended).
    bool PostQuit();
    bool IsOwnThread() const;
    // Waits for the thread's end (unless called from the thread itself):
    // for the stop event, handling the caller's window messages meanwhile
    // when asked, then for the handle to be cleared.
    void WaitUntilEnded(bool dispatchMessages);

    HANDLE m_hThread;
    DWORD m_dwThreadId;
    CWaitableEvent m_eventStarted;
    CWaitableEvent m_eventStopped;
    boost::shared_ptr<CMessageLoop> m_spMsgLoop;
    CLuStringA m_strName;
};

class VIDOZIR_API CThreadDefault : public CThreadBase {
public:
    explicit CThreadDefault(const CLuStringA& name = CLuStringA());
    ~CThreadDefault() override;

protected:
    unsigned int Run() override;
};

class VIDOZIR_API CThreadIO : public CThreadBase {
public:
    explicit CThreadIO(const CLuStringA& name = CLuStringA());
    ~CThreadIO() override;
    boost::shared_ptr<CMessageLoopIO> GetMsgLoop() const;

protected:
    unsigned int Run() override;
};

class VIDOZIR_API CThreadUI : public CThreadBase {
public:
    explicit CThreadUI(const CLuStringA& name = CLuStringA());
    ~CThreadUI() override;
    // Keeps dispatching the caller's window messages while it waits, so the
    // stopping thread may still send messages to the caller's windows.
    void StopThread() override;
    boost::shared_ptr<CMessageLoopUI> GetMsgLoop() const;

protected:
    unsigned int Run() override;
};

}  // namespace VidOzir
