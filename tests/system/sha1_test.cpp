#include "digest_test_util.h"

using digest_test::kSha1;

namespace {

TEST(Sha1, Fips180ExamplesAndPieces) {
    EXPECT_EQ(kSha1.Of(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(kSha1.Of("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(kSha1.Of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    // A million 'a', fed in uneven pieces.
    std::mt19937 rng(1801);
    const std::string million(1000000, 'a');
    EXPECT_EQ(kSha1.Of(million.data(), million.size(), &rng, 1998),
              "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
    kSha1.CheckPieces("sha1", {1, 63, 64, 65, 127});
}

TEST(Sha1, ContextFollowsTheBlockAndBitCount) {
    sha_context context;
    sha_init(&context);
    sha_update(&context, "0123456789", 10);
    EXPECT_EQ(context.local, 10);
    EXPECT_EQ(context.count_low, 80u);
    EXPECT_EQ(std::memcmp(context.data, "0123456789", 10), 0);
    sha_update(&context, std::string(118, 'y').data(), 118);
    EXPECT_EQ(context.local, 0);  // 128 bytes: two whole blocks
    EXPECT_EQ(context.count_low, 1024u);
    // The high word takes the carry and the length's top bits.
    context.count_low = 0xFFFFFFF8u;
    sha_update(&context, "z", 1);
    EXPECT_EQ(context.count_high, 1u);
    EXPECT_EQ(context.count_low, 0u);
}

}  // namespace
