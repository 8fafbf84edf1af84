// The completion port engine (see platform/completion_port_posix.h).
#include "platform/completion_port_posix.h"

#include <algorithm>

#include "platform/waits_posix.h"

namespace vidozir::platform {

void Port::Post(const Packet& packet) {
    std::atomic<int>* sleeper = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        packets_.push_back(packet);
        count_.store(packets_.size(), std::memory_order_release);
        if (!waiters_.empty()) {
            sleeper = waiters_.front()->MarkWoken();
            waiters_.erase(waiters_.begin());
        }
    }
    // After the unlock, so the woken reader does not block at once on the
    // mutex still held here (see Waiter::MarkWoken).
    if (sleeper != nullptr) {
        Waiter::WakeWord(sleeper);
    }
}

bool Port::Get(Packet* packet, DWORD milliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (packets_.empty() && milliseconds != 0) {
        const auto deadline = DeadlineAfter(milliseconds);
        Waiter waiter;
        while (packets_.empty()) {
            waiter.Arm();
            waiters_.push_back(&waiter);
            lock.unlock();
            const bool woken = waiter.Sleep(deadline);
            lock.lock();
            // A post that woke the waiter took it off the list; one whose
            // deadline passed first is still on it. A woken reader that finds
            // the packet taken by another one goes back to sleep.
            auto it = std::find(waiters_.begin(), waiters_.end(), &waiter);
            if (it != waiters_.end()) {
                waiters_.erase(it);
            }
            if (!woken) {
                break;
            }
        }
    }
    if (packets_.empty()) {
        return false;
    }
    *packet = packets_.front();
    packets_.pop_front();
    count_.store(packets_.size(), std::memory_order_release);
    return true;
}

}  // namespace vidozir::platform
