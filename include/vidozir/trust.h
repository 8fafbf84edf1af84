/* The code-signing trust check of files and the report of their signer, with
 * plain undecorated names. Both write a human-readable account of what they
 * find to standard output. */
#ifndef VIDOZIR_TRUST_H
#define VIDOZIR_TRUST_H

#include <wchar.h>

#include "vidozir/export.h"

/* 1 when the system's trust provider accepts the file's signature (embedded,
 * or through a security catalog that lists the file), 0 otherwise. */
VIDOZIR_EXTERN_C VIDOZIR_API int CheckFileTrust(wchar_t* path);

/* Always 0. Copies the subject name of the file's embedded signer certificate
 * into `out` (at most `outChars` units with the terminator); `out` is left
 * untouched when no subject name was reached. */
VIDOZIR_EXTERN_C VIDOZIR_API int FetchSignatureInfo(const wchar_t* path, wchar_t* out,
                                                    int outChars);

#endif
