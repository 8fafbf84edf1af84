// The wait machinery (see platform/waits_posix.h).
#include "platform/waits_posix.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

namespace vidozir::platform {

namespace {

using Clock = std::chrono::steady_clock;

void FutexWait(std::atomic<int>* word, int expected, const timespec* relative) {
    ::syscall(SYS_futex, reinterpret_cast<int*>(word), FUTEX_WAIT_PRIVATE, expected, relative,
              nullptr, 0);
}

void FutexWake(std::atomic<int>* word) {
    ::syscall(SYS_futex, reinterpret_cast<int*>(word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

// Locks the objects of a wait for all in one global order (their addresses),
// so two such waits on overlapping sets cannot deadlock.
class LockAll {
public:
    explicit LockAll(const std::vector<std::shared_ptr<Waitable>>& objects) {
        for (const auto& object : objects) {
            order_.push_back(object.get());
        }
        std::sort(order_.begin(), order_.end());
        for (Waitable* object : order_) {
            object->Mutex().lock();
        }
    }
    ~LockAll() {
        for (auto it = order_.rbegin(); it != order_.rend(); ++it) {
            (*it)->Mutex().unlock();
        }
    }
    LockAll(const LockAll&) = delete;
    LockAll& operator=(const LockAll&) = delete;

private:
    std::vector<Waitable*> order_;
};

// One look at the objects of a wait for one: the first signalled one is
// consumed and its WAIT_* result returned; otherwise the waiter is left
// registered with each (once) and WAIT_TIMEOUT returned. `registered` counts
// the leading objects that hold the waiter.
DWORD TakeAny(const std::vector<std::shared_ptr<Waitable>>& objects, Waiter* waiter,
              size_t* registered) {
    for (size_t i = 0; i < objects.size(); ++i) {
        Waitable& object = *objects[i];
        std::lock_guard<std::mutex> lock(object.Mutex());
        if (object.IsSignaledLocked()) {
            object.ConsumeLocked();
            return WAIT_OBJECT_0 + static_cast<DWORD>(i);
        }
        if (i == *registered) {
            object.AddWaiterLocked(waiter);
            ++*registered;
        }
    }
    return WAIT_TIMEOUT;
}

DWORD TakeAll(const std::vector<std::shared_ptr<Waitable>>& objects, Waiter* waiter,
              size_t* registered) {
    LockAll lock(objects);
    const bool all = std::all_of(objects.begin(), objects.end(),
                                 [](const auto& o) { return o->IsSignaledLocked(); });
    if (all) {
        for (const auto& object : objects) {
            object->ConsumeLocked();
        }
        return WAIT_OBJECT_0;
    }
    if (*registered == 0) {
        for (const auto& object : objects) {
            object->AddWaiterLocked(waiter);
        }
        *registered = objects.size();
    }
    return WAIT_TIMEOUT;
}

}  // namespace

void Waiter::Wake() {
    if (state_.exchange(kWoken, std::memory_order_seq_cst) == kAsleep) {
        FutexWake(&state_);
    }
}

std::atomic<int>* Waiter::MarkWoken() {
    return state_.exchange(kWoken, std::memory_order_seq_cst) == kAsleep ? &state_ : nullptr;
}

bool Waiter::HandOff(std::atomic<int>** word) {
    int state = state_.load(std::memory_order_relaxed);
    do {
        if (state == kWoken || state == kHanded) {
            return false;
        }
    } while (!state_.compare_exchange_weak(state, kHanded, std::memory_order_seq_cst));
    *word = state == kAsleep ? &state_ : nullptr;
    return true;
}

void Waiter::WakeWord(std::atomic<int>* word) {
    FutexWake(word);
}

bool Waiter::Sleep(Clock::time_point deadline) {
    for (;;) {
        int state = 0;
        // Announce the sleep; a wake that came first ends it.
        if (!state_.compare_exchange_strong(state, kAsleep, std::memory_order_seq_cst) &&
            state != kAsleep) {
            return true;
        }
        if (deadline == Clock::time_point::max()) {
            FutexWait(&state_, kAsleep, nullptr);
        } else {
            const auto left = deadline - Clock::now();
            if (left <= Clock::duration::zero()) {
                int asleep = kAsleep;
                state_.compare_exchange_strong(asleep, 0);
                return state_.load() != 0;
            }
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            const timespec relative{static_cast<time_t>(ns / 1000000000),
                                    static_cast<long>(ns % 1000000000)};
            FutexWait(&state_, kAsleep, &relative);
        }
        state = state_.load(std::memory_order_seq_cst);
        if (state == kWoken || state == kHanded) {
            return true;
        }
    }
}

void Waitable::AddWaiterLocked(Waiter* waiter) {
    if (waiter->Alone() && lone_ == nullptr) {
        lone_ = waiter;
    } else {
        waiters_.push_back(waiter);
    }
}

void Waitable::RemoveWaiterLocked(Waiter* waiter) {
    if (lone_ == waiter) {
        lone_ = nullptr;
        return;
    }
    auto it = std::find(waiters_.begin(), waiters_.end(), waiter);
    if (it != waiters_.end()) {
        waiters_.erase(it);
    }
}

void Waitable::NotifyLocked() {
    if (lone_ != nullptr) {
        lone_->Wake();
    }
    for (Waiter* waiter : waiters_) {
        waiter->Wake();
    }
}

void Waitable::NotifyLocked(DeferredWake* wake) {
    if (lone_ != nullptr) {
        wake->Add(lone_->MarkWoken());
    }
    for (Waiter* waiter : waiters_) {
        wake->Add(waiter->MarkWoken());
    }
}

bool Waitable::HandOffLocked(DeferredWake* wake) {
    std::atomic<int>* word = nullptr;
    if (lone_ != nullptr && lone_->HandOff(&word)) {
        lone_ = nullptr;
        wake->Add(word);
        return true;
    }
    for (auto it = waiters_.begin(); it != waiters_.end(); ++it) {
        if ((*it)->Alone() && (*it)->HandOff(&word)) {
            waiters_.erase(it);
            wake->Add(word);
            return true;
        }
    }
    return false;
}

void Waitable::DeferredWake::Add(std::atomic<int>* word) {
    if (word == nullptr) {
        return;
    }
    if (count_ < kMaxDeferred) {
        words_[count_++] = word;
    } else {
        Waiter::WakeWord(word);
    }
}

void Waitable::DeferredWake::Finish() {
    for (size_t i = 0; i < count_; ++i) {
        Waiter::WakeWord(words_[i]);
    }
    count_ = 0;
}

Clock::time_point DeadlineAfter(DWORD milliseconds) {
    if (milliseconds == INFINITE) {
        return Clock::time_point::max();
    }
    return Clock::now() + std::chrono::milliseconds(milliseconds);
}

// A wait on one object needs no list of objects, and a lone waiter handed
// the signal of an auto-reset event returns without taking the object's lock
// again: its setter has already taken it off the list.
DWORD WaitForObject(Waitable& object, DWORD milliseconds) {
    std::unique_lock<std::mutex> lock(object.Mutex());
    if (object.IsSignaledLocked()) {
        object.ConsumeLocked();
        return WAIT_OBJECT_0;
    }
    if (milliseconds == 0) {
        return WAIT_TIMEOUT;
    }
    const auto deadline = DeadlineAfter(milliseconds);
    Waiter waiter(true);
    object.AddWaiterLocked(&waiter);
    for (;;) {
        waiter.Arm();
        lock.unlock();
        const bool woken = waiter.Sleep(deadline);
        if (waiter.HandedOff()) {
            return WAIT_OBJECT_0;
        }
        lock.lock();
        if (waiter.HandedOff()) {  // while the deadline passed
            return WAIT_OBJECT_0;
        }
        if (object.IsSignaledLocked()) {
            object.RemoveWaiterLocked(&waiter);
            object.ConsumeLocked();
            return WAIT_OBJECT_0;
        }
        if (!woken) {
            object.RemoveWaiterLocked(&waiter);
            return WAIT_TIMEOUT;
        }
    }
}

DWORD WaitForObjects(const std::vector<std::shared_ptr<Waitable>>& objects, bool waitAll,
                     DWORD milliseconds) {
    const auto deadline = DeadlineAfter(milliseconds);
    Waiter waiter;
    size_t registered = 0;
    DWORD result;
    for (;;) {
        waiter.Arm();
        result = waitAll ? TakeAll(objects, &waiter, &registered)
                         : TakeAny(objects, &waiter, &registered);
        if (result != WAIT_TIMEOUT || !waiter.Sleep(deadline)) {
            break;
        }
    }
    for (size_t i = 0; i < registered; ++i) {
        std::lock_guard<std::mutex> lock(objects[i]->Mutex());
        objects[i]->RemoveWaiterLocked(&waiter);
    }
    return result;
}

}  // namespace vidozir::platform
