#include <gtest/gtest.h>

#include <algorithm>

#include "vidozir/membuffer.h"

// Blocks from the array allocator, writable over their whole length; one
// freed dirty and handed out again must come zeroed.
TEST(MemPool, BlocksFromTheArrayAllocator) {
    auto* raw = static_cast<unsigned char*>(VidOzir::CMemPool::MallocBuffer(4096));
    std::fill(raw, raw + 4096, 0x5A);
    delete[] raw;
    auto* zeroed = static_cast<unsigned char*>(VidOzir::CMemPool::MallocZeroBuffer(4096));
    EXPECT_EQ(std::count(zeroed, zeroed + 4096, 0), 4096);
    delete[] zeroed;
}
