#include "platform/utf8.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

static_assert(sizeof(wchar_t) == 4, "one UTF-16 unit per 32-bit wchar_t here");

namespace vidozir::platform {

namespace {

// Bytes below 0x80 from p on, eight at a time.
const unsigned char* SkipAscii(const unsigned char* p, const unsigned char* end) {
    while (end - p >= 8) {
        uint64_t block;
        std::memcpy(&block, p, 8);
        if (block & 0x8080808080808080ull)
            break;
        p += 8;
    }
    while (p < end && *p < 0x80)
        ++p;
    return p;
}

// The length of the well-formed sequence at p (lead byte at or above 0x80),
// or 0; `code` receives its code point.
int Sequence(const unsigned char* p, const unsigned char* end, uint32_t& code) {
    const unsigned lead = p[0];
    const ptrdiff_t left = end - p;
    auto cont = [&](int i) { return i < left && (p[i] & 0xC0) == 0x80; };
    if (lead >= 0xC2 && lead <= 0xDF && cont(1)) {
        code = (lead & 0x1Fu) << 6 | (p[1] & 0x3Fu);
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF && cont(1) && cont(2)) {
        code = (lead & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu);
        return code >= 0x800 && (code < 0xD800 || code > 0xDFFF) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4 && cont(1) && cont(2) && cont(3)) {
        code = (lead & 0x07u) << 18 | (p[1] & 0x3Fu) << 12 | (p[2] & 0x3Fu) << 6 | (p[3] & 0x3Fu);
        return code >= 0x10000 && code <= 0x10FFFF ? 4 : 0;
    }
    return 0;
}

}  // namespace

bool Utf8Units(const char* source, size_t length, size_t& units) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(source);
    const unsigned char* const end = p + length;
    size_t count = 0;
    while (p < end) {
        const unsigned char* run = SkipAscii(p, end);
        count += size_t(run - p);
        p = run;
        if (p == end)
            break;
        uint32_t code = 0;
        const int n = Sequence(p, end, code);
        if (n == 0)
            return false;
        count += code >= 0x10000 ? 2 : 1;
        p += n;
    }
    units = count;
    return true;
}

void Utf8ToUnits(const char* source, size_t length, wchar_t* destination) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(source);
    const unsigned char* const end = p + length;
    wchar_t* out = destination;
    while (p < end) {
#if defined(__SSE2__)
        // Sixteen ASCII bytes become sixteen units (wchar_t here is 32 bits).
        const __m128i zero = _mm_setzero_si128();
        while (end - p >= 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            if (_mm_movemask_epi8(bytes))
                break;
            const __m128i lo = _mm_unpacklo_epi8(bytes, zero), hi = _mm_unpackhi_epi8(bytes, zero);
            __m128i* o = reinterpret_cast<__m128i*>(out);
            _mm_storeu_si128(o, _mm_unpacklo_epi16(lo, zero));
            _mm_storeu_si128(o + 1, _mm_unpackhi_epi16(lo, zero));
            _mm_storeu_si128(o + 2, _mm_unpacklo_epi16(hi, zero));
            _mm_storeu_si128(o + 3, _mm_unpackhi_epi16(hi, zero));
            p += 16;
            out += 16;
        }
#endif
        if (p == end)
            break;
        if (*p < 0x80) {
            *out++ = wchar_t(*p++);
            continue;
        }
        uint32_t code = 0;
        const int n = Sequence(p, end, code);
        if (n == 0)
            return;  // not accepted by Utf8Units: nothing more is written
        p += n;
        if (code >= 0x10000) {
            *out++ = wchar_t(0xD800 | ((code - 0x10000) >> 10));
            *out++ = wchar_t(0xDC00 | (code & 0x3FF));
        } else {
            *out++ = wchar_t(code);
        }
    }
}

}  // namespace vidozir::platform
