#include "vidozir/rollbuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <random>
#include <vector>

namespace {

using VidOzir::CRollBuffer;

// The block as the growth and wrap rules lay it out: capacity, head, content.
struct RingModel {
    unsigned cap, head = 0;
    bool block = false;
    std::deque<unsigned char> bytes;

    void Push(bool front, const std::vector<unsigned char>& data) {
        const unsigned n = static_cast<unsigned>(data.size()), needed = Size() + n;
        if (n > 0 && (!block || needed > cap)) {
            head =
                block && !bytes.empty() ? 0 : head;  // the content moves to the new block's start
            cap = block || cap < needed ? 3 * needed / 2 : cap;
            block = true;
        }
        if (front) {
            const unsigned k = std::min(n, head);
            head = n > k ? cap - (n - k) : head - k;
        }
        bytes.insert(front ? bytes.begin() : bytes.end(), data.begin(), data.end());
    }
    bool Remove(bool front, unsigned n) {
        if (n == 0 || n > Size())
            return false;
        head = front ? (head + n) % cap : head;
        front ? bytes.erase(bytes.begin(), bytes.begin() + n)
              : bytes.erase(bytes.end() - n, bytes.end());
        return true;
    }
    void Empty(bool release) {  // Clear keeps the block, Release frees it; both keep the capacity
        head = 0;
        bytes.clear();
        block = block && !release;
    }
    unsigned Size() const { return static_cast<unsigned>(bytes.size()); }
};

// Random pushes, removals, clears, releases and copies, from several first
// capacities: content, reads past the end, spans and InSingleBuffer follow the
// model's layout; a copy restored later shows that copies share nothing.
TEST(RollBuffer, MatchesTheRingModel) {
    std::mt19937 random(42);
    for (unsigned capacity : {0u, 1u, 3u, 8u, 20u}) {
        CRollBuffer buffer(capacity), saved(0);
        RingModel model{capacity}, savedModel{0};
        for (int step = 0; step < 4000; ++step) {
            const unsigned n = random() % 9, op = random() % 40;
            std::vector<unsigned char> data(n);
            for (auto& b : data)
                b = static_cast<unsigned char>(random());
            if (op < 20) {
                op % 2 ? buffer.PushFront(data.data(), n) : buffer.PushBack(data.data(), n);
                model.Push(op % 2, data);
            } else if (op < 37) {
                const int removed = op % 2 ? buffer.RemoveFront(n) : buffer.RemoveBack(n);
                ASSERT_EQ(removed, model.Remove(op % 2, n) ? 1 : 0);
            } else if (op == 37) {
                n % 2 ? buffer.Release() : buffer.Clear();
                model.Empty(n % 2);
            } else if (op == 38) {
                saved = CRollBuffer(buffer);
                savedModel = model;
            } else {
                buffer = saved;
                model = savedModel;
            }
            ASSERT_EQ(buffer.GetDataSize(), model.Size());
            const unsigned pos = random() % (model.Size() + 2), len = random() % 9;
            ASSERT_EQ(buffer[pos], pos < model.Size() ? model.bytes[pos] : 0);
            unsigned char* first;
            unsigned char* second;
            unsigned firstLen, secondLen, copied = len;
            std::vector<unsigned char> copy(len);
            const bool inside = pos < model.Size();
            ASSERT_EQ(buffer.GetRowPtr(pos, len, first, firstLen, second, secondLen), inside);
            ASSERT_EQ(buffer.GetDataCopy(pos, copy.data(), copied), inside);
            ASSERT_EQ(buffer.InSingleBuffer(pos, len),
                      pos + len <= model.Size() && model.head + pos + len <= model.cap);
            if (!inside) {
                ASSERT_TRUE(first == nullptr && firstLen == 0 && second == nullptr &&
                            copied == len);
                continue;
            }
            const unsigned count = std::min(len, model.Size() - pos);
            const unsigned start = (model.head + pos) % model.cap;
            const bool wraps = count > 0 && start + count >= model.cap;
            ASSERT_EQ(firstLen, wraps ? model.cap - start : count) << capacity << " " << step;
            ASSERT_EQ(second, wraps ? first - start : nullptr);
            ASSERT_EQ(secondLen, wraps ? count - (model.cap - start) : 0u);
            std::vector<unsigned char> joined(first, first + firstLen);
            joined.insert(joined.end(), second, second + secondLen);
            const std::vector<unsigned char> expected(model.bytes.begin() + pos,
                                                      model.bytes.begin() + pos + count);
            ASSERT_EQ(joined, expected);
            ASSERT_EQ(copied, count);
            ASSERT_TRUE(std::equal(expected.begin(), expected.end(), copy.begin()));
        }
    }
    CRollBuffer small(4);
    EXPECT_FALSE(small.InSingleBuffer(0xFFFFFFFFu, 2));  // no wrap in the sum
}

}  // namespace
