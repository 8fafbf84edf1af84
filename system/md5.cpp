// MD5 as RFC 1321 defines it. Whole blocks are compressed straight from the
// caller's data; the context buffers only what does not fill a block.
#include <cstddef>
#include <cstring>

#include "vidozir/digest.h"

static_assert(sizeof(md5_context) == 156, "md5_context is part of the interface");
static_assert(offsetof(md5_context, count_low) == 16 && offsetof(md5_context, count_high) == 20 &&
                  offsetof(md5_context, buffered) == 24 && offsetof(md5_context, buffer) == 28,
              "md5_context field offsets are part of the interface");

namespace {

inline uint32_t LoadLE(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline uint32_t Rotl(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

#define MD5_STEP(f, a, b, c, d, k, s, t) \
    a += f(b, c, d) + x[k] + (t);        \
    a = Rotl(a, s) + (b)

#define MD5_F(b, c, d) ((d) ^ ((b) & ((c) ^ (d))))
#define MD5_G(b, c, d) ((c) ^ ((d) & ((b) ^ (c))))
#define MD5_H(b, c, d) ((b) ^ (c) ^ (d))
#define MD5_I(b, c, d) ((c) ^ ((b) | ~(d)))

void Compress(md5_context* context, const unsigned char* data, size_t blocks) {
    uint32_t* state = context->state;
    for (size_t n = 0; n < blocks; ++n, data += 64) {
        uint32_t x[16];
        for (int i = 0; i < 16; ++i) {
            x[i] = LoadLE(data + 4 * i);  // little-endian words whatever the processor
        }
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

        MD5_STEP(MD5_F, a, b, c, d, 0, 7, 0xd76aa478);
        MD5_STEP(MD5_F, d, a, b, c, 1, 12, 0xe8c7b756);
        MD5_STEP(MD5_F, c, d, a, b, 2, 17, 0x242070db);
        MD5_STEP(MD5_F, b, c, d, a, 3, 22, 0xc1bdceee);
        MD5_STEP(MD5_F, a, b, c, d, 4, 7, 0xf57c0faf);
        MD5_STEP(MD5_F, d, a, b, c, 5, 12, 0x4787c62a);
        MD5_STEP(MD5_F, c, d, a, b, 6, 17, 0xa8304613);
        MD5_STEP(MD5_F, b, c, d, a, 7, 22, 0xfd469501);
        MD5_STEP(MD5_F, a, b, c, d, 8, 7, 0x698098d8);
        MD5_STEP(MD5_F, d, a, b, c, 9, 12, 0x8b44f7af);
        MD5_STEP(MD5_F, c, d, a, b, 10, 17, 0xffff5bb1);
        MD5_STEP(MD5_F, b, c, d, a, 11, 22, 0x895cd7be);
        MD5_STEP(MD5_F, a, b, c, d, 12, 7, 0x6b901122);
        MD5_STEP(MD5_F, d, a, b, c, 13, 12, 0xfd987193);
        MD5_STEP(MD5_F, c, d, a, b, 14, 17, 0xa679438e);
        MD5_STEP(MD5_F, b, c, d, a, 15, 22, 0x49b40821);

        MD5_STEP(MD5_G, a, b, c, d, 1, 5, 0xf61e2562);
        MD5_STEP(MD5_G, d, a, b, c, 6, 9, 0xc040b340);
        MD5_STEP(MD5_G, c, d, a, b, 11, 14, 0x265e5a51);
        MD5_STEP(MD5_G, b, c, d, a, 0, 20, 0xe9b6c7aa);
        MD5_STEP(MD5_G, a, b, c, d, 5, 5, 0xd62f105d);
        MD5_STEP(MD5_G, d, a, b, c, 10, 9, 0x02441453);
        MD5_STEP(MD5_G, c, d, a, b, 15, 14, 0xd8a1e681);
        MD5_STEP(MD5_G, b, c, d, a, 4, 20, 0xe7d3fbc8);
        MD5_STEP(MD5_G, a, b, c, d, 9, 5, 0x21e1cde6);
        MD5_STEP(MD5_G, d, a, b, c, 14, 9, 0xc33707d6);
        MD5_STEP(MD5_G, c, d, a, b, 3, 14, 0xf4d50d87);
        MD5_STEP(MD5_G, b, c, d, a, 8, 20, 0x455a14ed);
        MD5_STEP(MD5_G, a, b, c, d, 13, 5, 0xa9e3e905);
        MD5_STEP(MD5_G, d, a, b, c, 2, 9, 0xfcefa3f8);
        MD5_STEP(MD5_G, c, d, a, b, 7, 14, 0x676f02d9);
        MD5_STEP(MD5_G, b, c, d, a, 12, 20, 0x8d2a4c8a);

        MD5_STEP(MD5_H, a, b, c, d, 5, 4, 0xfffa3942);
        MD5_STEP(MD5_H, d, a, b, c, 8, 11, 0x8771f681);
        MD5_STEP(MD5_H, c, d, a, b, 11, 16, 0x6d9d6122);
        MD5_STEP(MD5_H, b, c, d, a, 14, 23, 0xfde5380c);
        MD5_STEP(MD5_H, a, b, c, d, 1, 4, 0xa4beea44);
        MD5_STEP(MD5_H, d, a, b, c, 4, 11, 0x4bdecfa9);
        MD5_STEP(MD5_H, c, d, a, b, 7, 16, 0xf6bb4b60);
        MD5_STEP(MD5_H, b, c, d, a, 10, 23, 0xbebfbc70);
        MD5_STEP(MD5_H, a, b, c, d, 13, 4, 0x289b7ec6);
        MD5_STEP(MD5_H, d, a, b, c, 0, 11, 0xeaa127fa);
        MD5_STEP(MD5_H, c, d, a, b, 3, 16, 0xd4ef3085);
        MD5_STEP(MD5_H, b, c, d, a, 6, 23, 0x04881d05);
        MD5_STEP(MD5_H, a, b, c, d, 9, 4, 0xd9d4d039);
        MD5_STEP(MD5_H, d, a, b, c, 12, 11, 0xe6db99e5);
        MD5_STEP(MD5_H, c, d, a, b, 15, 16, 0x1fa27cf8);
        MD5_STEP(MD5_H, b, c, d, a, 2, 23, 0xc4ac5665);

        MD5_STEP(MD5_I, a, b, c, d, 0, 6, 0xf4292244);
        MD5_STEP(MD5_I, d, a, b, c, 7, 10, 0x432aff97);
        MD5_STEP(MD5_I, c, d, a, b, 14, 15, 0xab9423a7);
        MD5_STEP(MD5_I, b, c, d, a, 5, 21, 0xfc93a039);
        MD5_STEP(MD5_I, a, b, c, d, 12, 6, 0x655b59c3);
        MD5_STEP(MD5_I, d, a, b, c, 3, 10, 0x8f0ccc92);
        MD5_STEP(MD5_I, c, d, a, b, 10, 15, 0xffeff47d);
        MD5_STEP(MD5_I, b, c, d, a, 1, 21, 0x85845dd1);
        MD5_STEP(MD5_I, a, b, c, d, 8, 6, 0x6fa87e4f);
        MD5_STEP(MD5_I, d, a, b, c, 15, 10, 0xfe2ce6e0);
        MD5_STEP(MD5_I, c, d, a, b, 6, 15, 0xa3014314);
        MD5_STEP(MD5_I, b, c, d, a, 13, 21, 0x4e0811a1);
        MD5_STEP(MD5_I, a, b, c, d, 4, 6, 0xf7537e82);
        MD5_STEP(MD5_I, d, a, b, c, 11, 10, 0xbd3af235);
        MD5_STEP(MD5_I, c, d, a, b, 2, 15, 0x2ad7d2bb);
        MD5_STEP(MD5_I, b, c, d, a, 9, 21, 0xeb86d391);

        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
    }
    // The byte count grows by what was compressed, with the carry.
    uint64_t count = (static_cast<uint64_t>(context->count_high) << 32 | context->count_low) +
                     static_cast<uint64_t>(blocks) * 64;
    context->count_low = static_cast<uint32_t>(count);
    context->count_high = static_cast<uint32_t>(count >> 32);
}

}  // namespace

void md5_init(md5_context* context) {
    context->state[0] = 0x67452301;
    context->state[1] = 0xefcdab89;
    context->state[2] = 0x98badcfe;
    context->state[3] = 0x10325476;
    context->count_low = 0;
    context->count_high = 0;
    context->buffered = 0;
}

void md5_process(md5_context* context, const void* data, uint32_t length) {
    if (length == 0) {
        return;  // nothing to add (and data may be null)
    }
    const auto* in = static_cast<const unsigned char*>(data);
    if (context->buffered != 0) {
        uint32_t take = length < 128 - context->buffered ? length : 128 - context->buffered;
        std::memcpy(context->buffer + context->buffered, in, take);
        context->buffered += take;
        in += take;
        length -= take;
        // A buffer of exactly 64 bytes waits: the next call or the finish uses it.
        if (context->buffered > 64) {
            uint32_t whole = context->buffered / 64;
            Compress(context, context->buffer, whole);
            uint32_t rest = context->buffered - whole * 64;
            std::memmove(context->buffer, context->buffer + whole * 64, rest);
            context->buffered = rest;
        }
        // Input remains only when the buffer filled up and was emptied.
        if (length == 0) {
            return;
        }
    }
    if (length > 64) {
        uint32_t whole = length / 64;
        // Keep the last block when the length is a multiple of 64, as the
        // buffer holds up to 64 bytes between calls.
        if (whole * 64 == length) {
            --whole;
        }
        Compress(context, in, whole);
        in += whole * 64;
        length -= whole * 64;
    }
    std::memcpy(context->buffer, in, length);
    context->buffered = length;
}

void md5_finish(md5_context* context, unsigned char output[16]) {
    uint32_t used = context->buffered;
    uint64_t bytes = (static_cast<uint64_t>(context->count_high) << 32 | context->count_low) + used;
    context->count_low = static_cast<uint32_t>(bytes);
    context->count_high = static_cast<uint32_t>(bytes >> 32);
    // 0x80 and zeros up to 56 modulo 64, then the bit count, least significant first.
    uint32_t padded = used < 56 ? 56 : 120;
    context->buffer[used] = 0x80;
    std::memset(context->buffer + used + 1, 0, padded - used - 1);
    uint64_t bits = bytes * 8;
    for (int i = 0; i < 8; ++i) {
        context->buffer[padded + i] = static_cast<unsigned char>(bits >> (8 * i));
    }
    Compress(context, context->buffer, (padded + 8) / 64);
    context->buffered = 0;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            output[4 * i + j] = static_cast<unsigned char>(context->state[i] >> (8 * j));
        }
    }
}
