#include "vidozir/rollbuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <random>
#include <string>
#include <vector>

namespace {

using VidOzir::CRollBuffer;

std::vector<unsigned char> Content(CRollBuffer& buffer) {
    std::vector<unsigned char> out(buffer.GetDataSize());
    unsigned int n = buffer.GetDataSize();
    if (n > 0) {
        EXPECT_TRUE(buffer.GetDataCopy(0, out.data(), n));
        EXPECT_EQ(n, buffer.GetDataSize());
    }
    return out;
}

std::vector<unsigned char> Seq(unsigned char from, int count) {
    std::vector<unsigned char> v;
    for (int i = 0; i < count; ++i) {
        v.push_back(static_cast<unsigned char>(from + i));
    }
    return v;
}

struct Spans {
    unsigned char* first;
    unsigned int firstLen;
    unsigned char* second;
    unsigned int secondLen;
    bool ok;
};

Spans RowPtr(CRollBuffer& buffer, unsigned int pos, unsigned int len) {
    Spans s;
    s.ok = buffer.GetRowPtr(pos, len, s.first, s.firstLen, s.second, s.secondLen);
    return s;
}

TEST(RollBuffer, ReadsPastTheContent) {
    CRollBuffer buffer(16);
    auto data = Seq(1, 6);
    buffer.PushBack(data.data(), 6);
    unsigned char out[16] = {};
    unsigned int n = 10;
    EXPECT_TRUE(buffer.GetDataCopy(2, out, n));
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(out[0], 3);
    EXPECT_EQ(out[3], 6);
    n = 3;
    EXPECT_FALSE(buffer.GetDataCopy(6, out, n));
    EXPECT_EQ(n, 3u);
    n = 0;
    EXPECT_TRUE(buffer.GetDataCopy(5, out, n));
    EXPECT_EQ(n, 0u);

    Spans s = RowPtr(buffer, 6, 1);
    EXPECT_FALSE(s.ok);
    EXPECT_EQ(s.first, nullptr);
    EXPECT_EQ(s.firstLen, 0u);
    s = RowPtr(buffer, 1, 0);
    EXPECT_TRUE(s.ok);
    EXPECT_NE(s.first, nullptr);
    EXPECT_EQ(s.firstLen, 0u);
    EXPECT_EQ(s.second, nullptr);

    EXPECT_FALSE(buffer.InSingleBuffer(4, 3));
    EXPECT_TRUE(buffer.InSingleBuffer(4, 2));
    EXPECT_FALSE(buffer.InSingleBuffer(0xFFFFFFFFu, 2));  // no wrap in the sum

    EXPECT_EQ(buffer.RemoveBack(0), 0);
    EXPECT_EQ(buffer.RemoveFront(0), 0);
    EXPECT_EQ(buffer.RemoveBack(7), 0);
    EXPECT_EQ(buffer.RemoveFront(7), 0);
    EXPECT_EQ(buffer.GetDataSize(), 6u);

    // Positions at or past the size give 0.
    EXPECT_EQ(buffer[5], 6);
    EXPECT_EQ(buffer[6], 0);
    EXPECT_EQ(buffer[1000], 0);
}

TEST(RollBuffer, ClearReleaseAndCapacityZero) {
    CRollBuffer buffer(8);
    auto data = Seq(1, 6);
    buffer.PushBack(data.data(), 6);
    unsigned char* block = RowPtr(buffer, 0, 1).first;
    buffer.Clear();
    EXPECT_EQ(buffer.GetDataSize(), 0u);
    buffer.PushBack(data.data(), 3);
    EXPECT_EQ(RowPtr(buffer, 0, 1).first, block);  // the block stayed, head 0
    buffer.Release();
    EXPECT_EQ(buffer.GetDataSize(), 0u);
    EXPECT_EQ(buffer[0], 0);
    buffer.PushFront(data.data(), 6);
    EXPECT_EQ(Content(buffer), data);
    EXPECT_TRUE(buffer.InSingleBuffer(0, 6));  // a block of the kept capacity 8, head 2

    CRollBuffer zero(0);
    EXPECT_EQ(zero[0], 0);
    zero.PushBack(data.data(), 0);  // nothing: no block, capacity still open
    EXPECT_EQ(zero.GetDataSize(), 0u);
    EXPECT_FALSE(zero.InSingleBuffer(0, 1));
    zero.PushBack(data.data(), 4);  // capacity 6
    EXPECT_EQ(Content(zero), Seq(1, 4));
    zero.PushBack(data.data() + 4, 2);
    EXPECT_TRUE(zero.InSingleBuffer(0, 6));  // still the first block
    zero.PushBack(data.data(), 1);
    EXPECT_EQ(zero.GetDataSize(), 7u);

    CRollBuffer one(0);
    one.PushFront(data.data(), 1);  // capacity 1
    EXPECT_EQ(one[0], 1);
    one.PushFront(data.data() + 1, 1);
    EXPECT_EQ(Content(one), (std::vector<unsigned char>{2, 1}));
}

TEST(RollBuffer, CopiesAreDeep) {
    CRollBuffer buffer(8);
    auto seven = Seq(95, 7);
    buffer.PushBack(seven.data(), 7);
    ASSERT_EQ(buffer.RemoveFront(5), 1);  // head 5, content {100, 101}
    auto four = Seq(200, 4);
    buffer.PushBack(four.data(), 4);
    CRollBuffer copy(buffer);
    EXPECT_EQ(Content(copy), Content(buffer));
    EXPECT_EQ(RowPtr(copy, 0, 6).firstLen, 3u);  // same layout
    EXPECT_NE(RowPtr(copy, 0, 6).first, RowPtr(buffer, 0, 6).first);
    buffer.RemoveFront(2);
    EXPECT_EQ(copy.GetDataSize(), 6u);

    CRollBuffer assigned(2);
    auto one = Seq(9, 1);
    assigned.PushBack(one.data(), 1);
    assigned = copy;
    copy.Release();
    EXPECT_EQ(Content(assigned), (std::vector<unsigned char>{100, 101, 200, 201, 202, 203}));
    CRollBuffer& alias = assigned;
    assigned = alias;
    EXPECT_EQ(assigned.GetDataSize(), 6u);

    CRollBuffer empty(5);
    assigned = empty;
    EXPECT_EQ(assigned.GetDataSize(), 0u);
    assigned.PushBack(one.data(), 1);
    EXPECT_EQ(assigned[0], 9);
}

// The block as the growth and wrap rules lay it out: capacity, head, content.
struct RingModel {
    unsigned cap, head = 0;
    bool block = false;
    std::deque<unsigned char> bytes;

    void Push(bool front, const std::vector<unsigned char>& data) {
        const unsigned n = static_cast<unsigned>(data.size()), needed = Size() + n;
        if (!block || needed > cap) {
            if (block && !bytes.empty()) {
                head = 0;  // the content moves to the start of the new block
            }
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
        if (n == 0 || n > Size()) {
            return false;
        }
        head = front ? (head + n) % cap : head;
        front ? bytes.erase(bytes.begin(), bytes.begin() + n)
              : bytes.erase(bytes.end() - n, bytes.end());
        return true;
    }
    unsigned Size() const { return static_cast<unsigned>(bytes.size()); }
};

// Random pushes and removals at both ends, from several first capacities:
// content, spans and InSingleBuffer follow the model's layout.
TEST(RollBuffer, MatchesTheRingModel) {
    std::mt19937 random(42);
    for (unsigned capacity : {1u, 3u, 8u, 20u}) {
        CRollBuffer buffer(capacity);
        RingModel model{capacity};
        for (int step = 0; step < 3000; ++step) {
            const unsigned n = random() % 9;
            std::vector<unsigned char> data(n);
            for (auto& b : data) {
                b = static_cast<unsigned char>(random());
            }
            const unsigned op = random() % 4;
            if (op < 2) {
                op ? buffer.PushFront(data.data(), n) : buffer.PushBack(data.data(), n);
                model.Push(op == 1, data);
            } else {
                const int removed = op == 2 ? buffer.RemoveFront(n) : buffer.RemoveBack(n);
                ASSERT_EQ(removed, model.Remove(op == 2, n) ? 1 : 0);
            }
            ASSERT_EQ(buffer.GetDataSize(), model.Size());
            if (model.bytes.empty()) {
                continue;
            }
            const unsigned pos = random() % model.Size(), len = random() % 9;
            ASSERT_EQ(buffer[pos], model.bytes[pos]);
            const unsigned count = std::min(len, model.Size() - pos);
            const unsigned start = (model.head + pos) % model.cap;
            const bool wraps = count > 0 && start + count >= model.cap;
            Spans s = RowPtr(buffer, pos, len);
            ASSERT_TRUE(s.ok);
            ASSERT_EQ(s.firstLen, wraps ? model.cap - start : count) << capacity << " " << step;
            ASSERT_EQ(s.second, wraps ? s.first - start : nullptr);
            ASSERT_EQ(s.secondLen, wraps ? count - (model.cap - start) : 0u);
            std::vector<unsigned char> joined(s.first, s.first + s.firstLen);
            joined.insert(joined.end(), s.second, s.second + s.secondLen);
            ASSERT_EQ(joined, std::vector<unsigned char>(model.bytes.begin() + pos,
                                                         model.bytes.begin() + pos + count));
            ASSERT_EQ(buffer.InSingleBuffer(pos, len),
                      pos + len <= model.Size() && model.head + pos + len <= model.cap);
        }
    }
}

}  // namespace
