/* MD5 (RFC 1321) and SHA-1 (FIPS 180-1) behind plain C functions with
 * undecorated names. Callers allocate the context records, so their layout
 * and size are part of the interface: 156 bytes for MD5, 96 for SHA-1, on
 * every target. Usable from C and C++. */
#ifndef VIDOZIR_DIGEST_H
#define VIDOZIR_DIGEST_H

#include <stdint.h>

#include "vidozir/export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct md5_context {
    uint32_t state[4];         /* chaining values A, B, C, D */
    uint32_t count_low;        /* bytes compressed so far, low word */
    uint32_t count_high;       /* ... and high word */
    uint32_t buffered;         /* bytes waiting in buffer (0 to 64 between calls) */
    unsigned char buffer[128]; /* room for the two blocks of the final padding */
} md5_context;

typedef struct sha_context {
    uint32_t digest[5];     /* chaining values H0 to H4 */
    uint32_t count_low;     /* message bits so far, low word */
    uint32_t count_high;    /* ... and high word */
    unsigned char data[64]; /* the current block, in message byte order */
    int32_t local;          /* bytes waiting in data (0 to 63 between calls) */
} sha_context;

VIDOZIR_API void md5_init(md5_context* context);
VIDOZIR_API void md5_process(md5_context* context, const void* data, uint32_t length);
VIDOZIR_API void md5_finish(md5_context* context, unsigned char output[16]);

VIDOZIR_API void sha_init(sha_context* context);
VIDOZIR_API void sha_update(sha_context* context, const void* data, uint32_t length);
VIDOZIR_API void sha_final(unsigned char output[20], sha_context* context);

#ifdef __cplusplus
}
#endif

#endif
