#include "vidozir/rollbuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <random>
#include <tuple>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// The block as the growth and wrap rules lay it out: capacity, head, content.
// A push that does not fit (the first one too) makes a block of 1.5 times the
// need and moves the content to its start.
struct RingModel {
    unsigned cap, head = 0;
    std::deque<unsigned char> bytes;

    unsigned Size() const { return static_cast<unsigned>(bytes.size()); }
    void Push(bool front, const Bytes& data) {
        const unsigned n = static_cast<unsigned>(data.size()), needed = Size() + n;
        if (needed > cap)
            head = Size() > 0 ? 0 : head, cap = 3 * needed / 2;
        head = !front ? head : n > head ? cap - (n - head) : head - n;
        bytes.insert(front ? bytes.begin() : bytes.end(), data.begin(), data.end());
    }
    bool Remove(bool front, unsigned n) {
        if (n == 0 || n > Size())
            return false;
        head = front ? (head + n) % cap : head;
        bytes.erase(front ? bytes.begin() : bytes.end() - n,
                    front ? bytes.begin() + n : bytes.end());
        return true;
    }
};

// Random pushes, removals, clears, releases and copies, from several first
// capacities (the first push filling it exactly): content, reads past the end,
// spans and InSingleBuffer follow the model's layout.
TEST(RollBuffer, MatchesTheRingModel) {
    std::mt19937 random(42);
    for (unsigned capacity : {0u, 1u, 3u, 8u, 20u}) {
        VidOzir::CRollBuffer buffer(capacity);
        RingModel model{capacity};
        for (int step = 0; step < 4000; ++step) {
            const unsigned n = step ? random() % 9 : std::min(capacity, 8u);
            const unsigned op = step ? random() % 40 : 0;
            Bytes data(n);
            std::generate(data.begin(), data.end(),
                          [&] { return static_cast<unsigned char>(random()); });
            if (op < 20) {
                op % 2 ? buffer.PushFront(data.data(), n) : buffer.PushBack(data.data(), n);
                model.Push(op % 2, data);
            } else if (op < 37) {
                const int removed = op % 2 ? buffer.RemoveFront(n) : buffer.RemoveBack(n);
                ASSERT_EQ(removed, model.Remove(op % 2, n) ? 1 : 0);
            } else if (op == 37) {  // both keep the capacity; Release frees the block
                n % 2 ? buffer.Release() : buffer.Clear();
                model.head = 0, model.bytes.clear();
            } else {  // a copy shares nothing: it stays while the buffer changes
                VidOzir::CRollBuffer copy(buffer);
                buffer.Clear(), buffer.PushBack(data.data(), n), buffer = copy;
            }
            // A stretch: past the content no spans, and the count stays.
            const unsigned pos = random() % (model.Size() + 2), len = random() % 9;
            const bool inside = pos < model.Size();
            ASSERT_EQ(
                std::make_tuple(buffer.GetDataSize(), buffer[pos], buffer.InSingleBuffer(pos, len)),
                std::make_tuple(model.Size(), inside ? model.bytes[pos] : 0,
                                pos + len <= model.Size() && model.head + pos + len <= model.cap));
            unsigned char *first, *second;
            unsigned firstLen, secondLen, copied = len;
            Bytes copy(len);
            ASSERT_EQ(buffer.GetRowPtr(pos, len, first, firstLen, second, secondLen), inside);
            ASSERT_EQ(buffer.GetDataCopy(pos, copy.data(), copied), inside);
            ASSERT_TRUE(inside || (!first && !firstLen && !second && !secondLen && copied == len));
            if (!inside)
                continue;
            // A stretch that ends at the block's end has a second span, of 0 bytes.
            const unsigned count = std::min(len, model.Size() - pos);
            const unsigned start = (model.head + pos) % model.cap, end = start + count;
            ASSERT_EQ(std::tie(firstLen, second, secondLen),
                      std::make_tuple(end < model.cap ? count : model.cap - start,
                                      end < model.cap ? nullptr : first - start,
                                      end < model.cap ? 0 : end - model.cap));
            Bytes joined(first, first + firstLen),
                expected(model.bytes.begin() + pos, model.bytes.begin() + pos + count);
            joined.insert(joined.end(), second, second + secondLen);
            copy.resize(copied);
            ASSERT_EQ(joined, expected) << capacity << " " << step;
            ASSERT_EQ(copy, expected);
        }
    }
    EXPECT_FALSE(VidOzir::CRollBuffer(4).InSingleBuffer(0xFFFFFFFFu, 2));  // no wrap in the sum
}

}  // namespace
