// What the markup sources share: the white-space test, the flag values the
// scanner and its users agree on, and the quick skips over plain text.
#pragma once

#include "vidozir/xmldoc.h"

#if defined(_MSC_VER) && !defined(__clang__) && (defined(_M_IX86) || defined(_M_X64))
#include <xmmintrin.h>
#endif

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

// What may follow a name that matches the start of a longer text: the end,
// or a character that ends a step of a path (" ", "/", "=", "[", "]").
inline bool EndsNameStep(wchar_t c) {
    return c == 0 || c == L' ' || c == L'/' || c == L'=' || c == L'[' || c == L']';
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

// The decimal text of nValue (as "%d" writes it), in buf.
const wchar_t* IntText(int nValue, wchar_t (&buf)[12]);

// The first "<" or end of text (0) at or after i. Four units per step with
// one test each: every unit above ">" is plain text.
inline int SkipToMarkup(const wchar_t* p, int i) {
    for (;; i += 4) {
        if (p[i] <= L'>' && (p[i] == L'<' || p[i] == 0)) {
            return i;
        }
        if (p[i + 1] <= L'>' && (p[i + 1] == L'<' || p[i + 1] == 0)) {
            return i + 1;
        }
        if (p[i + 2] <= L'>' && (p[i + 2] == L'<' || p[i + 2] == 0)) {
            return i + 2;
        }
        if (p[i + 3] <= L'>' && (p[i + 3] == L'<' || p[i + 3] == 0)) {
            return i + 3;
        }
    }
}

// A hint that the text at p is read soon: fetched into the cache meanwhile.
inline void PrefetchText(const wchar_t* p) {
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(p);
#elif defined(_MSC_VER) && (defined(_M_IX86) || defined(_M_X64))
    _mm_prefetch(reinterpret_cast<const char*>(p), _MM_HINT_T0);
#else
    (void)p;
#endif
}

}  // namespace vidozir::xml
