// Symbol export for the vidozir shared library.
#pragma once

#if defined(_WIN32)
#if defined(VIDOZIR_BUILD)
#define VIDOZIR_API __declspec(dllexport)
#elif defined(VIDOZIR_STATIC)
#define VIDOZIR_API  // linked from the static library (the tests)
#else
#define VIDOZIR_API __declspec(dllimport)
#endif
#else
#define VIDOZIR_API __attribute__((visibility("default")))
#endif

// Plain functions with undecorated names (the digests, the trust check).
#ifdef __cplusplus
#define VIDOZIR_EXTERN_C extern "C"
#else
#define VIDOZIR_EXTERN_C
#endif
