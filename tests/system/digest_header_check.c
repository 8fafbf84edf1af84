/* Compiled as C: the digest interface must be usable from C callers. */
#include "vidozir/digest.h"

int vidozir_digest_header_check_c(void) {
    md5_context md5;
    sha_context sha;
    unsigned char out[20];
    md5_init(&md5);
    md5_process(&md5, "", 0);
    md5_finish(&md5, out);
    sha_init(&sha);
    sha_update(&sha, "", 0);
    sha_final(out, &sha);
    return (int)sizeof(md5_context) * 1000 + (int)sizeof(sha_context);
}
