// Editing: every change splices the document text once and then repairs the
// element index in place (shifted starts behind the splice, grown or shrunk
// lengths of the elements around it, new or removed links) instead of
// parsing the document again.
#include "markup/xml_internal.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <functional>
#include <optional>

using vidozir::xml::IsSpace;
using vidozir::xml::kLineEnd;
using vidozir::xml::kStreamFlags;
using vidozir::xml::kTokenQuoted;
using vidozir::xml::TextLength;

namespace {

// A piece of text to insert: its units as they are, or escaped under the
// node flags nFlags. Pieces never point into the document text, which the
// splice may move.
struct Piece;
using Pieces = std::initializer_list<Piece>;
struct Piece {
    template <size_t N>
    Piece(const wchar_t (&sz)[N]) : p(sz), n(static_cast<int>(N - 1)) {}
    Piece(const CLuStringW& str) : p(str), n(str.GetLength()) {}
    // A text not known at compile time, as it is or escaped. An escaped one
    // is measured here, once; most texts need no escaping and are then
    // copied as they are.
    static Piece Text(const wchar_t* sz) { return Piece(sz, TextLength(sz), false, 0); }
    static Piece Escaped(const wchar_t* sz, int nFlags) {
        const int nPlain = vidozir::xml::PlainRun(sz);
        return sz[nPlain] ? Piece(sz, vidozir::xml::EscapeInto(sz, nFlags, nullptr), true, nFlags)
                          : Piece(sz, nPlain, false, 0);
    }
    // Field by field: a piece is made by a few small stores and copied into a
    // list right after, and a copy in one wide load would have to wait until
    // those stores are done.
    Piece(const Piece& other)
        : p(other.p), n(other.n), bEscape(other.bEscape), nFlags(other.nFlags) {}
    Piece& operator=(const Piece& other) {
        p = other.p;
        n = other.n;
        bEscape = other.bEscape;
        nFlags = other.nFlags;
        return *this;
    }

    int Length() const { return n; }
    wchar_t* Write(wchar_t* pOut) const;

    const wchar_t* p;
    int n;  // the length written
    bool bEscape = false;
    int nFlags = 0;

private:
    Piece(const wchar_t* sz, int nLength, bool bEscapeIt, int nEscapeFlags)
        : p(sz), n(nLength), bEscape(bEscapeIt), nFlags(nEscapeFlags) {}
};

int LengthOf(Pieces pieces) {
    int n = 0;
    for (const Piece& piece : pieces) {
        n += piece.Length();
    }
    return n;
}

// Most pieces are short ("<", a tag name, "/>", a value): copied in blocks
// of 16 bytes, the last one overlapping the one before, rather than a unit at
// a time or by a library call each.
inline wchar_t* CopyUnits(const wchar_t* p, int n, wchar_t* pOut) {
    constexpr int kBlock = static_cast<int>(16 / sizeof(wchar_t));  // units in 16 bytes
    constexpr int kHalf = kBlock / 2;
    constexpr int kQuarter = kBlock / 4;
    if (n >= kBlock) {
        if (n > 8 * kBlock) {
            return std::copy(p, p + n, pOut);
        }
        for (int i = 0; i < n - kBlock; i += kBlock) {
            std::memcpy(pOut + i, p + i, 16);
        }
        std::memcpy(pOut + n - kBlock, p + n - kBlock, 16);
    } else if (n >= kHalf) {
        std::memcpy(pOut, p, 8);
        std::memcpy(pOut + n - kHalf, p + n - kHalf, 8);
    } else if (n >= kQuarter) {
        std::memcpy(pOut, p, 4);
        std::memcpy(pOut + n - kQuarter, p + n - kQuarter, 4);
    } else if (n) {
        pOut[0] = p[0];
    }
    return pOut + n;
}

inline wchar_t* Piece::Write(wchar_t* pOut) const {
    if (!bEscape) {
        return CopyUnits(p, n, pOut);
    }
    return pOut + vidozir::xml::EscapeInto(p, nFlags, pOut);
}

// The splice of the document text: the nReplace units at nLeft give way to
// nInsert units, which the caller writes at pOut before the splice ends.
struct TextSplice {
    TextSplice(CLuStringW& strDocText, int nLeft, int nReplace, int nInsert)
        : strDoc(strDocText), nNewLength(strDocText.GetLength() - nReplace + nInsert) {
        const int nDocLength = strDoc.GetLength();
        // Growing by half again (plus a little) keeps a run of additions from
        // reallocating every time.
        const int nRequest =
            nNewLength > strDoc.GetAllocLength() ? nNewLength + nNewLength / 2 + 128 : nNewLength;
        wchar_t* pDoc = strDoc.GetBuffer(nRequest);
        const int nTail = nDocLength - nLeft - nReplace;
        if (nTail > 0 && nInsert != nReplace) {
            std::memmove(pDoc + nLeft + nInsert, pDoc + nLeft + nReplace, sizeof(wchar_t) * nTail);
        }
        pOut = pDoc + nLeft;
    }
    ~TextSplice() { strDoc.ReleaseBuffer(nNewLength); }
    TextSplice(const TextSplice&) = delete;
    TextSplice& operator=(const TextSplice&) = delete;

    CLuStringW& strDoc;
    const int nNewLength;
    wchar_t* pOut;
};

// Whether sz points into the buffer of str.
bool PointsInto(const CLuStringW& str, const wchar_t* sz) {
    const wchar_t* pBuffer = str.GetString();
    const std::less<const wchar_t*> before;
    return sz && !before(sz, pBuffer) && before(sz, pBuffer + str.GetAllocLength() + 1);
}

}  // namespace

// ---- text and records ----

void CXmlDoc::x_DocChange(int nLeft, int nReplace, const CLuStringW& strInsert) {
    TextSplice splice(m_strDocText, nLeft, nReplace, strInsert.GetLength());
    CopyUnits(strInsert, strInsert.GetLength(), splice.pOut);
}

void CXmlDoc::x_Adjust(int iPos, int nShift, bool bAfterPos) {
    if (!nShift) {
        return;
    }
    // The segment of the last record read is kept: the next record, nearly
    // always in the same segment, is then one load away instead of two in a
    // row (the walk is a chain of such loads).
    ElemPos* const* const pSegs = m_pElemTable->m_pSegs;
    int nSeg = 0;
    ElemPos* pSeg = pSegs[0];
    auto elem = [&](int i) -> ElemPos& {
        if (i >> ElemPosTable::SegmentBits != nSeg) {
            nSeg = i >> ElemPosTable::SegmentBits;
            pSeg = pSegs[nSeg];
        }
        return pSeg[i & ElemPosTable::SegmentMask];
    };
    int i = iPos;
    // An edit in the last element of each level (a document built in order)
    // moves nothing: up to the first element with a next sibling, every
    // element on the way is an ancestor and only grows.
    const ElemPos* pElem = &elem(i);
    if (bAfterPos || !pElem->iElemChild) {
        while (!pElem->iElemNext) {
            i = pElem->iElemParent;
            ElemPos& ancestor = elem(i);
            ancestor.nLength += nShift;
            if (!i) {
                return;
            }
            pElem = &ancestor;
        }
        bAfterPos = true;
    }
    // Elements that contain i get the change in their length (the next of
    // them up the chain is iAncestor); everything after it moves.
    int iAncestor = pElem->iElemParent;
    bool bDescend = !bAfterPos;
    for (;;) {
        if (bDescend && elem(i).iElemChild) {
            i = elem(i).iElemChild;
            elem(i).nStart += nShift;
            continue;
        }
        bDescend = true;
        while (!elem(i).iElemNext) {
            i = elem(i).iElemParent;
            if (i == iAncestor) {
                elem(i).nLength += nShift;
                if (!i) {
                    return;
                }
                iAncestor = elem(i).iElemParent;
            }
        }
        i = elem(i).iElemNext;
        elem(i).nStart += nShift;
    }
}

void CXmlDoc::x_AdjustForNode(int iPosParent, int iPos, int nShift) {
    if (iPos) {
        x_Adjust(iPos, nShift, true);
        return;
    }
    const int iFirst = ELEM(iPosParent).iElemChild;
    if (iFirst) {
        ELEM(iFirst).nStart += nShift;
        x_Adjust(iFirst, nShift, false);
    } else {
        ELEM(iPosParent).nLength += nShift;
        if (iPosParent) {
            x_Adjust(iPosParent, nShift, true);
        }
    }
}

// Moves the start of iPos and of everything below it by nShift.
void CXmlDoc::x_ShiftStarts(int iPos, int nShift) {
    for (int i = iPos; i; i = x_NextInSubtree(iPos, i)) {
        ELEM(i).nStart += nShift;
    }
}

void CXmlDoc::x_LinkElem(int iPosParent, int iPosBefore, int iPos) {
    ElemPos& elem = ELEM(iPos);
    elem.iElemParent = iPosParent;
    if (iPosBefore) {
        elem.nFlagsLevel &= ~ElemFirst;
        ElemPos& before = ELEM(iPosBefore);
        const int iNext = before.iElemNext;
        elem.iElemNext = iNext;
        elem.iElemPrev = iPosBefore;
        before.iElemNext = iPos;
        if (iNext) {
            ELEM(iNext).iElemPrev = iPos;
        } else {
            ELEM(ELEM(iPosParent).iElemChild).iElemPrev = iPos;
        }
    } else {
        const int iFirst = ELEM(iPosParent).iElemChild;
        if (iFirst) {
            ElemPos& first = ELEM(iFirst);
            elem.iElemPrev = first.iElemPrev;
            first.iElemPrev = iPos;
            first.nFlagsLevel &= ~ElemFirst;
        } else {
            elem.iElemPrev = iPos;
        }
        elem.iElemNext = iFirst;
        elem.nFlagsLevel |= ElemFirst;
        ELEM(iPosParent).iElemChild = iPos;
    }
    if (iPosParent) {
        elem.SetLevel(ELEM(iPosParent).Level() + 1);
    }
}

int CXmlDoc::x_UnlinkElem(int iPos) {
    ElemPos& elem = ELEM(iPos);
    ElemPos& parent = ELEM(elem.iElemParent);
    const int iNext = elem.iElemNext;
    if (elem.nFlagsLevel & ElemFirst) {
        parent.iElemChild = iNext;
        if (iNext) {
            ELEM(iNext).iElemPrev = elem.iElemPrev;
            ELEM(iNext).nFlagsLevel |= ElemFirst;
        }
        return 0;
    }
    const int iPrev = elem.iElemPrev;
    ELEM(iPrev).iElemNext = iNext;
    if (iNext) {
        ELEM(iNext).iElemPrev = iPrev;
    } else {
        ELEM(parent.iElemChild).iElemPrev = iPrev;
    }
    return iPrev;
}

int CXmlDoc::x_ReleaseSubDoc(int iPos) {
    // Depth first: the deepest first descendant goes first, then its
    // siblings' subtrees, then their parent.
    int i = iPos;
    while (ELEM(i).iElemChild) {
        i = ELEM(i).iElemChild;
    }
    for (;;) {
        const int iParent = ELEM(i).iElemParent;
        const bool bTop = i == iPos;
        const int iNext = x_ReleasePos(i);
        if (bTop) {
            return iNext;
        }
        if (iNext) {
            i = iNext;
            while (ELEM(i).iElemChild) {
                i = ELEM(i).iElemChild;
            }
        } else {
            i = iParent;
        }
    }
}

bool CXmlDoc::x_CreateNode(CLuStringW& strNode, int nNodeType, const wchar_t* szText) {
    strNode.Empty();
    switch (nNodeType) {
        case NodeTypeElement:
            strNode = CLuStringW(L"<") + szText + L"/>";
            break;
        case NodeTypeText:
        case NodeTypeWhitespace:
            strNode = EscapeText(szText, 0);
            break;
        case NodeTypeCdataSection:
            if (std::wcsstr(szText, L"]]>")) {
                return false;
            }
            strNode = CLuStringW(L"<![CDATA[") + szText + L"]]>";
            break;
        case NodeTypeProcessingInstruction:
            strNode = CLuStringW(L"<?") + szText + L"?>";
            break;
        case NodeTypeComment:
            strNode = CLuStringW(L"<!--") + szText + L"-->";
            break;
        case NodeTypeDocumentType:
            strNode = szText;
            break;
        case NodeTypeLoneEndTag:
            strNode = CLuStringW(L"</") + szText + L">";
            break;
        default:
            break;
    }
    return true;
}

// ---- placing new text ----

struct CXmlDoc::TextPieces {
    Pieces pieces;
};

int CXmlDoc::x_InsertNew(int iPosParent, int& iPosRel, NodePos& node) {
    return x_InsertNew(iPosParent, iPosRel, node, TextPieces{{node.strMeta}});
}

int CXmlDoc::x_InsertNew(int iPosParent, int& iPosRel, NodePos& node, const TextPieces& text) {
    const int nFlags = node.nNodeFlags;
    const bool bInsert = (nFlags & NodeInsert) != 0;
    const bool bReplace = (nFlags & NodeReplace) != 0;
    const bool bNoLines = (nFlags & NodeWithNoLines) != 0;
    const wchar_t* p = m_strDocText;
    // The document level has no tags: it is never an empty or contentless
    // parent, so a first element goes in as "<root/>" and a line end.
    // Read in place: a copy in wide loads would wait for the small stores
    // the last edit made to this record. Nothing below changes it before
    // its last use.
    const ElemPos& parent = ELEM(iPosParent);
    const bool bEmptyParent = iPosParent && parent.IsEmptyElement();
    const bool bContentless = iPosParent && !bEmptyParent && parent.ContentLen() == 0;
    const bool bNonEnded =
        bEmptyParent && ((parent.nFlagsLevel & ElemNonEnded) || p[parent.StartAfter() - 2] != L'/');

    int nOffset;
    if (iPosRel && !node.nLength) {
        nOffset = bInsert ? ELEM(iPosRel).nStart : ELEM(iPosRel).StartAfter();
    } else if (bEmptyParent) {
        // The "/" of "/>", or in front of the ">" of a start tag without end tag.
        nOffset = parent.StartAfter() - (bNonEnded ? 1 : 2);
    } else if (node.nLength) {
        nOffset = bInsert ? node.nStart : node.nStart + node.nLength;
    } else {
        nOffset = (bInsert || bReplace) ? parent.StartContent() : parent.StartEndTag();
    }
    if (!bNoLines && !bReplace && !bEmptyParent) {
        int i = nOffset;
        while (IsSpace(p[i])) {
            ++i;
        }
        if (p[i] == L'<' || p[i] == 0) {
            nOffset = i;
        }
    }
    if (node.nLength && !bEmptyParent) {
        iPosRel = x_ElemBefore(iPosParent, iPosRel, nOffset);
    } else if (!node.nLength) {
        if (!iPosRel && !bInsert) {
            const int iFirst = parent.iElemChild;
            iPosRel = iFirst ? ELEM(iFirst).iElemPrev : 0;
        } else if (iPosRel && bInsert) {
            iPosRel = (ELEM(iPosRel).nFlagsLevel & ElemFirst) ? 0 : ELEM(iPosRel).iElemPrev;
        }
    }

    node.nLength = LengthOf(text.pieces);
    const Piece lineEnd = bNoLines ? Piece(L"") : Piece(kLineEnd);
    Piece prefix = L"";
    int nReplace = 0;
    std::optional<CLuStringW> strName;  // a split parent's name, for its new end tag
    int nEndTag = 0;
    if (bEmptyParent) {
        prefix = bNoLines ? Piece(L">") : Piece(L">\r\n");
        strName.emplace(x_GetTagName(iPosParent));
        nEndTag = strName->GetLength() + 2;  // "</" and the name, closed by the old ">"
        ElemPos& split = ELEM(iPosParent);
        if (bNonEnded) {
            split.nFlagsLevel &= ~ElemNonEnded;
        } else {
            nReplace = 1;
            split.SetStartTagLen(split.StartTagLen() - 1);
        }
        split.SetEndTagLen(nEndTag + 1);
    } else if (bReplace) {
        nReplace = parent.ContentLen();
    } else if (bContentless) {
        prefix = lineEnd;
    }
    {
        TextSplice splice(m_strDocText, nOffset, nReplace,
                          prefix.n + node.nLength + lineEnd.n + nEndTag);
        wchar_t* pOut = prefix.Write(splice.pOut);
        for (const Piece& piece : text.pieces) {
            pOut = piece.Write(pOut);
        }
        pOut = lineEnd.Write(pOut);
        if (bEmptyParent) {
            CopyUnits(*strName, strName->GetLength(), CopyUnits(L"</", 2, pOut));
        }
    }
    node.nStart = nOffset + prefix.n;
    return nReplace;
}

// ---- elements ----

// Where an element or subdocument goes: one level down (under the main
// element, next to the child) or beside the main element or current node.
void CXmlDoc::x_EditTarget(int nFlags, int& iPosParent, int& iPosBefore, NodePos& node) const {
    if (nFlags & NodeChild) {
        iPosParent = m_iMainPos;
        iPosBefore = m_iChildPos;
    } else {
        iPosParent = m_iParentPos;
        iPosBefore = m_iMainPos;
        node.nStart = m_nNodeStart;
        node.nLength = m_nNodeLength;
    }
}

bool CXmlDoc::x_AddElem(const wchar_t* szName, const wchar_t* szValue, int nFlags) {
    if (!szName || !*szName) {
        return false;
    }
    const bool bValue = szValue && *szValue;
    if (((nFlags & NodeWithNoEnd) && bValue) || ((nFlags & NodeChild) && !m_iMainPos)) {
        return false;
    }
    int iPosParent, iPosBefore;
    NodePos node(nFlags);
    x_EditTarget(nFlags, iPosParent, iPosBefore, node);
    const Piece name = Piece::Text(szName);
    Piece close = L"/>";
    int nStartTag, nEndTag = 0, nElemFlags = 0;
    if (nFlags & NodeWithNoEnd) {
        close = L">";
        nElemFlags = ElemNonEnded;
    } else if (nFlags & NodeWithXhtmlSpace) {
        close = L" />";
    }
    std::optional<CLuStringW> strCdata;  // made only when needed
    const Piece value = !bValue ? Piece(L"")
                        : (nFlags & NodeWithCdata)
                            ? Piece(strCdata.emplace(x_EncodeCDATASection(szValue)))
                            : Piece::Escaped(szValue, nFlags);
    int nLength;
    if (bValue) {
        nStartTag = name.n + 2;
        nEndTag = name.n + 3;
        nLength = nStartTag + value.n + nEndTag;
    } else {
        nStartTag = nLength = name.n + 1 + close.n;
    }
    if (nStartTag > ElemStartTagMax || nEndTag > ElemEndTagMax) {
        return false;
    }
    const int iPos = x_GetFreePos();
    ElemPos& elem = ELEM(iPos);  // found before the placement, which cannot move it
    const int nDocLength = m_strDocText.GetLength();
    // "<name/>" (or its variants) without a value; with one, start tag,
    // value and end tag.
    if (bValue) {
        x_InsertNew(iPosParent, iPosBefore, node,
                    TextPieces{{L"<", name, L">", value, L"</", name, L">"}});
    } else {
        x_InsertNew(iPosParent, iPosBefore, node, TextPieces{{L"<", name, close}});
    }
    elem.nStart = node.nStart;
    elem.nLength = nLength;
    elem.nTagLengths = 0;
    elem.SetStartTagLen(nStartTag);
    elem.SetEndTagLen(nEndTag);
    elem.nFlagsLevel = nElemFlags;
    elem.iElemChild = 0;
    x_LinkElem(iPosParent, iPosBefore, iPos);
    x_Adjust(iPos, m_strDocText.GetLength() - nDocLength, true);
    if (nFlags & NodeChild) {
        x_SetPos(m_iParentPos, m_iMainPos, iPos);
    } else {
        x_SetPos(iPosParent, iPos, 0);
    }
    return true;
}

bool CXmlDoc::x_AddElem(const wchar_t* szName, int nValue, int nFlags) {
    wchar_t buf[12];
    return x_AddElem(szName, vidozir::xml::IntText(nValue, buf), nFlags);
}

bool CXmlDoc::AddElem(XML_CSTR szName, XML_CSTR szValue, int nFlags) {
    return x_AddElem(szName, szValue, nFlags);
}
bool CXmlDoc::AddElem(XML_CSTR szName, int nValue, int nFlags) {
    return x_AddElem(szName, nValue, nFlags);
}
bool CXmlDoc::InsertElem(XML_CSTR szName, XML_CSTR szValue, int nFlags) {
    return x_AddElem(szName, szValue, nFlags | NodeInsert);
}
bool CXmlDoc::InsertElem(XML_CSTR szName, int nValue, int nFlags) {
    return x_AddElem(szName, nValue, nFlags | NodeInsert);
}
bool CXmlDoc::AddChildElem(XML_CSTR szName, XML_CSTR szValue, int nFlags) {
    return x_AddElem(szName, szValue, nFlags | NodeChild);
}
bool CXmlDoc::AddChildElem(XML_CSTR szName, int nValue, int nFlags) {
    return x_AddElem(szName, nValue, nFlags | NodeChild);
}
bool CXmlDoc::InsertChildElem(XML_CSTR szName, XML_CSTR szValue, int nFlags) {
    return x_AddElem(szName, szValue, nFlags | NodeChild | NodeInsert);
}
bool CXmlDoc::InsertChildElem(XML_CSTR szName, int nValue, int nFlags) {
    return x_AddElem(szName, nValue, nFlags | NodeChild | NodeInsert);
}

// ---- nodes ----

bool CXmlDoc::x_AddNode(int nNodeType, const wchar_t* szText, int nNodeFlags) {
    if (!szText) {
        return false;
    }
    NodePos node(nNodeFlags);
    // A type with no text of its own (or an empty text) would leave the
    // cursor on a node of no length, which reads as no node at all: refused.
    if (!x_CreateNode(node.strMeta, nNodeType, szText) || node.strMeta.IsEmpty()) {
        return false;
    }
    if (nNodeType != NodeTypeProcessingInstruction && nNodeType != NodeTypeComment &&
        nNodeType != NodeTypeDocumentType) {
        node.nNodeFlags |= NodeWithNoLines;
    }
    const bool bElement = nNodeType == NodeTypeElement;
    if (bElement && node.strMeta.GetLength() > ElemStartTagMax) {
        return false;
    }
    const int iPos = bElement ? x_GetFreePos() : 0;
    const int iPosParent = m_iParentPos;
    int iPosBefore = m_iMainPos;
    node.nStart = m_nNodeStart;
    node.nLength = m_nNodeLength;
    const int nDocLength = m_strDocText.GetLength();
    x_InsertNew(iPosParent, iPosBefore, node);
    const int nShift = m_strDocText.GetLength() - nDocLength;
    if (bElement) {
        ElemPos& elem = ELEM(iPos);
        elem.nStart = node.nStart;
        elem.nLength = node.nLength;
        elem.nTagLengths = 0;
        elem.SetStartTagLen(node.nLength);
        elem.nFlagsLevel = 0;
        elem.iElemChild = 0;
        x_LinkElem(iPosParent, iPosBefore, iPos);
        x_AdjustForNode(iPosParent, iPos, nShift);
        x_SetPos(iPosParent, iPos, 0);
        return true;
    }
    x_AdjustForNode(iPosParent, iPosBefore, nShift);
    x_SetNodePos(iPosBefore, nNodeType, node.nStart, node.nLength);
    return true;
}

bool CXmlDoc::AddNode(int nType, XML_CSTR szText) {
    return x_AddNode(nType, szText, 0);
}
bool CXmlDoc::InsertNode(int nType, XML_CSTR szText) {
    return x_AddNode(nType, szText, NodeInsert);
}

// ---- subdocuments and content ----

// Parses szText by itself under a new temporary record at nLevel; the parse
// records go into the result text. Returns the temporary record.
int CXmlDoc::x_ParseFragment(const wchar_t* szText, int nLevel) {
    const int iPosVirtual = x_GetFreePos();
    ElemPos& virt = ELEM(iPosVirtual);
    virt.Clear();
    virt.SetLevel(nLevel);
    TokenPos token(szText, m_nDocFlags);
    x_ParseElem(iPosVirtual, token);
    return iPosVirtual;
}

bool CXmlDoc::x_AddSubDoc(const wchar_t* szSubDoc, int nFlags) {
    if (!szSubDoc) {
        return false;
    }
    m_strResultText.Empty();
    if ((nFlags & NodeChild) && !m_iMainPos) {
        return false;
    }
    int iPosParent, iPosBefore;
    NodePos node(nFlags);
    x_EditTarget(nFlags, iPosParent, iPosBefore, node);
    // Elements at the document level are level 0, like a parse gives them.
    const int nLevel = iPosParent ? ELEM(iPosParent).Level() + 1 : 0;
    const int iPosVirtual = x_ParseFragment(szSubDoc, nLevel);
    const int nVirtualFlags = ELEM(iPosVirtual).nFlagsLevel;
    const int iPosFirst = ELEM(iPosVirtual).iElemChild;
    if (nVirtualFlags & ElemIllData) {
        ELEM(iPosParent).nFlagsLevel |= ElemIllData;
    }
    const bool bWellFormed = iPosFirst && !(nVirtualFlags & ElemIllFormed);
    bool bResult = bWellFormed;
    int nSpanStart = 0;
    int nSpanEnd = static_cast<int>(std::wcslen(szSubDoc));
    if (bWellFormed) {
        nSpanStart = ELEM(iPosFirst).nStart;
        nSpanEnd = ELEM(ELEM(iPosFirst).iElemPrev).StartAfter();
        bResult = !ELEM(iPosFirst).iElemNext;
    } else {
        node.nNodeFlags |= NodeWithNoLines;
    }
    node.strMeta = CLuStringW(szSubDoc + nSpanStart, nSpanEnd - nSpanStart);
    const int nDocLength = m_strDocText.GetLength();
    x_InsertNew(iPosParent, iPosBefore, node);
    const int nShift = m_strDocText.GetLength() - nDocLength;
    const int nDelta = node.nStart - nSpanStart;
    int iPosLast = 0;
    for (int i = iPosFirst; i;) {
        const int iNext = ELEM(i).iElemNext;
        x_ShiftStarts(i, nDelta);
        x_LinkElem(iPosParent, iPosBefore, i);
        iPosBefore = i;
        iPosLast = i;
        i = iNext;
    }
    x_ReleasePos(iPosVirtual);
    if (iPosLast) {
        x_Adjust(iPosLast, nShift, true);
    } else {
        // Nothing was linked: the text went in as a node behind iPosBefore,
        // the last element before the insertion point.
        x_AdjustForNode(iPosParent, iPosBefore, nShift);
    }
    if (nFlags & NodeChild) {
        x_SetPos(m_iParentPos, m_iMainPos, iPosFirst);
    } else {
        x_SetPos(iPosParent, iPosFirst, 0);
    }
    return bResult;
}

bool CXmlDoc::AddSubDoc(XML_CSTR szSubDoc) {
    return x_AddSubDoc(szSubDoc, 0);
}
bool CXmlDoc::InsertSubDoc(XML_CSTR szSubDoc) {
    return x_AddSubDoc(szSubDoc, NodeInsert);
}
bool CXmlDoc::AddChildSubDoc(XML_CSTR szSubDoc) {
    return x_AddSubDoc(szSubDoc, NodeChild);
}
bool CXmlDoc::InsertChildSubDoc(XML_CSTR szSubDoc) {
    return x_AddSubDoc(szSubDoc, NodeChild | NodeInsert);
}

bool CXmlDoc::x_SetElemContent(const wchar_t* szContent) {
    if ((m_nDocFlags & kStreamFlags) || !m_iMainPos || m_nNodeType != NodeTypeElement) {
        return false;
    }
    if (!szContent) {
        szContent = L"";
    }
    m_strResultText.Empty();
    const int iPos = m_iMainPos;
    const int iFirstOld = ELEM(iPos).iElemChild;
    for (int i = iFirstOld; i;) {
        i = x_ReleaseSubDoc(i);
    }
    ELEM(iPos).iElemChild = 0;
    if (iFirstOld) {
        x_CheckSavedPos();
    }
    const int iPosVirtual = x_ParseFragment(szContent, ELEM(iPos).Level() + 1);
    const int nVirtualFlags = ELEM(iPosVirtual).nFlagsLevel;
    ElemPos& elem = ELEM(iPos);
    elem.nFlagsLevel = (elem.nFlagsLevel & ~ElemIllData) | (nVirtualFlags & ElemIllData);
    NodePos node(NodeReplace | NodeWithNoLines);
    node.strMeta = szContent;
    int iPosRel = 0;
    const int nDocLength = m_strDocText.GetLength();
    x_InsertNew(iPos, iPosRel, node);
    const int nShift = m_strDocText.GetLength() - nDocLength;
    const int iFirst = ELEM(iPosVirtual).iElemChild;
    for (int i = iFirst; i; i = ELEM(i).iElemNext) {
        x_ShiftStarts(i, node.nStart);
        ELEM(i).iElemParent = iPos;
    }
    ELEM(iPos).iElemChild = iFirst;
    ELEM(iPos).nLength += nShift;
    x_ReleasePos(iPosVirtual);
    x_Adjust(iPos, nShift, true);
    x_SetPos(m_iParentPos, iPos, 0);
    return !(nVirtualFlags & ElemIllFormed);
}

bool CXmlDoc::SetElemContent(XML_CSTR szContent) {
    return x_SetElemContent(szContent);
}

// ---- attributes ----

bool CXmlDoc::x_SetAttrib(int iPos, const wchar_t* szAttrib, const wchar_t* szValue, int nFlags) {
    if (!szAttrib || !*szAttrib) {
        return false;
    }
    TokenPos token(m_strDocText, m_nDocFlags);
    bool bNode = false;
    int nTagEnd;
    // The record, found once: the calls below cannot move it, and finding it
    // again after them is a chain of loads the search's work does not hide.
    ElemPos* pElem = nullptr;
    if (iPos && m_nNodeType == NodeTypeElement) {
        pElem = &ELEM(iPos);
        token.m_nNext = pElem->nStart + 1;
        nTagEnd = pElem->nStart + pElem->StartTagLen();
    } else if (iPos == m_iMainPos && m_nNodeType == NodeTypeProcessingInstruction) {
        token.m_nNext = m_nNodeStart + 2;
        nTagEnd = m_nNodeStart + m_nNodeLength;
        bNode = true;
    } else {
        return false;
    }
    // Name and value are written straight into the text; one taken from the
    // text itself is copied first, since the splice moves the text.
    std::optional<CLuStringW> strOwnName, strOwnValue;  // made only when needed
    if (PointsInto(m_strDocText, szAttrib)) {
        szAttrib = strOwnName.emplace(szAttrib);
    }
    if (PointsInto(m_strDocText, szValue)) {
        szValue = strOwnValue.emplace(szValue);
    }
    // The value goes in escaped, quotes included, in double quotes.
    const Piece value = Piece::Escaped(szValue ? szValue : L"", nFlags | NodeEscapeQuotes);
    Piece lead = L"\"";
    Piece name = L"";
    Piece equals = L"";
    int nInsertAt, nReplace = 0;
    const wchar_t* p = m_strDocText;
    // A new attribute of a tag in the shape this class writes (an element
    // just added) is placed without the full search.
    const int nPlainEnd =
        bNode || (m_nDocFlags & DocFlagIgnoreCase)
            ? -1
            : vidozir::xml::PlainTagEnd(p, token.m_nNext, m_strDocText.GetLength(), szAttrib[0]);
    if (nPlainEnd >= 0) {
        token.m_nNext = nPlainEnd;
    }
    if (nPlainEnd < 0 && x_FindAttrib(token, szAttrib, 0, m_strDocText.GetLength())) {
        nInsertAt = token.m_nL;
        nReplace = token.Length();
        int i = token.m_nL - 1;
        while (i >= 0 && IsSpace(p[i]) && !(token.m_nTokenFlags & kTokenQuoted)) {
            --i;
        }
        if (token.m_nTokenFlags & kTokenQuoted) {
            // The value with its quotes (an unclosed one has no closing quote).
            const wchar_t quote = p[token.m_nL - 1];
            --nInsertAt;
            nReplace += p[token.m_nR + 1] == quote ? 2 : 1;
        } else if (i < 0 || p[i] != L'=') {
            // A bare name keeps its place and gets the value behind it.
            nInsertAt = token.m_nR + 1;
            nReplace = 0;
            lead = L"=\"";
        }
    } else {
        nInsertAt = token.m_nNext;
        lead = L" ";
        name = Piece::Text(szAttrib);
        equals = L"=\"";
    }
    // The search reads quotes that the scanner did not ("<r='>", where the
    // quote belongs to the tag name, or a quote in a processing instruction):
    // an unclosed one runs past the tag. A change there would land outside
    // the tag that the index records, so it is refused.
    if (nInsertAt + nReplace >= nTagEnd) {
        return false;
    }
    const int nInsert = lead.n + name.n + equals.n + value.n + 1;
    const int nShift = nInsert - nReplace;
    if (!bNode && pElem->StartTagLen() + nShift > ElemStartTagMax) {
        return false;
    }
    {
        TextSplice splice(m_strDocText, nInsertAt, nReplace, nInsert);
        wchar_t* pOut = CopyUnits(lead.p, lead.n, splice.pOut);
        pOut = CopyUnits(equals.p, equals.n, CopyUnits(name.p, name.n, pOut));
        *value.Write(pOut) = L'"';
    }
    if (!bNode) {
        ElemPos& elem = *pElem;
        elem.SetStartTagLen(elem.StartTagLen() + nShift);
        elem.nLength += nShift;
        x_Adjust(iPos, nShift, false);
    } else {
        m_nNodeLength += nShift;
        x_AdjustForNode(m_iParentPos, x_ElemBefore(m_iParentPos, m_iMainPos, nInsertAt), nShift);
    }
    return true;
}

bool CXmlDoc::x_SetAttrib(int iPos, const wchar_t* szAttrib, int nValue, int nFlags) {
    wchar_t buf[12];
    return x_SetAttrib(iPos, szAttrib, vidozir::xml::IntText(nValue, buf), nFlags);
}

bool CXmlDoc::SetAttrib(XML_CSTR szAttrib, XML_CSTR szValue, int nFlags) {
    return x_SetAttrib(m_iMainPos, szAttrib, szValue, nFlags);
}
bool CXmlDoc::SetAttrib(XML_CSTR szAttrib, int nValue, int nFlags) {
    return x_SetAttrib(m_iMainPos, szAttrib, nValue, nFlags);
}
bool CXmlDoc::SetChildAttrib(XML_CSTR szAttrib, XML_CSTR szValue, int nFlags) {
    return m_iChildPos && x_SetAttrib(m_iChildPos, szAttrib, szValue, nFlags);
}
bool CXmlDoc::SetChildAttrib(XML_CSTR szAttrib, int nValue, int nFlags) {
    return m_iChildPos && x_SetAttrib(m_iChildPos, szAttrib, nValue, nFlags);
}
bool CXmlDoc::AddAttrib(XML_CSTR szAttrib, XML_CSTR szValue) {
    return x_SetAttrib(m_iMainPos, szAttrib, szValue, 0);
}
bool CXmlDoc::AddAttrib(XML_CSTR szAttrib, int nValue) {
    return x_SetAttrib(m_iMainPos, szAttrib, nValue, 0);
}
bool CXmlDoc::AddChildAttrib(XML_CSTR szAttrib, XML_CSTR szValue) {
    return m_iChildPos && x_SetAttrib(m_iChildPos, szAttrib, szValue, 0);
}
bool CXmlDoc::AddChildAttrib(XML_CSTR szAttrib, int nValue) {
    return m_iChildPos && x_SetAttrib(m_iChildPos, szAttrib, nValue, 0);
}

// ---- data ----

bool CXmlDoc::x_SetData(int iPos, const wchar_t* szData, int nFlags) {
    if (!szData) {
        szData = L"";
    }
    if (iPos == m_iMainPos && m_nNodeType > NodeTypeElement) {
        CLuStringW strNode;
        // As when adding a node: a node cannot be rewritten to nothing.
        if (!x_CreateNode(strNode, m_nNodeType, szData) || strNode.IsEmpty()) {
            return false;
        }
        x_ReleaseHidden(m_iParentPos, m_iMainPos, m_nNodeStart, m_nNodeStart + m_nNodeLength);
        x_DocChange(m_nNodeStart, m_nNodeLength, strNode);
        x_AdjustForNode(m_iParentPos, m_iMainPos, strNode.GetLength() - m_nNodeLength);
        m_nNodeLength = strNode.GetLength();
        return true;
    }
    if (!iPos || ELEM(iPos).iElemChild) {
        return false;
    }
    NodePos node(NodeReplace | NodeWithNoLines);
    node.strMeta =
        (nFlags & NodeWithCdata) ? x_EncodeCDATASection(szData) : EscapeText(szData, nFlags);
    int iPosRel = 0;
    const int nDocLength = m_strDocText.GetLength();
    x_InsertNew(iPos, iPosRel, node);
    const int nShift = m_strDocText.GetLength() - nDocLength;
    ElemPos& elem = ELEM(iPos);
    elem.nLength += nShift;
    elem.nFlagsLevel &= ~ElemIllData;
    x_Adjust(iPos, nShift, true);
    return true;
}

bool CXmlDoc::x_SetData(int iPos, int nValue) {
    wchar_t buf[12];
    return x_SetData(iPos, vidozir::xml::IntText(nValue, buf), 0);
}

bool CXmlDoc::SetData(XML_CSTR szData, int nFlags) {
    return x_SetData(m_iMainPos, szData, nFlags);
}
bool CXmlDoc::SetData(int nValue) {
    return x_SetData(m_iMainPos, nValue);
}
bool CXmlDoc::SetChildData(XML_CSTR szData, int nFlags) {
    return m_iChildPos && x_SetData(m_iChildPos, szData, nFlags);
}
bool CXmlDoc::SetChildData(int nValue) {
    return m_iChildPos && x_SetData(m_iChildPos, nValue);
}

// ---- removal ----

int CXmlDoc::x_RemoveElem(int iPos) {
    const int nStart = ELEM(iPos).nStart;
    const int nLength = x_EndWithSpace(iPos) - nStart;
    x_DocChange(nStart, nLength, CLuStringW());
    x_Adjust(iPos, -nLength, true);
    const int iPrev = x_UnlinkElem(iPos);
    x_ReleaseSubDoc(iPos);
    x_CheckSavedPos();
    return iPrev;
}

bool CXmlDoc::RemoveElem() {
    if ((m_nDocFlags & kStreamFlags) || !m_iMainPos || m_nNodeType != NodeTypeElement) {
        return false;
    }
    const int iPrev = x_RemoveElem(m_iMainPos);
    x_SetPos(m_iParentPos, iPrev, 0);
    return true;
}

bool CXmlDoc::RemoveChildElem() {
    if ((m_nDocFlags & kStreamFlags) || !m_iChildPos) {
        return false;
    }
    const int iPrev = x_RemoveElem(m_iChildPos);
    x_SetPos(m_iParentPos, m_iMainPos, iPrev);
    return true;
}

// Elements the index holds inside the text of a node that goes away or is
// rewritten (see x_ElemBefore) go with it; iPos becomes the last element
// before the node.
void CXmlDoc::x_ReleaseHidden(int iPosParent, int& iPos, int nStart, int nEnd) {
    iPos = x_ElemBefore(iPosParent, iPos, nStart);
    bool bReleased = false;
    for (int i = iPos ? ELEM(iPos).iElemNext : ELEM(iPosParent).iElemChild;
         i && ELEM(i).nStart < nEnd;) {
        x_UnlinkElem(i);
        i = x_ReleaseSubDoc(i);
        bReleased = true;
    }
    if (bReleased) {
        x_CheckSavedPos();
    }
}

// Whether the parent's content scans to its end with no malformed node and no
// lone end tag, passing over its element children.
bool CXmlDoc::x_ContentScansClean(int iPosParent) const {
    const ElemPos& parent = ELEM(iPosParent);
    const int nEnd = parent.StartEndTag();
    TokenPos token(m_strDocText, m_nDocFlags);
    token.m_nNext = parent.StartContent();
    NodePos node;
    int iChild = parent.iElemChild;
    while (token.m_nNext < nEnd) {
        const int nType = token.ScanNode(node);
        if (nType == NodeTypeScanEnd) {
            break;
        }
        if (nType == NodeTypeElement && iChild) {
            token.m_nNext = ELEM(iChild).StartAfter();
            iChild = ELEM(iChild).iElemNext;
        } else if (nType == NodeTypeScanError || nType == NodeTypeEndTag ||
                   nType == NodeTypeElement) {
            return false;
        }
    }
    return true;
}

void CXmlDoc::x_RemoveNode(int iPosParent, int& iPos, int& nNodeType, int& nNodeOffset,
                           int& nNodeLength) {
    const int nRemovedType = nNodeType;
    int iPosBefore = iPos;  // the last element before the removed text
    if (nNodeType == NodeTypeElement) {
        nNodeOffset = ELEM(iPos).nStart;
        nNodeLength = ELEM(iPos).nLength;
        x_Adjust(iPos, -nNodeLength, true);
        iPosBefore = x_UnlinkElem(iPos);
        x_ReleaseSubDoc(iPos);
        x_CheckSavedPos();
    } else {
        x_ReleaseHidden(iPosParent, iPosBefore, nNodeOffset, nNodeOffset + nNodeLength);
        x_AdjustForNode(iPosParent, iPosBefore, -nNodeLength);
    }
    x_DocChange(nNodeOffset, nNodeLength, CLuStringW());

    // The cursor goes to the node just before the removed one.
    const ElemPos& parent = ELEM(iPosParent);
    const int iPosNext = iPosBefore ? ELEM(iPosBefore).iElemNext : parent.iElemChild;
    const int nContentEnd = iPosNext ? ELEM(iPosNext).nStart : parent.StartEndTag();
    TokenPos token(m_strDocText, m_nDocFlags);
    token.m_nNext = iPosBefore ? ELEM(iPosBefore).StartAfter() : parent.StartContent();
    NodePos node;
    int nLastType = 0, nLastStart = 0, nLastLength = 0;
    while (token.m_nNext < nNodeOffset) {
        int nType = token.ScanNode(node);
        if (nType == NodeTypeScanEnd) {
            break;
        }
        if (nType == NodeTypeEndTag) {
            nType = NodeTypeLoneEndTag;
        } else if (nType == NodeTypeScanError || nType == NodeTypeElement) {
            nType = NodeTypeError;
        }
        nLastType = nType;
        nLastStart = node.nStart;
        nLastLength = std::min(node.nLength, nContentEnd - node.nStart);
    }
    iPos = iPosBefore;
    if (nLastType) {
        nNodeType = nLastType;
        nNodeOffset = nLastStart;
        nNodeLength = nLastLength;
    } else {
        nNodeType = iPosBefore ? NodeTypeElement : 0;
        nNodeOffset = 0;
        nNodeLength = 0;
    }
    if (nRemovedType == NodeTypeLoneEndTag && x_ContentScansClean(iPosParent)) {
        ELEM(iPosParent).nFlagsLevel &= ~ElemIllData;
    }
}

bool CXmlDoc::RemoveNode() {
    if ((m_nDocFlags & kStreamFlags) || (!m_iMainPos && m_nNodeType <= NodeTypeElement)) {
        return false;
    }
    int iPos = m_iMainPos;
    int nNodeType = m_nNodeType;
    int nNodeOffset = m_nNodeStart;
    int nNodeLength = m_nNodeLength;
    x_RemoveNode(m_iParentPos, iPos, nNodeType, nNodeOffset, nNodeLength);
    x_SetNodePos(iPos, nNodeType, nNodeOffset, nNodeLength);
    return true;
}
