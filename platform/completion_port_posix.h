// The completion port engine of the non-Windows platform layer: a queue of
// completion packets with its own lock. Posting touches only that lock, and
// wakes a reader (a system call) only when one sleeps on the port.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "platform/handles_posix.h"

namespace vidozir::platform {

struct Packet {
    DWORD bytes;
    ULONG_PTR key;
    LPOVERLAPPED overlapped;
    DWORD error;  // the failure of the operation the packet completes, 0 for none
};

class Port final : public KernelObject {
public:
    void Post(const Packet& packet);
    // Takes the oldest packet, waiting up to `milliseconds` (INFINITE for no
    // limit); false when none came.
    bool Get(Packet* packet, DWORD milliseconds);
    // Read without the port's lock: a poll of an empty port returns at once.
    bool LooksEmpty() const { return count_.load(std::memory_order_acquire) == 0; }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Packet> packets_;
    std::atomic<size_t> count_{0};
    int waiters_ = 0;
};

}  // namespace vidozir::platform
