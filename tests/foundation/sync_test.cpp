#include <gtest/gtest.h>

#include <atomic>
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

TEST(WaitableEvent, WakesAWaiterOnAnotherThread) {
    CWaitableEvent event;
    std::atomic<int> result{-1};
    std::thread waiter([&] { result = event.TimedWait(10000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    event.Signal();
    waiter.join();
    EXPECT_EQ(result.load(), 1);
    EXPECT_EQ(event.TimedWait(0), 0);  // the waiter consumed it
}

TEST(WaitableEvent, OneSignalReleasesOneWaiter) {
    CWaitableEvent event;
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] { woken += event.TimedWait(300); });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    event.Signal();
    for (auto& t : waiters) {
        t.join();
    }
    EXPECT_EQ(woken.load(), 1);
}

}  // namespace
