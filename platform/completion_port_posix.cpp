// The completion port engine (see platform/completion_port_posix.h).
#include "platform/completion_port_posix.h"

#include "platform/waits_posix.h"

namespace vidozir::platform {

void Port::Post(const Packet& packet) {
    bool wake;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        packets_.push_back(packet);
        count_.store(packets_.size(), std::memory_order_release);
        wake = waiters_ > 0;
    }
    // After the unlock, so the woken reader does not block at once on the
    // mutex still held here. The reader counted in waiters_ is inside its
    // wait or about to be, and the caller's handle look keeps the port alive.
    if (wake) {
        cv_.notify_one();
    }
}

bool Port::Get(Packet* packet, DWORD milliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (packets_.empty() && milliseconds != 0) {
        const auto deadline = DeadlineAfter(milliseconds);
        ++waiters_;
        while (packets_.empty()) {
            if (deadline == std::chrono::steady_clock::time_point::max()) {
                cv_.wait(lock);
            } else if (cv_.wait_until(lock, deadline) == std::cv_status::timeout) {
                break;
            }
        }
        --waiters_;
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
