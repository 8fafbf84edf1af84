#include "vidozir/rollbuffer.h"

#include <gtest/gtest.h>

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

// Puts a buffer of capacity 8 into the state head = 5, size = 2 (content
// {100, 101}); the block's start is returned.
unsigned char* HeadFiveSizeTwo(CRollBuffer& buffer) {
    auto five = Seq(0, 5);
    auto two = Seq(100, 2);
    buffer.PushBack(five.data(), 5);
    buffer.PushBack(two.data(), 2);
    EXPECT_EQ(buffer.RemoveFront(5), 1);
    Spans s = RowPtr(buffer, 0, 2);
    return s.first - 5;
}

TEST(RollBuffer, FirstPushAllocatesAndGrowthIsOneAndAHalf) {
    CRollBuffer buffer(8);
    auto data = Seq(1, 10);
    buffer.PushBack(data.data(), 5);
    Spans s = RowPtr(buffer, 0, 5);
    unsigned char* block = s.first;
    EXPECT_TRUE(buffer.InSingleBuffer(0, 5));
    buffer.PushBack(data.data() + 5, 5);  // needs 10: grows to 15, head 0
    EXPECT_EQ(buffer.GetDataSize(), 10u);
    EXPECT_EQ(Content(buffer), data);
    s = RowPtr(buffer, 0, 10);
    EXPECT_NE(s.first, block);
    EXPECT_EQ(s.firstLen, 10u);
    EXPECT_EQ(s.second, nullptr);
    // 15 bytes of room: 5 more fit without growing, the 6th grows the block.
    auto more = Seq(20, 6);
    buffer.PushBack(more.data(), 5);
    EXPECT_EQ(RowPtr(buffer, 0, 15).first, s.first);
    EXPECT_TRUE(buffer.InSingleBuffer(0, 15));
    buffer.PushBack(more.data() + 5, 1);
    EXPECT_NE(RowPtr(buffer, 0, 16).first, s.first);

    CRollBuffer large(4);  // a first push larger than the capacity
    auto twenty = Seq(0, 20);
    large.PushFront(twenty.data(), 20);  // block of 30, content at its end
    EXPECT_EQ(Content(large), twenty);
    EXPECT_TRUE(large.InSingleBuffer(0, 20));
    EXPECT_EQ(RowPtr(large, 0, 20).firstLen, 20u);
    large.PushBack(twenty.data(), 10);  // wraps to the start of the 30 bytes
    EXPECT_EQ(RowPtr(large, 0, 30).firstLen, 20u);
    EXPECT_EQ(RowPtr(large, 0, 30).secondLen, 10u);
}

TEST(RollBuffer, PushBackWrapsRoundTheEnd) {
    CRollBuffer buffer(8);
    unsigned char* block = HeadFiveSizeTwo(buffer);
    auto four = Seq(200, 4);
    buffer.PushBack(four.data(), 4);
    EXPECT_EQ(buffer.GetDataSize(), 6u);
    EXPECT_EQ(block[7], 200);
    EXPECT_EQ(block[0], 201);
    EXPECT_EQ(block[2], 203);
    Spans s = RowPtr(buffer, 0, 6);
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(s.first, block + 5);
    EXPECT_EQ(s.firstLen, 3u);
    EXPECT_EQ(s.second, block);
    EXPECT_EQ(s.secondLen, 3u);
    EXPECT_EQ(Content(buffer), (std::vector<unsigned char>{100, 101, 200, 201, 202, 203}));
    EXPECT_FALSE(buffer.InSingleBuffer(0, 6));
    EXPECT_TRUE(buffer.InSingleBuffer(0, 3));
    // Wholly in the wrapped part: contiguous, yet reported as not single.
    EXPECT_FALSE(buffer.InSingleBuffer(3, 3));
    s = RowPtr(buffer, 3, 3);
    EXPECT_EQ(s.first, block);
    EXPECT_EQ(s.firstLen, 3u);
    EXPECT_EQ(s.second, nullptr);
    // A stretch ending exactly at the block's end: a second span of 0.
    s = RowPtr(buffer, 0, 3);
    EXPECT_EQ(s.firstLen, 3u);
    EXPECT_EQ(s.second, block);
    EXPECT_EQ(s.secondLen, 0u);
}

TEST(RollBuffer, PushFrontWrapsRoundTheStart) {
    CRollBuffer buffer(8);
    auto five = Seq(0, 5);
    buffer.PushBack(five.data(), 5);
    ASSERT_EQ(buffer.RemoveFront(2), 1);  // head 2, size 3: {2, 3, 4}
    unsigned char* block = RowPtr(buffer, 0, 3).first - 2;
    auto four = Seq(50, 4);
    buffer.PushFront(four.data(), 4);
    EXPECT_EQ(block[0], 52);
    EXPECT_EQ(block[1], 53);
    EXPECT_EQ(block[6], 50);
    EXPECT_EQ(block[7], 51);
    EXPECT_EQ(RowPtr(buffer, 0, 1).first, block + 6);
    EXPECT_EQ(Content(buffer), (std::vector<unsigned char>{50, 51, 52, 53, 2, 3, 4}));
    EXPECT_EQ(buffer[0], 50);
    EXPECT_EQ(buffer[2], 52);
    EXPECT_EQ(buffer[6], 4);

    // RemoveFront with head 6, size 5, capacity 8 moves the head to 1.
    ASSERT_EQ(buffer.RemoveBack(2), 1);
    ASSERT_EQ(buffer.GetDataSize(), 5u);
    EXPECT_EQ(buffer.RemoveFront(3), 1);
    EXPECT_EQ(buffer.GetDataSize(), 2u);
    EXPECT_EQ(RowPtr(buffer, 0, 2).first, block + 1);
    EXPECT_EQ(Content(buffer), (std::vector<unsigned char>{53, 2}));
}

TEST(RollBuffer, GrowthUnwrapsTheContent) {
    CRollBuffer buffer(8);
    HeadFiveSizeTwo(buffer);
    auto four = Seq(200, 4);
    buffer.PushBack(four.data(), 4);  // wrapped: 3 + 3
    auto five = Seq(10, 5);
    buffer.PushFront(five.data(), 5);  // needs 11: block of 16, head 0 before the push
    EXPECT_EQ(buffer.GetDataSize(), 11u);
    EXPECT_EQ(Content(buffer),
              (std::vector<unsigned char>{10, 11, 12, 13, 14, 100, 101, 200, 201, 202, 203}));
    Spans s = RowPtr(buffer, 5, 6);  // the old content starts the new block
    EXPECT_EQ(s.firstLen, 6u);
    EXPECT_EQ(s.second, nullptr);
    s = RowPtr(buffer, 0, 11);
    EXPECT_EQ(s.firstLen, 5u);  // the pushed bytes went to the block's end
    EXPECT_EQ(s.secondLen, 6u);
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
    HeadFiveSizeTwo(buffer);
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

// Random pushes and removals at both ends behave like a deque.
TEST(RollBuffer, MatchesADeque) {
    std::mt19937 random(42);
    CRollBuffer buffer(3);
    std::deque<unsigned char> model;
    for (int step = 0; step < 5000; ++step) {
        const unsigned int n = random() % 9;
        std::vector<unsigned char> data(n);
        for (auto& b : data) {
            b = static_cast<unsigned char>(random());
        }
        switch (random() % 4) {
            case 0:
                buffer.PushBack(data.data(), n);
                model.insert(model.end(), data.begin(), data.end());
                break;
            case 1:
                buffer.PushFront(data.data(), n);
                model.insert(model.begin(), data.begin(), data.end());
                break;
            case 2:
                EXPECT_EQ(buffer.RemoveFront(n), n > 0 && n <= model.size() ? 1 : 0);
                if (n > 0 && n <= model.size()) {
                    model.erase(model.begin(), model.begin() + n);
                }
                break;
            default:
                EXPECT_EQ(buffer.RemoveBack(n), n > 0 && n <= model.size() ? 1 : 0);
                if (n > 0 && n <= model.size()) {
                    model.erase(model.end() - n, model.end());
                }
                break;
        }
        ASSERT_EQ(buffer.GetDataSize(), model.size());
        if (!model.empty()) {
            const unsigned int pos = random() % model.size();
            ASSERT_EQ(buffer[pos], model[pos]);
            Spans s = RowPtr(buffer, pos, 7);
            std::vector<unsigned char> joined(s.first, s.first + s.firstLen);
            if (s.second != nullptr) {
                joined.insert(joined.end(), s.second, s.second + s.secondLen);
            }
            ASSERT_EQ(joined, std::vector<unsigned char>(
                                  model.begin() + pos,
                                  model.begin() + pos + std::min<size_t>(7, model.size() - pos)));
        }
    }
}

}  // namespace
