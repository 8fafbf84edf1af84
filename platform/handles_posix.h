// The handle model of the non-Windows platform layer. A HANDLE names a
// reference-counted KernelObject through a process-wide table, so a stale or
// doubled CloseHandle fails with ERROR_INVALID_HANDLE instead of touching
// freed memory. Waitable kinds (events, threads, ports, message queues, ...)
// derive from Waitable and share one wait machinery, so WaitForMultipleObjects
// works across kinds.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <typeinfo>
#include <vector>

#include "platform/kernel.h"

namespace vidozir::platform {

class KernelObject {
public:
    virtual ~KernelObject() = default;
};

// Every waitable object's signal state is guarded by the one wait mutex, so a
// wait on several objects sees all their states at one instant and a wait for
// all of them takes them atomically.
std::mutex& WaitMutex();

struct Waiter {
    std::condition_variable cv;
};

class Waitable : public KernelObject {
public:
    // Called with WaitMutex() held.
    virtual bool IsSignaledLocked() const = 0;
    // Called with WaitMutex() held when a wait is satisfied by this object:
    // an auto-reset event resets, a mutex takes its owner. Returns true when
    // the object was abandoned (a mutex whose owner died).
    virtual bool ConsumeLocked() { return false; }

    void AddWaiterLocked(Waiter* waiter) { waiters_.push_back(waiter); }
    void RemoveWaiterLocked(Waiter* waiter);
    // Wakes every thread waiting on this object; call after a state change
    // with WaitMutex() held.
    void NotifyLocked();

private:
    std::vector<Waiter*> waiters_;
};

// A kind whose state lives outside this process (a named mutex in shared
// memory) cannot be watched through WaitMutex() and the waiters' condition
// variables, so it waits through its own primitive. WaitForSingleObject calls
// Wait; a wait on several objects that includes one fails with
// ERROR_NOT_SUPPORTED.
class SelfWaitable : public KernelObject {
public:
    // Returns WAIT_OBJECT_0, WAIT_ABANDONED, WAIT_TIMEOUT or WAIT_FAILED.
    virtual DWORD Wait(DWORD milliseconds) = 0;
};

// Handle table.
HANDLE InsertHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);
template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}
bool RemoveHandle(HANDLE handle);
// The object of the kind a call needs, or null with ERROR_INVALID_HANDLE set,
// as every call given a wrong or stale handle answers.
template <class T>
std::shared_ptr<T> RequireHandle(HANDLE handle) {
    auto object = LookupHandleAs<T>(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
    }
    return object;
}

// Looks at the object of a handle while the handle table holds it, without
// taking a reference: the cheap path of hot calls whose usual case needs no
// reference (setting a set event, polling an empty port). Keep the look short
// and do not touch the handle table while it lasts.
class HandlePeek {
public:
    explicit HandlePeek(HANDLE handle);
    ~HandlePeek();
    HandlePeek(const HandlePeek&) = delete;
    HandlePeek& operator=(const HandlePeek&) = delete;

    // The object when it is exactly of kind T (a final class), else null.
    template <class T>
    T* As() const {
        return object_ != nullptr && typeid(*object_) == typeid(T) ? static_cast<T*>(object_)
                                                                   : nullptr;
    }
    // A reference to the object, for work that must go on after the peek.
    template <class T>
    std::shared_ptr<T> Share() const {
        return std::shared_ptr<T>(*owner_, As<T>());
    }

private:
    std::unique_lock<std::mutex> lock_;
    const std::shared_ptr<KernelObject>* owner_ = nullptr;
    KernelObject* object_ = nullptr;
};

// Waits for one (waitAll false) or all objects; returns the WAIT_* result.
// Other areas wait on their own objects through it too (a thread's message
// queue is a Waitable, so a message wait is a wait on one more object).
DWORD WaitForObjects(const std::vector<std::shared_ptr<Waitable>>& objects, bool waitAll,
                     DWORD milliseconds);

// The deadline of a wait that begins now; time_point::max() for INFINITE.
std::chrono::steady_clock::time_point DeadlineAfter(DWORD milliseconds);

}  // namespace vidozir::platform
