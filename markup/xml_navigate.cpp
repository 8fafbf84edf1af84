// Navigation: the three cursors over the element index, finding elements and
// nodes, reading names, attributes and data, paths, error messages and named
// saved positions.
#include "markup/xml_internal.h"

#include <utility>

using vidozir::xml::EndsAttribWord;
using vidozir::xml::IsSpace;
using vidozir::xml::kStreamFlags;
using vidozir::xml::kTokenQuoted;

namespace {

inline bool EndsTagName(wchar_t c) {
    switch (c) {
        case L'\t':
        case L'\n':
        case L'\r':
        case L' ':
        case L'!':
        case L'"':
        case L'\'':
        case L'/':
        case L';':
        case L'<':
        case L'=':
        case L'>':
        case L'?':
        case L'\\':
            return true;
        default:
            return false;
    }
}

// The name at nOffset: white space skipped, then up to a name terminator
// (or that one terminator when the name starts with it). Returns its end.
int TagNameSpan(const wchar_t* p, int nOffset, int& nStart) {
    while (IsSpace(p[nOffset])) {
        ++nOffset;
    }
    nStart = nOffset;
    if (p[nOffset] && EndsTagName(p[nOffset])) {
        return nOffset + 1;
    }
    while (p[nOffset] && !EndsTagName(p[nOffset])) {
        ++nOffset;
    }
    return nOffset;
}

// Sum of the name's code units, the slot of a saved position.
int SavedPosSlot(const wchar_t* szName, int nMapSize) {
    unsigned nSum = 0;
    for (const wchar_t* p = szName; *p; ++p) {
        nSum += static_cast<unsigned>(static_cast<unsigned short>(*p));
    }
    return static_cast<int>(nSum % static_cast<unsigned>(nMapSize));
}

// Clamped span of a node's text; unterminated nodes can be shorter than
// their delimiters.
CLuStringW Span(const CLuStringW& strDoc, int nStart, int nLength) {
    return nLength > 0 ? strDoc.Mid(nStart, nLength) : CLuStringW();
}

}  // namespace

// ---- paths ----

CXmlDoc::PathPos::PathPos(const wchar_t* szPath)
    : nPathType(PathAny),
      bReader(false),
      pPath(szPath),
      i(0),
      iPathAttribName(0),
      iPathStart(0),
      nLength(0) {
    if (!szPath || !*szPath) {
        pPath = L"";
        return;
    }
    while (pPath[nLength]) {
        ++nLength;
    }
    if (pPath[0] == L'/') {
        i = pPath[1] == L'/' ? 2 : 1;
        nPathType = i == 2 ? PathAnywhere : PathAbsolute;
    } else {
        nPathType = PathRelative;
    }
    iPathStart = i;
    // A step, then "/" and another step (not after a "//" start), or a final
    // "/@name"; anything else makes the path invalid.
    for (;;) {
        if (!ParseStep()) {
            nPathType = PathInvalid;
            return;
        }
        if (pPath[i] == 0) {
            return;
        }
        if (pPath[i] != L'/') {
            nPathType = PathInvalid;
            return;
        }
        ++i;
        if (pPath[i] == L'@') {
            ++i;
            iPathAttribName = i;
            if (ParseName() == 0 || pPath[i] != 0) {
                nPathType = PathInvalid;
            }
            return;
        }
        if (nPathType == PathAnywhere) {
            nPathType = PathInvalid;
            return;
        }
    }
}

int CXmlDoc::PathPos::ParseName() {
    const int nStart = i;
    while (pPath[i] && pPath[i] != L' ' && pPath[i] != L'=' && pPath[i] != L'/' &&
           pPath[i] != L'[' && pPath[i] != L']') {
        ++i;
    }
    return i - nStart;
}

// A step needs a name: an empty one ("a//b", "[1]") cannot name an element,
// so it makes the path invalid.
bool CXmlDoc::PathPos::ParseStep() {
    if (ParseName() == 0) {
        return false;
    }
    if (pPath[i] != L'[') {
        return true;
    }
    ++i;
    if (!ParsePredicate() || pPath[i] != L']') {
        return false;
    }
    ++i;
    return true;
}

bool CXmlDoc::PathPos::ParsePredicate() {
    const wchar_t c = pPath[i];
    if (c >= L'1' && c <= L'9') {
        while (pPath[i] >= L'0' && pPath[i] <= L'9') {
            ++i;
        }
        return true;
    }
    if (c != L'@') {
        return ParseName() > 0;
    }
    ++i;
    if (ParseName() == 0) {
        return false;
    }
    if (pPath[i] != L'=') {
        return true;
    }
    ++i;
    const wchar_t quote = pPath[i];
    if (quote == L'"' || quote == L'\'') {
        ++i;
        while (pPath[i] && pPath[i] != quote) {
            ++i;
        }
        if (!pPath[i]) {
            return false;
        }
        ++i;
        return true;
    }
    while (pPath[i] && pPath[i] != L']') {
        ++i;
    }
    return true;
}

int CXmlDoc::x_FindElem(int iPosParent, int iPos, PathPos& path) const {
    int iCandidate = iPos ? ELEM(iPos).iElemNext : ELEM(iPosParent).iElemChild;
    if (path.IsAny()) {
        return iCandidate;
    }
    if (!path.IsRelative()) {
        return 0;
    }
    TokenPos token(m_strDocText, m_nDocFlags);
    const wchar_t* szStep = path.FirstStep();
    for (; iCandidate; iCandidate = ELEM(iCandidate).iElemNext) {
        token.m_nR = TagNameSpan(token.m_pDocText, ELEM(iCandidate).nStart + 1, token.m_nL) - 1;
        if (token.MatchName(szStep)) {
            return iCandidate;
        }
    }
    return 0;
}

CLuStringW CXmlDoc::x_GetPath(int iPos) const {
    CLuStringW strPath;
    for (; iPos; iPos = ELEM(iPos).iElemParent) {
        const CLuStringW strName = x_GetTagName(iPos);
        CLuStringW strStep;
        strStep.Format(L"/%s", strName.GetString());
        PathPos path(strName);
        if (path.IsRelative()) {
            const int iPosParent = ELEM(iPos).iElemParent;
            int nCount = 1;
            for (int i = x_FindElem(iPosParent, 0, path); i && i != iPos;
                 i = x_FindElem(iPosParent, i, path)) {
                ++nCount;
            }
            if (nCount > 1) {
                strStep.AppendFormat(L"[%d]", nCount);
            }
        }
        strPath = strStep + strPath;
    }
    return strPath;
}

// ---- moving the cursors ----

void CXmlDoc::ResetPos() {
    x_SetPos(0, 0, 0);
}

void CXmlDoc::ResetMainPos() {
    x_SetPos(m_iParentPos, 0, 0);
}

void CXmlDoc::ResetChildPos() {
    x_SetPos(m_iParentPos, m_iMainPos, 0);
}

bool CXmlDoc::FindElem(XML_CSTR szName) {
    if ((m_nDocFlags & DocFlagWriteFile) || m_pElemTable->m_nSize == 0) {
        return false;
    }
    PathPos path(szName);
    const int iPos = x_FindElem(m_iParentPos, m_iMainPos, path);
    if (!iPos) {
        return false;
    }
    // A parse numbers the records in document order, which is the order of
    // a walk: the tag a few records on comes into the cache meanwhile (four
    // ahead hides the wait for memory in a walk over a large document; one
    // or two ahead is too late).
    if (iPos + 4 < m_iNextFreePos) {
        const int nNext = ELEM(iPos + 4).nStart;
        if (nNext >= 0 && nNext < m_strDocText.GetLength()) {
            vidozir::xml::PrefetchText(m_strDocText.GetString() + nNext);
        }
    }
    x_SetPos(ELEM(iPos).iElemParent, iPos, 0);
    return true;
}

bool CXmlDoc::FindChildElem(XML_CSTR szName) {
    if ((m_nDocFlags & kStreamFlags) || m_pElemTable->m_nSize == 0) {
        return false;
    }
    if (!m_iMainPos && !FindElem()) {
        return false;
    }
    PathPos path(szName);
    const int iPos = x_FindElem(m_iMainPos, m_iChildPos, path);
    if (!iPos) {
        return false;
    }
    x_SetPos(ELEM(m_iMainPos).iElemParent, m_iMainPos, iPos);
    return true;
}

bool CXmlDoc::IntoElem() {
    if (!m_iMainPos || m_nNodeType != NodeTypeElement) {
        return false;
    }
    x_SetPos(m_iMainPos, m_iChildPos, 0);
    return true;
}

bool CXmlDoc::OutOfElem() {
    if (!m_iParentPos) {
        return false;
    }
    x_SetPos(ELEM(m_iParentPos).iElemParent, m_iParentPos, m_iMainPos);
    return true;
}

int CXmlDoc::GetNodeType() const {
    return m_nNodeType;
}

int CXmlDoc::FindNode(int nType) {
    if (m_pElemTable->m_nSize == 0) {
        return 0;
    }
    const ElemPos& parent = ELEM(m_iParentPos);
    int nStart;
    if (m_nNodeType > NodeTypeElement) {
        nStart = m_nNodeStart + m_nNodeLength;
    } else if (m_iMainPos) {
        nStart = ELEM(m_iMainPos).StartAfter();
    } else if (m_iParentPos) {
        if (parent.IsEmptyElement()) {
            return 0;
        }
        nStart = parent.StartContent();
    } else {
        nStart = m_nNodeStart;
    }
    const int nParentEnd = parent.StartEndTag();
    TokenPos token(m_strDocText, m_nDocFlags);
    token.m_nNext = nStart;
    NodePos node;
    int iPosLast = m_iMainPos;  // the last element passed
    for (;;) {
        // The index says where elements are; the text between them is
        // scanned as nodes. (After edits that put markup in as it was, the
        // scanner can read across an element's start; it is cut there.)
        const int iPosNext = iPosLast ? ELEM(iPosLast).iElemNext : parent.iElemChild;
        const int nLimit = iPosNext ? ELEM(iPosNext).nStart : nParentEnd;
        int nFound = token.m_nNext >= nLimit && iPosNext ? NodeTypeElement : token.ScanNode(node);
        if (nFound == NodeTypeScanEnd) {
            return 0;
        }
        if (nFound == NodeTypeElement && iPosNext && token.m_nNext >= nLimit) {
            if (nType == 0 || (nType & NodeTypeElement)) {
                x_SetPos(m_iParentPos, iPosNext, 0);
                return NodeTypeElement;
            }
            token.m_nNext = ELEM(iPosNext).StartAfter();
            iPosLast = iPosNext;
            continue;
        }
        if (nFound == NodeTypeEndTag) {
            if (node.nStart == nParentEnd) {
                return 0;
            }
            nFound = NodeTypeLoneEndTag;
        } else if (nFound == NodeTypeScanError || nFound == NodeTypeElement) {
            // A start tag the index does not hold (one too long to index).
            nFound = NodeTypeError;
        }
        const bool bClamped = node.nStart + node.nLength > nLimit;
        if (bClamped) {
            node.nLength = nLimit - node.nStart;
            token.m_nNext = nLimit;
        }
        if (nType == 0 || (nType & nFound)) {
            x_SetNodePos(iPosLast, nFound, node.nStart, node.nLength);
            return nFound;
        }
        if (bClamped && !iPosNext) {
            return 0;
        }
    }
}

// The last child of iPosParent that starts before nOffset, searched from its
// sibling iPos (0: from the first child). The index can hold an element
// inside a node's text, where inserted markup was taken into, say, a CDATA
// section by the text around it; such an element counts as passed with the
// node.
int CXmlDoc::x_ElemBefore(int iPosParent, int iPos, int nOffset) const {
    while (iPos && ELEM(iPos).nStart >= nOffset) {
        iPos = (ELEM(iPos).nFlagsLevel & ElemFirst) ? 0 : ELEM(iPos).iElemPrev;
    }
    for (int i = iPos ? ELEM(iPos).iElemNext : ELEM(iPosParent).iElemChild;
         i && ELEM(i).nStart < nOffset; i = ELEM(i).iElemNext) {
        iPos = i;
    }
    return iPos;
}

// ---- reading ----

CLuStringW CXmlDoc::x_TagNameAt(const wchar_t* pText, int nOffset) {
    int nStart = 0;
    const int nEnd = TagNameSpan(pText, nOffset, nStart);
    return CLuStringW(pText + nStart, nEnd - nStart);
}

CLuStringW CXmlDoc::x_GetTagName(int iPos) const {
    return iPos ? x_TagNameAt(m_strDocText, ELEM(iPos).nStart + 1) : CLuStringW();
}

CLuStringW CXmlDoc::GetTagName() const {
    switch (m_nNodeType) {
        case NodeTypeText:
        case NodeTypeWhitespace:
            return L"#text";
        case NodeTypeCdataSection:
            return L"#cdata-section";
        case NodeTypeComment:
            return L"#comment";
        case NodeTypeProcessingInstruction:
        case NodeTypeLoneEndTag:
            return x_TagNameAt(m_strDocText, m_nNodeStart + 2);
        case NodeTypeDocumentType: {
            int nWord = 0;
            const int nAfterKeyword = TagNameSpan(m_strDocText, m_nNodeStart + 2, nWord);
            return x_TagNameAt(m_strDocText, nAfterKeyword);
        }
        case NodeTypeError:
            return CLuStringW();
        default:
            return x_GetTagName(m_iMainPos);
    }
}

CLuStringW CXmlDoc::GetChildTagName() const {
    return x_GetTagName(m_iChildPos);
}

bool CXmlDoc::x_FindAttrib(TokenPos& token, const wchar_t* szAttrib, int n, int nTextEnd) {
    const wchar_t* p = token.m_pDocText;
    // Without case forgiveness a name whose first unit differs is passed
    // over without the full comparison.
    const bool bExactFirst = szAttrib && !(token.m_nTokenFlags & DocFlagIgnoreCase);
    int i = token.m_nNext;
    bool bTagName = true;  // the first word is the tag name
    bool bAfterEquals = false;
    bool bMatched = false;  // the last name matched; its value may follow
    // The last token was a quoted value: kTokenQuoted, kept here on the way.
    bool bQuoted = (token.m_nTokenFlags & kTokenQuoted) != 0;
    int nAttrib = 0;
    int nNameL = 0, nNameR = -1;
    // The scanner's flags carry kTokenQuoted for the token the search ends on.
    auto finish = [&](bool bFound, int nNext) {
        token.m_nTokenFlags =
            bQuoted ? (token.m_nTokenFlags | kTokenQuoted) : (token.m_nTokenFlags & ~kTokenQuoted);
        token.m_nNext = nNext;
        return bFound;
    };
    for (;;) {
        const int nSpace = i;
        while (IsSpace(p[i])) {
            ++i;
        }
        const wchar_t c = p[i];
        if (c == 0) {
            return finish(false, nSpace);
        }
        bQuoted = false;
        int nL = i, nR;
        if (c == L'"' || c == L'\'') {
            nL = ++i;
            i = vidozir::xml::SkipToUnit(p, i, nTextEnd, c);
            nR = i - 1;
            if (p[i]) {
                ++i;
            }
            bQuoted = true;
        } else if (c == L'=') {
            ++i;
            bAfterEquals = true;
            continue;
        } else if (bAfterEquals && c != L'>') {
            while (p[i] && !IsSpace(p[i]) && p[i] != L'>') {
                ++i;
            }
            nR = i - 1;
        } else if (c == L'>' || c == L'/' || c == L'?') {
            if (bMatched) {
                // A bare name, or a name with "=" but nothing after it.
                token.m_nL = bAfterEquals ? nSpace : nNameL;
                token.m_nR = bAfterEquals ? nSpace - 1 : nNameR;
                return finish(true, nSpace);
            }
            return finish(false, nSpace);
        } else {
            while (!EndsAttribWord(p[i])) {
                ++i;
            }
            nR = i - 1;
        }
        // A quoted string or a word.
        if (bMatched) {
            if (bAfterEquals) {
                token.m_nL = nL;
                token.m_nR = nR;
            } else {
                bQuoted = false;
                token.m_nL = nNameL;
                token.m_nR = nNameR;
            }
            return finish(true, i);
        }
        const bool bWasValue = bAfterEquals;
        bAfterEquals = false;
        if (bWasValue || bQuoted) {
            continue;
        }
        if (bTagName) {
            bTagName = false;
            continue;
        }
        token.m_nL = nL;
        token.m_nR = nR;
        // (A word is never empty here: every unit that ends one is taken
        // above, so p[nL] is the word's first unit.)
        if (bExactFirst && p[nL] != szAttrib[0]) {
            ++nAttrib;
            continue;
        }
        if (szAttrib ? token.MatchName(szAttrib) : nAttrib == n) {
            if (!szAttrib) {
                return finish(true, i);
            }
            bMatched = true;
            nNameL = nL;
            nNameR = nR;
        }
        ++nAttrib;
    }
}

CLuStringW CXmlDoc::x_GetAttrib(int iPos, const wchar_t* szAttrib) const {
    if (!szAttrib) {
        return CLuStringW();
    }
    TokenPos token(m_strDocText, m_nDocFlags);
    // While the cursor stands on another kind of node, the main position is
    // only the element before it: like setting one, reading an attribute
    // then gives nothing.
    if (iPos == m_iMainPos && m_nNodeType == NodeTypeProcessingInstruction) {
        token.m_nNext = m_nNodeStart + 2;
    } else if (iPos && m_nNodeType == NodeTypeElement) {
        token.m_nNext = ELEM(iPos).nStart + 1;
    } else {
        return CLuStringW();
    }
    if (!x_FindAttrib(token, szAttrib, 0, m_strDocText.GetLength())) {
        return CLuStringW();
    }
    return UnescapeText(token.m_pDocText + token.m_nL, token.Length(), m_nDocFlags);
}

CLuStringW CXmlDoc::GetAttrib(XML_CSTR szAttrib) const {
    return x_GetAttrib(m_iMainPos, szAttrib);
}

CLuStringW CXmlDoc::GetChildAttrib(XML_CSTR szAttrib) const {
    return m_iChildPos ? x_GetAttrib(m_iChildPos, szAttrib) : CLuStringW();
}

CLuStringW CXmlDoc::GetAttribName(int n) const {
    CLuStringW strName, strValue;
    GetNthAttrib(n, strName, strValue);
    return strName;
}

bool CXmlDoc::GetNthAttrib(int n, CLuStringW& strName, CLuStringW& strValue) const {
    strName.Empty();
    strValue.Empty();
    TokenPos token(m_strDocText, m_nDocFlags);
    if (m_nNodeType == NodeTypeProcessingInstruction) {
        token.m_nNext = m_nNodeStart + 2;
    } else if (m_iMainPos && m_nNodeType == NodeTypeElement) {
        token.m_nNext = ELEM(m_iMainPos).nStart + 1;
    } else {
        return false;
    }
    if (n < 0 || !x_FindAttrib(token, nullptr, n, m_strDocText.GetLength())) {
        return false;
    }
    strName = token.TokenText();
    // The value, when "=" follows the name; a bare name is its own value.
    const wchar_t* p = m_strDocText;
    int i = token.m_nR + 1;
    while (IsSpace(p[i])) {
        ++i;
    }
    if (p[i] != L'=') {
        strValue = UnescapeText(strName, -1, m_nDocFlags);
        return true;
    }
    ++i;
    while (IsSpace(p[i])) {
        ++i;
    }
    const wchar_t quote = p[i];
    int nL = i;
    if (quote == L'"' || quote == L'\'') {
        nL = ++i;
        i = vidozir::xml::SkipToUnit(p, i, m_strDocText.GetLength(), quote);
    } else {
        while (p[i] && !IsSpace(p[i]) && p[i] != L'>') {
            ++i;
        }
    }
    strValue = UnescapeText(p + nL, i - nL, m_nDocFlags);
    return true;
}

CLuStringW CXmlDoc::x_GetData(int iPos) {
    const wchar_t* p = m_strDocText;
    if (iPos == m_iMainPos && m_nNodeType > NodeTypeElement) {
        const int nStart = m_nNodeStart;
        const int nLength = m_nNodeLength;
        switch (m_nNodeType) {
            case NodeTypeComment:
                return Span(m_strDocText, nStart + 4, nLength - 7);
            case NodeTypeProcessingInstruction:
                return Span(m_strDocText, nStart + 2, nLength - 4);
            case NodeTypeCdataSection:
                return Span(m_strDocText, nStart + 9, nLength - 12);
            case NodeTypeText:
                return UnescapeText(p + nStart, nLength, m_nDocFlags);
            case NodeTypeLoneEndTag:
                return Span(m_strDocText, nStart + 2, nLength - 3);
            default:
                return Span(m_strDocText, nStart, nLength);
        }
    }
    if (!iPos) {
        return CLuStringW();
    }
    const ElemPos& elem = ELEM(iPos);
    if (elem.IsEmptyElement() || elem.iElemChild) {
        return CLuStringW();
    }
    const int nContent = elem.StartContent();
    const int nContentEnd = nContent + elem.ContentLen();
    bool bMarkup = false;
    for (int i = nContent; i < nContentEnd; ++i) {
        if (p[i] == L'<') {
            bMarkup = true;
            break;
        }
    }
    if (!bMarkup) {
        return UnescapeText(p + nContent, nContentEnd - nContent, m_nDocFlags);
    }
    CLuStringW strData;
    TokenPos token(p, m_nDocFlags);
    token.m_nNext = nContent;
    NodePos node;
    while (token.m_nNext < nContentEnd) {
        const int nType = token.ScanNode(node);
        if (nType == NodeTypeScanEnd) {
            break;
        }
        if (nType == NodeTypeText) {
            strData += UnescapeText(p + node.nStart, node.nLength, m_nDocFlags);
        } else if (nType == NodeTypeCdataSection && node.nLength > 12) {
            strData.Append(p + node.nStart + 9, node.nLength - 12);
        }
    }
    return strData;
}

CLuStringW CXmlDoc::GetData() {
    return x_GetData(m_iMainPos);
}

CLuStringW CXmlDoc::GetChildData() {
    return m_iChildPos ? x_GetData(m_iChildPos) : CLuStringW();
}

CLuStringW CXmlDoc::x_GetElemContent(int iPos) const {
    if (!iPos) {
        return CLuStringW();
    }
    const ElemPos& elem = ELEM(iPos);
    return Span(m_strDocText, elem.StartContent(), elem.ContentLen());
}

CLuStringW CXmlDoc::GetElemContent() const {
    return (m_nDocFlags & kStreamFlags) ? CLuStringW() : x_GetElemContent(m_iMainPos);
}

CLuStringW CXmlDoc::x_GetSubDoc(int iPos) {
    if (!iPos) {
        return CLuStringW();
    }
    const int nStart = ELEM(iPos).nStart;
    return m_strDocText.Mid(nStart, x_EndWithSpace(iPos) - nStart);
}

// The end of element iPos, taking the white space behind it when that runs up
// to the next tag or to the end of the text.
int CXmlDoc::x_EndWithSpace(int iPos) const {
    const int nEnd = ELEM(iPos).StartAfter();
    int i = nEnd;
    while (IsSpace(m_strDocText[i])) {
        ++i;
    }
    return (m_strDocText[i] == L'<' || m_strDocText[i] == 0) ? i : nEnd;
}

CLuStringW CXmlDoc::GetSubDoc() {
    return (m_nDocFlags & kStreamFlags) ? CLuStringW() : x_GetSubDoc(m_iMainPos);
}

CLuStringW CXmlDoc::GetChildSubDoc() {
    return (m_nDocFlags & kStreamFlags) ? CLuStringW() : x_GetSubDoc(m_iChildPos);
}

// ---- error message ----

namespace {

// Records of the parse and the scanner: only the first of them is reported.
bool IsParseRecord(const CLuStringW& strId) {
    static const wchar_t* const kIds[] = {L"root_has_sibling",     L"no_root_element",
                                          L"lone_end_tag",         L"unended_start_tag",
                                          L"first_tag_syntax",     L"exclamation_tag_syntax",
                                          L"doctype_tag_syntax",   L"comment_tag_syntax",
                                          L"cdata_section_syntax", L"unterminated_tag_syntax"};
    for (const wchar_t* szId : kIds) {
        if (strId == szId) {
            return true;
        }
    }
    return false;
}

// "<encoding> " when there is one, then "length <n>".
CLuStringW EncodingLength(const CLuStringW& strEncoding, const CLuStringW& strLength) {
    CLuStringW str;
    if (!strEncoding.IsEmpty()) {
        str = strEncoding + L" ";
    }
    return str + L"length " + strLength;
}

CLuStringW TagSyntax(const CLuStringW& strOffset, const wchar_t* szExpecting) {
    return CLuStringW(L"tag syntax error at offset ") + strOffset + L" expecting " + szExpecting;
}

}  // namespace

CLuStringW CXmlDoc::GetError() const {
    CXmlDoc results(m_strResultText);
    CLuStringW strMessage;
    bool bParseReported = false;
    while (results.FindElem()) {
        const CLuStringW strId = results.GetTagName();
        if (IsParseRecord(strId)) {
            if (bParseReported) {
                continue;
            }
            bParseReported = true;
        }
        const CLuStringW strOffset = results.GetAttrib(L"offset");
        const CLuStringW strEncoding = results.GetAttrib(L"encoding");
        const CLuStringW strLength = results.GetAttrib(L"length");
        CLuStringW strText;
        if (strId == L"root_has_sibling") {
            strText = L"root element has sibling";
        } else if (strId == L"no_root_element") {
            strText = L"no root element";
        } else if (strId == L"lone_end_tag") {
            strText = CLuStringW(L"lone end tag '") + results.GetAttrib(L"tagname") +
                      L"' at offset " + strOffset;
        } else if (strId == L"unended_start_tag") {
            strText = CLuStringW(L"start tag '") + results.GetAttrib(L"tagname") + L"' at offset " +
                      strOffset + L" expecting end tag at offset " + results.GetAttrib(L"offset2");
        } else if (strId == L"first_tag_syntax") {
            strText = TagSyntax(strOffset, L"tag name / ! or ?");
        } else if (strId == L"exclamation_tag_syntax") {
            strText = TagSyntax(strOffset, L"'DOCTYPE' [ or -");
        } else if (strId == L"doctype_tag_syntax") {
            strText = TagSyntax(strOffset, L"markup declaration");
        } else if (strId == L"comment_tag_syntax") {
            strText = TagSyntax(strOffset, L"- to begin comment");
        } else if (strId == L"cdata_section_syntax") {
            strText = TagSyntax(strOffset, L"'CDATA'");
        } else if (strId == L"unterminated_tag_syntax") {
            strText = CLuStringW(L"unterminated tag at offset ") + strOffset;
        } else if (strId == L"file_error") {
            strText = results.GetAttrib(L"msg");
        } else if (strId == L"bom") {
            strText = L"BOM +";
        } else if (strId == L"read" || strId == L"write") {
            strText = EncodingLength(strEncoding, strLength);
        } else if (strId == L"converted_to") {
            strText = CLuStringW(L"to ") + EncodingLength(strEncoding, strLength);
        } else if (strId == L"converted_from") {
            strText = EncodingLength(strEncoding, strLength) + L" to";
        } else if (strId == L"nulls_removed") {
            strText = CLuStringW(L"removed ") + results.GetAttrib(L"count") + L" nulls";
        } else if (strId == L"conversion_loss") {
            strText = L"(chars lost in conversion!)";
        } else if (strId == L"utf8_detection") {
            strText = L"(used UTF-8 detection)";
        } else if (strId == L"endian_swap") {
            strText = L"endian swap";
        }
        if (strText.IsEmpty()) {
            continue;
        }
        if (!strMessage.IsEmpty()) {
            strMessage += L' ';
        }
        strMessage += strText;
    }
    return strMessage;
}

// ---- saved positions ----

bool CXmlDoc::SavePos(XML_CSTR szPosName, int nMap) {
    if ((m_nDocFlags & kStreamFlags) || !szPosName.pcsz || nMap < 0) {
        return false;
    }
    SavedPosMap* pMap = nullptr;
    m_pPosMaps->GetMap(pMap, nMap, 7);
    int iPos = m_iParentPos;
    int nFlags = SavedPosUsed;
    if (m_iChildPos) {
        iPos = m_iChildPos;
        nFlags |= SavedPosChild;
    } else if (m_iMainPos) {
        iPos = m_iMainPos;
        nFlags |= SavedPosMain;
    }
    SavedPos*& pEntries = pMap->pTable[SavedPosSlot(szPosName, pMap->nMapSize)];
    SavedPos* pTake = nullptr;
    if (!pEntries) {
        pEntries = new SavedPos[2];
        pEntries[1].nSavedPosFlags = SavedPosLast;
        pTake = &pEntries[0];
    } else {
        for (int n = 0;; ++n) {
            SavedPos& entry = pEntries[n];
            if (!(entry.nSavedPosFlags & SavedPosUsed) || entry.strName == szPosName.pcsz) {
                pTake = &entry;
                break;
            }
            if (entry.nSavedPosFlags & SavedPosLast) {
                const int nNewSize = n * 2 + 12;
                SavedPos* pNew = new SavedPos[nNewSize];
                for (int k = 0; k <= n; ++k) {
                    pNew[k] = std::move(pEntries[k]);
                }
                pNew[n].nSavedPosFlags &= ~SavedPosLast;
                pNew[nNewSize - 1].nSavedPosFlags = SavedPosLast;
                delete[] pEntries;
                pEntries = pNew;
                pTake = &pEntries[n + 1];
                break;
            }
        }
    }
    pTake->strName = szPosName.pcsz;
    pTake->iPos = iPos;
    pTake->nSavedPosFlags = nFlags | (pTake->nSavedPosFlags & SavedPosLast);
    return true;
}

bool CXmlDoc::RestorePos(XML_CSTR szPosName, int nMap) {
    if ((m_nDocFlags & kStreamFlags) || !szPosName.pcsz || nMap < 0) {
        return false;
    }
    SavedPosMap* pMap = nullptr;
    m_pPosMaps->GetMap(pMap, nMap, 7);
    const SavedPos* pEntries = pMap->pTable[SavedPosSlot(szPosName, pMap->nMapSize)];
    if (!pEntries) {
        return false;
    }
    for (int n = 0;; ++n) {
        const SavedPos& entry = pEntries[n];
        if (!(entry.nSavedPosFlags & SavedPosUsed)) {
            return false;
        }
        if (entry.strName == szPosName.pcsz) {
            const int iPos = entry.iPos;
            if (entry.nSavedPosFlags & SavedPosChild) {
                const int iPosParent = ELEM(iPos).iElemParent;
                x_SetPos(ELEM(iPosParent).iElemParent, iPosParent, iPos);
            } else if (entry.nSavedPosFlags & SavedPosMain) {
                x_SetPos(ELEM(iPos).iElemParent, iPos, 0);
            } else {
                x_SetPos(iPos, 0, 0);
            }
            return true;
        }
        if (entry.nSavedPosFlags & SavedPosLast) {
            return false;
        }
    }
}

bool CXmlDoc::x_CheckSavedPos() {
    bool bDropped = false;
    for (SavedPosMap** ppMap = m_pPosMaps->pMaps; ppMap && *ppMap; ++ppMap) {
        SavedPosMap* pMap = *ppMap;
        for (int nSlot = 0; nSlot < pMap->nMapSize; ++nSlot) {
            SavedPos* pEntries = pMap->pTable[nSlot];
            if (!pEntries) {
                continue;
            }
            int nKeep = 0;
            int n = 0;
            for (;; ++n) {
                SavedPos& entry = pEntries[n];
                const bool bLast = (entry.nSavedPosFlags & SavedPosLast) != 0;
                if (entry.nSavedPosFlags & SavedPosUsed) {
                    if (ELEM(entry.iPos).nFlagsLevel & ElemReleased) {
                        bDropped = true;
                    } else {
                        if (nKeep != n) {
                            pEntries[nKeep] = entry;
                            pEntries[nKeep].nSavedPosFlags &= ~SavedPosLast;
                        }
                        ++nKeep;
                    }
                }
                if (bLast) {
                    break;
                }
            }
            for (int k = nKeep; k <= n; ++k) {
                pEntries[k].nSavedPosFlags &= ~SavedPosUsed;
            }
        }
    }
    return bDropped;
}
