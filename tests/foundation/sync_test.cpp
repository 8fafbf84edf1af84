#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "vidozir/foundation.h"

using VidOzir::CAutoLock;
using VidOzir::CLock;
using VidOzir::CWaitableEvent;

namespace {

TEST(Lock, RecursiveAndExclusive) {
    CLock lock;
    long counter = 0;
    {
        CAutoLock outer(lock);
        CAutoLock inner(lock);  // the owner may take it again
        ++counter;
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                CAutoLock hold(lock);
                ++counter;
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(counter, 80001);
}

TEST(WaitableEvent, AutoResetConsumesTheSignal) {
    CWaitableEvent event;
    EXPECT_NE(event.GetHandle(), nullptr);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(event.TimedWait(0), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    event.Signal();
    EXPECT_EQ(event.TimedWait(0), 1);
    EXPECT_EQ(event.TimedWait(0), 0);
    event.Signal();
    EXPECT_EQ(event.Wait(), 1);
    event.Signal();
    event.Reset();
    EXPECT_EQ(event.TimedWait(0), 0);
}

TEST(WaitableEvent, ManualResetStaysSignalled) {
    CWaitableEvent event(1, 1);
    EXPECT_EQ(event.TimedWait(0), 1);
    EXPECT_EQ(event.TimedWait(0), 1);
    event.Reset();
    EXPECT_EQ(event.TimedWait(0), 0);
}

TEST(WaitableEvent, TimedWaitIsNeverEarly) {
    CWaitableEvent event;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(event.TimedWait(60), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(59));
}

// A negative limit means no wait at all, as 0 does: neither "forever" nor a
// short sleep. Timed against limit 0 in the same run, so load cancels out.
TEST(WaitableEvent, NegativeLimitWaitsNoMoreThanZero) {
    CWaitableEvent event;
    auto elapsed = [&event](int limit) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 300; ++i) {
            EXPECT_EQ(event.TimedWait(limit), 0);
        }
        return std::chrono::steady_clock::now() - start;
    };
    const auto zero = elapsed(0);
    EXPECT_LT(elapsed(-1), 2 * zero + std::chrono::milliseconds(100));
}

}  // namespace
