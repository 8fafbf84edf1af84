// The incoming queue of a message loop: posts from any number of threads,
// taken by the loop's thread alone, without a lock.
//
// A post costs one compare-and-swap on the shared tail word, where a locked
// queue costs a lock and an unlock on one contended word; on a machine with
// more runnable threads than cores, a post preempted halfway also holds no
// lock that the other posts and the loop would wait for.
//
// Entries sit in fixed segments linked in posting order. The tail word counts
// positions: each segment has kSlots slots and one more position, a hole,
// that the post which takes a segment's last slot passes through while it
// links the next segment (allocated before its claim), so no post ever finds
// its slot's segment missing. The lowest bit of the tail word closes the
// queue: the post that sees it is refused.
//
// A slot goes from empty to ready when its entry is written, then to done
// when its post has returned from waking the pump. The loop's thread takes
// ready entries in order; it gives a segment back when all of its slots are
// done, and closing waits until every slot claimed before the close is done,
// so that the pump a post still notifies outlives the call. A given-back
// segment goes to the allocator, not to the next post: reused, its lines come
// hot from the loop's core to the poster's, which cost a posting thread about
// a third of its rate.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#if defined(_MSC_VER)
#include <intrin.h>
#endif

#include "vidozir/msgloop.h"

namespace VidOzir {

class PostQueue {
public:
    struct Slot {
        CTask* task;
        Time time;
        std::atomic<int> state;
    };
    enum SlotState { kEmpty = 0, kReady = 1, kDone = 2 };

    PostQueue();
    ~PostQueue();
    PostQueue(const PostQueue&) = delete;
    PostQueue& operator=(const PostQueue&) = delete;

    // Any thread. Claims the next slot; null when the queue is closed.
    // Throws only for exhausted memory, before anything is claimed.
    Slot* Claim();
    // Writes the entry and makes it visible to the loop's thread. The claim
    // is what the loop sees first (MarkBatch reads the tail word), so the
    // claim's sequentially consistent exchange, not this store, pairs with
    // the pumps' lowering of their wake-up flag.
    static void Publish(Slot* slot, CTask* task, const Time& time) {
        slot->task = task;
        slot->time = time;
        slot->state.store(kReady, std::memory_order_release);
    }
    // The post's last touch of the queue.
    static void Done(Slot* slot) { slot->state.store(kDone, std::memory_order_release); }

    // The loop's thread. Marks every entry claimed so far as the batch that
    // TakeFromBatch hands out, as a swap of locked queues takes every entry
    // appended before it; sequentially consistent, like Claim, so either the
    // batch holds a post's entry or the post sees the pump's wake-up flag
    // lowered before the mark.
    void MarkBatch();
    // Whether the marked batch has been handed out.
    bool BatchUsedUp() const { return m_headPosition >= m_batchEnd; }
    // The batch's next entry, in posting order; waits for a post that claimed
    // its slot before the mark and is still writing it (a few instructions,
    // as the swap waited for the lock). False when the batch is used up.
    // Inline for the usual case, a written slot inside the head segment: the
    // loop's thread calls it once per task.
    bool TakeFromBatch(CMessageLoop::PendingTask* out) {
        if (m_headPosition < m_batchEnd && m_headOffset < kSlots) {
            Slot& slot = m_head->slots[m_headOffset];
            if (slot.state.load(std::memory_order_acquire) != kEmpty) {
                *out = CMessageLoop::PendingTask(slot.task, slot.time);
                ++m_headOffset;
                ++m_headPosition;
                PrefetchAhead();
                return true;
            }
        }
        return TakeFromBatchSlowly(out);
    }
    // Appends what is left of the batch, in order, to `out`.
    void TakeBatch(std::deque<CMessageLoop::PendingTask>* out);
    // Refuses every later post and waits until the posts that claimed a
    // slot before have returned from Done.
    void Close();
    // After Close and a last batch: gives back the segments' memory.
    void Release();

private:
    static constexpr unsigned kPositions = 32;  // per segment, the hole included
    static constexpr unsigned kSlots = kPositions - 1;
    static constexpr std::uint64_t kClosed = 1;
    static constexpr std::uint64_t kStep = 2;  // one position in the tail word

    struct Segment {
        Segment() {
            for (Slot& slot : slots) {
                slot.state.store(kEmpty, std::memory_order_relaxed);
            }
        }
        Slot slots[kSlots];
        std::atomic<Segment*> next{nullptr};
        std::uint64_t lap = 0;  // position of slots[0] / kPositions
    };

    bool TakeFromBatchSlowly(CMessageLoop::PendingTask* out);
    // A posted entry and its task were written on the posting thread's core:
    // the loop's first read of each would wait for the line to cross, once
    // per task. Asking for the lines a few entries ahead lets those crossings
    // overlap the tasks run meanwhile. Only a written slot's task is asked
    // for; a slot still being written is passed over.
    void PrefetchAhead() const {
        constexpr unsigned kAhead = 4;
        if (m_headOffset + kAhead + 2 < kSlots) {
            Prefetch(&m_head->slots[m_headOffset + kAhead + 2]);
        }
        if (m_headOffset + kAhead < kSlots) {
            const Slot& ahead = m_head->slots[m_headOffset + kAhead];
            if (ahead.state.load(std::memory_order_acquire) != kEmpty) {
                Prefetch(ahead.task);  // for writing: the loop deletes it
            }
        }
    }
    static void Prefetch(const void* address) {
#if defined(_MSC_VER)
        _mm_prefetch(static_cast<const char*>(address), _MM_HINT_T0);
#else
        __builtin_prefetch(address, 1, 3);
#endif
    }
    Slot* Front();
    void FreeDoneSegments();

    // Written by the posts.
    alignas(64) std::atomic<std::uint64_t> m_tail;
    std::atomic<Segment*> m_tailSegment;
    // The loop thread's own.
    alignas(64) Segment* m_head;
    unsigned m_headOffset = 0;
    std::uint64_t m_headPosition = 0;  // m_head->lap * kPositions + m_headOffset
    std::uint64_t m_batchEnd = 0;      // the first position past the marked batch
    Segment* m_oldest;                 // the first segment not yet freed
    unsigned m_oldestChecked = 0;      // its leading slots known done
};

}  // namespace VidOzir
