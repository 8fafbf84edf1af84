// Kernel objects for non-Windows builds: events and threads on the handle
// table and the wait machinery (platform/handles_posix.h, platform/waits_posix.h),
// and the kernel calls that need no object.
#include "platform/waits_posix.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <condition_variable>
#include <cstdlib>
#include <new>
#include <typeinfo>

namespace vidozir::platform {

namespace {

thread_local DWORD t_lastError = 0;

}  // namespace

namespace {

class Event final : public Waitable {
public:
    Event(bool manualReset, bool signaled) : manualReset_(manualReset), signaled_(signaled) {}
    bool IsSignaledLocked() const override { return signaled_.load(std::memory_order_relaxed); }
    void ConsumeLocked() override {
        if (!manualReset_) {
            signaled_.store(false, std::memory_order_relaxed);
        }
    }
    // The waiters to wake are left in `wake`, to be woken once no lock is held.
    void Set(DeferredWake* wake) {
        // Setting a set event changes nothing; a message loop's producers set
        // its wake event on every post, mostly while it is still set, so that
        // case skips the lock. A waiter that consumes the signal concurrently
        // does so under the lock before it looks for the work that the setter
        // published before calling Set, so none is lost. Only the event's own
        // lock is taken, and a waiter is woken (a system call) only when one
        // sleeps on it.
        if (signaled_.load(std::memory_order_seq_cst)) {
            return;
        }
        std::lock_guard<std::mutex> lock(Mutex());
        if (!signaled_.load(std::memory_order_relaxed) && (manualReset_ || !HandOffLocked(wake))) {
            signaled_.store(true, std::memory_order_seq_cst);
            NotifyLocked(wake);
        }
    }
    void Reset() {
        std::lock_guard<std::mutex> lock(Mutex());
        signaled_.store(false, std::memory_order_relaxed);
    }

private:
    const bool manualReset_;
    std::atomic<bool> signaled_;  // written under Mutex(); read without it by Set
};

// A thread is signalled once its start routine has returned.
class Thread : public Waitable {
public:
    Thread(LPTHREAD_START_ROUTINE start, LPVOID parameter) : start_(start), parameter_(parameter) {}
    bool IsSignaledLocked() const override { return finished_; }

    LPTHREAD_START_ROUTINE start_;
    LPVOID parameter_;
    std::atomic<DWORD> id_{0};
    DWORD exitCode_ = STILL_ACTIVE;  // guarded by Mutex()
    bool finished_ = false;          // guarded by Mutex()
    std::shared_ptr<Thread> self_;   // keeps the object alive while the thread runs
    std::mutex startMutex_;
    std::condition_variable startCv_;
};

DWORD CurrentTid() {
    thread_local DWORD tid = static_cast<DWORD>(::syscall(SYS_gettid));
    return tid;
}

void* ThreadMain(void* arg) {
    auto* raw = static_cast<Thread*>(arg);
    std::shared_ptr<Thread> thread;
    {
        std::lock_guard<std::mutex> lock(raw->startMutex_);
        raw->id_.store(CurrentTid());
        thread = std::move(raw->self_);
    }
    raw->startCv_.notify_all();
    DWORD code = thread->start_(thread->parameter_);
    std::lock_guard<std::mutex> lock(thread->Mutex());
    thread->exitCode_ = code;
    thread->finished_ = true;
    thread->NotifyLocked();
    return nullptr;
}

std::shared_ptr<Waitable> WaitableFromHandle(HANDLE handle) {
    return LookupHandleAs<Waitable>(handle);
}

// The events a thread set and waited on last: a message loop's posting
// threads set its wake-up event, and its own thread waits on it, again and
// again. An event holds nothing but memory.
thread_local LastUsed<Event> t_lastSet;
thread_local LastUsed<Event> t_lastWaited;

}  // namespace

}  // namespace vidozir::platform

using namespace vidozir::platform;

DWORD GetLastError() {
    return t_lastError;
}
void SetLastError(DWORD error) {
    t_lastError = error;
}

BOOL CloseHandle(HANDLE handle) {
    if (!RemoveHandle(handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR name) {
    if (name != nullptr && name[0] != 0) {
        // Named events are not used by the library on this platform.
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return InsertHandle(std::make_shared<Event>(manualReset != FALSE, initialState != FALSE));
}

BOOL SetEvent(HANDLE handle) {
    // The hot path of every wake-up of a message loop: the event is set
    // through the thread's last one (a set takes only the event's own lock,
    // briefly), and the sleeping waiter is woken after the lock is released,
    // so the path to that system call touches as few shared cache lines as it
    // can.
    Event* event = t_lastSet.Find(handle);
    if (event == nullptr) {
        return FALSE;
    }
    Event::DeferredWake wake;
    event->Set(&wake);
    wake.Finish();
    return TRUE;
}

BOOL ResetEvent(HANDLE handle) {
    auto event = RequireHandle<Event>(handle);
    if (!event) {
        return FALSE;
    }
    event->Reset();
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return WaitForMultipleObjects(1, &handle, FALSE, milliseconds);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    if (count == 1) {
        // Objects that wait by themselves (named mutexes) take the wait; a
        // wait on one object that is already signalled needs no waiter. A
        // wait on the event waited on last skips the look-up.
        std::shared_ptr<Waitable> object;
        if (t_lastWaited.Cached(handles[0]) != nullptr) {
            object = t_lastWaited.Shared();
        } else {
            std::shared_ptr<KernelObject> found = LookupHandle(handles[0]);
            if (auto self = std::dynamic_pointer_cast<SelfWaitable>(found)) {
                return self->Wait(milliseconds);
            }
            if (auto event = std::dynamic_pointer_cast<Event>(found)) {
                t_lastWaited.Keep(handles[0], event);
            }
            object = std::dynamic_pointer_cast<Waitable>(found);
        }
        if (!object) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        return WaitForObject(*object, milliseconds);
    }
    std::vector<std::shared_ptr<Waitable>> objects;
    objects.reserve(count);
    for (DWORD i = 0; i < count; ++i) {
        auto object = WaitableFromHandle(handles[i]);
        if (!object) {
            const bool self = LookupHandleAs<SelfWaitable>(handles[i]) != nullptr;
            SetLastError(self ? ERROR_NOT_SUPPORTED : ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        if (waitAll && std::find(objects.begin(), objects.end(), object) != objects.end()) {
            SetLastError(ERROR_INVALID_PARAMETER);  // one object twice in a wait for all
            return WAIT_FAILED;
        }
        objects.push_back(std::move(object));
    }
    return WaitForObjects(objects, waitAll != FALSE, milliseconds);
}

// A critical section: a pthread mutex of the adaptive kind, which spins a
// little before it sleeps, as a Windows critical section does with a spin
// count (a message loop's locks are held for a few instructions, and
// sleeping in the kernel at every collision costs more than the wait), with
// the owner and depth beside it for re-entry.
namespace {

struct CriticalSection {
    CriticalSection() {
        pthread_mutexattr_t attr;
        pthread_mutexattr_init(&attr);
        pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ADAPTIVE_NP);
        pthread_mutex_init(&mutex, &attr);
        pthread_mutexattr_destroy(&attr);
    }
    ~CriticalSection() { pthread_mutex_destroy(&mutex); }
    pthread_mutex_t mutex;
    std::atomic<DWORD> owner{0};  // only its owner stores its own id here
    int depth = 0;                // touched by the owner only
};

CriticalSection& SectionOf(LPCRITICAL_SECTION section) {
    return *static_cast<CriticalSection*>(section->impl);
}

}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
    section->impl = new CriticalSection;
}
void DeleteCriticalSection(LPCRITICAL_SECTION section) {
    delete static_cast<CriticalSection*>(section->impl);
    section->impl = nullptr;
}
void EnterCriticalSection(LPCRITICAL_SECTION section) {
    CriticalSection& cs = SectionOf(section);
    const DWORD self = CurrentTid();
    if (cs.owner.load(std::memory_order_relaxed) != self) {
        pthread_mutex_lock(&cs.mutex);
        cs.owner.store(self, std::memory_order_relaxed);
    }
    ++cs.depth;
}
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section) {
    CriticalSection& cs = SectionOf(section);
    const DWORD self = CurrentTid();
    if (cs.owner.load(std::memory_order_relaxed) != self) {
        if (pthread_mutex_trylock(&cs.mutex) != 0) {
            return FALSE;
        }
        cs.owner.store(self, std::memory_order_relaxed);
    }
    ++cs.depth;
    return TRUE;
}
void LeaveCriticalSection(LPCRITICAL_SECTION section) {
    CriticalSection& cs = SectionOf(section);
    if (--cs.depth == 0) {
        cs.owner.store(0, std::memory_order_relaxed);
        pthread_mutex_unlock(&cs.mutex);
    }
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD, LPDWORD threadId) {
    if (start == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto thread = std::make_shared<Thread>(start, parameter);
    thread->self_ = thread;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    if (stackSize != 0) {
        pthread_attr_setstacksize(&attr, std::max<size_t>(stackSize, PTHREAD_STACK_MIN));
    }
    pthread_t id;
    int error = pthread_create(&id, &attr, ThreadMain, thread.get());
    pthread_attr_destroy(&attr);
    if (error != 0) {
        thread->self_.reset();
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    {
        // The numeric id is the kernel's thread id, known once the thread runs.
        std::unique_lock<std::mutex> lock(thread->startMutex_);
        thread->startCv_.wait(lock, [&] { return thread->id_.load() != 0; });
    }
    if (threadId != nullptr) {
        *threadId = thread->id_.load();
    }
    return InsertHandle(thread);
}

DWORD GetCurrentThreadId() {
    return CurrentTid();
}

DWORD GetThreadId(HANDLE handle) {
    auto thread = RequireHandle<Thread>(handle);
    if (!thread) {
        return 0;
    }
    return thread->id_.load();
}

namespace {
// The process id, asked of the kernel once per process: a forked child
// forgets its parent's (the registry helper asks for it at every call).
std::atomic<pid_t> g_processId{0};
void ForgetProcessId() {
    g_processId.store(0, std::memory_order_relaxed);
}
}  // namespace

DWORD GetCurrentProcessId() {
    pid_t pid = g_processId.load(std::memory_order_relaxed);
    if (pid == 0) {
        static const int registered = pthread_atfork(nullptr, nullptr, ForgetProcessId);
        (void)registered;
        pid = ::getpid();
        g_processId.store(pid, std::memory_order_relaxed);
    }
    return static_cast<DWORD>(pid);
}

BOOL GetExitCodeThread(HANDLE handle, LPDWORD exitCode) {
    auto thread = LookupHandleAs<Thread>(handle);
    if (!thread || exitCode == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(thread->Mutex());
    *exitCode = thread->exitCode_;
    return TRUE;
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == INFINITE) {
        for (;;) {
            ::pause();
        }
    }
    timespec ts{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

// Thread-local slots map onto pthread keys.
DWORD TlsAlloc() {
    pthread_key_t key;
    if (pthread_key_create(&key, nullptr) != 0) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return TLS_OUT_OF_INDEXES;
    }
    return static_cast<DWORD>(key);
}
BOOL TlsFree(DWORD index) {
    return pthread_key_delete(static_cast<pthread_key_t>(index)) == 0 ? TRUE : FALSE;
}
LPVOID TlsGetValue(DWORD index) {
    SetLastError(ERROR_SUCCESS);
    return pthread_getspecific(static_cast<pthread_key_t>(index));
}
BOOL TlsSetValue(DWORD index, LPVOID value) {
    return pthread_setspecific(static_cast<pthread_key_t>(index), value) == 0 ? TRUE : FALSE;
}

LONG InterlockedIncrement(LONG volatile* target) {
    return __atomic_add_fetch(target, 1, __ATOMIC_SEQ_CST);
}
LONG InterlockedDecrement(LONG volatile* target) {
    return __atomic_sub_fetch(target, 1, __ATOMIC_SEQ_CST);
}
LONG InterlockedExchange(LONG volatile* target, LONG value) {
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
LONG InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand) {
    __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return comparand;
}

void* InterlockedExchangePointer(void* volatile* target, void* value) {
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
void* InterlockedCompareExchangePointer(void* volatile* target, void* exchange, void* comparand) {
    __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return comparand;
}

void GetSystemTimeAsFileTime(LPFILETIME time) {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    // 100-nanosecond units since 1601-01-01.
    const int64_t ticks =
        (static_cast<int64_t>(ts.tv_sec) + 11644473600LL) * 10000000LL + ts.tv_nsec / 100;
    time->dwLowDateTime = static_cast<DWORD>(ticks);
    time->dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
}

ULONGLONG GetTickCount64() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<ULONGLONG>(ts.tv_sec) * 1000u +
           static_cast<ULONGLONG>(ts.tv_nsec) / 1000000u;
}
DWORD GetTickCount() {
    return static_cast<DWORD>(GetTickCount64());
}

HMODULE GetModuleHandleW(LPCWSTR moduleName) {
    if (moduleName != nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    // A fixed, nonzero value that stands for the executable for the whole run.
    static char executable;
    return reinterpret_cast<HMODULE>(&executable);
}
