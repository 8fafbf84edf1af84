#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "digest_test_util.h"

#if !defined(_WIN32)
#include <openssl/evp.h>
#endif

using digest_test::Hex;
using digest_test::Md5;

extern "C" int vidozir_digest_header_check_c(void);

namespace {

TEST(Md5, Rfc1321TestSuite) {
    const std::pair<std::string, const char*> cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        // One- and two-block paddings.
        {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
        {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Md5(c.first.data(), c.first.size()), c.second) << c.first;
}

// Callers allocate the context, so what it holds between calls is interface:
// whole blocks are compressed, and up to 64 bytes (a full last block too) wait.
TEST(Md5, ContextLayoutIsThePublishedOne) {
    EXPECT_EQ(vidozir_digest_header_check_c(), 156 * 1000 + 96);
    const std::string block(128, 'x');
    struct Step {
        uint32_t length, buffered, countLow;
    };
    const std::vector<std::vector<Step>> runs = {
        {{10, 10, 0}, {64, 10, 64}, {0, 10, 64}},  // 74 buffered: one block compressed
        {{10, 10, 0}, {54, 64, 0}},                // a buffer of exactly 64 waits
        {{64, 64, 0}},                             // so does a first piece of 64
        {{128, 64, 64}},                           // the last whole block is kept
        {{1, 1, 0}, {127, 0, 128}},                // 128 buffered: both blocks compressed
    };
    for (const auto& run : runs) {
        md5_context context;
        md5_init(&context);
        std::string fed;
        for (const Step& step : run) {
            md5_process(&context, step.length ? block.data() : nullptr, step.length);
            fed.append(block, 0, step.length);
            EXPECT_EQ(context.buffered, step.buffered) << fed.size();
            EXPECT_EQ(context.count_low, step.countLow) << fed.size();
        }
        const uint32_t padded = context.buffered < 56 ? 64 : 128;
        unsigned char out[16];
        md5_finish(&context, out);
        EXPECT_EQ(Hex(out, 16), Md5(fed.data(), fed.size()));
        // Finishing counts the buffered bytes, then the padded blocks it compresses.
        EXPECT_EQ(context.count_low, fed.size() + padded);
    }
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
