// SHA-1 compression: a portable path, unrolled, whose block words are
// converted to big-endian with vector instructions where the processor has
// them, and a path on the SHA instruction set, chosen once at run time.
#include <cstring>

#include "system/digest_internal.h"

#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)
#define VIDOZIR_X86 1
#include <immintrin.h>
#if defined(_MSC_VER)
#include <intrin.h>
#else
#include <cpuid.h>
#endif
#endif

#if defined(VIDOZIR_X86) && (defined(__GNUC__) || defined(__clang__))
#define VIDOZIR_TARGET(t) __attribute__((target(t)))
#else
#define VIDOZIR_TARGET(t)
#endif

namespace vidozir::digest {

namespace {

inline uint32_t Rotl(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

inline uint32_t LoadBE(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
}

#if defined(VIDOZIR_X86)
struct CpuFeatures {
    bool sse2 = false;
    bool ssse3 = false;
    bool sse41 = false;
    bool sha = false;
};

CpuFeatures DetectCpu() {
    CpuFeatures features;
    unsigned regs1[4] = {0, 0, 0, 0};
    unsigned regs7[4] = {0, 0, 0, 0};
#if defined(_MSC_VER)
    int info[4];
    __cpuid(info, 0);
    unsigned maxLeaf = static_cast<unsigned>(info[0]);
    __cpuid(info, 1);
    for (int i = 0; i < 4; ++i)
        regs1[i] = static_cast<unsigned>(info[i]);
    if (maxLeaf >= 7) {
        __cpuidex(info, 7, 0);
        for (int i = 0; i < 4; ++i)
            regs7[i] = static_cast<unsigned>(info[i]);
    }
#else
    unsigned maxLeaf = __get_cpuid_max(0, nullptr);
    __get_cpuid(1, &regs1[0], &regs1[1], &regs1[2], &regs1[3]);
    if (maxLeaf >= 7) {
        __cpuid_count(7, 0, regs7[0], regs7[1], regs7[2], regs7[3]);
    }
#endif
    features.sse2 = (regs1[3] >> 26) & 1;
    features.ssse3 = (regs1[2] >> 9) & 1;
    features.sse41 = (regs1[2] >> 19) & 1;
    features.sha = (regs7[1] >> 29) & 1;
    return features;
}

const CpuFeatures& Cpu() {
    static const CpuFeatures features = DetectCpu();
    return features;
}

// The sixteen block words, big-endian, four at a time: swap the bytes of each
// 16-bit half, then the halves of each 32-bit word (SSE2 only).
VIDOZIR_TARGET("sse2")
void LoadBlockVector(const unsigned char* block, uint32_t w[16]) {
    for (int i = 0; i < 4; ++i) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * i));
        x = _mm_or_si128(_mm_slli_epi16(x, 8), _mm_srli_epi16(x, 8));
        x = _mm_shufflelo_epi16(x, 0xB1);
        x = _mm_shufflehi_epi16(x, 0xB1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(w + 4 * i), x);
    }
}
#endif

void LoadBlock(const unsigned char* block, uint32_t w[16]) {
#if defined(VIDOZIR_X86)
    if (Cpu().sse2) {
        LoadBlockVector(block, w);
        return;
    }
#endif
    for (int i = 0; i < 16; ++i) {
        w[i] = LoadBE(block + 4 * i);
    }
}

// One round; the schedule word of round t (t >= 16) is computed in place in
// the 16-word ring, rotated left by one bit.
#define SHA1_W(t) \
    (w[(t)&15] = Rotl(w[((t) + 13) & 15] ^ w[((t) + 8) & 15] ^ w[((t) + 2) & 15] ^ w[(t)&15], 1))
#define SHA1_ROUND(a, b, c, d, e, f, k, wt) \
    e += Rotl(a, 5) + (f) + (k) + (wt);     \
    b = Rotl(b, 30)
#define SHA1_F1(b, c, d) ((d) ^ ((b) & ((c) ^ (d))))
#define SHA1_F2(b, c, d) ((b) ^ (c) ^ (d))
#define SHA1_F3(b, c, d) (((b) & (c)) | ((d) & ((b) | (c))))

#define SHA1_FIVE(t, F, K, W)                           \
    SHA1_ROUND(a, b, c, d, e, F(b, c, d), K, W(t));     \
    SHA1_ROUND(e, a, b, c, d, F(a, b, c), K, W(t + 1)); \
    SHA1_ROUND(d, e, a, b, c, F(e, a, b), K, W(t + 2)); \
    SHA1_ROUND(c, d, e, a, b, F(d, e, a), K, W(t + 3)); \
    SHA1_ROUND(b, c, d, e, a, F(c, d, e), K, W(t + 4))
#define SHA1_WLOAD(t) w[t]

}  // namespace

void Sha1CompressPortable(uint32_t state[5], const unsigned char* data, size_t blocks) {
    for (size_t n = 0; n < blocks; ++n, data += 64) {
        uint32_t w[16];
        LoadBlock(data, w);
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
        SHA1_FIVE(0, SHA1_F1, 0x5a827999, SHA1_WLOAD);
        SHA1_FIVE(5, SHA1_F1, 0x5a827999, SHA1_WLOAD);
        SHA1_FIVE(10, SHA1_F1, 0x5a827999, SHA1_WLOAD);
        SHA1_ROUND(a, b, c, d, e, SHA1_F1(b, c, d), 0x5a827999, w[15]);
        SHA1_ROUND(e, a, b, c, d, SHA1_F1(a, b, c), 0x5a827999, SHA1_W(16));
        SHA1_ROUND(d, e, a, b, c, SHA1_F1(e, a, b), 0x5a827999, SHA1_W(17));
        SHA1_ROUND(c, d, e, a, b, SHA1_F1(d, e, a), 0x5a827999, SHA1_W(18));
        SHA1_ROUND(b, c, d, e, a, SHA1_F1(c, d, e), 0x5a827999, SHA1_W(19));
        SHA1_FIVE(20, SHA1_F2, 0x6ed9eba1, SHA1_W);
        SHA1_FIVE(25, SHA1_F2, 0x6ed9eba1, SHA1_W);
        SHA1_FIVE(30, SHA1_F2, 0x6ed9eba1, SHA1_W);
        SHA1_FIVE(35, SHA1_F2, 0x6ed9eba1, SHA1_W);
        SHA1_FIVE(40, SHA1_F3, 0x8f1bbcdc, SHA1_W);
        SHA1_FIVE(45, SHA1_F3, 0x8f1bbcdc, SHA1_W);
        SHA1_FIVE(50, SHA1_F3, 0x8f1bbcdc, SHA1_W);
        SHA1_FIVE(55, SHA1_F3, 0x8f1bbcdc, SHA1_W);
        SHA1_FIVE(60, SHA1_F2, 0xca62c1d6, SHA1_W);
        SHA1_FIVE(65, SHA1_F2, 0xca62c1d6, SHA1_W);
        SHA1_FIVE(70, SHA1_F2, 0xca62c1d6, SHA1_W);
        SHA1_FIVE(75, SHA1_F2, 0xca62c1d6, SHA1_W);
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
    }
}

#if defined(VIDOZIR_X86)

namespace {

// One group of four rounds on the SHA extensions. Group i uses message
// register i % 4; the schedule of later groups is advanced alongside.
template <int I>
VIDOZIR_TARGET("sha,sse4.1,ssse3")
inline void ShaGroup(__m128i& abcd, __m128i& e0, __m128i& e1, __m128i (&m)[4]) {
    __m128i& e = (I % 2 == 0) ? e0 : e1;
    __m128i& other = (I % 2 == 0) ? e1 : e0;
    if (I == 0) {
        e = _mm_add_epi32(e, m[0]);
    } else {
        e = _mm_sha1nexte_epu32(e, m[I % 4]);
    }
    other = abcd;
    if (I >= 3 && I <= 18) {
        m[(I + 1) % 4] = _mm_sha1msg2_epu32(m[(I + 1) % 4], m[I % 4]);
    }
    abcd = _mm_sha1rnds4_epu32(abcd, e, I / 5);
    if (I >= 1 && I <= 16) {
        m[(I + 3) % 4] = _mm_sha1msg1_epu32(m[(I + 3) % 4], m[I % 4]);
    }
    if (I >= 2 && I <= 17) {
        m[(I + 2) % 4] = _mm_xor_si128(m[(I + 2) % 4], m[I % 4]);
    }
}

template <int... I>
VIDOZIR_TARGET("sha,sse4.1,ssse3")
inline void ShaGroups(__m128i& abcd, __m128i& e0, __m128i& e1, __m128i (&m)[4]) {
    (ShaGroup<I>(abcd, e0, e1, m), ...);
}

}  // namespace

VIDOZIR_TARGET("sha,sse4.1,ssse3")
void Sha1CompressShaNi(uint32_t state[5], const unsigned char* data, size_t blocks) {
    // Reverses the bytes of the block (big-endian words, last word first).
    const __m128i mask = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
    __m128i abcd =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
    __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
    for (size_t n = 0; n < blocks; ++n, data += 64) {
        const __m128i abcdSave = abcd;
        const __m128i e0Save = e0;
        __m128i e1;
        __m128i m[4];
        for (int i = 0; i < 4; ++i) {
            m[i] = _mm_shuffle_epi8(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), mask);
        }
        ShaGroups<0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19>(abcd, e0,
                                                                                        e1, m);
        e0 = _mm_sha1nexte_epu32(e0, e0Save);
        abcd = _mm_add_epi32(abcd, abcdSave);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
    state[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}

bool Sha1HasShaNi() {
    const CpuFeatures& cpu = Cpu();
    return cpu.sha && cpu.sse41 && cpu.ssse3;
}

#else

void Sha1CompressShaNi(uint32_t state[5], const unsigned char* data, size_t blocks) {
    Sha1CompressPortable(state, data, blocks);
}
bool Sha1HasShaNi() {
    return false;
}

#endif

void Sha1Compress(uint32_t state[5], const unsigned char* data, size_t blocks) {
    static const bool useShaNi = Sha1HasShaNi();
    if (useShaNi) {
        Sha1CompressShaNi(state, data, blocks);
    } else {
        Sha1CompressPortable(state, data, blocks);
    }
}

}  // namespace vidozir::digest
