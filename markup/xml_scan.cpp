// The scanner: reads the document text one node at a time, in place.
//
// A node's kind is decided by its first characters; after that a loop
// specialised for the node's terminator runs to its end. Within a start tag
// the "last two characters" are read back from the text itself: they are the
// characters before the current one, counted only from where tracking began
// (behind the tag name).
#include "vidozir/xmldoc.h"

namespace {

inline bool IsSpace(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r';
}

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

// States while a node's kind is still being decided.
enum ScanState : unsigned {
    StateOpen = 1,      // "<" seen
    StateBang = 2,      // "<!" seen
    StateDash = 4,      // "<!-" seen
    StateBracket = 8,   // "<![" seen
    StateDoctype = 16,  // inside a document type declaration
};

}  // namespace

bool CXmlDoc::x_NamesEqual(const wchar_t* a, const wchar_t* b, int n, bool bIgnoreCase) {
    bool bForgive = bIgnoreCase;
    for (int k = 0; k < n; ++k) {
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

int CXmlDoc::TokenPos::ScanNode(NodePos& node) {
    const wchar_t* const p = m_pDocText;
    const int nStart = m_nNext;
    node.nStart = nStart;
    node.nNodeFlags = 0;
    if (!node.strMeta.IsEmpty()) {
        node.strMeta.Empty();
    }
    int i = nStart;
    int nType = NodeTypeScanError;
    unsigned nState = 0;
    bool bDoctype = false;

    auto finish = [&](int nNext) {
        m_nNext = nNext;
        node.nNodeType = nType;
        node.nLength = nNext - nStart;
        return nType;
    };
    auto endOfText = [&]() {
        m_nNext = i;
        if (i == nStart) {
            nType = NodeTypeScanEnd;
            node.nNodeType = nType;
            node.nLength = 0;
            return nType;
        }
        if (!bDoctype && (nType == NodeTypeText || nType == NodeTypeWhitespace)) {
            return finish(i);
        }
        x_AppendResult(node.strMeta, L"unterminated_tag_syntax", TagKindName(nType, bDoctype),
                       ResultType, nStart);
        nType = NodeTypeScanError;
        return finish(i);
    };
    auto syntaxError = [&](const wchar_t* szId) {
        x_AppendResult(node.strMeta, szId, nullptr, 0, nStart);
        nType = NodeTypeScanError;
    };
    // A name starts at i; reads it and returns false at the end of the text.
    auto readName = [&]() {
        const int nName = i;
        for (;; ++i) {
            const wchar_t c = p[i];
            if (c > L'>') {  // no character above ">" ends a name
                continue;
            }
            if (EndsName(c)) {
                break;
            }
            if (c == 0) {
                return false;
            }
        }
        m_nL = nName;
        m_nR = i - 1;
        return true;
    };

    for (;;) {
        // ---- deciding the kind of node ----
        const wchar_t c = p[i];
        if (c == 0) {
            return endOfText();
        }
        ++i;
        if (nState & StateDash) {
            nState = bDoctype ? unsigned(StateDoctype) : 0u;
            if (c == L'-') {
                nType = NodeTypeComment;
            } else {
                syntaxError(L"comment_tag_syntax");
            }
        } else if (nState & StateBracket) {
            nState = 0;
            if (c == L'C') {
                nType = NodeTypeCdataSection;
            } else {
                syntaxError(L"cdata_section_syntax");
            }
        } else if (nState & StateBang) {
            if (c == L'-') {
                nState |= StateDash;
                continue;
            }
            if (bDoctype) {
                nState = StateDoctype;
                if (c == L'E' || c == L'A' || c == L'N') {
                    nType = NodeTypeDocumentType;
                } else {
                    syntaxError(L"doctype_tag_syntax");
                }
            } else if (c == L'[') {
                nState = StateBracket;
                continue;
            } else if (c == L'D') {
                bDoctype = true;
                nState = StateDoctype;
                continue;
            } else {
                nState = 0;
                syntaxError(L"exclamation_tag_syntax");
            }
        } else if (nState & StateOpen) {
            nState &= StateDoctype;
            if (StartsTagName(c)) {
                nType = NodeTypeElement;
                --i;  // the name starts at this character
            } else if (c == L'/') {
                nType = NodeTypeEndTag;
            } else if (c == L'!') {
                nState |= StateBang;
                continue;
            } else if (c == L'?') {
                nType = NodeTypeProcessingInstruction;
            } else {
                syntaxError(L"first_tag_syntax");
            }
        } else if (nState & StateDoctype) {
            if (c == L'<') {
                nState |= StateOpen;
            } else if (c == L'>') {
                nType = NodeTypeDocumentType;
                return finish(i);
            }
            continue;
        } else if (c == L'<') {
            nState = StateOpen;
            continue;
        } else if (IsSpace(c)) {
            while (IsSpace(p[i])) {
                ++i;
            }
            if (p[i] == 0 || p[i] == L'<') {
                nType = NodeTypeWhitespace;
                return finish(i);
            }
            ++i;  // this character makes the run text, even a ">"
            nType = NodeTypeText;
        } else {
            nType = NodeTypeText;
        }

        // ---- running to the terminator of the node's kind ----
        bool bEnded = false;  // terminator found
        switch (nType) {
            case NodeTypeText:
                for (;; ++i) {
                    const wchar_t t = p[i];
                    if (t > L'>') {
                        continue;
                    }
                    if (t == L'<') {
                        return finish(i);
                    }
                    if (t == L'>') {
                        return finish(i + 1);
                    }
                    if (t == 0) {
                        return endOfText();
                    }
                }
            case NodeTypeEndTag:
                if (!readName()) {
                    return endOfText();
                }
                while (p[i] != L'>') {
                    if (p[i] == 0) {
                        return endOfText();
                    }
                    ++i;
                }
                ++i;
                bEnded = true;
                break;
            case NodeTypeProcessingInstruction:
            case NodeTypeComment:
            case NodeTypeCdataSection: {
                if (nType == NodeTypeProcessingInstruction && !readName()) {
                    return endOfText();
                }
                // "?>", "-->" or "]]>": the ">" ends it when the characters
                // before complete the terminator, tested only where the ">"
                // lies further into the text than the terminator is long.
                const wchar_t t = nType == NodeTypeProcessingInstruction ? L'?'
                                  : nType == NodeTypeComment             ? L'-'
                                                                         : L']';
                const int nTermLen = nType == NodeTypeProcessingInstruction ? 2 : 3;
                for (;; ++i) {
                    const wchar_t u = p[i];
                    if (u > L'>') {
                        continue;
                    }
                    if (u == L'>') {
                        if (i > nTermLen && p[i - 1] == t && (nTermLen == 2 || p[i - 2] == t)) {
                            break;
                        }
                    } else if (u == 0) {
                        return endOfText();
                    }
                }
                ++i;
                bEnded = true;
                break;
            }
            case NodeTypeDocumentType:
                // A markup declaration inside the document type: quotes hide ">".
                for (wchar_t q = 0;; ++i) {
                    const wchar_t u = p[i];
                    if (u == 0) {
                        return endOfText();
                    }
                    if (q) {
                        if (u == q) {
                            q = 0;
                        }
                    } else if (u == L'"' || u == L'\'') {
                        q = u;
                    } else if (u == L'>') {
                        break;
                    }
                }
                ++i;
                bEnded = true;
                break;
            default: {  // start tag or error node: attribute values and quotes
                const bool bError = nType == NodeTypeScanError;
                if (!bError && !readName()) {
                    return endOfText();
                }
                const int nTrack = i;  // where the last two characters start counting
                auto before = [&](int k) { return k >= nTrack ? p[k] : wchar_t(0); };
                bool bAfterEq = false;
                for (;; ++i) {
                    wchar_t u = p[i];
                    if (u > L'>' && !bAfterEq) {  // nothing above ">" matters here
                        continue;
                    }
                    if (u == 0) {
                        return endOfText();
                    }
                    if (u == L'>') {
                        if (!bError && before(i - 1) == L'/') {
                            node.nNodeFlags |= NodeFlagEmptyElement;
                        }
                        break;
                    }
                    if (u == L'<' && bError) {
                        return finish(i);
                    }
                    if (u == L'=' && before(i - 1) != L'=') {
                        bAfterEq = true;
                        continue;
                    }
                    if (!bAfterEq || IsSpace(u)) {
                        continue;
                    }
                    bAfterEq = false;
                    if (u == L'"' || u == L'\'') {
                        const wchar_t q = u;
                        for (++i; p[i] != q; ++i) {
                            if (p[i] > L'>') {
                                continue;
                            }
                            if (p[i] == 0) {
                                return endOfText();
                            }
                            if (p[i] == L'<' && bError) {
                                return finish(i);
                            }
                        }
                        continue;
                    }
                    // An unquoted value runs to white space; a "/" in it does
                    // not make the tag empty unless white space or a quote
                    // stands before that "/".
                    for (++i;; ++i) {
                        u = p[i];
                        if (IsSpace(u)) {
                            break;
                        }
                        if (u == 0) {
                            return endOfText();
                        }
                        if (u == L'<' && bError) {
                            return finish(i);
                        }
                        if (u == L'>') {
                            break;
                        }
                    }
                    if (u == L'>') {
                        const wchar_t b2 = before(i - 2);
                        if (!bError && before(i - 1) == L'/' &&
                            (IsSpace(b2) || b2 == L'\'' || b2 == L'"')) {
                            node.nNodeFlags |= NodeFlagEmptyElement;
                        }
                        break;
                    }
                }
                ++i;
                bEnded = true;
                break;
            }
        }
        if (bEnded && !bDoctype) {
            return finish(i);
        }
        // Inside a document type the scan goes on after each inner node.
        nState = StateDoctype;
    }
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
    const wchar_t c = szName[nLength];
    return c == 0 || c == L' ' || c == L'/' || c == L'=' || c == L'[' || c == L']';
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
