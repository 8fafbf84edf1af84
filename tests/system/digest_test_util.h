// Helpers shared by the digest tests.
#pragma once

#include "system_test.h"

#include <cstdint>

#include "vidozir/digest.h"
#include "vidozir/diskutil.h"

#if !defined(_WIN32)
#include <openssl/evp.h>
#endif

namespace digest_test {

inline std::string Hex(const unsigned char* bytes, size_t n) {
    return VidOzir::DiskUtil::bin2hex(reinterpret_cast<const char*>(bytes), unsigned(n));
}

// A digest's steps over its context: size of the result, start, add, finish.
template <class Context, size_t N>
struct Algorithm {
    void (*init)(Context*);
    void (*update)(Context*, const void*, uint32_t);
    void (*finish)(Context*, unsigned char*);

    // The digest of `data`, fed in pieces of random sizes up to `maxPiece`
    // (0 included), or whole when `rng` is null.
    std::string Of(const void* data, size_t n, std::mt19937* rng = nullptr,
                   size_t maxPiece = 0) const {
        Context context;
        init(&context);
        const auto* bytes = static_cast<const unsigned char*>(data);
        for (size_t at = 0, piece = n; at < n; at += piece) {
            piece = rng ? std::min<size_t>((*rng)() % (maxPiece + 1), n - at) : n;
            update(&context, bytes + at, static_cast<uint32_t>(piece));
        }
        unsigned char out[N];
        finish(&context, out);
        return Hex(out, N);
    }
    std::string Of(const std::string& text) const { return Of(text.data(), text.size()); }

    // Random data of every length up to 300, fed in pieces of several bounds
    // around the block size, gives the digest of the whole (and on Linux,
    // OpenSSL's digest of that name).
    void CheckPieces(const char* openSslName, std::vector<size_t> bounds) const {
        std::mt19937 rng(1321);
        for (size_t length = 0; length <= 300; ++length) {
            std::vector<unsigned char> data(length);
            for (auto& b : data)
                b = static_cast<unsigned char>(rng());
            const std::string once = Of(data.data(), length);
#if !defined(_WIN32)
            unsigned char theirs[EVP_MAX_MD_SIZE];
            unsigned int n = 0;
            EVP_Digest(data.data(), length, theirs, &n, EVP_get_digestbyname(openSslName), nullptr);
            ASSERT_EQ(once, Hex(theirs, n)) << "length " << length;
#endif
            for (size_t maxPiece : bounds)
                ASSERT_EQ(Of(data.data(), length, &rng, maxPiece), once)
                    << "length " << length << " pieces up to " << maxPiece;
        }
    }
};

const Algorithm<md5_context, 16> kMd5 = {md5_init, md5_process, md5_finish};
const Algorithm<sha_context, 20> kSha1 = {
    sha_init, sha_update,
    [](sha_context* context, unsigned char* out) { sha_final(out, context); }};

}  // namespace digest_test
