// Character coding of CXmlDoc: UTF-8 and UTF-16 encoders and decoders, the
// conversions between them, UTF-8 detection, the encoding a document declares
// and the table from encoding names to Windows code pages.
//
// The decoders are deliberately lenient (documents written by old clients
// must keep loading): bit 0x40 of a UTF-8 lead byte is never examined and
// overlong forms are accepted.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>

#include "markup/xml_internal.h"
#include "vidozir/xmldoc.h"

// GCC and Clang build functions for wider vector units than the target's
// own and say at run time whether the processor has them.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define VIDOZIR_XML_WIDE 1
#include <immintrin.h>
#else
#define VIDOZIR_XML_WIDE 0
#endif

namespace {

using vidozir::xml::IsSpace;
using vidozir::xml::LowestBit;

// Bucket strings of the name table: entries of two digits of name length,
// five digits of code page, then the lower-case name.
const wchar_t* const kEncodingBuckets[] = {
#include "markup/xml_encoding_names.inc"
};
constexpr int kEncodingBucketCount = sizeof(kEncodingBuckets) / sizeof(kEncodingBuckets[0]);
static_assert(kEncodingBucketCount == 155, "the name table has 155 buckets");

int Digits(const wchar_t* p, int nCount) {
    int nValue = 0;
    for (int n = 0; n < nCount; ++n) {
        nValue = nValue * 10 + (p[n] - L'0');
    }
    return nValue;
}

// ASCII case-insensitive equality of a span with a lower-case literal.
bool SpanIs(const wchar_t* p, int nLength, const wchar_t* szLower) {
    int n = 0;
    for (; n < nLength && szLower[n]; ++n) {
        wchar_t c = p[n];
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c + (L'a' - L'A'));
        }
        if (c != szLower[n]) {
            return false;
        }
    }
    return n == nLength && !szLower[n];
}

// ---- UTF-8 decoding ----
//
// One loop serves UTF8To16 (lenient, into UTF-16 units or only counting) and
// the reading of UTF-8 files (strict, straight into the document's text).
// Runs of plain ASCII are widened sixteen bytes a step; the two- and
// three-byte forms are decoded inline; the rest goes through DecodeCharUTF8.

constexpr int kBlock = 32;

// Whether this processor runs the wide path below: -1 until asked.
std::atomic<int> g_nWide{-1};

// The number of plain bytes (1 to 0x7F) at the start of the 32 at p: 32 when
// every one is plain, else the offset of the first 0 byte or byte at or
// above 0x80.
inline int PlainBytes(const unsigned char* p) {
#if VIDOZIR_XML_SSE2
    const __m128i zero = _mm_setzero_si128();
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    // Plain bytes are exactly those above 0 as signed bytes.
    const unsigned nPlain = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpgt_epi8(lo, zero))) |
                            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpgt_epi8(hi, zero)))
                                << 16;
    return nPlain == 0xFFFFFFFFu ? kBlock : LowestBit(~nPlain);
#else
    // Four bytes a word (the 32-bit product has no SSE2 to count on). The
    // lowest flagged byte is exact: a false flag only ever follows a 0 byte.
    for (int n = 0; n < kBlock; n += 4) {
        uint32_t nWord;
        std::memcpy(&nWord, p + n, 4);
        const uint32_t nStops = (nWord | ((nWord - 0x01010101u) & ~nWord)) & 0x80808080u;
        if (nStops) {
            return n + LowestBit(nStops) / 8;  // little-endian
        }
    }
    return kBlock;
#endif
}

// The first 0 byte in [p, pEnd), or pEnd. Our own loop: the C runtime of
// the Windows builds looks at one byte at a time.
inline const unsigned char* FindZero(const unsigned char* p, const unsigned char* pEnd) {
#if VIDOZIR_XML_SSE2
    const auto load = [](const unsigned char* q) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    };
    // 64 bytes a step while none is 0, then 16 to find it.
    for (; pEnd - p >= 64; p += 64) {
        const __m128i least = _mm_min_epu8(_mm_min_epu8(load(p), load(p + 16)),
                                           _mm_min_epu8(load(p + 32), load(p + 48)));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(least, _mm_setzero_si128()))) {
            break;
        }
    }
    for (; pEnd - p >= 16; p += 16) {
        const __m128i bytes = load(p);
        const unsigned nZeros =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_setzero_si128())));
        if (nZeros) {
            return p + LowestBit(nZeros);
        }
    }
#endif
    while (p < pEnd && *p) {
        ++p;
    }
    return p;
}

// Writes a code point as one UTF-16 unit (below 0x10000, the value taken
// as unsigned) or a surrogate pair; returns the units written.
template <typename Unit>
inline int PutUtf16(unsigned nChar, Unit* pOut) {
    if (nChar < 0x10000) {
        pOut[0] = static_cast<Unit>(nChar);
        return 1;
    }
    pOut[0] = static_cast<Unit>(0xD800 | (((nChar - 0x10000) >> 10) & 0x3FF));
    pOut[1] = static_cast<Unit>(0xDC00 | (nChar & 0x3FF));
    return 2;
}

// Where decoded units go: written in order, from pOut on.
template <typename Unit>
struct UnitWriter {
    Unit* pOut;

    void Put(unsigned nUnit) { *pOut++ = static_cast<Unit>(nUnit); }

    void PutChar(int nChar) { pOut += PutUtf16(static_cast<unsigned>(nChar), pOut); }

    // Widens the first nKeep of the 32 bytes at p. With SSE2 all 32 units
    // are written: the caller makes sure there is room and that the ones
    // beyond nKeep are overwritten later.
    void Widen(const unsigned char* p, int nKeep) {
#if VIDOZIR_XML_SSE2
        const __m128i zero = _mm_setzero_si128();
        __m128i* pStore = reinterpret_cast<__m128i*>(pOut);
        for (int n = 0; n < kBlock; n += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + n));
            const __m128i lo = _mm_unpacklo_epi8(bytes, zero);
            const __m128i hi = _mm_unpackhi_epi8(bytes, zero);
            if constexpr (sizeof(Unit) == 2) {
                _mm_storeu_si128(pStore++, lo);
                _mm_storeu_si128(pStore++, hi);
            } else {
                _mm_storeu_si128(pStore++, _mm_unpacklo_epi16(lo, zero));
                _mm_storeu_si128(pStore++, _mm_unpackhi_epi16(lo, zero));
                _mm_storeu_si128(pStore++, _mm_unpacklo_epi16(hi, zero));
                _mm_storeu_si128(pStore++, _mm_unpackhi_epi16(hi, zero));
            }
        }
#else
        for (int n = 0; n < nKeep; ++n) {
            pOut[n] = static_cast<Unit>(p[n]);
        }
#endif
        pOut += nKeep;
    }
};

// Where decoded units are only counted.
struct UnitCounter {
    size_t nUnits = 0;

    void Put(unsigned) { ++nUnits; }
    void PutChar(int nChar) { nUnits += static_cast<unsigned>(nChar) < 0x10000 ? 1 : 2; }
    void Widen(const unsigned char*, int nKeep) { nUnits += static_cast<size_t>(nKeep); }
};

// Decodes the sequence whose lead byte (at or above 0x80) is at p into the
// sink and moves p past it. Lenient (the rules of DecodeCharUTF8): always
// succeeds, a bad sequence giving "?". Strict: only well-formed UTF-8 (no
// overlong forms, no surrogates, nothing above U+10FFFF) is decoded; any
// other sequence returns false with nothing written and p unmoved.
template <bool kStrict, typename Sink>
inline bool DecodeSequence(const unsigned char*& p, const unsigned char* pEnd, Sink& sink) {
    const unsigned nLead = p[0];
    const ptrdiff_t nLeft = pEnd - p;
    if (kStrict) {
        const auto follows = [&](ptrdiff_t n) { return n < nLeft && (p[n] & 0xC0) == 0x80; };
        if (nLead >= 0xC2 && nLead <= 0xDF && follows(1)) {
            sink.Put((nLead & 0x1F) << 6 | (p[1] & 0x3F));
            p += 2;
            return true;
        }
        if (nLead >= 0xE0 && nLead <= 0xEF && follows(1) && follows(2)) {
            const unsigned nChar = (nLead & 0x0F) << 12 | (p[1] & 0x3F) << 6 | (p[2] & 0x3F);
            if (nChar < 0x800 || (nChar & 0xF800) == 0xD800) {
                return false;
            }
            sink.Put(nChar);
            p += 3;
            return true;
        }
        if (nLead >= 0xF0 && nLead <= 0xF4 && follows(1) && follows(2) && follows(3)) {
            const unsigned nChar =
                (nLead & 0x07) << 18 | (p[1] & 0x3F) << 12 | (p[2] & 0x3F) << 6 | (p[3] & 0x3F);
            if (nChar < 0x10000 || nChar > 0x10FFFF) {
                return false;
            }
            sink.PutChar(static_cast<int>(nChar));
            p += 4;
            return true;
        }
        return false;
    }
    // Bit 0x40 of the lead is not examined; a continuation byte is any byte
    // at or above 0x80.
    if (!(nLead & 0x20)) {
        if (nLeft >= 2 && p[1] >= 0x80) {
            sink.Put((nLead & 0x1F) << 6 | (p[1] & 0x3F));
            p += 2;
            return true;
        }
    } else if (!(nLead & 0x10)) {
        if (nLeft >= 3 && p[1] >= 0x80 && p[2] >= 0x80) {
            sink.Put((nLead & 0x0F) << 12 | (p[1] & 0x3F) << 6 | (p[2] & 0x3F));
            p += 3;
            return true;
        }
    } else if (!(nLead & 0x08)) {
        if (nLeft >= 4 && p[1] >= 0x80 && p[2] >= 0x80 && p[3] >= 0x80) {
            sink.PutChar(static_cast<int>((nLead & 0x07) << 18 | (p[1] & 0x3F) << 12 |
                                          (p[2] & 0x3F) << 6 | (p[3] & 0x3F)));
            p += 4;
            return true;
        }
    }
    const char* pChar = reinterpret_cast<const char*>(p);
    const int nChar = CXmlDoc::DecodeCharUTF8(pChar, reinterpret_cast<const char*>(pEnd));
    p = reinterpret_cast<const unsigned char*>(pChar);
    sink.PutChar(nChar == -1 ? '?' : nChar);
    return true;
}

// The last bytes before a 0 byte or the end, one at a time.
template <bool kStrict, typename Sink>
const unsigned char* DecodeRest(const unsigned char* p, const unsigned char* pEnd, Sink& sink) {
    while (p < pEnd) {
        const unsigned nByte = *p;
        if (nByte == 0) {
            return p;
        }
        if (nByte < 0x80) {
            sink.Put(nByte);
            ++p;
        } else if (!DecodeSequence<kStrict>(p, pEnd, sink)) {
            return p;
        }
    }
    return p;
}

// ---- The wide path: 64 bytes a step, chosen at run time ----
//
// Where the processor has AVX-512 (BW and VBMI2), blocks of ASCII and two-
// and three-byte sequences are decoded whole: every byte classified, the
// values of all 64 possible sequence starts computed at once, the starts kept
// by a compress and exactly their units stored. A sequence that starts near
// the end of a block is decoded with it; the next block skips its
// continuation bytes, so blocks follow one another at a fixed stride (the
// next load never waits for this block's result). A block is taken up to
// the first byte that does not fit that pattern (a 0 byte, a four-byte or
// bad sequence); that sequence goes through the scalar decoder and the next
// block starts behind it. Where the lead and continuation bytes have the
// standard shape the lenient rules give the same values, so only the shape
// is checked (plus, strict, the forms it refuses). Stores are masked to the
// units kept: nothing is written beyond them, so no look-ahead for 0 bytes
// is needed.

#if VIDOZIR_XML_WIDE

#define VIDOZIR_WIDE_TARGET __attribute__((target("avx512f,avx512bw,avx512vbmi2,popcnt")))

constexpr int kWideBlock = 64;

// The 16-bit units of the 32 bytes at p.
VIDOZIR_WIDE_TARGET inline __m512i Widen32(const unsigned char* p) {
    return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
}

// The bytes of v whose top bit is set.
VIDOZIR_WIDE_TARGET inline uint64_t TopBits(__m512i v) {
    return _mm512_movepi8_mask(v);
}

// The lanes of v from nBase to below nBase + nSpan.
VIDOZIR_WIDE_TARGET inline uint32_t Within(__m512i v, int nBase, int nSpan) {
    return _mm512_cmplt_epu16_mask(
        _mm512_sub_epi16(v, _mm512_set1_epi16(static_cast<short>(nBase))),
        _mm512_set1_epi16(static_cast<short>(nSpan)));
}

// The values of the sequences that may start at each of the 32 bytes at p,
// where nLead2 and nLead3 mark the leads. Strict, the leads of three-byte
// forms that are overlong or surrogates are added to nStop.
template <bool kStrict>
VIDOZIR_WIDE_TARGET inline __m512i Values(const unsigned char* p, uint32_t nLead2, uint32_t nLead3,
                                          uint32_t& nStop) {
    const __m512i b = Widen32(p);
    const __m512i low6 = _mm512_set1_epi16(0x3F);
    const __m512i c1 = _mm512_and_si512(Widen32(p + 1), low6);
    const __m512i v2 =
        _mm512_or_si512(_mm512_slli_epi16(_mm512_and_si512(b, _mm512_set1_epi16(0x1F)), 6), c1);
    const __m512i v3 =
        _mm512_or_si512(_mm512_or_si512(_mm512_slli_epi16(b, 12), _mm512_slli_epi16(c1, 6)),
                        _mm512_and_si512(Widen32(p + 2), low6));
    if (kStrict) {
        nStop |= nLead3 & (Within(v3, 0, 0x800) | Within(v3, 0xD800, 0x800));
    }
    return _mm512_mask_mov_epi16(_mm512_mask_mov_epi16(b, nLead2, v2), nLead3, v3);
}

// Puts the units of the lanes of v marked in nKeep, in order.
template <typename Unit>
VIDOZIR_WIDE_TARGET inline void PutKept(UnitWriter<Unit>& writer, __m512i v, uint32_t nKeep) {
    const int nUnits = __builtin_popcount(nKeep);
    const __m512i kept = _mm512_maskz_compress_epi16(nKeep, v);
    const uint32_t nMask = static_cast<uint32_t>((1ull << nUnits) - 1);
    if constexpr (sizeof(Unit) == 2) {
        _mm512_mask_storeu_epi16(writer.pOut, nMask, kept);
    } else {
        // Two halves of 16 units. The zero-masking forms: GCC 12 takes the
        // unmasked ones for reading an uninitialised value.
        _mm512_mask_storeu_epi32(
            writer.pOut, static_cast<__mmask16>(nMask),
            _mm512_maskz_cvtepu16_epi32(0xFFFF, _mm512_maskz_extracti64x4_epi64(0xF, kept, 0)));
        _mm512_mask_storeu_epi32(
            writer.pOut + 16, static_cast<__mmask16>(nMask >> 16),
            _mm512_maskz_cvtepu16_epi32(0xFFFF, _mm512_maskz_extracti64x4_epi64(0xF, kept, 1)));
    }
    writer.pOut += nUnits;
}

// Asks for the output's lines a little ahead, for writing: where the output
// is not in the cache, waiting for each line on its first store costs more
// than the decoding.
// (Addresses are computed as numbers: they may lie beyond the buffers.)
inline const void* Ahead(const void* p, uintptr_t nBytes) {
    return reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(p) + nBytes);
}

template <typename Unit>
inline void FetchAhead(const UnitWriter<Unit>& writer) {
    __builtin_prefetch(Ahead(writer.pOut, 384), 1);
}
inline void FetchAhead(const UnitCounter&) {}

VIDOZIR_WIDE_TARGET inline void PutKept(UnitCounter& counter, __m512i, uint32_t nKeep) {
    counter.nUnits += static_cast<size_t>(__builtin_popcount(nKeep));
}

// Decodes the sequences of one to three bytes that start in the 64 bytes at
// p (the 2 bytes after them are readable too) into the sink, for as long as
// they are whole and have the standard shape. nCarry has a bit for each of
// the first bytes that the previous block's last sequence took; it becomes
// the same for the next block. Returns 64 when the whole block was decoded,
// else the offset of the first sequence left for the scalar decoder.
template <bool kStrict, typename Sink>
VIDOZIR_WIDE_TARGET inline int DecodeBlock(const unsigned char* p, Sink& sink, uint64_t& nCarry) {
    // The bytes are classified by their top bits, each moved in turn to the
    // sign bit and gathered (compares into masks would all queue on one
    // execution port, with the widening and the compress).
    const __m512i raw = _mm512_loadu_si512(p);
    const __m512i x2 = _mm512_add_epi8(raw, raw);
    const __m512i x4 = _mm512_add_epi8(x2, x2);
    const uint64_t nBit7 = TopBits(raw);
    const uint64_t nAscii = ~(nBit7 | _mm512_testn_epi8_mask(raw, raw));
    const uint64_t nBit6 = nBit7 & TopBits(x2);
    const uint64_t nBit5 = nBit6 & TopBits(x4);
    const uint64_t nCont = nBit7 & ~nBit6;
    const uint64_t nLead2 = nBit6 & ~nBit5;
    const uint64_t nLead3 = nBit5 & ~TopBits(_mm512_add_epi8(x4, x4));
    const uint64_t nLeads = nLead2 | nLead3;
    const uint64_t nExpected = nLeads << 1 | nLead3 << 2 | nCarry;
    // The continuation bytes one and two places on, the 2 beyond the block
    // included.
    const auto isCont = [](unsigned nByte) {
        return static_cast<uint64_t>((nByte & 0xC0) == 0x80);
    };
    const uint64_t nCont1 = nCont >> 1 | isCont(p[kWideBlock]) << 63;
    const uint64_t nCont2 = nCont1 >> 1 | isCont(p[kWideBlock + 1]) << 63;
    // A lead without its continuation bytes, a continuation byte no lead
    // calls for, or a byte of another kind (0, four-byte lead, 0xF8 and up).
    uint64_t nStop =
        (nLeads & ~nCont1) | (nLead3 & ~nCont2) | (nCont & ~nExpected) | ~(nAscii | nCont | nLeads);
    if (kStrict) {
        // Overlong two-byte forms (lead below 0xC2).
        nStop |= nLead2 & _mm512_cmpgt_epi8_mask(_mm512_set1_epi8(-62), raw);
    }
    uint32_t nStopLow = 0;
    uint32_t nStopHigh = 0;
    const __m512i low =
        Values<kStrict>(p, static_cast<uint32_t>(nLead2), static_cast<uint32_t>(nLead3), nStopLow);
    const __m512i high = Values<kStrict>(p + 32, static_cast<uint32_t>(nLead2 >> 32),
                                         static_cast<uint32_t>(nLead3 >> 32), nStopHigh);
    nStop |= nStopLow | static_cast<uint64_t>(nStopHigh) << 32;
    // Every sequence before the first stop is whole: a continuation byte
    // stops nothing when it is due.
    const int nTake = nStop ? __builtin_ctzll(nStop) : kWideBlock;
    const uint64_t nStarts = nAscii | nLeads;
    const uint64_t nKeep = nTake == kWideBlock ? nStarts : nStarts & ((1ull << nTake) - 1);
    PutKept(sink, low, static_cast<uint32_t>(nKeep));
    PutKept(sink, high, static_cast<uint32_t>(nKeep >> 32));
    // Bit 0: byte 64 continues a sequence of this block; bit 1: byte 65.
    nCarry = nTake == kWideBlock ? ((nLeads >> 63) | (nLead3 >> 62 & 1) | (nLead3 >> 63) << 1) : 0;
    return nTake;
}

template <bool kStrict, typename Sink>
VIDOZIR_WIDE_TARGET const unsigned char* DecodeBlocks(const unsigned char* p,
                                                      const unsigned char* const pEnd, Sink& sink) {
    uint64_t nCarry = 0;
    while (pEnd - p >= kWideBlock + 2) {
        // The input a few blocks ahead: the processor's own prefetching
        // alone leaves the decoding waiting for memory.
        __builtin_prefetch(Ahead(p, 1024));
        FetchAhead(sink);
        const int nTaken = DecodeBlock<kStrict>(p, sink, nCarry);
        p += nTaken;
        if (nTaken == kWideBlock) {
            continue;
        }
        // The sequence that stopped the block.
        if (*p == 0 || !DecodeSequence<kStrict>(p, pEnd, sink)) {
            return p;
        }
    }
    // The bytes the last block's final sequence took.
    p += nCarry == 0 ? 0 : nCarry == 1 ? 1 : 2;
    return DecodeRest<kStrict>(p, pEnd, sink);
}

// The sink's position is kept in a register meanwhile, not in the caller's
// object (which the stores might alias).
template <bool kStrict, typename Sink>
VIDOZIR_WIDE_TARGET const unsigned char* DecodeUtf8Wide(const unsigned char* p,
                                                        const unsigned char* const pEnd,
                                                        Sink& sink) {
    Sink local = sink;
    p = DecodeBlocks<kStrict>(p, pEnd, local);
    sink = local;
    return p;
}

bool UseWide() {
    int nWide = g_nWide.load(std::memory_order_relaxed);
    if (nWide < 0) {
        __builtin_cpu_init();
        nWide = __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi2");
        g_nWide.store(nWide, std::memory_order_relaxed);
    }
    return nWide != 0;
}

#endif  // VIDOZIR_XML_WIDE

// Decodes UTF-8 from p into the sink until pEnd, a 0 byte or (strict) the
// first sequence that is not well-formed, and returns where it stopped.
//
// Widening a block may write up to 32 units past those kept; that is safe
// where at least 32 more units will be written anyway. bRoomForAll says the
// sink has room for one unit per byte (its units never outnumber the bytes)
// and every byte up to pEnd may be read. Otherwise a 0 byte ahead could end
// the output early, so blocks are read and widened whole only while the next
// 128 bytes hold no 0 byte: any 128 bytes without one decode to at least 32
// units (a sequence takes at most 4 bytes).
template <bool kStrict, typename Sink>
const unsigned char* DecodeUtf8(const unsigned char* p, const unsigned char* const pEnd, Sink& sink,
                                bool bRoomForAll) {
#if VIDOZIR_XML_WIDE
    if (UseWide()) {
        return DecodeUtf8Wide<kStrict>(p, pEnd, sink);
    }
#endif
    constexpr ptrdiff_t kMargin = 4 * kBlock;
    constexpr ptrdiff_t kStretch = 4096;
#if !VIDOZIR_XML_SSE2
    bRoomForAll = true;  // blocks are widened unit by unit: no unit beyond
#endif
    // No 0 byte lies before pSafe (or the sink has room for every byte);
    // bLookFurther while it may lie further on.
    const unsigned char* pSafe = bRoomForAll ? pEnd : p;
    bool bLookFurther = !bRoomForAll;
    for (;;) {
        if (bLookFurther) {
            // The next stretch, looked at while it is still in the cache.
            const ptrdiff_t nLook = pEnd - pSafe < kStretch ? pEnd - pSafe : kStretch;
            const unsigned char* const pLookEnd = pSafe + nLook;
            pSafe = FindZero(pSafe, pLookEnd);
            bLookFurther = pSafe == pLookEnd && pSafe < pEnd;
        }
        while (pSafe - p > kMargin) {
            const int nPlain = PlainBytes(p);
            sink.Widen(p, nPlain);
            p += nPlain;
            if (nPlain == kBlock) {
                continue;
            }
            // Text of other scripts: non-ASCII characters with single spaces
            // or marks between them, one at a time until two plain bytes
            // follow one another.
            do {
                const unsigned nByte = *p;
                if (nByte >= 0x80) {
                    if (!DecodeSequence<kStrict>(p, pEnd, sink)) {
                        return p;
                    }
                } else if (nByte == 0) {
                    return p;
                } else if (p[1] - 1u >= 0x7Fu) {
                    sink.Put(nByte);
                    ++p;
                } else {
                    break;
                }
            } while (pSafe - p > kMargin);
        }
        if (!bLookFurther) {
            break;
        }
    }
    return DecodeRest<kStrict>(p, pEnd, sink);
}

}  // namespace

void CXmlDoc::EncodeCharUTF8(int nUChar, char* pszUTF8, int& nUTF8Len) {
    if (nUChar < 0x80) {
        if (pszUTF8) {
            pszUTF8[nUTF8Len] = static_cast<char>(nUChar);
        }
        ++nUTF8Len;
        return;
    }
    int nBytes = nUChar < 0x800 ? 2 : nUChar < 0x10000 ? 3 : 4;
    if (pszUTF8) {
        static const unsigned char kLead[5] = {0, 0, 0xC0, 0xE0, 0xF0};
        char* p = pszUTF8 + nUTF8Len;
        for (int n = nBytes - 1; n > 0; --n) {
            p[n] = static_cast<char>(0x80 | (nUChar & 0x3F));
            nUChar >>= 6;
        }
        // The four-byte form carries bits 18 to 20 only.
        const int nLeadBits = nBytes == 4 ? 0x07 : 0x3F >> (nBytes - 1);
        p[0] = static_cast<char>(kLead[nBytes] | (nUChar & nLeadBits));
    }
    nUTF8Len += nBytes;
}

void CXmlDoc::EncodeCharUTF16(int nUChar, unsigned short* pwszUTF16, int& nUTF16Len) {
    const unsigned nValue = static_cast<unsigned>(nUChar);
    if (!pwszUTF16) {
        nUTF16Len += nValue < 0x10000 ? 1 : 2;
        return;
    }
    nUTF16Len += PutUtf16(nValue, pwszUTF16 + nUTF16Len);
}

int CXmlDoc::DecodeCharUTF8(const char*& pszUTF8, const char* pszUTF8End) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(pszUTF8);
    const unsigned char* pEnd = reinterpret_cast<const unsigned char*>(pszUTF8End);
    const unsigned nLead = *p++;
    int nChar = static_cast<int>(nLead);
    int nExtra = 0;
    if (nLead >= 0x80) {
        if (!(nLead & 0x20)) {
            nExtra = 1;
            nChar = static_cast<int>(nLead & 0x1F);
        } else if ((nLead & 0x18) == 0x18) {
            // 0xB8-0xBF and 0xF8-0xFF (0x20, 0x10 and 0x08 all set)
            pszUTF8 = reinterpret_cast<const char*>(p);
            return -1;
        } else if (nLead & 0x10) {
            nExtra = 3;
            nChar = static_cast<int>(nLead & 0x07);
        } else {
            nExtra = 2;
            nChar = static_cast<int>(nLead & 0x0F);
        }
    }
    // A missing or low continuation byte fails; the pointer then stands on
    // it, so the byte is read again as a character of its own.
    for (; nExtra > 0; --nExtra) {
        if (p == pEnd || *p < 0x80) {
            pszUTF8 = reinterpret_cast<const char*>(p);
            return -1;
        }
        nChar = (nChar << 6) | (*p++ & 0x3F);
    }
    pszUTF8 = reinterpret_cast<const char*>(p);
    return nChar;
}

int CXmlDoc::DecodeCharUTF16(const unsigned short*& pwszUTF16, const unsigned short* pszUTF16End) {
    const int nUnit = *pwszUTF16++;
    if ((nUnit & 0xF800) != 0xD800) {
        return nUnit;
    }
    if (pwszUTF16 == pszUTF16End || *pwszUTF16 == 0) {
        return -1;
    }
    const int nSecond = *pwszUTF16++;
    return (((nUnit & 0x3FF) << 10) | (nSecond & 0x3FF)) + 0x10000;
}

int CXmlDoc::UTF8To16(unsigned short* pwszUTF16, const char* pszUTF8, int nUTF8Count) {
    const unsigned char* const pStart = reinterpret_cast<const unsigned char*>(pszUTF8);
    const unsigned char* const pEnd = pStart + (nUTF8Count > 0 ? nUTF8Count : 0);
    // Neither call reads on past a 0 byte in blocks: the caller's count may
    // be larger than its text. The caller's buffer holds the units counted,
    // maybe not one per byte.
    if (!pwszUTF16) {
        UnitCounter counter;
        DecodeUtf8<false>(pStart, pEnd, counter, false);
        return static_cast<int>(counter.nUnits);
    }
    UnitWriter<unsigned short> writer{pwszUTF16};
    const unsigned char* const pStop = DecodeUtf8<false>(pStart, pEnd, writer, false);
    if (pStop < pEnd) {
        *writer.pOut = 0;  // the 0 byte, copied as the terminator
    }
    return static_cast<int>(pStop - pStart);
}

void vidozir::xml::AllowWideUtf8(bool bAllow) {
    g_nWide.store(bAllow ? -1 : 0, std::memory_order_relaxed);
}

int vidozir::xml::DecodeWellFormedUtf8(const char* pBytes, int nBytes, wchar_t* pText,
                                       int& nUnits) {
    const unsigned char* const pStart = reinterpret_cast<const unsigned char*>(pBytes);
    UnitWriter<wchar_t> writer{pText};
    const unsigned char* const pStop = DecodeUtf8<true>(pStart, pStart + nBytes, writer, true);
    nUnits = static_cast<int>(writer.pOut - pText);
    return static_cast<int>(pStop - pStart);
}

int CXmlDoc::UTF16To8(char* pszUTF8, const unsigned short* pwszUTF16, int nUTF8Count) {
    int nBytes = 0;
    const unsigned short* p = pwszUTF16;
    while (*p) {
        int nChar = *p < 0x80 ? *p++ : DecodeCharUTF16(p, nullptr);
        if (nChar == -1) {
            nChar = '?';
        }
        if (!pszUTF8) {
            EncodeCharUTF8(nChar, nullptr, nBytes);
            continue;
        }
        int nNeeded = nBytes;
        EncodeCharUTF8(nChar, nullptr, nNeeded);
        if (nNeeded > nUTF8Count) {
            break;  // never half a character
        }
        EncodeCharUTF8(nChar, pszUTF8, nBytes);
    }
    if (pszUTF8 && nBytes < nUTF8Count) {
        pszUTF8[nBytes] = 0;
    }
    return nBytes;
}

bool CXmlDoc::DetectUTF8(const char* pText, int nTextLen, int* pnNonASCII, bool* bErrorAtEnd) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(pText);
    const unsigned char* const pEnd = p + (nTextLen > 0 ? nTextLen : 0);
    int nNonASCII = 0;
    bool bValid = true;
    if (bErrorAtEnd) {
        *bErrorAtEnd = false;
    }
    while (p < pEnd) {
        if (pEnd - p >= kBlock) {
            const int nPlain = PlainBytes(p);
            p += nPlain;
            if (nPlain == kBlock) {
                continue;
            }
        } else if (*p && *p < 0x80) {
            ++p;
            continue;
        }
        if (*p == 0) {
            break;
        }
        ++nNonASCII;
        const unsigned char nLead = *p;
        const char* pChar = reinterpret_cast<const char*>(p);
        if (DecodeCharUTF8(pChar, reinterpret_cast<const char*>(pEnd)) == -1) {
            bValid = false;
            // Cut off: a usable lead byte whose continuation ran into the end.
            if (bErrorAtEnd) {
                *bErrorAtEnd =
                    pChar == reinterpret_cast<const char*>(pEnd) && (nLead & 0x38) != 0x38;
            }
            break;
        }
        p = reinterpret_cast<const unsigned char*>(pChar);
    }
    if (pnNonASCII) {
        *pnNonASCII = nNonASCII;
    }
    return bValid;
}

CLuStringW CXmlDoc::GetDeclaredEncoding(XML_CSTR szDoc) {
    CLuStringW strEncoding;
    if (!szDoc.pcsz) {
        return strEncoding;
    }
    TokenPos token(szDoc.pcsz, DocFlagIgnoreCase);
    NodePos node;
    bool bHtml = false;
    bool bFirstStartTag = true;
    for (;;) {
        const int nType = token.ScanNode(node);
        if (nType == NodeTypeProcessingInstruction && node.nStart == 0 && token.MatchName(L"xml")) {
            TokenPos attrib(szDoc.pcsz, DocFlagIgnoreCase);
            attrib.m_nNext = 2;
            if (x_FindAttrib(attrib, L"encoding")) {
                strEncoding = CLuStringW(szDoc.pcsz + attrib.m_nL, attrib.Length());
            }
            break;
        }
        if (nType == NodeTypeEndTag && token.MatchName(L"head")) {
            break;
        }
        if (nType == NodeTypeElement) {
            if (bFirstStartTag) {
                bFirstStartTag = false;
                bHtml = token.MatchName(L"html");
            }
            if (!bHtml) {
                break;
            }
            if (!token.MatchName(L"meta")) {
                continue;
            }
            TokenPos attrib(szDoc.pcsz, DocFlagIgnoreCase);
            attrib.m_nNext = node.nStart + 1;
            if (!x_FindAttrib(attrib, L"http-equiv") ||
                !SpanIs(szDoc.pcsz + attrib.m_nL, attrib.Length(), L"content-type")) {
                continue;
            }
            attrib.m_nNext = node.nStart + 1;
            if (x_FindAttrib(attrib, L"content")) {
                // Words as tag names are read: "text/html; charset=gb2312" is
                // text / html ; charset = gb2312.
                const CLuStringW strValue(szDoc.pcsz + attrib.m_nL, attrib.Length());
                const wchar_t* pValue = strValue.GetString();
                int nState = 0;  // 1 after "charset", 2 after "charset" "="
                for (int i = 0;;) {
                    while (IsSpace(pValue[i])) {
                        ++i;
                    }
                    if (!pValue[i]) {
                        break;
                    }
                    const CLuStringW strWord = x_TagNameAt(pValue, i);
                    if (nState == 2) {
                        strEncoding = strWord;
                        break;
                    }
                    nState = nState == 1 && strWord == L"="                     ? 2
                             : SpanIs(strWord, strWord.GetLength(), L"charset") ? 1
                                                                                : 0;
                    i += strWord.GetLength();
                }
            }
            break;
        }
        if (nType == NodeTypeScanError || nType == NodeTypeScanEnd) {
            break;
        }
    }
    return strEncoding;
}

int CXmlDoc::GetEncodingCodePage(XML_CSTR pszEncoding) {
    const wchar_t* szName = pszEncoding.pcsz ? pszEncoding.pcsz : L"";
    if (!szName[0]) {
        return 0;
    }
    if (std::wcscmp(szName, L"UTF-32") == 0) {
        return 65005;
    }
    wchar_t szLower[100];
    unsigned nSum = 0;
    int nLength = 0;
    for (; szName[nLength]; ++nLength) {
        if (nLength == 99) {
            return -1;  // 100 characters or more: not looked up
        }
        wchar_t c = szName[nLength];
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c + (L'a' - L'A'));
        }
        szLower[nLength] = c;
        nSum += static_cast<unsigned short>(c);
    }
    for (const wchar_t* p = kEncodingBuckets[nSum % kEncodingBucketCount]; *p;) {
        const int nEntryLength = Digits(p, 2);
        if (nEntryLength == nLength && std::wmemcmp(p + 7, szLower, nLength) == 0) {
            return Digits(p + 2, 5);
        }
        p += 7 + nEntryLength;
    }
    return -1;
}
