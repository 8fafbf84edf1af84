// The completion port engine of the non-Windows platform layer: a queue of
// completion packets with its own lock. Posting touches only that lock, and
// wakes a reader (a system call) only when one sleeps on the port.
#pragma once

#include <atomic>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/handles_posix.h"
#include "platform/waits_posix.h"

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
    std::deque<Packet> packets_;
    std::atomic<size_t> count_{0};
    // A reader asleep on the port, and where its packet goes.
    struct Reader {
        Waiter waiter{true};
        Packet* packet;
    };
    // Readers asleep on the port, oldest first. A post hands its packet to
    // the oldest and wakes it through its futex word after releasing mutex_;
    // the reader then returns without taking mutex_ again.
    std::vector<Reader*> waiters_;
};

}  // namespace vidozir::platform
