// Character coding of CXmlDoc: UTF-8 and UTF-16 encoders and decoders, the
// conversions between them, UTF-8 detection, the encoding a document declares
// and the table from encoding names to Windows code pages.
//
// The decoders are deliberately lenient (documents written by old clients
// must keep loading): bit 0x40 of a UTF-8 lead byte is never examined and
// overlong forms are accepted.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>

#include "markup/xml_internal.h"
#include "vidozir/xmldoc.h"

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
    // The last bytes before a 0 byte or the end, one at a time.
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
