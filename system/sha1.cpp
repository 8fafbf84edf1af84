// SHA-1 as FIPS 180-1 defines it. Each block is copied into the context
// before it is compressed, so the compression always reads aligned,
// non-overlapping memory.
#include <cstddef>
#include <cstring>

#include "system/digest_internal.h"
#include "vidozir/digest.h"

static_assert(sizeof(sha_context) == 96, "sha_context is part of the interface");
static_assert(offsetof(sha_context, count_low) == 20 && offsetof(sha_context, count_high) == 24 &&
                  offsetof(sha_context, data) == 28 && offsetof(sha_context, local) == 92,
              "sha_context field offsets are part of the interface");

using vidozir::digest::Sha1Compress;

void sha_init(sha_context* context) {
    context->digest[0] = 0x67452301;
    context->digest[1] = 0xefcdab89;
    context->digest[2] = 0x98badcfe;
    context->digest[3] = 0x10325476;
    context->digest[4] = 0xc3d2e1f0;
    context->count_low = 0;
    context->count_high = 0;
    context->local = 0;
}

void sha_update(sha_context* context, const void* data, uint32_t length) {
    if (length == 0) {
        return;  // nothing to add (and data may be null)
    }
    const auto* in = static_cast<const unsigned char*>(data);
    uint32_t low = context->count_low + (length << 3);
    if (low < context->count_low) {
        ++context->count_high;
    }
    context->count_low = low;
    context->count_high += length >> 29;

    if (context->local != 0) {
        uint32_t used = static_cast<uint32_t>(context->local);
        uint32_t take = 64 - used < length ? 64 - used : length;
        std::memcpy(context->data + used, in, take);
        in += take;
        length -= take;
        if (used + take < 64) {
            context->local = static_cast<int32_t>(used + take);
            return;
        }
        Sha1Compress(context->digest, context->data, 1);
    }
    while (length >= 64) {
        std::memcpy(context->data, in, 64);
        Sha1Compress(context->digest, context->data, 1);
        in += 64;
        length -= 64;
    }
    std::memcpy(context->data, in, length);
    context->local = static_cast<int32_t>(length);
}

void sha_final(unsigned char output[20], sha_context* context) {
    uint32_t used = (context->count_low >> 3) & 63;
    context->data[used++] = 0x80;
    if (used > 56) {
        std::memset(context->data + used, 0, 64 - used);
        Sha1Compress(context->digest, context->data, 1);
        used = 0;
    }
    std::memset(context->data + used, 0, 56 - used);
    for (int i = 0; i < 4; ++i) {
        context->data[56 + i] = static_cast<unsigned char>(context->count_high >> (24 - 8 * i));
        context->data[60 + i] = static_cast<unsigned char>(context->count_low >> (24 - 8 * i));
    }
    Sha1Compress(context->digest, context->data, 1);
    context->local = 0;
    for (int i = 0; i < 5; ++i) {
        for (int j = 0; j < 4; ++j) {
            output[4 * i + j] = static_cast<unsigned char>(context->digest[i] >> (24 - 8 * j));
        }
    }
}
