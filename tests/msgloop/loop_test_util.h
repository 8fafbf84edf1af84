// Tasks and loops shared by the message-loop tests.
#pragma once

#include <atomic>
#include <functional>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <thread>

#include "vidozir/msgloop.h"

namespace msgloop_test {

// Runs a function; counts its destruction.
class FnTask : public VidOzir::CTask {
public:
    explicit FnTask(std::function<void()> run, std::atomic<int>* destroyed = nullptr)
        : m_run(std::move(run)), m_destroyed(destroyed) {}
    ~FnTask() override {
        if (m_destroyed != nullptr) {
            ++*m_destroyed;
        }
    }
    void Run() override {
        if (m_run) {
            m_run();
        }
    }

private:
    std::function<void()> m_run;
    std::atomic<int>* m_destroyed;
};

inline FnTask* Record(std::vector<int>* order, int id, std::atomic<int>* destroyed = nullptr) {
    return new FnTask([order, id] { order->push_back(id); }, destroyed);
}

// A loop of the given type run on its own thread until Stop.
class LoopThread {
public:
    explicit LoopThread(VidOzir::CMessageLoop::Type type) {
        m_thread = std::thread([this, type] {
            VidOzir::CMessageLoop* loop = type == VidOzir::CMessageLoop::TYPE_IO
                                              ? new VidOzir::CMessageLoopIO
                                              : new VidOzir::CMessageLoop(type);
            m_loop = loop;
            m_started.Signal();
            loop->Run();
            delete loop;
        });
        m_started.Wait();
    }
    ~LoopThread() { Stop(); }
    void Stop() {
        if (m_thread.joinable()) {
            m_loop->PostTask(new VidOzir::CMessageLoop::QuitTask, 0);
            m_thread.join();
        }
    }
    VidOzir::CMessageLoop* loop() const { return m_loop; }

private:
    VidOzir::CWaitableEvent m_started;
    VidOzir::CMessageLoop* m_loop = nullptr;
    std::thread m_thread;
};

inline void ExpectPostFromAnotherThreadWakesAnIdleLoop(VidOzir::CMessageLoop::Type type) {
    LoopThread thread(type);
    // Let the pump reach its wait first.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    VidOzir::CWaitableEvent ran;
    const VidOzir::Time posted = VidOzir::Time::Now();
    thread.loop()->PostTask(new FnTask([&] { ran.Signal(); }), 0);
    ASSERT_EQ(1, ran.TimedWait(5000));
    EXPECT_LT(VidOzir::Time::Now() - posted, 1000);  // woken, not found by chance
}

inline void ExpectDelayedTaskRunsWhenDue(VidOzir::CMessageLoop::Type type, int delay) {
    LoopThread thread(type);
    VidOzir::CWaitableEvent ran;
    VidOzir::Time ranAt;
    const VidOzir::Time posted = VidOzir::Time::Now();
    thread.loop()->PostTask(new FnTask([&] {
                                ranAt = VidOzir::Time::Now();
                                ran.Signal();
                            }),
                            delay);
    ASSERT_EQ(1, ran.TimedWait(delay + 5000));
    EXPECT_GE(ranAt.GetValue(), (posted + delay).GetValue());
    EXPECT_LT(ranAt - posted, delay + 1000);
}

// Every producer's tasks run exactly once and in its posting order.
inline void StressProducers(VidOzir::CMessageLoop::Type type, int producers, int perProducer) {
    LoopThread thread(type);
    std::vector<int> next(producers, 0);  // touched only on the loop's thread
    std::atomic<int> outOfOrder{0};
    std::vector<std::thread> threads;
    for (int p = 0; p < producers; ++p) {
        threads.emplace_back([&, p] {
            for (int i = 0; i < perProducer; ++i) {
                thread.loop()->PostTask(new FnTask([&next, &outOfOrder, p, i] {
                                            if (next[p] != i) {
                                                ++outOfOrder;
                                            }
                                            next[p] = i + 1;
                                        }),
                                        0);
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    thread.Stop();
    EXPECT_EQ(0, outOfOrder.load());
    for (int p = 0; p < producers; ++p) {
        EXPECT_EQ(perProducer, next[p]) << p;
    }
}

}  // namespace msgloop_test
