// Character coding of CXmlDoc: UTF-8 and UTF-16 encoders and decoders, the
// conversions between them, UTF-8 detection, the encoding a document declares
// and the table from encoding names to Windows code pages.
//
// The decoders are deliberately lenient (documents written by old clients
// must keep loading): bit 0x40 of a UTF-8 lead byte is never examined and
// overlong forms are accepted.
#include <cstdint>
#include <cstring>
#include <cwchar>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#if defined(_MSC_VER)
#include <intrin.h>
#endif
#define VIDOZIR_XML_SSE2 1
#endif

#include "vidozir/xmldoc.h"

namespace {

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

inline bool IsSpace(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r';
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

#if VIDOZIR_XML_SSE2
// Index of the lowest set bit of a non-zero mask.
inline unsigned LowestBit(unsigned nMask) {
#if defined(_MSC_VER)
    unsigned long nIndex;
    _BitScanForward(&nIndex, nMask);
    return static_cast<unsigned>(nIndex);
#else
    return static_cast<unsigned>(__builtin_ctz(nMask));
#endif
}
#endif

// Counts (pwsz null) or writes the units of an ASCII run of UTF-8 starting at
// p: stops at the first byte that is 0 or at or above 0x80, or at pEnd.
// Sixteen bytes a step where SSE2 is at hand, else eight.
const unsigned char* CopyAsciiRun(const unsigned char* p, const unsigned char* pEnd,
                                  unsigned short*& pwsz) {
#if VIDOZIR_XML_SSE2
    const __m128i zero = _mm_setzero_si128();
    while (pEnd - p >= 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        // Plain bytes (1 to 0x7F) are exactly those above 0 as signed bytes.
        const unsigned nStop =
            ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpgt_epi8(bytes, zero))) & 0xFFFFu;
        if (nStop) {
            // The plain bytes before the first that stops the run.
            const unsigned nPlain = LowestBit(nStop);
            if (pwsz) {
                unsigned n = 0;
                if (nPlain >= 8) {
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(pwsz),
                                     _mm_unpacklo_epi8(bytes, zero));
                    n = 8;
                }
                for (; n < nPlain; ++n) {
                    pwsz[n] = p[n];
                }
                pwsz += nPlain;
            }
            return p + nPlain;
        }
        if (pwsz) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(pwsz), _mm_unpacklo_epi8(bytes, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(pwsz + 8), _mm_unpackhi_epi8(bytes, zero));
            pwsz += 16;
        }
        p += 16;
    }
#endif
    while (pEnd - p >= 8) {
        uint64_t block;
        std::memcpy(&block, p, 8);
        // A byte at or above 0x80, or a 0 byte, ends the run.
        const uint64_t high = block & 0x8080808080808080ull;
        const uint64_t zero = (block - 0x0101010101010101ull) & ~block & 0x8080808080808080ull;
        if (high | zero) {
            break;
        }
        if (pwsz) {
            for (int n = 0; n < 8; ++n) {
                pwsz[n] = p[n];
            }
            pwsz += 8;
        }
        p += 8;
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
    if (nValue < 0x10000) {
        if (pwszUTF16) {
            pwszUTF16[nUTF16Len] = static_cast<unsigned short>(nValue);
        }
        ++nUTF16Len;
        return;
    }
    if (pwszUTF16) {
        pwszUTF16[nUTF16Len] =
            static_cast<unsigned short>(0xD800 | (((nValue - 0x10000) >> 10) & 0x3FF));
        pwszUTF16[nUTF16Len + 1] = static_cast<unsigned short>(0xDC00 | (nValue & 0x3FF));
    }
    nUTF16Len += 2;
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
    const unsigned char* p = pStart;
    unsigned short* pOut = pwszUTF16;
    int nUnits = 0;
    while (p < pEnd) {
        if (*p < 0x80) {
            if (*p == 0) {
                if (pOut) {
                    *pOut = 0;
                }
                break;
            }
            const unsigned char* pRun = p;
            p = CopyAsciiRun(p, pEnd, pOut);
            if (p == pRun) {  // near the end, or a stop among the next eight
                if (pOut) {
                    *pOut++ = *p;
                }
                ++p;
            }
            nUnits += static_cast<int>(p - pRun);
            continue;
        }
        // The common two- and three-byte forms inline; the same lenient
        // rules as the decoder (bit 0x40 of the lead is not examined).
        if (!(*p & 0x20) && pEnd - p >= 2 && p[1] >= 0x80) {
            if (pOut) {
                *pOut++ = static_cast<unsigned short>((*p & 0x1F) << 6 | (p[1] & 0x3F));
            }
            ++nUnits;
            p += 2;
            continue;
        }
        if ((*p & 0x30) == 0x20 && pEnd - p >= 3 && p[1] >= 0x80 && p[2] >= 0x80) {
            if (pOut) {
                *pOut++ = static_cast<unsigned short>((*p & 0x0F) << 12 | (p[1] & 0x3F) << 6 |
                                                      (p[2] & 0x3F));
            }
            ++nUnits;
            p += 3;
            continue;
        }
        const char* pChar = reinterpret_cast<const char*>(p);
        int nChar = DecodeCharUTF8(pChar, reinterpret_cast<const char*>(pEnd));
        p = reinterpret_cast<const unsigned char*>(pChar);
        if (nChar == -1) {
            nChar = '?';
        }
        int nWritten = 0;
        EncodeCharUTF16(nChar, pOut, nWritten);
        if (pOut) {
            pOut += nWritten;
        }
        nUnits += nWritten;
    }
    return pwszUTF16 ? static_cast<int>(p - pStart) : nUnits;
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
    const char* p = pText;
    const char* const pEnd = pText + (nTextLen > 0 ? nTextLen : 0);
    int nNonASCII = 0;
    bool bValid = true;
    if (bErrorAtEnd) {
        *bErrorAtEnd = false;
    }
    while (p < pEnd && *p) {
        const unsigned char* pRun = reinterpret_cast<const unsigned char*>(p);
        unsigned short* pNoOutput = nullptr;
        p = reinterpret_cast<const char*>(
            CopyAsciiRun(pRun, reinterpret_cast<const unsigned char*>(pEnd), pNoOutput));
        if (p == pEnd || !*p) {
            break;
        }
        if (static_cast<unsigned char>(*p) < 0x80) {
            ++p;
            continue;
        }
        ++nNonASCII;
        const unsigned char nLead = static_cast<unsigned char>(*p);
        if (DecodeCharUTF8(p, pEnd) == -1) {
            bValid = false;
            // Cut off: a usable lead byte whose continuation ran into the end.
            if (bErrorAtEnd) {
                *bErrorAtEnd = p == pEnd && (nLead & 0x38) != 0x38;
            }
            break;
        }
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
