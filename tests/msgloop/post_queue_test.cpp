#include "msgloop/post_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <thread>
#include <vector>

using VidOzir::CMessageLoop;
using VidOzir::CTask;
using VidOzir::PostQueue;
using VidOzir::Time;

namespace {

// Entries carry (producer, number) in the task pointer and due time; they are
// never run.
void PostEntry(PostQueue* queue, int producer, int number) {
    PostQueue::Slot* slot = queue->Claim();
    ASSERT_NE(nullptr, slot);
    PostQueue::Publish(slot, reinterpret_cast<CTask*>(static_cast<intptr_t>(producer + 1)),
                       Time(number + 1));
    PostQueue::Done(slot);
}

}  // namespace

// Posts from several threads, taken while they arrive across many segments:
// none lost or doubled, each thread's in its posting order.
TEST(PostQueue, KeepsEveryProducersOrderAcrossSegments) {
    const int producers = 3, perProducer = 2000;
    PostQueue queue;
    std::vector<std::thread> threads;
    for (int p = 0; p < producers; ++p) {
        threads.emplace_back([&queue, p] {
            for (int n = 0; n < perProducer; ++n) {
                PostEntry(&queue, p, n);
            }
        });
    }
    std::vector<int> next(producers, 0);
    int taken = 0;
    std::deque<CMessageLoop::PendingTask> entries;
    while (taken < producers * perProducer) {
        entries.clear();
        queue.MarkBatch();
        queue.TakeBatch(&entries);
        if (entries.empty()) {
            std::this_thread::yield();
        }
        for (const CMessageLoop::PendingTask& entry : entries) {
            const int p = static_cast<int>(reinterpret_cast<intptr_t>(entry.m_pTask)) - 1;
            ASSERT_TRUE(p >= 0 && p < producers);
            ASSERT_EQ(next[p] + 1, entry.m_timeRun.GetValue());
            ++next[p];
            ++taken;
        }
    }
    for (auto& t : threads) {
        t.join();
    }
    entries.clear();
    queue.MarkBatch();
    queue.TakeBatch(&entries);
    EXPECT_TRUE(entries.empty());
}

// Closing waits for a post between its claim and its Done, keeps the entries
// claimed before it, and refuses every later claim.
TEST(PostQueue, CloseWaitsForClaimedPostsAndRefusesLaterOnes) {
    PostQueue queue;
    PostEntry(&queue, 0, 0);
    PostQueue::Slot* pending = queue.Claim();
    std::atomic<bool> closed{false};
    std::thread closer([&] {
        queue.Close();
        closed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(closed.load());
    PostQueue::Publish(pending, nullptr, Time(2));
    PostQueue::Done(pending);
    closer.join();
    EXPECT_EQ(nullptr, queue.Claim());
    std::deque<CMessageLoop::PendingTask> out;
    queue.MarkBatch();
    queue.TakeBatch(&out);
    ASSERT_EQ(2u, out.size());
    EXPECT_EQ(1, out[0].m_timeRun.GetValue());
    EXPECT_EQ(2, out[1].m_timeRun.GetValue());
}
