// The lock-free incoming queue of a message loop (see msgloop/post_queue.h).
#include "msgloop/post_queue.h"

#include <memory>

#include "msgloop/backoff.h"

namespace VidOzir {

PostQueue::PostQueue() : m_tail(0), m_tailSegment(new Segment) {
    m_head = m_tailSegment.load(std::memory_order_relaxed);
    m_oldest = m_head;
}

PostQueue::~PostQueue() {
    Release();
}

PostQueue::Slot* PostQueue::Claim() {
    std::unique_ptr<Segment> spare;
    std::uint64_t word = m_tail.load(std::memory_order_acquire);
    int spins = 0;
    for (;;) {
        if (word & kClosed) {
            return nullptr;
        }
        const unsigned offset = static_cast<unsigned>((word / kStep) % kPositions);
        if (offset == kSlots) {
            // Another post is linking the next segment: a few instructions.
            Backoff(&spins);
            word = m_tail.load(std::memory_order_acquire);
            continue;
        }
        const bool last = offset + 1 == kSlots;
        if (last && !spare) {
            spare.reset(new Segment);
        }
        // Only read here: the segment is dereferenced once the claim below
        // succeeds, which proves it is still the tail's, and a segment with
        // an unfinished slot is never freed.
        Segment* segment = m_tailSegment.load(std::memory_order_acquire);
        if (m_tail.compare_exchange_weak(word, word + kStep, std::memory_order_seq_cst,
                                         std::memory_order_acquire)) {
            if (last) {
                Segment* next = spare.release();
                next->lap = segment->lap + 1;
                segment->next.store(next, std::memory_order_release);
                m_tailSegment.store(next, std::memory_order_release);
                m_tail.fetch_add(kStep, std::memory_order_release);  // past the hole
            }
            return &segment->slots[offset];
        }
    }
}

PostQueue::Slot* PostQueue::Front() {
    if (m_head == nullptr) {
        return nullptr;  // released
    }
    if (m_headOffset == kSlots) {
        // The post of the last slot linked the next segment before it
        // published its entry.
        Segment* next = m_head->next.load(std::memory_order_acquire);
        if (next == nullptr) {
            return nullptr;
        }
        m_head = next;
        m_headOffset = 0;
        m_headPosition = next->lap * kPositions;
        FreeDoneSegments();
    }
    Slot* slot = &m_head->slots[m_headOffset];
    return slot->state.load(std::memory_order_acquire) == kEmpty ? nullptr : slot;
}

void PostQueue::MarkBatch() {
    if (m_head != nullptr) {  // after Release the batch stays empty
        m_batchEnd = m_tail.load(std::memory_order_seq_cst) / kStep;
    }
}

// At a segment's end the head stands on its hole, whose position comes before
// the next segment's slots, as in the tail word; Front steps over it.
bool PostQueue::TakeFromBatchSlowly(CMessageLoop::PendingTask* out) {
    int spins = 0;
    while (!BatchUsedUp()) {
        Slot* slot = Front();
        if (slot == nullptr) {
            Backoff(&spins);  // claimed before the mark, still being written
            continue;
        }
        *out = CMessageLoop::PendingTask(slot->task, slot->time);
        ++m_headOffset;
        ++m_headPosition;
        return true;
    }
    return false;
}

void PostQueue::TakeBatch(std::deque<CMessageLoop::PendingTask>* out) {
    CMessageLoop::PendingTask entry;
    while (TakeFromBatch(&entry)) {
        out->push_back(entry);
    }
}

void PostQueue::FreeDoneSegments() {
    while (m_oldest != m_head) {
        while (m_oldestChecked < kSlots &&
               m_oldest->slots[m_oldestChecked].state.load(std::memory_order_acquire) == kDone) {
            ++m_oldestChecked;
        }
        if (m_oldestChecked < kSlots) {
            return;  // a post still returning from its wake-up; retried later
        }
        Segment* next = m_oldest->next.load(std::memory_order_relaxed);
        delete m_oldest;
        m_oldest = next;
        m_oldestChecked = 0;
    }
}

void PostQueue::Close() {
    if (m_oldest == nullptr) {
        return;  // released
    }
    const std::uint64_t end = m_tail.fetch_or(kClosed, std::memory_order_acq_rel) / kStep;
    // Every position below `end` but the holes was claimed by a post that
    // will reach Done; the segments of all of them are linked by now.
    Segment* segment = m_oldest;
    unsigned offset = m_oldestChecked;
    int spins = 0;
    while (segment != nullptr) {
        const std::uint64_t position = segment->lap * kPositions + offset;
        if (position >= end) {
            return;
        }
        if (offset == kSlots) {
            segment = segment->next.load(std::memory_order_acquire);
            offset = 0;
            continue;
        }
        if (segment->slots[offset].state.load(std::memory_order_acquire) == kDone) {
            ++offset;
        } else {
            Backoff(&spins);
        }
    }
}

void PostQueue::Release() {
    Segment* segment = m_oldest;
    while (segment != nullptr) {
        Segment* next = segment->next.load(std::memory_order_relaxed);
        delete segment;
        segment = next;
    }
    m_oldest = m_head = nullptr;
    m_headPosition = m_batchEnd = 0;
    m_tailSegment.store(nullptr, std::memory_order_relaxed);
}

}  // namespace VidOzir
