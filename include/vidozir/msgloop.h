// Tasks, the per-thread message loop and its pumps: a loop belongs to the
// thread that constructs it; any thread posts tasks to it, to run at once or
// after a delay, and the loop's pump waits for work between them (on an event,
// or on an I/O completion port that also delivers completed overlapped I/O).
#pragma once

#include <atomic>
#include <deque>
#include <list>
#include <queue>
#include <vector>

#include <boost/function.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/signals2/connection.hpp>
#include <boost/signals2/signal.hpp>
#include <boost/signals2/slot.hpp>

#include "vidozir/export.h"
#include "vidozir/foundation.h"
#include "vidozir/lustring.h"
#include "vidozir_wintypes.h"

#if defined(_MSC_VER)
// Standard and Boost members of exported classes are used only through the
// classes' own exported functions.
#pragma warning(push)
#pragma warning(disable : 4251)
#endif

namespace VidOzir {

// A unit of work. Created with `new` by the poster; from a successful post on
// it belongs to the loop, which destroys it after running it (or unrun, when
// the loop is destroyed first).
class VIDOZIR_API CTask {
public:
    CTask() {}
    CTask(const CTask&) {}
    CTask& operator=(const CTask&) { return *this; }
    virtual ~CTask();
    virtual void Run() = 0;
};

// The waiting half of a loop. The loop is its Delegate.
class VIDOZIR_API CMessagePump {
public:
    class VIDOZIR_API Delegate {
    public:
        virtual ~Delegate();
        // Nonzero when an immediate task was taken and run.
        virtual int DoWork() = 0;
        // Nonzero when a delayed task was run; reports the next due time.
        virtual int DoDelayedWork(Time* nextDelayedTime) = 0;
    };

    virtual ~CMessagePump();
    virtual void Run(Delegate* delegate) = 0;
    // Sets the quit flag; wakes nothing.
    virtual void Quit() = 0;
    // Immediate work was queued; any thread.
    virtual void NotifyWork() = 0;
    // The earliest delayed task is now due then; the loop's thread only.
    virtual void SetNextDelayedTime(const Time& time) = 0;
};

// Waits on an auto-reset event.
class VIDOZIR_API CMessagePumpDefault : public CMessagePump {
public:
    CMessagePumpDefault();
    ~CMessagePumpDefault() override;
    CMessagePumpDefault(const CMessagePumpDefault&) = delete;
    CMessagePumpDefault& operator=(const CMessagePumpDefault&) = delete;

    void Run(Delegate* delegate) override;
    void Quit() override;
    void NotifyWork() override;
    void SetNextDelayedTime(const Time& time) override;

private:
    int m_bQuit;
    CWaitableEvent m_event;
    Time m_timeNextDelayed;
    volatile LONG m_lSignaled;  // 1 from a signal until the wait after it
};

// Waits on an I/O completion port, and dispatches completed overlapped I/O of
// the handles registered with it to their handlers, on the loop's thread.
class VIDOZIR_API CMessagePumpIO : public CMessagePump {
public:
    struct CompletionContext;

    // Implemented by callers that issue overlapped I/O on a registered handle.
    class VIDOZIR_API IOHandler {
    public:
        virtual ~IOHandler();
        // bytes is 0 and error nonzero when the operation failed.
        virtual void HandleCompletion(CompletionContext* context, DWORD bytes, DWORD error) = 0;
    };

    // The OVERLAPPED block of one operation, allocated with `new` by the
    // caller. Setting m_pHandler to null abandons the operation: the pump
    // deletes the block when its completion arrives and calls no handler.
    struct CompletionContext {
        OVERLAPPED m_overlapped;
        IOHandler* m_pHandler;
    };

    // One completion as taken off the port.
    struct CompletionItem {
        IOHandler* m_pHandler;
        CompletionContext* m_pContext;
        DWORD m_dwBytes;
        DWORD m_dwError;
    };

    CMessagePumpIO();
    ~CMessagePumpIO() override;
    CMessagePumpIO(const CMessagePumpIO&) = delete;
    CMessagePumpIO& operator=(const CMessagePumpIO&) = delete;

    void Run(Delegate* delegate) override;
    void Quit() override;
    void NotifyWork() override;
    void SetNextDelayedTime(const Time& time) override;

    // Completions of overlapped I/O on the handle arrive with the handler as key.
    void RegisterIOHandler(void* file, IOHandler* handler);
    // Handles at most one completion; 0 when none arrived within the time-out.
    int WaitForIOCompletion(unsigned long milliseconds, IOHandler* filter);

private:
    bool TakeSavedItem(IOHandler* filter, CompletionItem* item);

    int m_bQuit;
    HANDLE m_hPort;
    volatile LONG m_lHaveWork;  // 1 while a wake-up packet is queued
    Time m_timeNextDelayed;
    std::list<CompletionItem> m_savedItems;
};

// Waits on the thread's window messages; announces work with a private
// message to a message-only window and delayed work with a timer on it, so
// tasks also run inside message loops that are not this pump's (modal
// dialogs, message boxes, menus).
class VIDOZIR_API CMessagePumpUI : public CMessagePump {
public:
    CMessagePumpUI();
    ~CMessagePumpUI() override;
    CMessagePumpUI(const CMessagePumpUI&) = delete;
    CMessagePumpUI& operator=(const CMessagePumpUI&) = delete;

    void Run(Delegate* delegate) override;
    void Quit() override;
    void NotifyWork() override;
    void SetNextDelayedTime(const Time& time) override;

    HWND GetMessageWindow() const { return m_hWnd; }

private:
    friend struct PumpUIAccess;  // the window procedure, in pump_ui.cpp

    int m_bQuit;
    volatile LONG m_lHaveWork;  // 1 while a work message is on its way
    Time m_timeNextDelayed;
    HWND m_hWnd;
    Delegate* m_pDelegate;
};

class VIDOZIR_API CMessageLoop : public CMessagePump::Delegate {
public:
    enum Type { TYPE_DEFAULT = 0, TYPE_UI = 1, TYPE_IO = 2 };

    struct VIDOZIR_API PendingTask {
        CTask* m_pTask;
        Time m_timeRun;   // null for an immediate task
        int m_nSequence;  // given on entering the delayed queue

        PendingTask(CTask* task = nullptr, const Time& timeRun = Time())
            : m_pTask(task), m_timeRun(timeRun), m_nSequence(0) {}
        // Heap order: this ranks below other when it is due later, or due at
        // the same time and queued later (sequence compared with wrap-around).
        bool operator<(const PendingTask& other) const;
    };

    // Quits the loop of the thread that runs it.
    class VIDOZIR_API QuitTask : public CTask {
    public:
        void Run() override;
    };

    typedef boost::signals2::signal<void(), boost::signals2::optional_last_value<void>, int>
        DestroySignal;

    explicit CMessageLoop(Type type = TYPE_DEFAULT);
    ~CMessageLoop() override;
    CMessageLoop(const CMessageLoop&) = delete;
    CMessageLoop& operator=(const CMessageLoop&) = delete;

    // Any thread. A delay above 0 ms delays the task; posts to a loop whose
    // Run is over are refused silently (the task is neither run nor deleted).
    virtual void PostTask(CTask* task, int delayMilliseconds);

    void Run();
    void Quit();
    int IsQuit() const { return m_bQuit; }

    static CMessageLoop* Current();
    static CMessageLoop* Self();
    static CMessageLoop* Self(unsigned long threadId);

    void SetThreadName(const CLuStringA& name);
    const CLuStringA& GetThreadName() const { return m_strThreadName; }

    boost::signals2::connection SubscribeOnDestroy(
        const boost::signals2::slot<void(), boost::function<void()>>& slot, int group);

    Type GetType() const { return m_type; }

protected:
    int DoWork() override;
    int DoDelayedWork(Time* nextDelayedTime) override;
    void AddToDelayedWorkQueue(PendingTask& pending);
    void ReloadWorkQueue();
    void RunTask(CTask* task);
    int DeletePendingTasks();

    CMessagePump* GetPump() const { return m_pump.get(); }

    // Protected so that a loop of a type of its own may bring its pump.
    boost::shared_ptr<CMessagePump> m_pump;

public:
    // The incoming queue, whose closing also makes the end of Run wait for
    // posts in progress (opaque to callers).
    struct PostGuard;

private:
    void StopAcceptingPosts();

    DestroySignal m_onDestroy;
    std::atomic<CMessageLoop*> m_pSelf;  // read by posting threads
    Type m_type;
    std::deque<PendingTask> m_workQueue;
    // Kept where callers built against this layout expect it, unused: posts
    // go to the lock-free queue of the loop's post guard (m_pPostGuard).
    std::deque<PendingTask> m_incomingQueue;
    std::priority_queue<PendingTask, std::vector<PendingTask>> m_delayedQueue;
    CLuStringA m_strThreadName;
    // Kept where callers built against this layout expect it, unused: the
    // incoming queue of the post guard takes posts without a lock
    // (msgloop/post_queue.h), and its closing does the post guard's work.
    CLock m_incomingLock;
    int m_nNextSequence;
    int m_bQuit;
    // This loop's entry of the process-wide post-guard table, kept so that a
    // post does not search the table (see message_loop.cpp); it holds the
    // incoming queue.
    PostGuard* m_pPostGuard;
};

class VIDOZIR_API CMessageLoopIO : public CMessageLoop {
public:
    CMessageLoopIO();
    // The calling thread's loop as an I/O loop, without a check of its type.
    static CMessageLoopIO* Current();

    void RegisterIOHandler(void* file, CMessagePumpIO::IOHandler* handler);
    int WaitForIOCompletion(unsigned long milliseconds, CMessagePumpIO::IOHandler* filter);
};

class VIDOZIR_API CMessageLoopUI : public CMessageLoop {
public:
    CMessageLoopUI();
    // The calling thread's loop as a UI loop, without a check of its type.
    static CMessageLoopUI* Current();
};

}  // namespace VidOzir

#if defined(_MSC_VER)
#pragma warning(pop)
#endif
