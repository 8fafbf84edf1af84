#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "digest_test_util.h"

#if !defined(_WIN32)
#include <openssl/evp.h>
#endif

using digest_test::Hex;
using digest_test::Md5;

extern "C" int vidozir_digest_header_check_c(void);

namespace {

std::string Md5Of(const char* text) {
    return Md5(text, std::strlen(text));
}

TEST(Md5, Rfc1321TestSuite) {
    EXPECT_EQ(Md5Of(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Md5Of("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(Md5Of("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Md5Of("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(Md5Of("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(Md5Of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(Md5Of("1234567890123456789012345678901234567890123456789012345678901234567890123456"
                    "7890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, ContextLayoutIsThePublishedOne) {
    EXPECT_EQ(vidozir_digest_header_check_c(), 156 * 1000 + 96);
    md5_context context;
    md5_init(&context);
    md5_process(&context, "0123456789", 10);
    EXPECT_EQ(context.buffered, 10u);
    EXPECT_EQ(context.count_low, 0u);  // nothing compressed yet
    std::string block(64, 'x');
    md5_process(&context, block.data(), 64);  // 74 buffered: one block compressed
    EXPECT_EQ(context.buffered, 10u);
    EXPECT_EQ(context.count_low, 64u);
    md5_process(&context, nullptr, 0);  // an empty piece may come without a pointer
    EXPECT_EQ(context.buffered, 10u);
    md5_context fresh;
    md5_init(&fresh);
    md5_process(&fresh, block.data(), 64);  // exactly 64 waits in the buffer
    EXPECT_EQ(fresh.buffered, 64u);
    EXPECT_EQ(fresh.count_low, 0u);
    unsigned char out[16];
    md5_finish(&fresh, out);
    EXPECT_EQ(Hex(out, 16), Md5(block.data(), 64));
    // Finishing adds the buffered bytes, then counts the two padded blocks it
    // compresses as well: the context is consumed.
    EXPECT_EQ(fresh.count_low, 64u + 128u);
}

TEST(Md5, PiecesOfAnySizeGiveTheSameDigest) {
    std::mt19937 rng(1321);
    for (size_t length = 0; length <= 300; ++length) {
        auto data = digest_test::RandomBytes(rng, length);
        std::string once = Md5(data.data(), data.size());
        for (size_t maxPiece : {1u, 64u, 65u, 127u, 200u}) {
            ASSERT_EQ(digest_test::Md5InPieces(rng, data, maxPiece), once)
                << "length " << length << " pieces up to " << maxPiece;
        }
    }
}

TEST(Md5, PaddingBoundaries) {
    // Expected digests of 'a' repeated n times, from the standard algorithm.
    for (size_t n : {55u, 56u, 63u, 64u, 119u, 120u}) {
        std::string text(n, 'a');
        md5_context bytewise;
        md5_init(&bytewise);
        for (char c : text) {
            md5_process(&bytewise, &c, 1);
        }
        unsigned char out[16];
        md5_finish(&bytewise, out);
        EXPECT_EQ(Hex(out, 16), Md5(text.data(), n)) << n;
    }
    EXPECT_EQ(Md5(std::string(64, 'a').data(), 64), "014842d480b571495a4a0363793f7367");
    EXPECT_EQ(Md5(std::string(56, 'a').data(), 56), "3b0c8ac703f828b04c6c197006d17218");
}

#if !defined(_WIN32)
TEST(Md5, AgreesWithOpenSsl) {
    std::mt19937 rng(5);
    for (size_t length = 0; length <= 300; ++length) {
        auto data = digest_test::RandomBytes(rng, length);
        unsigned char theirs[EVP_MAX_MD_SIZE];
        unsigned int n = 0;
        EVP_Digest(data.data(), data.size(), theirs, &n, EVP_md5(), nullptr);
        ASSERT_EQ(digest_test::Md5InPieces(rng, data, 90), Hex(theirs, n)) << "length " << length;
    }
}
#endif

}  // namespace
