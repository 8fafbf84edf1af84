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

using namespace msgloop_test;
using VidOzir::CMessageLoop;
using VidOzir::CMessagePump;
using VidOzir::Time;

namespace {

// Records what the loop tells its pump; the tests drive the loop themselves.
class SpyPump : public CMessagePump {
public:
    void Run(Delegate*) override {}
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

}  // namespace

// A task posted from a task queues behind those already waiting; a null task
// takes its turn and is skipped.
TEST(MessageLoop, ImmediateTasksRunInPostingOrderOnePerDoWork) {
    SpyLoop loop;
    std::vector<int> order;
    Post(&loop, [&] {
        order.push_back(1);
        loop.PostTask(Record(&order, 4), 0);
    });
    loop.PostTask(Record(&order, 2), -5);
    loop.PostTask(nullptr, 0);
    loop.PostTask(Record(&order, 3), 0);
    EXPECT_EQ(4, loop.spy->notified.load());  // every post notifies
    EXPECT_EQ(1, loop.DoWork());
    EXPECT_EQ(std::vector<int>({1}), order);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(1, loop.DoWork()) << i;
    }
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
        PostIn(&loop, delays[i], [&, i] {
            order.push_back(i);
            ranAt[i] = Time::Now();
        });
    }
    EXPECT_EQ(0, loop.DoWork());  // all went to the delayed queue
    Time next;
    EXPECT_EQ(0, loop.DoDelayedWork(&next));
    EXPECT_GE(next.GetValue(), (posted + 20).GetValue());
    loop.PostTask(nullptr, 1);  // delayed too; skipped, but counts as work
    EXPECT_EQ(0, loop.DoWork());
    int worked = 0;
    const Time deadline = Time::Now() + 10000;
    while (order.size() < 4 && Time::Now() < deadline) {
        if (loop.DoDelayedWork(&next)) {
            ++worked;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    EXPECT_EQ(5, worked);
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
    std::vector<Time>& times = loop.spy->delayedTimes;
    const Time before = Time::Now();
    for (int delay : {5000, 9000, 1000}) {  // the second is behind the first
        PostIn(&loop, delay, [] {});
        loop.DoWork();
    }
    ASSERT_EQ(2u, times.size());
    EXPECT_GE(times[1].GetValue(), (before + 1000).GetValue());
    EXPECT_LE(times[1].GetValue(), (Time::Now() + 1000).GetValue());
    EXPECT_LT(times[1].GetValue(), times[0].GetValue());
}

TEST(MessageLoop, HeapOrderSurvivesTheSequenceWrap) {
    CMessageLoop::PendingTask older(nullptr, Time(100));
    CMessageLoop::PendingTask newer(nullptr, Time(100));
    CMessageLoop::PendingTask later(nullptr, Time(200));
    older.m_nSequence = later.m_nSequence = INT_MAX;
    newer.m_nSequence = INT_MIN;  // given right after INT_MAX
    EXPECT_TRUE(newer < older);
    EXPECT_FALSE(older < newer);
    EXPECT_TRUE(later < newer);  // due time first
    EXPECT_FALSE(older < older);
}

// Run ends at a quit task behind earlier tasks; the loop is the thread's
// current one for its lifetime.
TEST(MessageLoop, QuitTaskStopsRunBehindEarlierTasks) {
    std::vector<int> order;
    std::atomic<int> destroyed{0};
    unsigned long loopThreadId = 0;
    std::thread([&] {
        EXPECT_EQ(nullptr, CMessageLoop::Current());
        {
            CMessageLoop loop;
            loopThreadId = GetCurrentThreadId();
            EXPECT_EQ(&loop, CMessageLoop::Current());
            EXPECT_EQ(&loop, CMessageLoop::Self());
            EXPECT_EQ(&loop, CMessageLoop::Self(loopThreadId));
            loop.PostTask(Record(&order, 1, &destroyed), 0);
            PostQuit(&loop);
            loop.PostTask(Record(&order, 2, &destroyed), 0);
            loop.PostTask(Record(&order, 3, &destroyed), 50);
            loop.Run();
            EXPECT_EQ(1, destroyed.load());
            // Run is over: a post is refused and the task stays the caller's.
            FnTask* refused = Record(&order, 4, &destroyed);
            loop.PostTask(refused, 0);
            EXPECT_EQ(1, destroyed.load());
            delete refused;
        }
        EXPECT_EQ(nullptr, CMessageLoop::Current());
        EXPECT_EQ(nullptr, CMessageLoop::Self());
    }).join();
    EXPECT_EQ(std::vector<int>({1}), order);
    EXPECT_EQ(4, destroyed.load());  // with 4 (ours) and 2 and 3 (unrun, with the loop)
    EXPECT_EQ(nullptr, CMessageLoop::Self(loopThreadId));
    EXPECT_EQ(nullptr, CMessageLoop::Self(0xFFFFFFF0ul));  // never had a loop
}

// A task whose destruction posts a replacement into the loop, `depth` times
// over; each replacement is remembered.
VidOzir::CTask* Reposting(CMessageLoop* loop, int depth, std::atomic<int>* destroyed,
                          std::vector<VidOzir::CTask*>* posted) {
    return new FnTask([] {},
                      [=] {
                          ++*destroyed;
                          if (depth > 0) {
                              posted->push_back(Reposting(loop, depth - 1, destroyed, posted));
                              loop->PostTask(posted->back(), 0);
                          }
                      });
}

// A loop never run takes (and destroys) what destructors of its pending tasks
// post while it goes; once Run is over it refuses them, so they stay ours.
TEST(MessageLoop, DestroyingALoopHandlesTasksPostedByDestructors) {
    for (bool run : {false, true}) {
        std::atomic<int> destroyed{0};
        std::vector<VidOzir::CTask*> posted;
        std::thread([&] {
            CMessageLoop loop;
            if (run) {
                PostQuit(&loop);
            }
            loop.PostTask(Reposting(&loop, run ? 1 : 3, &destroyed, &posted), 0);
            if (run) {
                loop.Run();
            }
        }).join();
        ASSERT_EQ(run ? 1u : 3u, posted.size());
        EXPECT_EQ(run ? 1 : 4, destroyed.load());  // none ran
        if (run) {
            delete posted[0];
            EXPECT_EQ(2, destroyed.load());  // the refused one, and no more
        }
    }
}

TEST(MessageLoop, OnDestroySubscribersRunByGroupBeforePendingTasksGo) {
    std::vector<std::string> calls;
    std::atomic<int> destroyed{0};
    {
        CMessageLoop loop;
        PostIn(&loop, 0, &destroyed, [] {});
        auto note = [&](const char* name) {
            return [&calls, &destroyed, name] {
                calls.push_back(std::string(name) + (destroyed.load() ? "+" : ""));
            };
        };
        loop.SubscribeOnDestroy(note("five"), 5);
        loop.SubscribeOnDestroy(note("one-a"), 1);
        boost::signals2::connection dropped = loop.SubscribeOnDestroy(note("gone"), 1);
        loop.SubscribeOnDestroy(note("one-b"), 1);
        dropped.disconnect();
    }
    EXPECT_EQ(std::vector<std::string>({"one-a", "one-b", "five"}), calls);
    EXPECT_EQ(1, destroyed.load());
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
