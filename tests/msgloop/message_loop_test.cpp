#include "vidozir/msgloop.h"

#include <gtest/gtest.h>

#include <climits>

#include "loop_test_util.h"

using namespace msgloop_test;
using namespace VidOzir;

namespace {

// Records what the loop tells its pump; the tests drive the loop themselves.
class SpyPump : public CMessagePump {
public:
    void Run(Delegate*) override {}
    void Quit() override {}
    void NotifyWork() override { ++notified; }
    void SetNextDelayedTime(const Time& time) override { delayedTimes.push_back(time); }

    std::atomic<int> notified{0};
    std::vector<Time> delayedTimes;
};

// A loop whose pump is the spy, with the delegate operations reachable.
class SpyLoop : public CMessageLoop {
public:
    SpyLoop() : CMessageLoop(static_cast<Type>(3)), spy(new SpyPump) { m_pump.reset(spy); }
    using CMessageLoop::AddToDelayedWorkQueue;
    using CMessageLoop::DoDelayedWork;
    using CMessageLoop::DoWork;
    SpyPump* spy;
};

CTask* Record(std::vector<int>* order, int id, std::atomic<int>* destroyed) {
    return new FnTask([order, id] { order->push_back(id); }, [destroyed] { ++*destroyed; });
}

}  // namespace

// Immediate tasks run in posting order, one per DoWork: a task posted from a
// task queues behind those already waiting; a null task takes its turn and is
// skipped.
TEST(MessageLoop, ImmediateTasksRunInPostingOrderDelayedOnesByDueTime) {
    SpyLoop loop;
    std::vector<int> order;
    Post(&loop, [&] {
        order.push_back(1);
        Post(&loop, [&] { order.push_back(4); });
    });
    PostIn(&loop, -5, nullptr, [&] { order.push_back(2); });
    loop.PostTask(nullptr, 0);
    Post(&loop, [&] { order.push_back(3); });
    EXPECT_EQ(4, loop.spy->notified.load());  // every post notifies
    EXPECT_EQ(1, loop.DoWork());
    EXPECT_EQ(std::vector<int>({1}), order);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(1, loop.DoWork()) << i;
    }
    EXPECT_EQ(0, loop.DoWork());
    EXPECT_EQ(std::vector<int>({1, 2, 3, 4}), order);

    // DoWork moves delayed entries (1 ms too) to the heap and moves the pump's
    // timer only for a new earliest one. They run by due time, never early,
    // ties in the order they entered the heap, one per DoDelayedWork (a null
    // task too), which reports the next due time, and none once the heap is
    // empty.
    order.clear();
    const Time posted = Time::Now();
    const int delays[] = {60, 20, 90, 40};
    for (int i = 0; i < 4; ++i) {
        PostIn(&loop, delays[i], nullptr, [&, i] {
            EXPECT_GE(Time::Now().GetValue(), (posted + delays[i]).GetValue()) << i;
            order.push_back(i);
        });
        EXPECT_EQ(0, loop.DoWork());
    }
    const std::vector<Time>& times = loop.spy->delayedTimes;
    ASSERT_EQ(2u, times.size());  // for 60, then 20
    EXPECT_GE(times[1].GetValue(), (posted + 20).GetValue());
    EXPECT_LE(times[1].GetValue(), (Time::Now() + 20).GetValue());
    Time next;
    EXPECT_EQ(0, loop.DoDelayedWork(&next));
    EXPECT_EQ(times[1].GetValue(), next.GetValue());
    std::atomic<int> destroyed{0};
    for (int tie : {4, 5, 6}) {  // due long ago, all at the same time
        CMessageLoop::PendingTask entry(Record(&order, tie, &destroyed), Time(1));
        loop.AddToDelayedWorkQueue(entry);
    }
    loop.PostTask(nullptr, 1);
    EXPECT_EQ(0, loop.DoWork());
    int worked = 0;
    for (const Time end = posted + 10000; order.size() < 7 && Time::Now() < end; Sleep(1)) {
        worked += loop.DoDelayedWork(&next) != 0;
    }
    EXPECT_EQ(8, worked);
    EXPECT_EQ(std::vector<int>({4, 5, 6, 1, 3, 0, 2}), order);
    EXPECT_EQ(0, loop.DoDelayedWork(&next));
    EXPECT_TRUE(next.IsNull());
}

TEST(MessageLoop, HeapOrderSurvivesTheSequenceWrap) {
    CMessageLoop::PendingTask older(nullptr, Time(100)), newer(nullptr, Time(100)),
        later(nullptr, Time(200));
    older.m_nSequence = later.m_nSequence = INT_MAX;
    newer.m_nSequence = INT_MIN;  // given right after INT_MAX
    EXPECT_TRUE(newer < older && !(older < newer) && !(older < older));
    EXPECT_TRUE(later < newer);  // due time first
}

// A task whose destruction posts a replacement into the loop, `depth` times
// over; each replacement is remembered.
CTask* Reposting(CMessageLoop* loop, int depth, std::atomic<int>* destroyed,
                 std::vector<CTask*>* posted) {
    return new FnTask([] {},
                      [=] {
                          ++*destroyed;
                          if (depth > 0) {
                              posted->push_back(Reposting(loop, depth - 1, destroyed, posted));
                              loop->PostTask(posted->back(), 0);
                          }
                      });
}

// Run ends at a quit task behind earlier tasks; the rest is destroyed unrun
// with the loop, which is the thread's current one for its lifetime. What
// destructors of pending tasks post then, a loop that never ran takes (and
// destroys) while it goes; once Run is over it refuses them: they stay ours.
TEST(MessageLoop, QuitTaskEndsRunAndTheRestGoesWithTheLoop) {
    for (bool run : {false, true}) {
        std::vector<int> order;
        std::atomic<int> destroyed{0};
        std::vector<CTask*> posted;
        {
            CMessageLoop loop;
            EXPECT_EQ(&loop, CMessageLoop::Current());
            EXPECT_EQ(&loop, CMessageLoop::Self(GetCurrentThreadId()));
            loop.PostTask(Record(&order, 1, &destroyed), 0);
            loop.PostTask(new CMessageLoop::QuitTask, 0);
            loop.PostTask(Record(&order, 2, &destroyed), 0);
            loop.PostTask(Record(&order, 3, &destroyed), 50);
            loop.PostTask(Reposting(&loop, run ? 1 : 3, &destroyed, &posted), 0);
            if (run) {
                loop.Run();
                EXPECT_EQ(1, destroyed.load());
            }
        }
        EXPECT_EQ(nullptr, CMessageLoop::Current());
        EXPECT_EQ(nullptr, CMessageLoop::Self());
        EXPECT_EQ(run ? std::vector<int>({1}) : std::vector<int>(), order);
        ASSERT_EQ(run ? 1u : 3u, posted.size());
        EXPECT_EQ(run ? 4 : 7, destroyed.load());  // none of the posted ones ran
        if (run) {
            delete posted[0];
            EXPECT_EQ(5, destroyed.load());  // the refused one, and no more
        }
    }
}
