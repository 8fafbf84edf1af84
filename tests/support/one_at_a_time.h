// Gives a signal (an event set, a posted packet) to competing takers one at a
// time, each given only once the one before was taken, while the takers wait
// with limits short enough to run out as it is given. Each given signal must
// be taken exactly once: one given to no one stalls the giving, one taken
// twice shows in the count.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

namespace vidozir_test {

struct OneAtATime {
    int taken = 0;
    int stalledAt = 0;  // the signal no one took within 5 s, 0 for none
};

// `take` is called again and again on each of `takers` threads; true when it
// took a signal.
inline OneAtATime GiveOneAtATime(int signals, int takers, const std::function<void()>& give,
                                 const std::function<bool(int taker)>& take) {
    std::atomic<int> taken{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < takers; ++t) {
        threads.emplace_back([&, t] {
            while (!stop) {
                taken += take(t) ? 1 : 0;
            }
        });
    }
    OneAtATime result;
    for (int i = 1; i <= signals && result.stalledAt == 0; ++i) {
        give();
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (taken.load() < i && std::chrono::steady_clock::now() < limit) {
            std::this_thread::yield();
        }
        result.stalledAt = taken.load() < i ? i : 0;
    }
    stop = true;
    for (std::thread& thread : threads) {
        thread.join();
    }
    result.taken = taken.load();
    return result;
}

}  // namespace vidozir_test
