// Parsing: the element builder over the scanner, the document parse and the
// result records that describe what was wrong.
#include "markup/xml_internal.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

// The open start tags, innermost last, with their records. A name is kept as
// its span in the text being parsed rather than as a copy: that text does not
// change while the parse runs.
struct CXmlDoc::OpenTagStack {
    struct Entry {
        int nName;  // offset of the tag name in the text
        int nLength;
        int iPos;
    };
    explicit OpenTagStack(const wchar_t* pText)
        : m_pText(pText), m_pEntries(new Entry[7]), m_nCapacity(7), m_nDepth(0) {}
    ~OpenTagStack() { delete[] m_pEntries; }
    OpenTagStack(const OpenTagStack&) = delete;
    OpenTagStack& operator=(const OpenTagStack&) = delete;

    void Push(int nName, int nLength, int iPos) {
        if (m_nDepth == m_nCapacity) {
            Entry* pNew = new Entry[m_nCapacity * 2];
            std::copy(m_pEntries, m_pEntries + m_nDepth, pNew);
            delete[] m_pEntries;
            m_pEntries = pNew;
            m_nCapacity *= 2;
        }
        m_pEntries[m_nDepth++] = {nName, nLength, iPos};
    }

    // True when the text at i, which runs at least to nEnd, is the end tag of
    // the innermost open element written plainly: "</", its name, ">". Most
    // end tags are; they need no scan.
    bool ClosesTop(int i, int nEnd) const {
        if (!m_nDepth) {
            return false;
        }
        const Entry& top = m_pEntries[m_nDepth - 1];
        const int nLength = top.nLength;
        if (m_pText[i + 1] != L'/' || i + nLength + 3 > nEnd || nLength + 3 > ElemEndTagMax) {
            return false;
        }
        const wchar_t* pEnd = m_pText + i + 2;
        return pEnd[nLength] == L'>' && SameUnits(pEnd, m_pText + top.nName, nLength);
    }

    // Whether n units at a and b are the same, compared eight bytes at a time.
    static bool SameUnits(const wchar_t* a, const wchar_t* b, int n) {
        constexpr int kStep = static_cast<int>(sizeof(std::uint64_t) / sizeof(wchar_t));
        int k = 0;
        for (; k + kStep <= n; k += kStep) {
            std::uint64_t wa, wb;
            std::memcpy(&wa, a + k, sizeof wa);
            std::memcpy(&wb, b + k, sizeof wb);
            if (wa != wb) {
                return false;
            }
        }
        for (; k < n; ++k) {
            if (a[k] != b[k]) {
                return false;
            }
        }
        return true;
    }

    // The deepest open tag that the end tag in token closes, -1 for none.
    // The innermost one with exactly the same name is the common case.
    int Match(const TokenPos& token) const {
        const wchar_t* pName = token.m_pDocText + token.m_nL;
        const int nLength = token.Length();
        if (m_nDepth) {
            const Entry& top = m_pEntries[m_nDepth - 1];
            if (top.nLength == nLength &&
                x_NamesEqual(pName, m_pText + top.nName, nLength, false)) {
                return m_nDepth - 1;
            }
        }
        // As the scanner's MatchName against the open tag's name: the end
        // tag's name equals the start of it, and it ends there or goes on
        // with a character that ends a path step.
        const bool bIgnoreCase = (token.m_nTokenFlags & DocFlagIgnoreCase) != 0;
        int n = m_nDepth - 1;
        for (; n >= 0; --n) {
            const Entry& entry = m_pEntries[n];
            const wchar_t* pOpen = m_pText + entry.nName;
            if (nLength <= entry.nLength && x_NamesEqual(pName, pOpen, nLength, bIgnoreCase) &&
                (nLength == entry.nLength || vidozir::xml::EndsNameStep(pOpen[nLength]))) {
                break;
            }
        }
        return n;
    }

    CLuStringW Name(int n) const {
        return CLuStringW(m_pText + m_pEntries[n].nName, m_pEntries[n].nLength);
    }

    const wchar_t* m_pText;
    Entry* m_pEntries;
    int m_nCapacity;
    int m_nDepth;
};

// The record after i in depth-first order within iPosTop's subtree; 0 when
// the subtree is done.
int CXmlDoc::x_NextInSubtree(int iPosTop, int i) const {
    if (ELEM(i).iElemChild) {
        return ELEM(i).iElemChild;
    }
    while (i != iPosTop && !ELEM(i).iElemNext) {
        i = ELEM(i).iElemParent;
    }
    return i == iPosTop ? 0 : ELEM(i).iElemNext;
}

// Adds nShift to the level of iPos and of every element below it.
void CXmlDoc::x_ShiftLevels(int iPos, int nShift) {
    for (int i = iPos; i; i = x_NextInSubtree(iPos, i)) {
        ELEM(i).SetLevel(ELEM(i).Level() + nShift);
    }
}

// Ends every open element above the first nKeep stack entries: each loses
// its end tag and its children follow it as siblings. Done in one forward
// pass (the outcome of ending them innermost first), so that a long run of
// unclosed tags costs linear time.
void CXmlDoc::x_EndOpenElems(OpenTagStack& stack, int nKeep, int iPosVirtual, int nOffset2) {
    const int nDepth = stack.m_nDepth;
    if (nDepth <= nKeep) {
        return;
    }
    OpenTagStack::Entry* pEntries = stack.m_pEntries;
    const int iPosParent = nKeep ? pEntries[nKeep - 1].iPos : iPosVirtual;
    ELEM(iPosVirtual).nFlagsLevel |= ElemIllFormed;
    const int nLevel = ELEM(pEntries[nKeep].iPos).Level();
    bool bIllData = false;
    int iPosLast = 0;  // the last element of the flattened run
    for (int n = nKeep; n < nDepth; ++n) {
        const int iPos = pEntries[n].iPos;
        ElemPos& elem = ELEM(iPos);
        bIllData = bIllData || (elem.nFlagsLevel & ElemIllData);
        elem.nFlagsLevel = (elem.nFlagsLevel & ~ElemIllData) | ElemNonEnded;
        elem.SetLevel(nLevel);
        elem.SetEndTagLen(0);
        elem.nLength = elem.StartTagLen();
        iPosLast = iPos;
        const int iFirst = elem.iElemChild;
        if (!iFirst) {
            continue;
        }
        // Its children (the last of them the next open element, if any)
        // move up to follow it.
        const int iOpenChild = n + 1 < nDepth ? pEntries[n + 1].iPos : 0;
        const int nShift = nKeep - n - 1;
        elem.iElemChild = 0;
        elem.iElemNext = iFirst;
        ELEM(iFirst).iElemPrev = iPos;
        ELEM(iFirst).nFlagsLevel &= ~ElemFirst;
        for (int iChild = iFirst; iChild; iChild = ELEM(iChild).iElemNext) {
            ELEM(iChild).iElemParent = iPosParent;
            if (iChild != iOpenChild) {
                x_ShiftLevels(iChild, nShift);
            }
            iPosLast = iChild;
        }
    }
    ELEM(ELEM(iPosParent).iElemChild).iElemPrev = iPosLast;
    if (bIllData) {
        ELEM(iPosParent).nFlagsLevel |= ElemIllData;
    }
    for (int n = nDepth - 1; n >= nKeep; --n) {
        x_AppendResult(m_strResultText, L"unended_start_tag", stack.Name(n), 0,
                       ELEM(pEntries[n].iPos).nStart, nOffset2);
    }
    stack.m_nDepth = nKeep;
}

int CXmlDoc::x_ParseElem(int iPosParent, TokenPos& token) {
    return x_ParseElem(iPosParent, token, nullptr);
}

int CXmlDoc::x_ParseElem(int iPosParent, TokenPos& token, TextFeed* pFeed) {
    token.m_nNext = 0;
    NodePos node;
    const wchar_t* const pText = token.m_pDocText;
    OpenTagStack stack(pText);
    const int nBaseLevel = ELEM(iPosParent).Level();
    int iPosInner = iPosParent;
    int iPosFirst = 0;
    // How far the text surely runs: what a feed has ready, the document's
    // length, or a fragment's.
    int nTextEnd = pFeed                               ? pFeed->nReady
                   : pText == m_strDocText.GetString() ? m_strDocText.GetLength()
                                                       : vidozir::xml::TextLength(pText);
    int nCheckAt = pFeed ? pFeed->nCheckAt : INT_MAX;
    bool bPartial = pFeed && !pFeed->bAll;  // a 0 at nTextEnd may not be the end
    // More text from the feed, ready well beyond nAt; false when it failed.
    auto feed = [&](int nAt) {
        pFeed->Advance(nAt);
        nTextEnd = pFeed->nReady;
        nCheckAt = pFeed->nCheckAt;
        bPartial = !pFeed->bAll;
        return !pFeed->bFailed;
    };
    // A record for the start tag of nLength at nStart, linked as the last
    // child of the innermost open element, which it becomes unless it is empty.
    auto addElem = [&](int nStart, int nLength, int nName, int nNameLength, bool bEmpty) {
        const int iPos = m_iNextFreePos < m_pElemTable->m_nSize ? m_iNextFreePos++ : x_GetFreePos();
        ElemPos& elem = ELEM(iPos);
        ElemPos& parent = ELEM(iPosInner);
        int nFlags = 0;
        if (!parent.iElemChild) {
            parent.iElemChild = iPos;
            elem.iElemPrev = iPos;
            nFlags = ElemFirst;
        } else {
            ElemPos& first = ELEM(parent.iElemChild);
            ELEM(first.iElemPrev).iElemNext = iPos;
            elem.iElemPrev = first.iElemPrev;
            first.iElemPrev = iPos;
        }
        elem.iElemParent = iPosInner;
        elem.iElemNext = 0;
        elem.iElemChild = 0;
        // Levels have 16 bits; deeper nesting wraps rather than spill into the flags.
        elem.nFlagsLevel = nFlags | ((nBaseLevel + stack.m_nDepth) & ElemLevelMask);
        elem.nStart = nStart;
        elem.nTagLengths = static_cast<unsigned>(nLength);
        elem.nLength = nLength;
        if (!bEmpty) {
            stack.Push(nName, nNameLength, iPos);
            iPosInner = iPos;
        }
        if (!iPosFirst) {
            iPosFirst = iPos;
        }
    };
    // The element of stack entry nMatch ends with the end tag of nLength at nStart.
    auto closeElem = [&](int nMatch, int nStart, int nLength) {
        ElemPos& elem = ELEM(stack.m_pEntries[nMatch].iPos);
        elem.nLength = nStart - elem.nStart + nLength;
        elem.SetEndTagLen(nLength);
        if (stack.m_nDepth > nMatch + 1) {
            x_EndOpenElems(stack, nMatch + 1, iPosParent, nStart + 1);
        }
        stack.m_nDepth = nMatch;
        iPosInner = nMatch ? stack.m_pEntries[nMatch - 1].iPos : iPosParent;
    };
    for (;;) {
        if (token.m_nNext >= nCheckAt && !feed(token.m_nNext)) {
            break;
        }
        // Text and white space build nothing: the scan goes on at the next tag.
        const int i = vidozir::xml::SkipToMarkup(pText, token.m_nNext, nTextEnd);
        token.m_nNext = i;
        // Plain start and end tags first, without the general scanner.
        if (pText[i] == L'<') {
            int nNameEnd, nNext;
            bool bEmpty;
            if (stack.ClosesTop(i, nTextEnd)) {
                const int nLength = stack.m_pEntries[stack.m_nDepth - 1].nLength + 3;
                token.m_nNext = i + nLength;
                closeElem(stack.m_nDepth - 1, i, nLength);
                continue;
            }
            if (vidozir::xml::ScanClosedStartTag(pText, i, nNameEnd, nNext, bEmpty) &&
                nNext - i <= ElemStartTagMax) {
                token.m_nNext = nNext;
                addElem(i, nNext - i, i + 1, nNameEnd - i - 1, bEmpty);
                continue;
            }
        }
        const int nType = token.ScanNode(node);
        if (bPartial && token.m_nNext >= nTextEnd) {
            // The node ran into the end of the text ready so far: scanned
            // again over at least twice as much, so that a long node costs
            // linear time.
            if (!feed(node.nStart + 2 * (nTextEnd - node.nStart))) {
                break;
            }
            token.m_nNext = node.nStart;
            continue;
        }
        if (nType == NodeTypeElement && node.nLength <= ElemStartTagMax) {
            addElem(node.nStart, node.nLength, token.m_nL, token.Length(),
                    (node.nNodeFlags & NodeFlagEmptyElement) != 0);
        } else if (nType == NodeTypeEndTag) {
            // An end tag too long for its 10-bit length field closes nothing.
            const int nMatch = node.nLength <= ElemEndTagMax ? stack.Match(token) : -1;
            if (nMatch < 0) {
                ELEM(iPosParent).nFlagsLevel |= ElemIllFormed;
                ELEM(iPosInner).nFlagsLevel |= ElemIllData;
                x_AppendResult(m_strResultText, L"lone_end_tag", token.TokenText(), 0, node.nStart);
                continue;
            }
            closeElem(nMatch, node.nStart, node.nLength);
        } else if (nType == NodeTypeScanError || nType == NodeTypeElement) {
            // A start tag longer than its 22-bit length field cannot be
            // indexed; it is reported as a tag that could not be read.
            if (nType == NodeTypeElement) {
                x_AppendResult(node.strMeta, L"unterminated_tag_syntax", L"start_tag", ResultType,
                               node.nStart);
            }
            ELEM(iPosParent).nFlagsLevel |= ElemIllFormed;
            ELEM(iPosInner).nFlagsLevel |= ElemIllData;
            // Like every record, nothing more once the result text is long.
            if (m_strResultText.GetLength() < 1000) {
                m_strResultText += node.strMeta;
            }
        } else if (nType == NodeTypeScanEnd) {
            break;
        }
    }
    x_EndOpenElems(stack, 0, iPosParent, token.m_nNext);
    return iPosFirst;
}

bool CXmlDoc::x_ParseDoc() {
    return x_ParseDoc(nullptr);
}

bool CXmlDoc::x_ParseDoc(TextFeed* pFeed) {
    m_pPosMaps->ReleaseMaps();
    x_SetPos(0, 0, 0);
    m_iNextFreePos = 1;
    const int nLength = pFeed ? pFeed->nSize : m_strDocText.GetLength();
    x_AllocElemPos(nLength / 64 + 8);
    m_iReleasedPos = 0;
    ELEM(0).Clear();
    if (nLength) {
        TokenPos token(pFeed ? pFeed->pText : m_strDocText.GetString(), m_nDocFlags);
        const int iPosFirst = x_ParseElem(0, token, pFeed);
        ELEM(0).nLength = pFeed ? pFeed->nReady : nLength;
        if (!iPosFirst) {
            x_AppendResult(m_strResultText, L"no_root_element", nullptr, 0);
        } else {
            ELEM(0).iElemChild = iPosFirst;
            if (ELEM(iPosFirst).iElemNext) {
                x_AppendResult(m_strResultText, L"root_has_sibling", nullptr, 0);
            }
        }
    }
    x_SetPos(0, 0, 0);
    return IsWellFormed();
}

namespace {

// One attribute of a result record: name and already escaped value.
struct ResultAttrib {
    const wchar_t* szName;
    CLuStringW strValue;
};

int FindText(const CLuStringW& str, const wchar_t* szFind, int nFrom) {
    return str.Find(szFind, nFrom);
}

}  // namespace

void CXmlDoc::x_AppendResult(CLuStringW& strResult, const wchar_t* szId, const wchar_t* szValue,
                             int nResultFlags, int nValue, int nValue2) {
    if (strResult.GetLength() >= 1000) {
        return;
    }
    ResultAttrib attribs[3];
    int nAttribs = 0;
    if (szValue) {
        const wchar_t* szName = (nResultFlags & ResultType)       ? L"type"
                                : (nResultFlags & ResultEncoding) ? L"encoding"
                                : (nResultFlags & ResultMsg)      ? L"msg"
                                                                  : L"tagname";
        attribs[nAttribs++] = {szName, EscapeText(szValue, NodeEscapeQuotes)};
    }
    const wchar_t* szNumber = (nResultFlags & ResultNumber)   ? L"n"
                              : (nResultFlags & ResultCount)  ? L"count"
                              : (nResultFlags & ResultLength) ? L"length"
                              : nValue != -1                  ? L"offset"
                                                              : nullptr;
    if (szNumber) {
        attribs[nAttribs].szName = szNumber;
        attribs[nAttribs++].strValue.Format(L"%d", nValue);
    }
    if (nValue2 != -1) {
        attribs[nAttribs].szName = L"offset2";
        attribs[nAttribs++].strValue.Format(L"%d", nValue2);
    }

    if (!(nResultFlags & ResultAmend)) {
        strResult += L'<';
        strResult += szId;
        for (int n = 0; n < nAttribs; ++n) {
            strResult.AppendFormat(L" %s=\"%s\"", attribs[n].szName,
                                   attribs[n].strValue.GetString());
        }
        strResult += L"/>";
        return;
    }

    // Amend the first top-level record named szId: each attribute replaces
    // the value of one of that name or is added in front of its "/>".
    const int nIdLength = CLuStringW(szId).GetLength();
    for (int nRecord = FindText(strResult, L"<", 0); nRecord >= 0;) {
        const int nEnd = FindText(strResult, L"/>", nRecord);
        if (nEnd < 0) {
            return;
        }
        const int nAfter = nRecord + 1 + nIdLength;
        const wchar_t after = nAfter <= nEnd ? strResult[nAfter] : L'\0';
        if ((after == L' ' || after == L'/') &&
            x_NamesEqual(strResult.GetString() + nRecord + 1, szId, nIdLength, false)) {
            int nClose = nEnd;
            for (int n = 0; n < nAttribs; ++n) {
                CLuStringW strFind;
                strFind.Format(L" %s=\"", attribs[n].szName);
                const int nAttrib = FindText(strResult, strFind, nRecord);
                if (nAttrib >= 0 && nAttrib < nClose) {
                    const int nValueStart = nAttrib + strFind.GetLength();
                    const int nValueEnd = FindText(strResult, L"\"", nValueStart);
                    strResult.Delete(nValueStart, nValueEnd - nValueStart);
                    strResult.Insert(nValueStart, attribs[n].strValue);
                    nClose += attribs[n].strValue.GetLength() - (nValueEnd - nValueStart);
                } else {
                    CLuStringW strAttrib;
                    strAttrib.Format(L" %s=\"%s\"", attribs[n].szName,
                                     attribs[n].strValue.GetString());
                    strResult.Insert(nClose, strAttrib);
                    nClose += strAttrib.GetLength();
                }
            }
            return;
        }
        nRecord = FindText(strResult, L"<", nEnd + 2);
    }
}
