// What the markup sources share: the white-space test, the flag values the
// scanner and its users agree on, escaping and numbers written in place,
// the quick skip over plain text, a cache hint for navigation and the copy
// of a text that follows its parse.
#pragma once

#include "vidozir/xmldoc.h"

#include <cstring>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define VIDOZIR_XML_SSE2 1
#include <emmintrin.h>
#else
#define VIDOZIR_XML_SSE2 0
#endif
#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#endif

// Text that reaches the scan a piece at a time, so that each piece is
// handled while it is still in the cache. The scan reads pText, which is
// ready (and ended by a 0) up to nReady; once the scan has come to nCheckAt
// it calls Advance with where it stands.
struct CXmlDoc::TextFeed {
    const wchar_t* pText = nullptr;
    int nSize = 0;         // the text's length; an estimate while not all is ready
    int nReady = 0;        // units the scan may read
    int nCheckAt = 0;      // where the scan next calls Advance
    bool bAll = false;     // the whole text is ready
    bool bFailed = false;  // the source cannot give the text: the parse stops
    virtual ~TextFeed() = default;
    // Makes the text ready well beyond nAt, or all of it; or sets bFailed.
    virtual void Advance(int nAt) = 0;
};

// A text copied into the document while it is parsed: the scan reads the
// source, which is all there, and each piece it has passed is copied right
// behind it, while the source is still in the cache, instead of the whole
// text before the scan reads it again.
struct CXmlDoc::CopyBehind : CXmlDoc::TextFeed {
    enum { kPiece = 8192 };  // units copied at a time
    wchar_t* pTo;
    int nCopied = 0;

    CopyBehind(const wchar_t* pFrom, wchar_t* pTarget, int nLength) : pTo(pTarget) {
        pText = pFrom;
        nSize = nReady = nLength;
        nCheckAt = kPiece;
        bAll = true;
    }
    void Advance(int nAt) override {
        Through(nAt < nSize ? nAt : nSize);
        nCheckAt = nCopied + kPiece;
    }
    void Through(int n) {
        std::memcpy(pTo + nCopied, pText + nCopied, sizeof(wchar_t) * (n - nCopied));
        nCopied = n;
    }
};

// UTF-8 decoded into the document's text a piece ahead of the scan, so that
// the scan reads each piece while it is in the cache (markup/xmldoc.cpp).
// Bytes that are not well-formed UTF-8 (or a 0 byte) set bFailed.
struct CXmlDoc::Utf8Ahead : CXmlDoc::TextFeed {
    enum { kPiece = 16 * 1024 };  // bytes decoded at a time
    const char* pBytes;
    int nBytes;
    int nDone = 0;  // bytes decoded
    wchar_t* pOut;  // room for the smaller of nBytes and nSize + kPiece units, and a 0

    // nUnits: Units(pSource, nSourceBytes).
    Utf8Ahead(const char* pSource, int nSourceBytes, int nUnits, wchar_t* pTarget);
    void Advance(int nAt) override;
    // The UTF-16 length of the bytes: a unit for each byte that starts a
    // sequence, a second for a four-byte one; exact for well-formed UTF-8,
    // and never below what the well-formed start of other bytes decodes to.
    static int Units(const char* pSource, int nSourceBytes);
};

namespace vidozir::xml {

// The (never opened) streaming mode: operations that need the whole document
// in memory refuse while either flag is set.
constexpr int kStreamFlags = CXmlDoc::DocFlagReadFile | CXmlDoc::DocFlagWriteFile;

// Set in a scanner's flags by the attribute search while its token is a
// quoted value.
constexpr int kTokenQuoted = 0x8000;

const wchar_t kLineEnd[] = L"\r\n";

// Space, tab, line feed and carriage return: the only white space of the
// markup rules.
inline bool IsSpace(wchar_t c) {
    return static_cast<unsigned>(c) <= L' ' && ((0x100002600ull >> static_cast<unsigned>(c)) & 1);
}

// The number of the lowest set bit of a non-zero value.
inline int LowestBit(unsigned bits) {
#if defined(_MSC_VER) && !defined(__clang__)
    unsigned long n;
    _BitScanForward(&n, bits);
    return static_cast<int>(n);
#else
    return __builtin_ctz(bits);
#endif
}

// What may follow a name that matches the start of a longer text: the end,
// or a character that ends a step of a path (" ", "/", "=", "[", "]").
inline bool EndsNameStep(wchar_t c) {
    return c == 0 || c == L' ' || c == L'/' || c == L'=' || c == L'[' || c == L']';
}

// Ends a word of an attribute scan outside quotes.
inline bool EndsAttribWord(wchar_t c) {
    return c <= L'?' &&  // every character that ends a word lies below "?" + 1
           (c == 0 || c == L'=' || IsSpace(c) || c == L'>' || c == L'/' || c == L'?');
}

// Length of a null-terminated text (short texts: no library call).
inline int TextLength(const wchar_t* sz) {
    const wchar_t* p = sz;
    while (*p) {
        ++p;
    }
    return static_cast<int>(p - sz);
}

// Escapes the null-terminated szText as element data and attribute values
// are escaped (CXmlDoc::EscapeText, under the node flags nFlags) into pOut,
// or only counts when pOut is null. Returns the length of the escaped text.
int EscapeInto(const wchar_t* szText, int nFlags, wchar_t* pOut);

// Decodes the nBytes of UTF-8 at pBytes into pText (room for nBytes units)
// for as long as they are well-formed UTF-8: no overlong forms, surrogates,
// values above U+10FFFF or 0 bytes. Returns the bytes decoded (nBytes when
// all of them were) and sets nUnits to the units written.
int DecodeWellFormedUtf8(const char* pBytes, int nBytes, wchar_t* pText, int& nUnits);

// UTF-8 bytes as UTF-16 text, by UTF8To16's lenient rules.
CLuStringW Utf8Text(const char* pBytes, int nBytes);

// Ends a text decoded into room for nRoom units (GetBuffer): nUnits long. A
// text mostly in other scripts gives back the room it did not use.
void EndDecodedText(CLuStringW& strText, int nUnits, int nRoom);

// With false, UTF-8 is decoded by the portable path only (for its tests);
// with true, by the widest path the processor runs.
void AllowWideUtf8(bool bAllow);

// The length of the leading run of szText that escaping leaves as it is: the
// whole text when nothing in it needs escaping.
int PlainRun(const wchar_t* szText);

// The decimal text of nValue (as "%d" writes it), in buf.
const wchar_t* IntText(int nValue, wchar_t (&buf)[12]);

// The first unit c or end of text (0) at or after i, where the text is known
// to run at least to nEnd (nothing read beyond it: 0 for a text of unknown
// length). Eight units per step where SSE2 is there (32-bit units are first
// packed to 16 bits: saturation makes no c, nor 0, of a larger unit; c is
// below 0x7FFF), else one test per unit.
inline int SkipToUnit(const wchar_t* p, int i, int nEnd, wchar_t c) {
#if VIDOZIR_XML_SSE2
    const __m128i wanted = _mm_set1_epi16(static_cast<short>(c));
    for (; i + 8 <= nEnd; i += 8) {
        const __m128i* pUnits = reinterpret_cast<const __m128i*>(p + i);
        __m128i v;
        if constexpr (sizeof(wchar_t) == 2) {
            v = _mm_loadu_si128(pUnits);
        } else {
            v = _mm_packs_epi32(_mm_loadu_si128(pUnits), _mm_loadu_si128(pUnits + 1));
        }
        const __m128i hits =
            _mm_or_si128(_mm_cmpeq_epi16(v, wanted), _mm_cmpeq_epi16(v, _mm_setzero_si128()));
        const unsigned bits = static_cast<unsigned>(_mm_movemask_epi8(hits));
        if (bits) {
            return i + LowestBit(bits) / 2;
        }
    }
#else
    (void)nEnd;
#endif
    for (;; ++i) {
        const wchar_t u = p[i];
        if (u == c || u == 0) {
            return i;
        }
    }
}

// Where the attribute search (CXmlDoc::x_FindAttrib, without case
// forgiveness) for a name that starts with cFirst stops without a match, for
// a tag in the shape the editing operations write (a tag just built by
// them): its name, then only attributes written name="value" or
// name='value', none starting with cFirst. The offset is in front of the
// white space before the ">", "/" or "?" that ends the tag. -1 for any
// other tag, which only the full search reads.
inline int PlainTagEnd(const wchar_t* p, int i, int nTextEnd, wchar_t cFirst) {
    if (EndsAttribWord(p[i]) || p[i] == L'"' || p[i] == L'\'') {
        return -1;
    }
    for (;;) {
        // i is at the first unit of a word: the tag name, or the name of an
        // attribute that cannot be the one sought. A quoted value right
        // behind "=" is passed over; the search reads "=" and a value so
        // even behind the tag name. Any other shape is the search's own.
        while (!EndsAttribWord(p[++i])) {
        }
        if (p[i] == L'=') {
            const wchar_t quote = p[i + 1];
            if (quote != L'"' && quote != L'\'') {
                return -1;
            }
            i = SkipToUnit(p, i + 2, nTextEnd, quote);
            if (!p[i++]) {
                return -1;
            }
        }
        const int nSpace = i;
        while (IsSpace(p[i])) {
            ++i;
        }
        const wchar_t c = p[i];
        if (c == L'>' || c == L'/' || c == L'?') {
            return nSpace;
        }
        if (EndsAttribWord(c) || c == L'"' || c == L'\'' || c == cFirst) {
            return -1;
        }
    }
}

// The first "<" or end of text (0) at or after i, as SkipToUnit.
inline int SkipToMarkup(const wchar_t* p, int i, int nEnd) {
    return SkipToUnit(p, i, nEnd, L'<');
}

// The start tag at p[i] (a "<") when it is one that its ">" closes, as the
// scanner reads it: the offset behind its name, the offset behind the tag and
// whether it ends in "/>". False for anything else (another kind of node, a
// tag the text ends in), which the full scanner then reports.
bool ScanClosedStartTag(const wchar_t* p, int i, int& nNameEnd, int& nNext, bool& bEmpty);

// A hint that the text at p is read soon: fetched into the cache meanwhile.
inline void PrefetchText(const wchar_t* p) {
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(p);
#elif defined(_MSC_VER) && (defined(_M_IX86) || defined(_M_X64))
    _mm_prefetch(reinterpret_cast<const char*>(p), _MM_HINT_T0);  // from <intrin.h>
#else
    (void)p;
#endif
}

}  // namespace vidozir::xml
