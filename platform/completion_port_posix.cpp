// The completion port engine (see platform/completion_port_posix.h).
#include "platform/completion_port_posix.h"

#include <algorithm>

#include "platform/waits_posix.h"

namespace vidozir::platform {

void Port::Post(const Packet& packet) {
    std::atomic<int>* sleeper = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        bool handed = false;
        if (!waiters_.empty()) {
            Reader* reader = waiters_.front();
            *reader->packet = packet;  // read by the reader once HandOff succeeds
            handed = reader->waiter.HandOff(&sleeper);
            waiters_.erase(waiters_.begin());
        }
        if (!handed) {
            packets_.push_back(packet);
            count_.store(packets_.size(), std::memory_order_release);
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
        Reader reader;
        reader.packet = packet;
        reader.waiter.Arm();
        waiters_.push_back(&reader);
        lock.unlock();
        reader.waiter.Sleep(deadline);
        if (reader.waiter.HandedOff()) {
            return true;
        }
        lock.lock();
        if (reader.waiter.HandedOff()) {  // while the deadline passed
            return true;
        }
        // The deadline passed with the reader still on the list.
        waiters_.erase(std::find(waiters_.begin(), waiters_.end(), &reader));
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
