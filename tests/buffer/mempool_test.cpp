#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "vidozir/membuffer.h"

namespace {

using VidOzir::CMemPool;

TEST(MemPool, BlocksFromTheArrayAllocator) {
    auto* raw = static_cast<unsigned char*>(CMemPool::MallocBuffer(4096));
    std::memset(raw, 0x5A, 4096);  // writable over its whole length
    delete[] raw;                  // freed dirty: a block handed out again must come zeroed
    auto* zeroed = static_cast<unsigned char*>(CMemPool::MallocZeroBuffer(4096));
    EXPECT_EQ(std::vector<unsigned char>(zeroed, zeroed + 4096), std::vector<unsigned char>(4096));
    delete[] zeroed;
    CMemPool::ReleaseBuffer();
    auto* empty = static_cast<unsigned char*>(CMemPool::MallocZeroBuffer(0));
    EXPECT_NE(empty, nullptr);
    delete[] empty;
}

}  // namespace
