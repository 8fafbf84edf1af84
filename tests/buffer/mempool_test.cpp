#include <gtest/gtest.h>

#include <cstring>

#include "vidozir/membuffer.h"

namespace {

using VidOzir::CMemPool;

TEST(MemPool, BlocksFromTheArrayAllocator) {
    auto* zeroed = static_cast<unsigned char*>(CMemPool::MallocZeroBuffer(4096));
    ASSERT_NE(zeroed, nullptr);
    for (int i = 0; i < 4096; ++i) {
        ASSERT_EQ(zeroed[i], 0) << i;
    }
    auto* raw = static_cast<unsigned char*>(CMemPool::MallocBuffer(100));
    ASSERT_NE(raw, nullptr);
    std::memset(raw, 0x5A, 100);  // writable over its whole length
    EXPECT_NE(raw, zeroed);
    delete[] raw;
    delete[] zeroed;
    CMemPool::ReleaseBuffer();

    auto* empty = static_cast<unsigned char*>(CMemPool::MallocZeroBuffer(0));
    EXPECT_NE(empty, nullptr);
    delete[] empty;
}

}  // namespace
