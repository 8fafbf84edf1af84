#include "msgloop/post_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <thread>

using namespace VidOzir;

// Closing waits for a post between its claim and its Done, keeps the entries
// claimed before it, in order, and refuses every later claim. (That posts of
// several threads keep their order across segments, the thread tests check
// through a loop.)
TEST(PostQueue, CloseWaitsForClaimedPostsAndRefusesLaterOnes) {
    PostQueue queue;
    PostQueue::Slot* pending[2] = {queue.Claim(), queue.Claim()};
    PostQueue::Publish(pending[0], nullptr, Time(1));
    PostQueue::Done(pending[0]);
    std::atomic<bool> closed{false};
    std::thread closer([&] {
        queue.Close();
        closed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(closed.load());
    PostQueue::Publish(pending[1], nullptr, Time(2));
    PostQueue::Done(pending[1]);
    closer.join();
    EXPECT_EQ(nullptr, queue.Claim());
    std::deque<CMessageLoop::PendingTask> out;
    queue.MarkBatch();
    queue.TakeBatch(&out);
    ASSERT_EQ(2u, out.size());
    EXPECT_EQ(1, out[0].m_timeRun.GetValue());
    EXPECT_EQ(2, out[1].m_timeRun.GetValue());
}
