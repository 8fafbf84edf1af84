#include "system_test.h"

#include "system/digest_internal.h"

namespace vd = vidozir::digest;

namespace {

// The portable path gives the standard digest of "abc" (padded by hand into
// one block); the SHA instructions, where the processor has them, give the
// portable path's state for random states and data.
TEST(Sha1Compress, PortablePathIsStandardAndShaInstructionsMatchIt) {
    unsigned char block[64] = {'a', 'b', 'c', 0x80};
    block[63] = 24;
    uint32_t state[5] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0};
    vd::Sha1CompressPortable(state, block, 1);
    const uint32_t expected[5] = {0xa9993e36, 0x4706816a, 0xba3e2571, 0x7850c26c, 0x9cd0d89d};
    EXPECT_EQ(std::memcmp(state, expected, sizeof(state)), 0);
    if (!vd::Sha1HasShaNi())
        GTEST_SKIP() << "this processor has no SHA instructions";
    std::mt19937 rng(42);
    for (size_t blocks : {1u, 2u, 7u, 64u}) {
        std::vector<unsigned char> data(blocks * 64);
        for (auto& b : data)
            b = static_cast<unsigned char>(rng());
        uint32_t portable[5], sha[5];
        for (auto& word : portable)
            word = rng();
        std::memcpy(sha, portable, sizeof(sha));
        vd::Sha1CompressPortable(portable, data.data(), blocks);
        vd::Sha1CompressShaNi(sha, data.data(), blocks);
        ASSERT_EQ(std::memcmp(portable, sha, sizeof(sha)), 0) << blocks << " blocks";
    }
}

}  // namespace
