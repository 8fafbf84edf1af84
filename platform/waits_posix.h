// The wait machinery of the non-Windows platform layer. Every waitable kind
// (events, threads, message queues, sent messages, ...) derives from Waitable
// and guards its signal state with its own lock: setting one object touches
// nothing but that object, and a wait on several objects registers one
// Waiter with each of them, so WaitForMultipleObjects works across kinds.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/handles_posix.h"

namespace vidozir::platform {

// One waiting thread. A signalled object wakes it through a futex word: no
// lock of the waiter's own, and no system call when it is not asleep.
class Waiter {
public:
    // `alone`: the thread waits on one object only, so an auto-reset event
    // may hand it its signal (see HandOff).
    explicit Waiter(bool alone = false) : alone_(alone) {}
    // Before a look at the objects: a wake from now on ends the next sleep.
    void Arm() { state_.store(0, std::memory_order_seq_cst); }
    // Called with the lock of an object the waiter is registered with.
    void Wake();
    // Marks the waiter woken like Wake, with the lock held, but leaves the
    // system call: returns the word to pass to WakeWord once the lock is
    // released, or null when the waiter is not asleep. A thread woken under
    // the lock would at once block on that lock; a wake after it may reach a
    // waiter that has already left (its deadline passed), which costs at most
    // a spurious wake of whatever sleeps on that word now, and every sleep
    // here rechecks its word.
    std::atomic<int>* MarkWoken();
    static void WakeWord(std::atomic<int>* word);
    // Called with the lock of the one object a lone waiter waits on, which
    // then takes it off its list: ends the wait as satisfied, so the woken
    // thread returns without taking that lock again. False when the waiter
    // was woken already; `*word` as for MarkWoken.
    bool HandOff(std::atomic<int>** word);
    bool HandedOff() const { return state_.load(std::memory_order_acquire) == kHanded; }
    bool Alone() const { return alone_; }
    // Sleeps until woken or the deadline passes (time_point::max() for
    // never); false on the deadline.
    bool Sleep(std::chrono::steady_clock::time_point deadline);

private:
    static constexpr int kWoken = 1, kAsleep = 2, kHanded = 3;
    std::atomic<int> state_{0};  // 0, or one of the above
    const bool alone_;
};

class Waitable : public KernelObject {
public:
    // The lock of the object's signal state and of its waiters.
    std::mutex& Mutex() const { return mutex_; }

    // Called with Mutex() held.
    virtual bool IsSignaledLocked() const = 0;
    // Called with Mutex() held when a wait is satisfied by this object: an
    // auto-reset event resets. (No kind here can be abandoned: the one mutex
    // kind, named and shared between processes, waits by itself.)
    virtual void ConsumeLocked() {}

    void AddWaiterLocked(Waiter* waiter);
    void RemoveWaiterLocked(Waiter* waiter);
    // Wakes every thread waiting on this object; call after a state change
    // with Mutex() held.
    void NotifyLocked();

    // NotifyLocked in two halves, for the hot paths: with Mutex() held, mark
    // every waiter woken and keep the words of the sleeping ones (up to
    // kMaxDeferred; beyond that they are woken at once); after releasing
    // Mutex(), Finish makes the system calls.
    class DeferredWake {
    public:
        void Finish();

    private:
        friend class Waitable;
        // Keeps a word to wake (none for null); wakes it at once when full.
        void Add(std::atomic<int>* word);
        static constexpr size_t kMaxDeferred = 4;
        std::atomic<int>* words_[kMaxDeferred] = {};
        size_t count_ = 0;
    };
    void NotifyLocked(DeferredWake* wake);
    // For an auto-reset object being signalled, with Mutex() held: gives the
    // signal to the first lone waiter instead, as Windows releases one waiter,
    // and takes it off the list; false when none takes it.
    bool HandOffLocked(DeferredWake* wake);

private:
    mutable std::mutex mutex_;
    // A lone waiter is kept beside the lock, not in the list: the set that
    // hands it the signal then touches no line but the object's and the
    // waiter's.
    Waiter* lone_ = nullptr;
    std::vector<Waiter*> waiters_;
};

// A kind whose state lives outside this process (a named mutex in shared
// memory) cannot be watched through waiters, so it waits through its own
// primitive. WaitForSingleObject calls Wait; a wait on several objects that
// includes one fails with ERROR_NOT_SUPPORTED.
class SelfWaitable : public KernelObject {
public:
    // Returns WAIT_OBJECT_0, WAIT_ABANDONED, WAIT_TIMEOUT or WAIT_FAILED.
    virtual DWORD Wait(DWORD milliseconds) = 0;
};

// Waits for one object; returns the WAIT_* result.
DWORD WaitForObject(Waitable& object, DWORD milliseconds);

// Waits for one (waitAll false) or all objects; returns the WAIT_* result.
// A wait for one takes the first signalled object in the given order; a wait
// for all takes them together, under all their locks at once (the objects
// must then be distinct). Other areas wait on their own objects through it
// too (a thread's message queue is a Waitable, so a message wait is a wait on
// one more object).
DWORD WaitForObjects(const std::vector<std::shared_ptr<Waitable>>& objects, bool waitAll,
                     DWORD milliseconds);

// The deadline of a wait that begins now; time_point::max() for INFINITE.
std::chrono::steady_clock::time_point DeadlineAfter(DWORD milliseconds);

}  // namespace vidozir::platform
