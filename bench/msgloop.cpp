// Message-loop throughput and latency beside Boost.Asio (an io_context run by
// one thread, posted to from others) and a bare locked queue (mutex, condition
// variable and deque; one lock and one notify per post, one pop per lock), the
// practical ceiling of a locked queue.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <utility>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/executor_work_guard.hpp>

#include "bench_ratio.h"
#include "vidozir/msgloop.h"
#include "vidozir/thread.h"

namespace {

using VidOzir::CMessageLoop;
using VidOzir::CTask;

const int kBatch = 200000;

// Counts finished tasks; the poster waits for the whole batch.
class Finish {
public:
    void Reset(int target) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_target = target;
        m_done = 0;
    }
    void One() {
        if (++m_done == m_target) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_cv.notify_all();
        }
    }
    void Wait() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [this] { return m_done.load() >= m_target; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::atomic<int> m_done{0};
    int m_target = 0;
};

class CountTask : public CTask {
public:
    explicit CountTask(Finish* finish) : m_finish(finish) {}
    void Run() override { m_finish->One(); }

private:
    Finish* m_finish;
};

// The sides behind one interface: start a consumer, post from any thread, stop.
class Side {
public:
    virtual ~Side() = default;
    virtual void Post(Finish* finish) = 0;
};

class LoopSide : public Side {
public:
    explicit LoopSide(CMessageLoop::Type type) {
        std::mutex mutex;
        std::condition_variable cv;
        m_thread = std::thread([&, type] {
            CMessageLoop* loop = type == CMessageLoop::TYPE_IO ? new VidOzir::CMessageLoopIO
                                                               : new CMessageLoop(type);
            {
                std::lock_guard<std::mutex> lock(mutex);
                m_loop = loop;
            }
            cv.notify_all();
            loop->Run();
            delete loop;
        });
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait(lock, [&] { return m_loop != nullptr; });
    }
    ~LoopSide() override {
        m_loop->PostTask(new CMessageLoop::QuitTask, 0);
        m_thread.join();
    }
    void Post(Finish* finish) override { m_loop->PostTask(new CountTask(finish), 0); }
    CMessageLoop* loop() const { return m_loop; }

private:
    CMessageLoop* m_loop = nullptr;
    std::thread m_thread;
};

class AsioSide : public Side {
public:
    AsioSide() : m_guard(boost::asio::make_work_guard(m_io)), m_thread([this] { m_io.run(); }) {}
    ~AsioSide() override {
        m_guard.reset();
        m_thread.join();
    }
    void Post(Finish* finish) override {
        boost::asio::post(m_io, [finish] { finish->One(); });
    }

private:
    boost::asio::io_context m_io;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> m_guard;
    std::thread m_thread;
};

class BareQueueSide : public Side {
public:
    BareQueueSide() : m_thread([this] { Consume(); }) {}
    ~BareQueueSide() override {
        Push(nullptr);
        m_thread.join();
    }
    void Post(Finish* finish) override { Push(new CountTask(finish)); }

private:
    void Push(CTask* task) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(task);
        m_cv.notify_one();
    }
    void Consume() {
        for (;;) {
            CTask* task;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_cv.wait(lock, [this] { return !m_queue.empty(); });
                task = m_queue.front();
                m_queue.pop_front();
            }
            if (task == nullptr) {
                return;
            }
            task->Run();
            delete task;
        }
    }
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<CTask*> m_queue;
    std::thread m_thread;
};

template <class MakeSide>
void CrossThread(benchmark::State& state, MakeSide make, int producers) {
    std::unique_ptr<Side> side = make();
    Finish finish;
    for (auto _ : state) {
        finish.Reset(kBatch);
        std::vector<std::thread> helpers;
        auto produce = [&] {
            for (int i = 0; i < kBatch / producers; ++i) {
                side->Post(&finish);
            }
        };
        for (int p = 1; p < producers; ++p) {
            helpers.emplace_back(produce);
        }
        produce();
        for (auto& t : helpers) {
            t.join();
        }
        finish.Wait();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}

// Eight independent pairs, each a consumer fed by its own producer thread:
// unrelated loops in one process should not meet at any shared lock, so the
// rate grows with the cores instead of falling with the contention.
const int kPairs = 8;

template <class MakeSide>
void CrossThreadMany(benchmark::State& state, MakeSide make) {
    std::vector<std::unique_ptr<Side>> sides;
    std::vector<Finish> finishes(kPairs);
    for (int i = 0; i < kPairs; ++i) {
        sides.push_back(make());
    }
    for (auto _ : state) {
        std::vector<std::thread> producers;
        for (int i = 0; i < kPairs; ++i) {
            finishes[i].Reset(kBatch / kPairs);
            producers.emplace_back([&, i] {
                for (int n = 0; n < kBatch / kPairs; ++n) {
                    sides[i]->Post(&finishes[i]);
                }
                finishes[i].Wait();
            });
        }
        for (auto& t : producers) {
            t.join();
        }
    }
    state.SetItemsProcessed(state.iterations() * (kBatch / kPairs) * kPairs);
}

std::unique_ptr<Side> MakeDefault() {
    return std::make_unique<LoopSide>(CMessageLoop::TYPE_DEFAULT);
}
std::unique_ptr<Side> MakeIO() {
    return std::make_unique<LoopSide>(CMessageLoop::TYPE_IO);
}
std::unique_ptr<Side> MakeUI() {
    return std::make_unique<LoopSide>(CMessageLoop::TYPE_UI);
}
std::unique_ptr<Side> MakeAsio() {
    return std::make_unique<AsioSide>();
}
std::unique_ptr<Side> MakeBare() {
    return std::make_unique<BareQueueSide>();
}

// Posts a batch to the running thread's own loop, then runs it.
void SameThread(benchmark::State& state, CMessageLoop::Type type) {
    Finish finish;
    for (auto _ : state) {
        std::unique_ptr<CMessageLoop> loop(
            type == CMessageLoop::TYPE_IO ? new VidOzir::CMessageLoopIO : new CMessageLoop(type));
        finish.Reset(kBatch);
        for (int i = 0; i < kBatch; ++i) {
            loop->PostTask(new CountTask(&finish), 0);
        }
        loop->PostTask(new CMessageLoop::QuitTask, 0);
        loop->Run();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
void SameThread_Asio(benchmark::State& state) {
    boost::asio::io_context io;
    Finish finish;
    for (auto _ : state) {
        finish.Reset(kBatch);
        for (int i = 0; i < kBatch; ++i) {
            boost::asio::post(io, [&finish] { finish.One(); });
        }
        io.run();
        io.restart();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}

// A million tasks with random delays of 1 to 50 ms, inserted and run.
const int kDelayed = 1000000;

std::vector<int> RandomDelays() {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> delay(1, 50);
    std::vector<int> delays(kDelayed);
    for (int& d : delays) {
        d = delay(random);
    }
    return delays;
}

class QuitAfter : public CTask {
public:
    QuitAfter(int* left) : m_left(left) {}
    void Run() override {
        if (--*m_left == 0) {
            CMessageLoop::Current()->Quit();
        }
    }

private:
    int* m_left;
};

void Delayed(benchmark::State& state, CMessageLoop::Type type) {
    const std::vector<int> delays = RandomDelays();
    for (auto _ : state) {
        std::unique_ptr<CMessageLoop> loop(
            type == CMessageLoop::TYPE_IO ? new VidOzir::CMessageLoopIO : new CMessageLoop(type));
        int left = kDelayed;
        for (int d : delays) {
            loop->PostTask(new QuitAfter(&left), d);
        }
        loop->Run();
    }
    state.SetItemsProcessed(state.iterations() * kDelayed);
}
void Delayed_Asio(benchmark::State& state) {
    const std::vector<int> delays = RandomDelays();
    for (auto _ : state) {
        boost::asio::io_context io;
        std::vector<std::unique_ptr<boost::asio::steady_timer>> timers;
        timers.reserve(kDelayed);
        int left = kDelayed;
        for (int d : delays) {
            timers.push_back(
                std::make_unique<boost::asio::steady_timer>(io, std::chrono::milliseconds(d)));
            timers.back()->async_wait([&left](const boost::system::error_code&) { --left; });
        }
        io.run();
        benchmark::DoNotOptimize(left);
    }
    state.SetItemsProcessed(state.iterations() * kDelayed);
}

// Post to an idle consumer and time until the task starts: median and 99th
// percentile in microseconds; items_per_second is the inverse of the median.
class StampTask : public CTask {
public:
    StampTask(std::atomic<long long>* started) : m_started(started) {}
    void Run() override { m_started->store(Now()); }
    static long long Now() {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

private:
    std::atomic<long long>* m_started;
};

template <class PostStamp>
void WakeLatency(benchmark::State& state, PostStamp post) {
    std::vector<double> samples;
    std::atomic<long long> started{0};
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::microseconds(300));  // let it go idle
        started = 0;
        const long long posted = StampTask::Now();
        post(&started);
        while (started.load() == 0) {
            std::this_thread::yield();
        }
        samples.push_back(static_cast<double>(started.load() - posted) / 1000.0);
    }
    std::sort(samples.begin(), samples.end());
    const double median = samples[samples.size() / 2];
    state.counters["p50_us"] = median;
    state.counters["p99_us"] = samples[samples.size() * 99 / 100];
    state.counters["items_per_second"] = 1e6 / median;
}

void WakeLoop(benchmark::State& state, CMessageLoop::Type type) {
    LoopSide side(type);
    CMessageLoop* loop = side.loop();
    WakeLatency(state, [loop](std::atomic<long long>* s) { loop->PostTask(new StampTask(s), 0); });
}
void WakeLatency_Asio(benchmark::State& state) {
    boost::asio::io_context io;
    auto guard = boost::asio::make_work_guard(io);
    std::thread thread([&] { io.run(); });
    WakeLatency(state, [&io](std::atomic<long long>* s) {
        boost::asio::post(io, [s] { s->store(StampTask::Now()); });
    });
    guard.reset();
    thread.join();
}

// The cost of a thread of each kind: start (its loop exists) and stop (its
// loop is destroyed on it).
template <class Thread>
void StartStop(benchmark::State& state) {
    for (auto _ : state) {
        Thread thread;
        thread.StartThread();
        thread.StopThread();
    }
    state.SetItemsProcessed(state.iterations());
}

// Registered by workload and side so that the sides of a workload pair up.
// Two cores shared with other work give noisy single runs: every benchmark is
// repeated, the repetitions of all sides are interleaved at random, and the
// ratios are taken from the medians.
const bool kRegistered = [] {
    bench_ratio::SetDefaultFlags({"--benchmark_repetitions=5",
                                  "--benchmark_enable_random_interleaving=true",
                                  "--benchmark_display_aggregates_only=true"});
    using Make = std::unique_ptr<Side> (*)();
    const std::pair<const char*, Make> sides[] = {{"Default", MakeDefault},
                                                  {"IO", MakeIO},
                                                  {"UI", MakeUI},
                                                  {"Asio", MakeAsio},
                                                  {"BareQueue", MakeBare}};
    for (int producers : {1, 2}) {
        for (const auto& [side, make] : sides) {
            const std::string name = "CrossThread" + std::to_string(producers) + "_" + side;
            benchmark::RegisterBenchmark(name.c_str(), [make = make,
                                                        producers](benchmark::State& s) {
                CrossThread(s, make, producers);
            })->UseRealTime();
        }
    }
    for (const auto& [side, make] : sides) {
        benchmark::RegisterBenchmark(
            (std::string("CrossThreadMany_") + side).c_str(),
            [make = make](benchmark::State& s) { CrossThreadMany(s, make); })
            ->UseRealTime();
    }
    const std::pair<const char*, CMessageLoop::Type> loops[] = {
        {"Default", CMessageLoop::TYPE_DEFAULT}, {"IO", CMessageLoop::TYPE_IO}};
    for (const auto& [side, type] : loops) {
        benchmark::RegisterBenchmark((std::string("SameThread_") + side).c_str(), SameThread, type);
    }
    benchmark::RegisterBenchmark("SameThread_Asio", SameThread_Asio);
    for (const auto& [side, type] : loops) {
        benchmark::RegisterBenchmark((std::string("Delayed_") + side).c_str(), Delayed, type)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    benchmark::RegisterBenchmark("Delayed_Asio", Delayed_Asio)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    for (const auto& [side, type] : loops) {
        benchmark::RegisterBenchmark((std::string("WakeLatency_") + side).c_str(), WakeLoop, type)
            ->Iterations(3000)
            ->UseRealTime();
    }
    benchmark::RegisterBenchmark("WakeLatency_Asio", WakeLatency_Asio)
        ->Iterations(3000)
        ->UseRealTime();
    benchmark::RegisterBenchmark("StartStop_Default", StartStop<VidOzir::CThreadDefault>)
        ->UseRealTime();
    benchmark::RegisterBenchmark("StartStop_IO", StartStop<VidOzir::CThreadIO>)->UseRealTime();
    benchmark::RegisterBenchmark("StartStop_UI", StartStop<VidOzir::CThreadUI>)->UseRealTime();
    return true;
}();

}  // namespace
