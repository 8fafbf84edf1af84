// The message loop: posting, the work and delayed queues, the binding of a
// loop to its thread, and the process-wide state behind that binding.
#include "vidozir/msgloop.h"

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include <boost/thread/recursive_mutex.hpp>

#include "msgloop/post_queue.h"
#include "platform/win32.h"

#if !defined(_WIN32)
#include <pthread.h>
#endif

namespace VidOzir {

// A loop's post guard is its incoming queue (msgloop/post_queue.h), kept
// apart from the loop so that the words posting threads hammer do not share a
// cache line with the loop thread's own queues. Its closing does the guard's
// work: later posts are refused, and the end of Run waits for the posts in
// progress until their pump's NotifyWork has returned.
struct CMessageLoop::PostGuard {
    PostQueue queue;
};

namespace {

// The three process-wide objects, created when the library is loaded and
// released when it is unloaded.
struct LoopProcessState {
    DWORD tlsSlot = TlsAlloc();

    boost::recursive_mutex registryMutex;
    std::map<DWORD, CMessageLoop*> registry;

    // The post-guard table has a mutex of its own for insertion and lookup,
    // but posts do not search it: a loop keeps the address of its own entry,
    // looked up once under that mutex when the loop is constructed. Entries
    // are replaced only by a later loop at the same address, so the address
    // stays valid for the loop's whole life, and a post takes no
    // process-wide lock.
    std::mutex guardMutex;
    std::map<const void*, std::unique_ptr<CMessageLoop::PostGuard>> guards;

    ~LoopProcessState() {
        if (tlsSlot != TLS_OUT_OF_INDEXES) {
            TlsFree(tlsSlot);
        }
    }

    void Bind(CMessageLoop* loop) {
        if (tlsSlot != TLS_OUT_OF_INDEXES) {
            TlsSetValue(tlsSlot, loop);
        }
        boost::recursive_mutex::scoped_lock lock(registryMutex);
        registry[GetCurrentThreadId()] = loop;
    }

    CMessageLoop::PostGuard* NewGuard(const CMessageLoop* loop) {
        auto guard = std::make_unique<CMessageLoop::PostGuard>();
        CMessageLoop::PostGuard* raw = guard.get();
        std::lock_guard<std::mutex> lock(guardMutex);
        guards[loop] = std::move(guard);
        return raw;
    }
};

LoopProcessState g_state;

// Ends a post's notification even when the pump's NotifyWork throws.
class NotifyingPost {
public:
    explicit NotifyingPost(PostQueue::Slot* slot) : m_pSlot(slot) {}
    ~NotifyingPost() { PostQueue::Done(m_pSlot); }
    NotifyingPost(const NotifyingPost&) = delete;
    NotifyingPost& operator=(const NotifyingPost&) = delete;

private:
    PostQueue::Slot* m_pSlot;
};

const int kMaxDestroyPasses = 100;

}  // namespace

CTask::~CTask() {}
CMessagePump::~CMessagePump() {}
CMessagePump::Delegate::~Delegate() {}

bool CMessageLoop::PendingTask::operator<(const PendingTask& other) const {
    if (m_timeRun != other.m_timeRun) {
        return m_timeRun > other.m_timeRun;
    }
    // The sequence counter wraps; the signed 32-bit difference keeps the
    // order of entries queued across the wrap.
    const unsigned int difference =
        static_cast<unsigned int>(m_nSequence) - static_cast<unsigned int>(other.m_nSequence);
    return static_cast<int>(difference) > 0;
}

void CMessageLoop::QuitTask::Run() {
    CMessageLoop* loop = CMessageLoop::Current();
    if (loop != nullptr) {
        loop->Quit();
    }
}

CMessageLoop::CMessageLoop(Type type)
    : m_pSelf(nullptr), m_type(type), m_nNextSequence(0), m_bQuit(0), m_pPostGuard(nullptr) {
    g_state.Bind(this);
    m_pPostGuard = g_state.NewGuard(this);
    m_pSelf.store(this);
    switch (type) {
        case TYPE_DEFAULT:
            m_pump.reset(new CMessagePumpDefault);
            break;
        case TYPE_IO:
            m_pump.reset(new CMessagePumpIO);
            break;
        case TYPE_UI:
            m_pump.reset(new CMessagePumpUI);
            break;
        default:
            // An unknown type gets no pump; such a loop must not be run.
            break;
    }
}

CMessageLoop::~CMessageLoop() {
    m_onDestroy();
    for (int pass = 0; pass < kMaxDestroyPasses; ++pass) {
        // Destructors of pending tasks may post again while the loop still
        // accepts posts (it never ran): those are caught by the next pass.
        DeletePendingTasks();
        ReloadWorkQueue();
        if (!DeletePendingTasks()) {
            break;
        }
    }
    if (m_pSelf.load() != nullptr) {
        StopAcceptingPosts();
        // Posts from other threads may have come in after the last pass.
        ReloadWorkQueue();
        DeletePendingTasks();
    }
    m_pPostGuard->queue.Release();
    if (g_state.tlsSlot != TLS_OUT_OF_INDEXES) {
        TlsSetValue(g_state.tlsSlot, nullptr);
    }
    boost::recursive_mutex::scoped_lock lock(g_state.registryMutex);
    g_state.registry[GetCurrentThreadId()] = nullptr;
}

void CMessageLoop::StopAcceptingPosts() {
    // Later posts are refused; posts that claimed a slot before are waited
    // for until their NotifyWork has returned.
    m_pPostGuard->queue.Close();
    m_pSelf.store(nullptr);
}

void CMessageLoop::PostTask(CTask* task, int delayMilliseconds) {
    if (m_bQuit) {
        return;
    }
    Time due;
    if (delayMilliseconds > 0) {
        due = Time::Now() + delayMilliseconds;
    }
    // The queue's closing stands for the null m_pSelf after Run: a claim
    // fails from then on.
    PostQueue::Slot* slot = m_pPostGuard->queue.Claim();
    if (slot == nullptr) {
        return;
    }
    // Read before the entry is visible: once the loop can run it, the task
    // may quit the loop, but the loop keeps its pump until this post is done.
    CMessagePump* pump = m_pump.get();
    NotifyingPost notifying(slot);
    PostQueue::Publish(slot, task, due);
    if (pump != nullptr) {
        pump->NotifyWork();
    }
}

void CMessageLoop::Run() {
    if (m_bQuit || !m_pump) {
        return;
    }
    m_pump->Run(this);
    StopAcceptingPosts();
}

void CMessageLoop::Quit() {
    if (m_pump) {
        m_pump->Quit();
    }
}

CMessageLoop* CMessageLoop::Current() {
    if (g_state.tlsSlot == TLS_OUT_OF_INDEXES) {
        return nullptr;
    }
    return static_cast<CMessageLoop*>(TlsGetValue(g_state.tlsSlot));
}

CMessageLoop* CMessageLoop::Self() {
    CMessageLoop* loop = Self(GetCurrentThreadId());
    return loop != nullptr ? loop : Current();
}

CMessageLoop* CMessageLoop::Self(unsigned long threadId) {
    boost::recursive_mutex::scoped_lock lock(g_state.registryMutex);
    auto it = g_state.registry.find(static_cast<DWORD>(threadId));
    return it != g_state.registry.end() ? it->second : nullptr;
}

boost::signals2::connection CMessageLoop::SubscribeOnDestroy(
    const boost::signals2::slot<void(), boost::function<void()>>& slot, int group) {
    return m_onDestroy.connect(group, slot, boost::signals2::at_back);
}

void CMessageLoop::AddToDelayedWorkQueue(PendingTask& pending) {
    PendingTask copy = pending;
    copy.m_nSequence = m_nNextSequence;
    m_nNextSequence = static_cast<int>(static_cast<unsigned int>(m_nNextSequence) + 1u);
    m_delayedQueue.push(copy);
}

void CMessageLoop::ReloadWorkQueue() {
    // The work queue is the batch marked in the incoming queue, taken in
    // place, and the deque, which holds what is left of a batch only while
    // DeletePendingTasks works. A reload marks a new batch once both are used
    // up, as the swap of locked queues did once the work queue was empty.
    if (m_workQueue.empty() && m_pPostGuard->queue.BatchUsedUp()) {
        m_pPostGuard->queue.MarkBatch();
    }
}

void CMessageLoop::RunTask(CTask* task) {
    if (task != nullptr) {
        task->Run();
        delete task;
    }
}

int CMessageLoop::DoWork() {
    // Takes what was posted only when the work queue is empty as the call
    // begins, and then only the entries posted by that moment; a call that
    // empties the work queue by moving delayed entries onto their heap
    // returns 0 without looking again. The pumps allow for that 0 (see
    // pump_wait.h).
    ReloadWorkQueue();
    PendingTask pending;
    while (m_pPostGuard->queue.TakeFromBatch(&pending)) {
        if (pending.m_timeRun.IsNull()) {
            RunTask(pending.m_pTask);
            return 1;
        }
        AddToDelayedWorkQueue(pending);
        // The new entry is the top when the top carries the sequence number
        // just given (comparing task pointers would confuse null tasks).
        const PendingTask& top = m_delayedQueue.top();
        if (top.m_nSequence == static_cast<int>(static_cast<unsigned int>(m_nNextSequence) - 1u) &&
            m_pump) {
            m_pump->SetNextDelayedTime(pending.m_timeRun);
        }
    }
    return 0;
}

int CMessageLoop::DoDelayedWork(Time* nextDelayedTime) {
    if (m_delayedQueue.empty()) {
        *nextDelayedTime = Time();
        return 0;
    }
    const Time now = Time::Now();
    if (m_delayedQueue.top().m_timeRun > now) {
        *nextDelayedTime = m_delayedQueue.top().m_timeRun;
        return 0;
    }
    CTask* task = m_delayedQueue.top().m_pTask;
    m_delayedQueue.pop();
    if (!m_delayedQueue.empty()) {
        *nextDelayedTime = m_delayedQueue.top().m_timeRun;
    }
    RunTask(task);
    return 1;
}

int CMessageLoop::DeletePendingTasks() {
    m_pPostGuard->queue.TakeBatch(&m_workQueue);
    int found = m_workQueue.empty() ? 0 : 1;
    while (!m_workQueue.empty()) {
        PendingTask pending = m_workQueue.front();
        m_workQueue.pop_front();
        if (!pending.m_timeRun.IsNull()) {
            AddToDelayedWorkQueue(pending);
        } else {
            delete pending.m_pTask;
        }
    }
    if (!m_delayedQueue.empty()) {
        found = 1;
    }
    while (!m_delayedQueue.empty()) {
        CTask* task = m_delayedQueue.top().m_pTask;
        m_delayedQueue.pop();
        delete task;
    }
    return found;
}

CMessageLoopUI::CMessageLoopUI() : CMessageLoop(TYPE_UI) {}

CMessageLoopUI* CMessageLoopUI::Current() {
    return static_cast<CMessageLoopUI*>(CMessageLoop::Current());
}

#if defined(_WIN32) && !defined(_MSC_VER)
namespace {
// Without structured handlers, a vectored handler resumes after the naming
// exception when the debugger passes it back to the program.
LONG CALLBACK ResumeAfterThreadName(EXCEPTION_POINTERS* info) {
    return info->ExceptionRecord->ExceptionCode == 0x406D1388 ? EXCEPTION_CONTINUE_EXECUTION
                                                              : EXCEPTION_CONTINUE_SEARCH;
}
}  // namespace
#endif

void CMessageLoop::SetThreadName(const CLuStringA& name) {
#if defined(_WIN32)
    // The debugger's naming convention: an exception that an attached
    // debugger reads and resumes. It is raised only when a debugger is there
    // to take it, so it costs nothing otherwise.
    if (IsDebuggerPresent()) {
#pragma pack(push, 8)
        struct {
            DWORD dwType;
            LPCSTR szName;
            DWORD dwThreadID;
            DWORD dwFlags;
        } info = {0x1000, name.GetString(), GetCurrentThreadId(), 0};
#pragma pack(pop)
        const ULONG_PTR* args = reinterpret_cast<const ULONG_PTR*>(&info);
#if defined(_MSC_VER)
        __try {
            RaiseException(0x406D1388, 0, sizeof(info) / sizeof(ULONG_PTR), args);
        } __except (EXCEPTION_EXECUTE_HANDLER) {
        }
#else
        PVOID resume = AddVectoredExceptionHandler(1, ResumeAfterThreadName);
        RaiseException(0x406D1388, 0, sizeof(info) / sizeof(ULONG_PTR), args);
        if (resume != nullptr) {
            RemoveVectoredExceptionHandler(resume);
        }
#endif
    }
    // Newer systems keep a description that every tool shows.
    typedef HRESULT(WINAPI * SetDescription)(HANDLE, PCWSTR);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto setDescription = kernel != nullptr
                              ? reinterpret_cast<SetDescription>(reinterpret_cast<void*>(
                                    GetProcAddress(kernel, "SetThreadDescription")))
                              : nullptr;
    if (setDescription != nullptr) {
        int units = MultiByteToWideChar(CP_UTF8, 0, name.GetString(), -1, nullptr, 0);
        if (units > 0) {
            std::vector<wchar_t> wide(static_cast<size_t>(units));
            MultiByteToWideChar(CP_UTF8, 0, name.GetString(), -1, wide.data(), units);
            setDescription(GetCurrentThread(), wide.data());
        }
    }
#else
    // The kernel keeps 15 bytes; cut on a character boundary of the UTF-8 text.
    const char* text = name.GetString();
    int length = name.GetLength();
    if (length > 15) {
        length = 15;
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) {
            --length;
        }
    }
    char shortName[16] = {};
    for (int i = 0; i < length; ++i) {
        shortName[i] = text[i];
    }
    pthread_setname_np(pthread_self(), shortName);
#endif
    m_strThreadName = name;
}

}  // namespace VidOzir
