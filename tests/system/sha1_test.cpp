#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "digest_test_util.h"
#include "support/test_support.h"

#if !defined(_WIN32)
#include <openssl/evp.h>
#endif

using digest_test::Hex;
using digest_test::Sha1;

namespace {

std::string Sha1Of(const std::string& text) {
    return Sha1(text.data(), text.size());
}

TEST(Sha1, Fips180Examples) {
    EXPECT_EQ(Sha1Of(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(Sha1Of("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(Sha1Of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    // A million 'a', fed in uneven pieces.
    sha_context context;
    sha_init(&context);
    std::string chunk(999, 'a');
    size_t fed = 0;
    while (fed < 1000000) {
        uint32_t n = static_cast<uint32_t>(std::min<size_t>(chunk.size(), 1000000 - fed));
        sha_update(&context, chunk.data(), n);
        fed += n;
    }
    unsigned char out[20];
    sha_final(out, &context);
    EXPECT_EQ(Hex(out, 20), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

TEST(Sha1, ContextFollowsTheBlockAndBitCount) {
    sha_context context;
    sha_init(&context);
    sha_update(&context, "0123456789", 10);
    EXPECT_EQ(context.local, 10);
    EXPECT_EQ(context.count_low, 80u);
    EXPECT_EQ(std::memcmp(context.data, "0123456789", 10), 0);
    std::string rest(118, 'y');
    sha_update(&context, rest.data(), static_cast<uint32_t>(rest.size()));
    EXPECT_EQ(context.local, 0);  // 128 bytes: two whole blocks
    EXPECT_EQ(context.count_low, 1024u);
    // The high word takes the carry and the length's top bits.
    context.count_low = 0xFFFFFFF8u;
    sha_update(&context, "z", 1);
    EXPECT_EQ(context.count_high, 1u);
    EXPECT_EQ(context.count_low, 0u);
}

TEST(Sha1, PiecesAndPaddingBoundaries) {
    std::mt19937 rng(1801);
    for (size_t length = 0; length <= 300; ++length) {
        auto data = digest_test::RandomBytes(rng, length);
        std::string once = Sha1(data.data(), data.size());
        for (size_t maxPiece : {1u, 63u, 64u, 65u, 127u}) {
            ASSERT_EQ(digest_test::Sha1InPieces(rng, data, maxPiece), once)
                << "length " << length << " pieces up to " << maxPiece;
        }
    }
    EXPECT_EQ(Sha1Of(std::string(64, 'a')), "0098ba824b5c16427bd7a1122a5a442a25ec644d");
    EXPECT_EQ(Sha1Of(std::string(56, 'a')), "c2db330f6083854c99d4b5bfb6e8f29f201be699");
}

#if !defined(_WIN32)
TEST(Sha1, AgreesWithOpenSsl) {
    std::mt19937 rng(7);
    for (size_t length = 0; length <= 300; ++length) {
        auto data = digest_test::RandomBytes(rng, length);
        unsigned char theirs[EVP_MAX_MD_SIZE];
        unsigned int n = 0;
        EVP_Digest(data.data(), data.size(), theirs, &n, EVP_sha1(), nullptr);
        ASSERT_EQ(digest_test::Sha1InPieces(rng, data, 90), Hex(theirs, n)) << "length " << length;
    }
}
#endif

std::vector<unsigned char> FromHex(const std::string& hex) {
    std::vector<unsigned char> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// Runs every vector of one NIST CAVP response file; returns how many ran.
int RunCavpFile(const std::string& name) {
    std::string path = std::string(VIDOZIR_SHA1_VECTORS) + "/" + name;
#if defined(_WIN32)
    path = "Z:" + path;  // Wine's view of the host's file system
#endif
    std::ifstream file(path);
    if (!file) {
        return -1;
    }
    int count = 0;
    long bits = -1;
    std::string message;
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.rfind("Len = ", 0) == 0) {
            bits = std::stol(line.substr(6));
        } else if (line.rfind("Msg = ", 0) == 0) {
            message = line.substr(6);
        } else if (line.rfind("MD = ", 0) == 0) {
            auto bytes = FromHex(message);
            bytes.resize(static_cast<size_t>(bits / 8));  // Len 0 carries a dummy "00"
            EXPECT_EQ(Sha1(bytes.data(), bytes.size()), line.substr(5)) << name << " Len " << bits;
            ++count;
        }
    }
    return count;
}

TEST(Sha1, NistByteOrientedVectors) {
    int shortCount = RunCavpFile("SHA1ShortMsg.rsp");
    int longCount = RunCavpFile("SHA1LongMsg.rsp");
    if (vidozir_test::IsWine() && (shortCount < 0 || longCount < 0)) {
        GTEST_SKIP() << "Wine: the host's vector files are not reachable through drive Z:";
    }
    EXPECT_EQ(shortCount, 65);
    EXPECT_EQ(longCount, 64);
}

}  // namespace
