#include "digest_test_util.h"

using digest_test::Hex;
using digest_test::kMd5;

extern "C" int vidozir_digest_header_check_c(void);

namespace {

TEST(Md5, Rfc1321TestSuiteAndPieces) {
    // Part of RFC 1321's suite; on Linux the pieces check below holds every
    // length up to 300 (each padding case) against OpenSSL.
    const std::pair<std::string, const char*> cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(kMd5.Of(c.first), c.second) << c.first;
    kMd5.CheckPieces("md5", {1, 64, 65, 127, 200});
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
        EXPECT_EQ(Hex(out, 16), kMd5.Of(fed));
        // Finishing counts the buffered bytes, then the padded blocks it compresses.
        EXPECT_EQ(context.count_low, fed.size() + padded);
    }
}

}  // namespace
