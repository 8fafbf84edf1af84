// Waiting for another thread that is a few instructions away from its next
// step: the incoming queue's readers and writers, and a stop waiting for the
// stopping thread's last touch of its object.
#pragma once

#include <chrono>
#include <thread>

#include "platform/win32.h"

namespace VidOzir {

// Spins, then yields; a thread that stays away longer (preempted on a busy
// machine, or of a lower priority than a yield lets run) gets a short sleep,
// which lets any thread run.
inline void Backoff(int* spins) {
    ++*spins;
    if (*spins < 64) {
#if defined(_MSC_VER)
        YieldProcessor();
#elif defined(__i386__) || defined(__x86_64__)
        __builtin_ia32_pause();
#endif
    } else if (*spins < 128) {
        std::this_thread::yield();
    } else {
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
}

}  // namespace VidOzir
