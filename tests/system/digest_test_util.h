// Helpers shared by the digest tests.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "vidozir/digest.h"

namespace digest_test {

inline std::string Hex(const unsigned char* bytes, size_t n) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

inline std::vector<unsigned char> RandomBytes(std::mt19937& rng, size_t n) {
    std::vector<unsigned char> bytes(n);
    for (auto& b : bytes) {
        b = static_cast<unsigned char>(rng());
    }
    return bytes;
}

// Feeds `data` in pieces whose sizes are drawn from `rng` (0 included).
template <class Update>
void FeedInPieces(std::mt19937& rng, const std::vector<unsigned char>& data, size_t maxPiece,
                  Update update) {
    size_t at = 0;
    while (at < data.size()) {
        size_t piece = std::min<size_t>(rng() % (maxPiece + 1), data.size() - at);
        update(data.data() + at, static_cast<uint32_t>(piece));
        at += piece;
    }
}

inline std::string Md5(const void* data, size_t n) {
    md5_context context;
    unsigned char out[16];
    md5_init(&context);
    md5_process(&context, data, static_cast<uint32_t>(n));
    md5_finish(&context, out);
    return Hex(out, 16);
}

inline std::string Sha1(const void* data, size_t n) {
    sha_context context;
    unsigned char out[20];
    sha_init(&context);
    sha_update(&context, data, static_cast<uint32_t>(n));
    sha_final(out, &context);
    return Hex(out, 20);
}

// The digests of `data` fed in random pieces of up to `maxPiece` bytes.
inline std::string Md5InPieces(std::mt19937& rng, const std::vector<unsigned char>& data,
                               size_t maxPiece) {
    md5_context context;
    md5_init(&context);
    FeedInPieces(rng, data, maxPiece,
                 [&](const unsigned char* p, uint32_t n) { md5_process(&context, p, n); });
    unsigned char out[16];
    md5_finish(&context, out);
    return Hex(out, 16);
}

inline std::string Sha1InPieces(std::mt19937& rng, const std::vector<unsigned char>& data,
                                size_t maxPiece) {
    sha_context context;
    sha_init(&context);
    FeedInPieces(rng, data, maxPiece,
                 [&](const unsigned char* p, uint32_t n) { sha_update(&context, p, n); });
    unsigned char out[20];
    sha_final(out, &context);
    return Hex(out, 20);
}

}  // namespace digest_test
