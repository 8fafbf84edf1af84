// The scanner: reads the document text one node at a time, in place.
//
// ScanNode decides a node's kind from its first characters and hands over to
// the scanner of that kind, which runs to the node's terminator. Within a
// start tag the "last two characters" are read back from the text itself:
// they are the characters before the current one, counted only from where
// tracking began (behind the tag name).
#include "markup/xml_internal.h"

#include <initializer_list>

using vidozir::xml::IsSpace;

namespace {

inline bool EndsName(wchar_t c) {
    return IsSpace(c) || c == L'/' || c == L'>';
}

inline bool StartsTagName(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || c == L'_' || c == L':' || static_cast<unsigned>(c) > 0x60;
}

const wchar_t* TagKindName(int nType, bool bDoctype) {
    if (bDoctype) {
        return L"document_type";
    }
    switch (nType) {
        case CXmlDoc::NodeTypeElement:
            return L"start_tag";
        case CXmlDoc::NodeTypeEndTag:
            return L"end_tag";
        case CXmlDoc::NodeTypeCdataSection:
            return L"cdata_section";
        case CXmlDoc::NodeTypeProcessingInstruction:
            return L"processing_instruction";
        case CXmlDoc::NodeTypeComment:
            return L"comment";
        case CXmlDoc::NodeTypeDocumentType:
            return L"document_type";
        default:
            return L"tag";
    }
}

// The plain-text pieces of the kinds below work on the text alone. Each runs
// from i; a true result leaves i behind the node's terminator, a false one on
// the 0 that ends the text.

// A name: up to white space, "/" or ">" (i stays on that character). The
// index is kept in a local so that the loop does not store it each step.
bool ReadName(const wchar_t* p, int& iRef) {
    for (int i = iRef;; ++i) {
        const wchar_t c = p[i];
        if (c > L'>') {  // no character above ">" ends a name
            continue;
        }
        if (EndsName(c) || c == 0) {
            iRef = i;
            return c != 0;
        }
    }
}

// The end of text that goes on at i: on the next "<", behind the next ">", or
// at the end of the text.
int TextEnd(const wchar_t* p, int i) {
    for (;; ++i) {
        const wchar_t c = p[i];
        if (c > L'>') {
            continue;
        }
        if (c == L'<' || c == 0) {
            return i;
        }
        if (c == L'>') {
            return i + 1;
        }
    }
}

// "?>", "-->" or "]]>" (t is the character repeated before the ">"): a ">"
// ends it when the characters before complete the terminator, tested only
// where the ">" lies further into the text than the terminator is long.
bool ToTerminator(const wchar_t* p, int& i, wchar_t t, int nTermLen) {
    for (;; ++i) {
        const wchar_t c = p[i];
        if (c > L'>') {
            continue;
        }
        if (c == L'>') {
            if (i > nTermLen && p[i - 1] == t && (nTermLen == 2 || p[i - 2] == t)) {
                ++i;
                return true;
            }
        } else if (c == 0) {
            return false;
        }
    }
}

// The ">" of an end tag.
bool ToTagClose(const wchar_t* p, int& i) {
    for (;; ++i) {
        const wchar_t c = p[i];
        if (c == L'>') {
            ++i;
            return true;
        }
        if (c == 0) {
            return false;
        }
    }
}

// A markup declaration inside a document type: quotes hide ">".
bool ToDeclarationEnd(const wchar_t* p, int& i) {
    for (wchar_t q = 0;; ++i) {
        const wchar_t c = p[i];
        if (c == 0) {
            return false;
        }
        if (q) {
            if (c == q) {
                q = 0;
            }
        } else if (c == L'"' || c == L'\'') {
            q = c;
        } else if (c == L'>') {
            ++i;
            return true;
        }
    }
}

enum class TagEnd {
    Closed,     // by its ">" (i behind it)
    CutShort,   // an error node, before a "<" (i on it)
    TextEnded,  // i on the 0
};

// A set of characters up to ">" as bits, for loops that stop on one of them;
// every character above ">" passes.
constexpr unsigned long long Bits(std::initializer_list<wchar_t> chars) {
    unsigned long long bits = 0;
    for (const wchar_t c : chars) {
        bits |= 1ull << c;
    }
    return bits;
}
constexpr unsigned long long kSpaces = Bits({L' ', L'\t', L'\n', L'\r'});

inline bool StopsAt(wchar_t c, unsigned long long stops) {
    return static_cast<unsigned>(c) <= L'>' && ((stops >> c) & 1);
}

// The rest of a start tag behind its name, or of an error node: attribute
// values, quoted or not, to the ">" outside quotes; an error node also ends
// before a "<". bEmpty: the start tag ends in "/>".
template <bool bError>
TagEnd ToTagEnd(const wchar_t* p, int& iRef, bool& bEmpty) {
    int i = iRef;          // a local: the loops below do not store it each step
    const int nTrack = i;  // where the last two characters start counting
    auto before = [&](int k) { return k >= nTrack ? p[k] : wchar_t(0); };
    auto done = [&](TagEnd end) {
        iRef = i;
        return end;
    };
    constexpr unsigned long long kCut = bError ? Bits({L'<'}) : 0;
    constexpr unsigned long long kOutside = Bits({0, L'=', L'>'}) | kCut;
    // Outside a value, the end of the text, the tag's ">" or (for an error
    // node) a "<" at i end the scan.
    auto endsHere = [&](wchar_t u, TagEnd& end) {
        if (u == L'>') {
            bEmpty = !bError && before(i - 1) == L'/';
            ++i;
            end = TagEnd::Closed;
            return true;
        }
        end = u == 0 ? TagEnd::TextEnded : TagEnd::CutShort;
        return u == 0 || (bError && u == L'<');
    };
    for (;;) {
        // Outside values only "=" and ">" matter (and the end of the text).
        while (!StopsAt(p[i], kOutside)) {
            ++i;
        }
        wchar_t u = p[i];
        TagEnd end;
        if (endsHere(u, end)) {
            return done(end);
        }
        if (before(i - 1) == L'=') {
            ++i;  // "=" behind "=" starts no value
            continue;
        }
        // After "=": white space passes, another "=" not behind "=" starts
        // the value anew, a quote opens a quoted value, anything else (a
        // second "=" included) begins an unquoted one.
        for (++i;; ++i) {
            u = p[i];
            if (endsHere(u, end)) {
                return done(end);
            }
            if (!IsSpace(u) && (u != L'=' || before(i - 1) == L'=')) {
                break;
            }
        }
        ++i;
        if (u == L'"' || u == L'\'') {
            const unsigned long long kQuoted = Bits({0}) | 1ull << u | kCut;
            while (!StopsAt(p[i], kQuoted)) {
                ++i;
            }
            if (p[i] == 0) {
                return done(TagEnd::TextEnded);
            }
            if (p[i] != u) {
                return done(TagEnd::CutShort);
            }
            ++i;
            continue;
        }
        // An unquoted value runs to white space; a "/" in it does not make
        // the tag empty unless white space or a quote stands before that "/".
        constexpr unsigned long long kUnquoted = kSpaces | Bits({0, L'>'}) | kCut;
        while (!StopsAt(p[i], kUnquoted)) {
            ++i;
        }
        u = p[i];
        if (u == 0) {
            return done(TagEnd::TextEnded);
        }
        if (bError && u == L'<') {
            return done(TagEnd::CutShort);
        }
        if (u == L'>') {
            const wchar_t b2 = before(i - 2);
            bEmpty = !bError && before(i - 1) == L'/' && (IsSpace(b2) || b2 == L'\'' || b2 == L'"');
            ++i;
            return done(TagEnd::Closed);
        }
        ++i;  // the white space that ended the value
    }
}

}  // namespace

bool CXmlDoc::x_NamesEqual(const wchar_t* a, const wchar_t* b, int n, bool bIgnoreCase) {
    // Equal names are the common case: one plain pass over them.
    int k = 0;
    while (k < n && a[k] == b[k]) {
        ++k;
    }
    if (k == n) {
        return true;
    }
    if (!bIgnoreCase) {
        return false;
    }
    bool bForgive = true;
    for (int j = 0; j < k && bForgive; ++j) {
        bForgive = static_cast<unsigned>(a[j]) < 128;
    }
    for (; k < n; ++k) {
        const wchar_t ca = a[k];
        const wchar_t cb = b[k];
        if (ca == cb) {
            if (static_cast<unsigned>(ca) >= 128) {
                bForgive = false;
            }
            continue;
        }
        if (!bForgive || (ca ^ cb) != 0x20) {
            return false;
        }
        const wchar_t lower = ca | 0x20;
        if (lower < L'a' || lower > L'z') {
            return false;
        }
    }
    return true;
}

bool vidozir::xml::ScanClosedStartTag(const wchar_t* p, int i, int& nNameEnd, int& nNext,
                                      bool& bEmpty) {
    ++i;
    if (!StartsTagName(p[i]) || !ReadName(p, i)) {
        return false;
    }
    nNameEnd = i;
    bEmpty = false;
    if (ToTagEnd<false>(p, i, bEmpty) != TagEnd::Closed) {
        return false;
    }
    nNext = i;
    return true;
}

// The scanners of the kinds of markup. Each sets the node's type and the
// scanner's next offset; a tag scanner returns true when the tag was closed
// by its terminator (false: the text ended, or an error node was cut short
// by a "<").
struct CXmlDoc::TokenPos::KindScanners {
    // Text or white space from i.
    static void Text(TokenPos& t, NodePos& node, int i) {
        const wchar_t* p = t.m_pDocText;
        if (IsSpace(p[i])) {
            do {
                ++i;
            } while (IsSpace(p[i]));
            if (p[i] == 0 || p[i] == L'<') {
                node.nNodeType = NodeTypeWhitespace;
                t.m_nNext = i;
                return;
            }
        }
        // The first other character makes the run text, even a ">".
        node.nNodeType = NodeTypeText;
        t.m_nNext = TextEnd(p, i + 1);
    }

    // A tag from just behind its "<": its first characters decide its kind.
    static bool Tag(TokenPos& t, NodePos& node, int i, bool bDoctype) {
        const wchar_t* p = t.m_pDocText;
        const wchar_t c = p[i];
        if (StartsTagName(c)) {
            node.nNodeType = NodeTypeElement;
            return Named(t, node, i, bDoctype) && Body(t, node, t.m_nNext, false, bDoctype);
        }
        switch (c) {
            case L'/':
                node.nNodeType = NodeTypeEndTag;
                if (!Named(t, node, i + 1, bDoctype)) {
                    return false;
                }
                i = t.m_nNext;
                return ToTagClose(p, i) ? Closed(t, i) : Unterminated(t, node, bDoctype, i);
            case L'?':
                node.nNodeType = NodeTypeProcessingInstruction;
                if (!Named(t, node, i + 1, bDoctype)) {
                    return false;
                }
                return Delimited(t, node, t.m_nNext, L'?', 2, bDoctype);
            case L'!':
                return Bang(t, node, i + 1, bDoctype);
            case 0:
                return Unterminated(t, node, bDoctype, i);
            default:
                return Error(t, node, L"first_tag_syntax", i + 1, bDoctype);
        }
    }

    // Behind "<!": a comment, a CDATA section, a document type or, inside
    // one, a markup declaration.
    static bool Bang(TokenPos& t, NodePos& node, int i, bool bDoctype) {
        const wchar_t* p = t.m_pDocText;
        const wchar_t c = p[i];
        if (c == 0) {
            return Unterminated(t, node, bDoctype, i);
        }
        if (c == L'-') {
            return Opened(t, node, i + 1, L'-', NodeTypeComment, L"comment_tag_syntax", bDoctype);
        }
        if (bDoctype) {
            if (c != L'E' && c != L'A' && c != L'N') {
                return Error(t, node, L"doctype_tag_syntax", i + 1, bDoctype);
            }
            node.nNodeType = NodeTypeDocumentType;
            ++i;
            return ToDeclarationEnd(p, i) ? Closed(t, i) : Unterminated(t, node, bDoctype, i);
        }
        if (c == L'[') {
            return Opened(t, node, i + 1, L'C', NodeTypeCdataSection, L"cdata_section_syntax",
                          bDoctype);
        }
        if (c == L'D') {
            return Doctype(t, node, i + 1);
        }
        return Error(t, node, L"exclamation_tag_syntax", i + 1, bDoctype);
    }

    // Behind "<!-" or "<![": the character c2 ("-" or "C") opens a comment or
    // a CDATA section, which runs to its "-->" or "]]>"; anything else is a
    // malformed tag.
    static bool Opened(TokenPos& t, NodePos& node, int i, wchar_t c2, int nType,
                       const wchar_t* szError, bool bDoctype) {
        const wchar_t c = t.m_pDocText[i];
        if (c == c2) {
            node.nNodeType = nType;
            const wchar_t term = nType == NodeTypeComment ? L'-' : L']';
            return Delimited(t, node, i + 1, term, 3, bDoctype);
        }
        return c ? Error(t, node, szError, i + 1, bDoctype) : Unterminated(t, node, bDoctype, i);
    }

    // A document type runs to its ">"; the tags inside it are scanned as
    // they come, and one that ends badly ends the whole node as an error.
    static bool Doctype(TokenPos& t, NodePos& node, int i) {
        const wchar_t* p = t.m_pDocText;
        for (;;) {
            const wchar_t c = p[i];
            if (c == 0) {
                return Unterminated(t, node, true, i);
            }
            ++i;
            if (c == L'>') {
                node.nNodeType = NodeTypeDocumentType;
                return Closed(t, i);
            }
            if (c == L'<') {
                if (!Tag(t, node, i, true)) {
                    return false;
                }
                i = t.m_nNext;
            }
        }
    }

    // A name from i; on success the scanner's name span, next offset behind it.
    static bool Named(TokenPos& t, NodePos& node, int i, bool bDoctype) {
        const int nName = i;
        if (!ReadName(t.m_pDocText, i)) {
            return Unterminated(t, node, bDoctype, i);
        }
        t.m_nL = nName;
        t.m_nR = i - 1;
        t.m_nNext = i;
        return true;
    }

    // A start tag behind its name, or an error node.
    static bool Body(TokenPos& t, NodePos& node, int i, bool bError, bool bDoctype) {
        bool bEmpty = false;
        const TagEnd end = bError ? ToTagEnd<true>(t.m_pDocText, i, bEmpty)
                                  : ToTagEnd<false>(t.m_pDocText, i, bEmpty);
        if (end == TagEnd::TextEnded) {
            return Unterminated(t, node, bDoctype, i);
        }
        if (bEmpty) {
            node.nNodeFlags |= NodeFlagEmptyElement;
        }
        t.m_nNext = i;
        return end == TagEnd::Closed;
    }

    static bool Delimited(TokenPos& t, NodePos& node, int i, wchar_t c, int nTermLen,
                          bool bDoctype) {
        return ToTerminator(t.m_pDocText, i, c, nTermLen) ? Closed(t, i)
                                                          : Unterminated(t, node, bDoctype, i);
    }

    // A malformed tag: the record, then an error node from i.
    static bool Error(TokenPos& t, NodePos& node, const wchar_t* szId, int i, bool bDoctype) {
        x_AppendResult(node.strMeta, szId, nullptr, 0, node.nStart);
        node.nNodeType = NodeTypeScanError;
        return Body(t, node, i, true, bDoctype);
    }

    static bool Closed(TokenPos& t, int i) {
        t.m_nNext = i;
        return true;
    }

    // The text ended inside a tag: an error node up to the end.
    static bool Unterminated(TokenPos& t, NodePos& node, bool bDoctype, int i) {
        x_AppendResult(node.strMeta, L"unterminated_tag_syntax",
                       TagKindName(node.nNodeType, bDoctype), ResultType, node.nStart);
        node.nNodeType = NodeTypeScanError;
        t.m_nNext = i;
        return false;
    }
};

int CXmlDoc::TokenPos::ScanNode(NodePos& node) {
    const int nStart = m_nNext;
    node.nStart = nStart;
    node.nNodeFlags = 0;
    node.nNodeType = NodeTypeScanError;
    if (!node.strMeta.IsEmpty()) {
        node.strMeta.Empty();
    }
    const wchar_t c = m_pDocText[nStart];
    if (c == L'<') {
        KindScanners::Tag(*this, node, nStart + 1, false);
    } else if (c != 0) {
        KindScanners::Text(*this, node, nStart);
    } else {
        node.nNodeType = NodeTypeScanEnd;
    }
    node.nLength = m_nNext - nStart;
    return node.nNodeType;
}

bool CXmlDoc::TokenPos::MatchName(const wchar_t* szName) const {
    if (!szName) {
        return false;
    }
    // A terminator in szName never equals (nor case-matches) a name character,
    // so the comparison stops there.
    const int nLength = Length();
    if (!x_NamesEqual(m_pDocText + m_nL, szName, nLength,
                      (m_nTokenFlags & DocFlagIgnoreCase) != 0)) {
        return false;
    }
    return vidozir::xml::EndsNameStep(szName[nLength]);
}

CLuStringW CXmlDoc::TokenPos::TokenText() const {
    return CLuStringW(m_pDocText + m_nL, Length() > 0 ? Length() : 0);
}

bool CXmlDoc::TokenPos::SkipToTag(int nStart) {
    m_nNext = nStart;
    while (IsSpace(m_pDocText[m_nNext])) {
        ++m_nNext;
    }
    m_nL = m_nNext;
    m_nR = m_nNext - 1;
    return m_pDocText[m_nNext] != 0;
}
