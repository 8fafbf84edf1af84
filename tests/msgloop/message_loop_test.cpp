#include "vidozir/msgloop.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <thread>

#include "loop_test_util.h"
#include "platform/win32.h"

#if !defined(_WIN32)
#include <pthread.h>
#endif

using msgloop_test::FnTask;
using msgloop_test::Record;
using VidOzir::CMessageLoop;
using VidOzir::CMessagePump;
using VidOzir::Time;

namespace {

// Records what the loop tells its pump; Run drives the loop until quit.
class SpyPump : public CMessagePump {
public:
    void Run(Delegate* delegate) override {
        while (!quit) {
            Time next;
            if (!delegate->DoWork() && !quit && !delegate->DoDelayedWork(&next)) {
                std::this_thread::yield();
            }
        }
    }
    void Quit() override { quit = true; }
    void NotifyWork() override { ++notified; }
    void SetNextDelayedTime(const Time& time) override { delayedTimes.push_back(time); }

    bool quit = false;
    std::atomic<int> notified{0};
    std::vector<Time> delayedTimes;
};

// A loop whose pump is the spy, with the delegate operations reachable.
class SpyLoop : public CMessageLoop {
public:
    SpyLoop() : CMessageLoop(static_cast<Type>(3)), spy(new SpyPump) { m_pump.reset(spy); }
    using CMessageLoop::DoDelayedWork;
    using CMessageLoop::DoWork;
    SpyPump* spy;
};

void WaitUntil(const Time& due) {
    while (Time::Now() < due) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace

// A task posted from a task queues behind those already waiting.
TEST(MessageLoop, ImmediateTasksRunInPostingOrderOnePerDoWork) {
    SpyLoop loop;
    std::vector<int> order;
    loop.PostTask(new FnTask([&] {
                      order.push_back(1);
                      loop.PostTask(Record(&order, 4), 0);
                  }),
                  0);
    loop.PostTask(Record(&order, 2), -5);
    loop.PostTask(Record(&order, 3), 0);
    EXPECT_EQ(3, loop.spy->notified.load());  // every post notifies
    EXPECT_EQ(1, loop.DoWork());
    EXPECT_EQ(std::vector<int>({1}), order);
    EXPECT_EQ(1, loop.DoWork());
    EXPECT_EQ(1, loop.DoWork());
    EXPECT_EQ(std::vector<int>({1, 2, 3}), order);
    EXPECT_EQ(1, loop.DoWork());
    EXPECT_EQ(0, loop.DoWork());
    EXPECT_EQ(std::vector<int>({1, 2, 3, 4}), order);
}

TEST(MessageLoop, DelayedTasksRunByDueTimeAndNeverEarly) {
    SpyLoop loop;
    std::vector<int> order;
    std::vector<Time> ranAt(4);
    const Time posted = Time::Now();
    const int delays[] = {60, 20, 40, 20};
    for (int i = 0; i < 4; ++i) {
        loop.PostTask(new FnTask([&, i] {
                          order.push_back(i);
                          ranAt[i] = Time::Now();
                      }),
                      delays[i]);
    }
    EXPECT_EQ(0, loop.DoWork());  // all went to the delayed queue
    Time next;
    EXPECT_EQ(0, loop.DoDelayedWork(&next));
    EXPECT_GE(next.GetValue(), (posted + 20).GetValue());
    const Time deadline = Time::Now() + 10000;
    while (order.size() < 4 && Time::Now() < deadline) {
        if (!loop.DoDelayedWork(&next)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    // Equal delays keep posting order (1 before 3); the rest by due time.
    EXPECT_EQ(std::vector<int>({1, 3, 2, 0}), order);
    for (int i = 0; i < 4; ++i) {
        EXPECT_GE(ranAt[i].GetValue(), (posted + delays[i]).GetValue()) << i;
    }
    EXPECT_EQ(0, loop.DoDelayedWork(&next));
    EXPECT_EQ(1, next.IsNull());
}

TEST(MessageLoop, OnlyANewEarliestDelayedTaskMovesThePumpsTimer) {
    SpyLoop loop;
    std::vector<int> order;
    loop.PostTask(Record(&order, 1), 5000);
    loop.DoWork();
    ASSERT_EQ(1u, loop.spy->delayedTimes.size());
    loop.PostTask(Record(&order, 2), 9000);  // behind the earlier one
    loop.DoWork();
    EXPECT_EQ(1u, loop.spy->delayedTimes.size());
    const Time before = Time::Now();
    loop.PostTask(Record(&order, 3), 1000);  // the new top
    loop.DoWork();
    ASSERT_EQ(2u, loop.spy->delayedTimes.size());
    const long long due = loop.spy->delayedTimes[1].GetValue();
    EXPECT_GE(due, (before + 1000).GetValue());
    EXPECT_LE(due, (Time::Now() + 1000).GetValue());
    EXPECT_LT(due, loop.spy->delayedTimes[0].GetValue());
}

TEST(MessageLoop, HeapOrderSurvivesTheSequenceWrap) {
    CMessageLoop::PendingTask older(nullptr, Time(100));
    CMessageLoop::PendingTask newer(nullptr, Time(100));
    older.m_nSequence = INT_MAX;
    newer.m_nSequence = INT_MIN;  // given right after INT_MAX
    EXPECT_TRUE(newer < older);
    EXPECT_FALSE(older < newer);
    CMessageLoop::PendingTask later(nullptr, Time(200));
    later.m_nSequence = INT_MAX;
    EXPECT_TRUE(later < newer);  // due time first
    EXPECT_FALSE(older < older);
}

TEST(MessageLoop, NullTasksAreQueuedAndSkipped) {
    SpyLoop loop;
    loop.PostTask(nullptr, 0);
    loop.PostTask(nullptr, 1);
    EXPECT_EQ(1, loop.DoWork());
    EXPECT_EQ(0, loop.DoWork());
    WaitUntil(Time::Now() + 3);
    Time next;
    EXPECT_EQ(1, loop.DoDelayedWork(&next));
}

TEST(MessageLoop, QuitTaskStopsRunBehindEarlierTasks) {
    std::vector<int> order;
    std::atomic<int> destroyed{0};
    std::atomic<bool> afterRun{false};
    std::thread thread([&] {
        CMessageLoop loop;
        loop.PostTask(Record(&order, 1, &destroyed), 0);
        loop.PostTask(new CMessageLoop::QuitTask, 0);
        loop.PostTask(Record(&order, 2, &destroyed), 0);
        loop.PostTask(Record(&order, 3, &destroyed), 50);
        loop.Run();
        afterRun = true;
        EXPECT_EQ(std::vector<int>({1}), order);
        EXPECT_EQ(1, destroyed.load());
        // Run is over: posts are refused and the task stays the caller's.
        std::atomic<int> refusedDestroyed{0};
        FnTask* refused = Record(&order, 4, &refusedDestroyed);
        loop.PostTask(refused, 0);
        EXPECT_EQ(0, refusedDestroyed.load());
        delete refused;
    });
    thread.join();
    EXPECT_TRUE(afterRun.load());
    EXPECT_EQ(std::vector<int>({1}), order);
    EXPECT_EQ(3, destroyed.load());  // 2 and 3 destroyed unrun with the loop
}

namespace {
// Posts a replacement into the loop from its destructor, and remembers it.
class RepostingTask : public VidOzir::CTask {
public:
    RepostingTask(CMessageLoop* loop, int depth, std::atomic<int>* destroyed,
                  std::vector<VidOzir::CTask*>* posted)
        : m_loop(loop), m_depth(depth), m_destroyed(destroyed), m_posted(posted) {}
    ~RepostingTask() override {
        ++*m_destroyed;
        if (m_depth > 0) {
            auto* next = new RepostingTask(m_loop, m_depth - 1, m_destroyed, m_posted);
            m_posted->push_back(next);
            m_loop->PostTask(next, 0);
        }
    }
    void Run() override {}

private:
    CMessageLoop* m_loop;
    int m_depth;
    std::atomic<int>* m_destroyed;
    std::vector<VidOzir::CTask*>* m_posted;
};
}  // namespace

TEST(MessageLoop, DestroyingANeverRunLoopCatchesTasksPostedByDestructors) {
    std::atomic<int> destroyed{0};
    std::vector<VidOzir::CTask*> posted;
    {
        CMessageLoop loop;
        loop.PostTask(new RepostingTask(&loop, 3, &destroyed, &posted), 0);
    }
    EXPECT_EQ(3u, posted.size());
    EXPECT_EQ(4, destroyed.load());  // the original and three reposts, none run
}

TEST(MessageLoop, DestroyingARunLoopRefusesPostsFromDestructors) {
    std::atomic<int> destroyed{0};
    std::vector<VidOzir::CTask*> posted;
    std::thread thread([&] {
        CMessageLoop loop;
        loop.PostTask(new CMessageLoop::QuitTask, 0);
        loop.PostTask(new RepostingTask(&loop, 1, &destroyed, &posted), 0);
        loop.Run();
    });
    thread.join();
    ASSERT_EQ(1u, posted.size());
    EXPECT_EQ(1, destroyed.load());  // the repost was refused, so it is still ours
    delete posted[0];
    EXPECT_EQ(2, destroyed.load());
}

TEST(MessageLoop, OnDestroySubscribersRunByGroupBeforePendingTasksGo) {
    std::vector<std::string> calls;
    std::atomic<int> destroyed{0};
    boost::signals2::connection dropped;
    {
        CMessageLoop loop;
        loop.PostTask(new FnTask([] {}, &destroyed), 0);
        auto note = [&](const char* name) {
            return [&calls, &destroyed, name] {
                calls.push_back(std::string(name) + (destroyed.load() ? "+" : ""));
            };
        };
        loop.SubscribeOnDestroy(note("five"), 5);
        loop.SubscribeOnDestroy(note("one-a"), 1);
        dropped = loop.SubscribeOnDestroy(note("gone"), 1);
        loop.SubscribeOnDestroy(note("one-b"), 1);
        dropped.disconnect();
    }
    EXPECT_EQ(std::vector<std::string>({"one-a", "one-b", "five"}), calls);
    EXPECT_EQ(1, destroyed.load());
}

TEST(MessageLoop, CurrentAndSelfFollowTheThreadsLoop) {
    unsigned long loopThreadId = 0;
    std::thread([&] {
        EXPECT_EQ(nullptr, CMessageLoop::Current());
        {
            CMessageLoop loop;
            loopThreadId = GetCurrentThreadId();
            EXPECT_EQ(&loop, CMessageLoop::Current());
            EXPECT_EQ(&loop, CMessageLoop::Self());
            EXPECT_EQ(&loop, CMessageLoop::Self(loopThreadId));
            loop.PostTask(new FnTask([&] { EXPECT_EQ(&loop, CMessageLoop::Current()); }), 0);
            loop.PostTask(new CMessageLoop::QuitTask, 0);
            loop.Run();
        }
        EXPECT_EQ(nullptr, CMessageLoop::Current());
        EXPECT_EQ(nullptr, CMessageLoop::Self());
    }).join();
    EXPECT_EQ(nullptr, CMessageLoop::Self(loopThreadId));
    EXPECT_EQ(nullptr, CMessageLoop::Self(0xFFFFFFF0ul));  // never had a loop
}

TEST(MessageLoop, SetThreadNameStoresAndNamesTheThread) {
    std::thread([] {
        CMessageLoop loop;
        EXPECT_TRUE(loop.GetThreadName().IsEmpty());
        // 14 ASCII bytes then a two-byte character: cut before it, not inside.
        const CLuStringA name("worker-thread-\xC3\xA9-long");
        loop.SetThreadName(name);
        EXPECT_STREQ(name.GetString(), loop.GetThreadName().GetString());
#if !defined(_WIN32)
        char actual[32] = {};
        pthread_getname_np(pthread_self(), actual, sizeof(actual));
        EXPECT_STREQ("worker-thread-", actual);
        loop.SetThreadName(CLuStringA("0123456789abcdef"));  // one byte too many
        pthread_getname_np(pthread_self(), actual, sizeof(actual));
        EXPECT_STREQ("0123456789abcde", actual);
#endif
    }).join();
}
