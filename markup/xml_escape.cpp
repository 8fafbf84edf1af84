// Escaping and unescaping of element data and attribute values, the named
// character references, and CDATA sections.
#include "markup/xml_internal.h"

#include <algorithm>

using vidozir::xml::IsSpace;
using vidozir::xml::TextLength;

namespace {

// The HTML 4.01 character entity references plus "apos": 130 hash buckets
// (bucket = sum of the lower-case name's code units modulo 130). Each entry
// is one character 0x30 + name length, four decimal digits of the code point
// and the name in lower case. Within a bucket the entries are in the order of
// the names as defined, capitals first, so that of a name defined in two cases
// ("Eacute", "eacute") the capitalised one is found first.
const wchar_t* const kEntityBuckets[130] = {
    L"60216oslash60217ugrave60248oslash60249ugrave",                        // 0
    L"50937omega60221yacute58968lceil50969omega60253yacute",                // 1
    L"50916delta50206icirc50948delta50238icirc68472weierp",                 // 2
    L"40185sup1",                                                           // 3
    L"68970lfloor40178sup2",                                                // 4
    L"50922kappa60164curren50954kappa58212mdash40179sup3",                  // 5
    L"59830diams58211ndash",                                                // 6
    L"68855otimes58969rceil",                                               // 7
    L"50338oelig50212ocirc50244ocirc50339oelig58482trade",                  // 8
    L"50197aring50931sigma50229aring50963sigma",                            // 9
    L"50180acute68971rfloor50732tilde",                                     // 10
    L"68249lsaquo",                                                         // 11
    L"58734infin68201thinsp",                                               // 12
    L"50161iexcl",                                                          // 13
    L"50920theta50219ucirc50952theta50251ucirc",                            // 14
    L"58254oline",                                                          // 15
    L"58260frasl68727lowast",                                               // 16
    L"59827clubs60191iquest68250rsaquo",                                    // 17
    L"58629crarr50181micro",                                                // 18
    L"58222bdquo",                                                          // 19
    L"",                                                                    // 20
    L"58243prime60177plusmn58242prime",                                     // 21
    L"40914beta40946beta",                                                  // 22
    L"",                                                                    // 23
    L"",                                                                    // 24
    L"",                                                                    // 25
    L"50171laquo50215times",                                                // 26
    L"40710circ",                                                           // 27
    L"49001lang",                                                           // 28
    L"58220ldquo40175macr",                                                 // 29
    L"40182para50163pound48476real",                                        // 30
    L"",                                                                    // 31
    L"58713notin50187raquo",                                                // 32
    L"48773cong50223szlig50978upsih",                                       // 33
    L"58776asymp58801equiv49002rang58218sbquo",                             // 34
    L"50222thorn48659darr48595darr40402fnof58221rdquo50254thorn",           // 35
    L"40162cent58722minus",                                                 // 36
    L"58707exist40170ordf",                                                 // 37
    L"",                                                                    // 38
    L"40921iota58709empty48660harr48596harr40953iota",                      // 39
    L"",                                                                    // 40
    L"40196auml40228auml48226bull40167sect48838sube",                       // 41
    L"",                                                                    // 42
    L"48656larr48592larr58853oplus",                                        // 43
    L"30176deg58216lsquo40186ordm",                                         // 44
    L"40203euml40039apos40235euml48712isin40160nbsp",                       // 45
    L"40918zeta40950zeta",                                                  // 46
    L"38743and48195emsp48719prod",                                          // 47
    L"30935chi38745cap30967chi48194ensp",                                   // 48
    L"40207iuml40239iuml48706part48869perp48658rarr48594rarr",              // 49
    L"38736ang48836nsub58217rsquo",                                         // 50
    L"",                                                                    // 51
    L"48901sdot48657uarr48593uarr",                                         // 52
    L"40169copy48364euro",                                                  // 53
    L"30919eta30951eta",                                                    // 54
    L"40214ouml40246ouml48839supe",                                         // 55
    L"",                                                                    // 56
    L"",                                                                    // 57
    L"30038amp30174reg",                                                    // 58
    L"48733prop",                                                           // 59
    L"",                                                                    // 60
    L"30208eth30934phi40220uuml30240eth30966phi40252uuml",                  // 61
    L"",                                                                    // 62
    L"",                                                                    // 63
    L"",                                                                    // 64
    L"40376yuml40255yuml",                                                  // 65
    L"",                                                                    // 66
    L"40034quot48204zwnj",                                                  // 67
    L"38746cup68756there4",                                                 // 68
    L"30929rho30961rho38764sim",                                            // 69
    L"30932tau38834sub30964tau",                                            // 70
    L"38747int38206lrm38207rlm",                                            // 71
    L"30936psi30968psi30165yen",                                            // 72
    L"",                                                                    // 73
    L"28805ge30168uml",                                                     // 74
    L"30982piv",                                                            // 75
    L"",                                                                    // 76
    L"30172not",                                                            // 77
    L"",                                                                    // 78
    L"28804le",                                                             // 79
    L"30173shy",                                                            // 80
    L"39674loz28800ne38721sum",                                             // 81
    L"",                                                                    // 82
    L"",                                                                    // 83
    L"38835sup",                                                            // 84
    L"28715ni",                                                             // 85
    L"",                                                                    // 86
    L"20928pi20960pi38205zwj",                                              // 87
    L"",                                                                    // 88
    L"60923lambda20062gt60955lambda",                                       // 89
    L"",                                                                    // 90
    L"",                                                                    // 91
    L"60199ccedil60231ccedil",                                              // 92
    L"",                                                                    // 93
    L"20060lt",                                                             // 94
    L"20926xi28744or20958xi",                                               // 95
    L"20924mu20956mu",                                                      // 96
    L"20925nu20957nu",                                                      // 97
    L"68225dagger68224dagger",                                              // 98
    L"80977thetasym",                                                       // 99
    L"",                                                                    // 100
    L"",                                                                    // 101
    L"",                                                                    // 102
    L"78501alefsym",                                                        // 103
    L"",                                                                    // 104
    L"",                                                                    // 105
    L"",                                                                    // 106
    L"60193aacute60195atilde60225aacute60227atilde",                        // 107
    L"",                                                                    // 108
    L"70927omicron60247divide70959omicron",                                 // 109
    L"60192agrave60224agrave",                                              // 110
    L"60201eacute60233eacute60962sigmaf",                                   // 111
    L"70917epsilon70949epsilon",                                            // 112
    L"",                                                                    // 113
    L"60200egrave60232egrave",                                              // 114
    L"60205iacute60237iacute",                                              // 115
    L"",                                                                    // 116
    L"",                                                                    // 117
    L"60204igrave68230hellip60236igrave",                                   // 118
    L"60166brvbar",                                                         // 119
    L"60209ntilde68704forall58711nabla60241ntilde69824spades",              // 120
    L"60211oacute60213otilde60189frac1260183middot60243oacute60245otilde",  // 121
    L"",                                                                    // 122
    L"50184cedil60188frac14",                                               // 123
    L"50198aelig50194acirc60210ograve50226acirc50230aelig60242ograve",      // 124
    L"50915gamma60190frac3450947gamma58465image58730radic",                 // 125
    L"60352scaron60353scaron",                                              // 126
    L"60218uacute69829hearts60250uacute",                                   // 127
    L"50913alpha50202ecirc70933upsilon50945alpha50234ecirc70965upsilon",    // 128
    L"68240permil",                                                         // 129
};

inline bool IsNameStart(wchar_t c) {
    return c == L':' || c == L'_' || (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') ||
           static_cast<unsigned>(c) >= 0x80;
}

// "#" may only follow the "&" itself ("&#65;"), never stand inside a name.
inline bool IsRefStart(wchar_t c) {
    return c == L'#' || IsNameStart(c);
}

inline bool IsRefChar(wchar_t c) {
    return IsNameStart(c) || c == L'-' || c == L'.' || (c >= L'0' && c <= L'9');
}

// Length of the reference ("&name;", "&#nn;") at p, or 0 when p starts none.
int ReferenceLength(const wchar_t* p) {
    if (!IsRefStart(p[1])) {
        return 0;
    }
    int n = 2;
    while (IsRefChar(p[n])) {
        ++n;
    }
    return p[n] == L';' ? n + 1 : 0;
}

// The standard string-to-long conversion over a short ASCII name (the caller
// has folded it to lower case): leading white space, a sign, "0x" in base 16,
// then digits up to the first one that is not of the base.
int StringToLong(const wchar_t* p, const wchar_t* pEnd, int nBase) {
    while (p < pEnd && (IsSpace(*p) || *p == L'\v' || *p == L'\f')) {
        ++p;
    }
    bool bNegative = false;
    if (p < pEnd && (*p == L'+' || *p == L'-')) {
        bNegative = *p == L'-';
        ++p;
    }
    if (nBase == 16 && pEnd - p >= 3 && p[0] == L'0' && p[1] == L'x' &&
        ((p[2] >= L'0' && p[2] <= L'9') || (p[2] >= L'a' && p[2] <= L'f'))) {
        p += 2;
    }
    // At most 8 digits fit between "&" and ";", so 32 bits never overflow.
    long long nValue = 0;
    for (; p < pEnd; ++p) {
        int nDigit;
        if (*p >= L'0' && *p <= L'9') {
            nDigit = *p - L'0';
        } else if (*p >= L'a' && *p <= L'z') {
            nDigit = *p - L'a' + 10;
        } else {
            break;
        }
        if (nDigit >= nBase) {
            break;
        }
        nValue = nValue * nBase + nDigit;
    }
    return static_cast<int>(bNegative ? -nValue : nValue);
}

// Code point of a lower-case entity name, 0 when the table lacks it.
int LookUpEntity(const wchar_t* pName, int nLength) {
    unsigned nSum = 0;
    for (int n = 0; n < nLength; ++n) {
        nSum += static_cast<unsigned>(pName[n]);
    }
    for (const wchar_t* p = kEntityBuckets[nSum % 130]; *p; p += 5 + (p[0] - L'0')) {
        if (p[0] - L'0' != nLength) {
            continue;
        }
        int n = 0;
        while (n < nLength && p[5 + n] == pName[n]) {
            ++n;
        }
        if (n == nLength) {
            return (p[1] - L'0') * 1000 + (p[2] - L'0') * 100 + (p[3] - L'0') * 10 + (p[4] - L'0');
        }
    }
    return 0;
}

// Decodes the reference at p[0] == '&' within nAvail characters. Returns the
// characters consumed (0 when it is not a reference) and the code point.
int DecodeReference(const wchar_t* p, int nAvail, int& nCode) {
    wchar_t szName[10];
    const int nReach = nAvail - 1 < 10 ? nAvail - 1 : 10;
    int nName = 0;
    for (;; ++nName) {
        if (nName >= nReach) {
            return 0;  // no ";" within reach
        }
        const wchar_t c = p[1 + nName];
        if (c == L';') {
            break;
        }
        if (nName == 9 || static_cast<unsigned>(c) >= 128) {
            return 0;
        }
        szName[nName] = (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
    }
    if (nName > 0 && szName[0] == L'#') {
        if (nName > 1 && szName[1] == L'x') {
            nCode = StringToLong(szName + 2, szName + nName, 16);
        } else {
            nCode = StringToLong(szName + 1, szName + nName, 10);
        }
    } else {
        nCode = LookUpEntity(szName, nName);
    }
    // Zero, negative and beyond-Unicode numbers are left as written rather
    // than turned into meaningless surrogates: the text then stays lossless.
    if (nCode <= 0 || nCode > 0x10FFFF) {
        return 0;
    }
    return nName + 2;
}

}  // namespace

namespace {

// The characters that may need an escape, and the terminator, as bits
// below ">" + 1.
constexpr unsigned long long kSpecial =
    1ull | 1ull << L'<' | 1ull << L'>' | 1ull << L'&' | 1ull << L'"' | 1ull << L'\'';

inline bool IsPlain(wchar_t c) {
    return static_cast<unsigned>(c) > L'>' || !((kSpecial >> c) & 1);
}

// Where escaped text goes: counted only, or written.
struct CountOnly {
    int n = 0;
    void Put(const wchar_t*, int k) { n += k; }
};
struct WriteTo {
    wchar_t* p;
    int n = 0;
    void Put(const wchar_t* s, int k) {
        std::copy(s, s + k, p + n);
        n += k;
    }
};

template <class Out>
int Escape(const wchar_t* pText, int nFlags, Out out) {
    for (int i = 0;;) {
        // A run of characters that stay as they are, in one piece.
        const int nRun = i;
        while (IsPlain(pText[i])) {
            ++i;
        }
        out.Put(pText + nRun, i - nRun);
        if (pText[i] == 0) {
            break;
        }
        const wchar_t c = pText[i++];
        switch (c) {
            case L'<':
                out.Put(L"&lt;", 4);
                break;
            case L'>':
                out.Put(L"&gt;", 4);
                break;
            case L'&': {
                const int nRef =
                    (nFlags & CXmlDoc::NodeWithRefs) ? ReferenceLength(pText + i - 1) : 0;
                if (nRef) {
                    out.Put(pText + i - 1, nRef);
                    i += nRef - 1;
                } else {
                    out.Put(L"&amp;", 5);
                }
                break;
            }
            default:  // a double quote or an apostrophe
                if (nFlags & CXmlDoc::NodeEscapeQuotes) {
                    out.Put(c == L'"' ? L"&quot;" : L"&apos;", 6);
                } else {
                    out.Put(pText + i - 1, 1);
                }
        }
    }
    return out.n;
}

}  // namespace

int vidozir::xml::PlainRun(const wchar_t* szText) {
    // Four units a step: one branch for the four while all are plain (the
    // test stops at the text's 0, so nothing is read beyond it).
    int i = 0;
    while (IsPlain(szText[i]) && IsPlain(szText[i + 1]) && IsPlain(szText[i + 2]) &&
           IsPlain(szText[i + 3])) {
        i += 4;
    }
    while (IsPlain(szText[i])) {
        ++i;
    }
    return i;
}

int vidozir::xml::EscapeInto(const wchar_t* szText, int nFlags, wchar_t* pOut) {
    return pOut ? Escape(szText, nFlags, WriteTo{pOut}) : Escape(szText, nFlags, CountOnly{});
}

const wchar_t* vidozir::xml::IntText(int nValue, wchar_t (&buf)[12]) {
    unsigned nRest =
        nValue < 0 ? 0u - static_cast<unsigned>(nValue) : static_cast<unsigned>(nValue);
    int i = 11;
    buf[i] = 0;
    // Two digits a step: half the divisions.
    while (nRest >= 10) {
        const unsigned nPair = nRest % 100;
        nRest /= 100;
        buf[--i] = static_cast<wchar_t>(L'0' + nPair % 10);
        buf[--i] = static_cast<wchar_t>(L'0' + nPair / 10);
    }
    if (nRest || i == 11) {
        buf[--i] = static_cast<wchar_t>(L'0' + nRest);
    }
    if (nValue < 0) {
        buf[--i] = L'-';
    }
    return buf + i;
}

CLuStringW CXmlDoc::EscapeText(XML_CSTR szText, int nFlags) {
    CLuStringW strOut;
    const wchar_t* p = szText.pcsz;
    if (!p) {
        return strOut;
    }
    const int nLength = TextLength(p);
    const int nOut = vidozir::xml::EscapeInto(p, nFlags, nullptr);
    // The usual room (a tenth more and a little), or what this text needs.
    wchar_t* pOut = strOut.GetBuffer(std::max(nOut, nLength + nLength / 10 + 7));
    vidozir::xml::EscapeInto(p, nFlags, pOut);
    strOut.ReleaseBuffer(nOut);
    return strOut;
}

CLuStringW CXmlDoc::UnescapeText(XML_CSTR szText, int nTextLength, int nFlags) {
    CLuStringW strOut;
    const wchar_t* p = szText.pcsz;
    if (!p) {
        return strOut;
    }
    if (nTextLength < 0) {
        nTextLength = TextLength(p);
    }
    const bool bSpace = (nFlags & (DocFlagTrimWhitespace | DocFlagCollapseWhitespace)) != 0;
    if (!bSpace && std::find(p, p + nTextLength, L'&') == p + nTextLength) {
        return CLuStringW(p, nTextLength);  // nothing to decode: the text as it is
    }
    // The result is never longer than the text.
    wchar_t* pOut = strOut.GetBuffer(nTextLength);
    int nOut = 0;
    const bool bCollapse = (nFlags & DocFlagCollapseWhitespace) != 0;
    int nSpaceRun = -1;  // start of white space not yet written
    for (int i = 0; i < nTextLength;) {
        const wchar_t c = p[i];
        if (bSpace) {
            if (IsSpace(c)) {
                if (nSpaceRun < 0) {
                    nSpaceRun = i;
                }
                ++i;
                continue;
            }
            if (nSpaceRun >= 0) {
                if (nOut > 0) {  // white space before the first character is dropped
                    if (bCollapse) {
                        pOut[nOut++] = L' ';
                    } else {
                        for (int k = nSpaceRun; k < i; ++k) {
                            pOut[nOut++] = p[k];
                        }
                    }
                }
                nSpaceRun = -1;
            }
        }
        if (c == L'&') {
            int nCode = 0;
            const int nRef = DecodeReference(p + i, nTextLength - i, nCode);
            if (nRef) {
                if (nCode < 0x10000) {
                    pOut[nOut++] = static_cast<wchar_t>(nCode);
                } else {
                    pOut[nOut++] =
                        static_cast<wchar_t>(0xD800 | (((nCode - 0x10000) >> 10) & 0x3FF));
                    pOut[nOut++] = static_cast<wchar_t>(0xDC00 | (nCode & 0x3FF));
                }
                i += nRef;
                continue;
            }
        }
        pOut[nOut++] = c;
        ++i;
    }
    strOut.ReleaseBuffer(nOut);
    return strOut;
}

CLuStringW CXmlDoc::x_EncodeCDATASection(const wchar_t* szData) {
    CLuStringW strOut(L"<![CDATA[");
    if (szData) {
        const wchar_t* pRun = szData;
        const wchar_t* p = szData;
        for (; *p; ++p) {
            if (p[0] == L']' && p[1] == L']' && p[2] == L'>') {
                // Close the section after "]]" and open a new one starting with ">".
                strOut.Append(pRun, static_cast<int>(p - pRun));
                strOut.Append(L"]]]]><![CDATA[>");
                p += 2;
                pRun = p + 1;
            }
        }
        strOut.Append(pRun, static_cast<int>(p - pRun));
    }
    strOut.Append(L"]]>");
    return strOut;
}
