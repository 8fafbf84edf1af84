#include <gtest/gtest.h>

#include <thread>

#include "loop_test_util.h"
#include "vidozir/msgloop.h"

using msgloop_test::FnTask;
using msgloop_test::LoopThread;
using namespace msgloop_test;
using VidOzir::CMessageLoop;
using VidOzir::CWaitableEvent;
using VidOzir::Time;

TEST(MessagePumpDefault, PostFromAnotherThreadWakesAnIdleLoop) {
    ExpectPostFromAnotherThreadWakesAnIdleLoop(CMessageLoop::TYPE_DEFAULT);
}

TEST(MessagePumpDefault, DelayedTaskRunsWhenDueNotBefore) {
    ExpectDelayedTaskRunsWhenDue(CMessageLoop::TYPE_DEFAULT, 250);
}

TEST(MessagePumpDefault, DelayedAndImmediateTasksInterleave) {
    LoopThread thread(CMessageLoop::TYPE_DEFAULT);
    std::vector<int> order;
    CWaitableEvent done;
    thread.loop()->PostTask(new FnTask([&] {
                                order.push_back(3);
                                done.Signal();
                            }),
                            120);
    thread.loop()->PostTask(msgloop_test::Record(&order, 2), 40);
    thread.loop()->PostTask(msgloop_test::Record(&order, 1), 0);
    ASSERT_EQ(1, done.TimedWait(5000));
    EXPECT_EQ(std::vector<int>({1, 2, 3}), order);
}

TEST(MessagePumpDefault, FourProducersHundredThousandPostsEach) {
    StressProducers(CMessageLoop::TYPE_DEFAULT, 4, 100000);
}
