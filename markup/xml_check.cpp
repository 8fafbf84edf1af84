// A full check of the element index, for tests and fuzzing: every link in
// both directions, the first-child flag and last-child link, levels, spans
// and the released chain.
#include "vidozir/xmldoc.h"

#include <vector>

namespace {

bool Fail(CLuStringW* pstrProblem, const wchar_t* szWhat, int iPos) {
    if (pstrProblem) {
        pstrProblem->Format(L"%s (record %d)", szWhat, iPos);
    }
    return false;
}

}  // namespace

bool CXmlDoc::x_CheckElemIndex(CLuStringW* pstrProblem) const {
    const int nSize = m_pElemTable->m_nSize;
    const int nUsed = m_iNextFreePos;
    const int nDocLength = m_strDocText.GetLength();
    if (nSize == 0) {
        return Fail(pstrProblem, L"empty record table", 0);
    }
    if (nUsed < 1 || nUsed > nSize) {
        return Fail(pstrProblem, L"next free record outside the table", nUsed);
    }
    const ElemPos& doc = ELEM(0);
    if (doc.nStart != 0 || doc.nLength != nDocLength || doc.Level() != 0) {
        return Fail(pstrProblem, L"document record does not span the text", 0);
    }
    auto inRange = [&](int i) { return i > 0 && i < nUsed; };
    std::vector<char> seen(static_cast<size_t>(nUsed), 0);
    seen[0] = 1;

    // Depth first over the tree, checking each parent's child chain.
    std::vector<int> parents{0};
    while (!parents.empty()) {
        const int iParent = parents.back();
        parents.pop_back();
        const ElemPos& parent = ELEM(iParent);
        const int iFirst = parent.iElemChild;
        if (!iFirst) {
            continue;
        }
        if (!inRange(iFirst)) {
            return Fail(pstrProblem, L"first child index out of range", iParent);
        }
        const int iLast = ELEM(iFirst).iElemPrev;
        int iPrev = 0;
        for (int i = iFirst; i; i = ELEM(i).iElemNext) {
            if (!inRange(i)) {
                return Fail(pstrProblem, L"sibling index out of range", iPrev);
            }
            if (seen[static_cast<size_t>(i)]) {
                return Fail(pstrProblem, L"record reached twice", i);
            }
            seen[static_cast<size_t>(i)] = 1;
            const ElemPos& elem = ELEM(i);
            if (elem.nFlagsLevel & ElemReleased) {
                return Fail(pstrProblem, L"released record is reachable", i);
            }
            if (elem.iElemParent != iParent) {
                return Fail(pstrProblem, L"parent link does not name the parent", i);
            }
            if (((elem.nFlagsLevel & ElemFirst) != 0) != (i == iFirst)) {
                return Fail(pstrProblem, L"first-child flag wrong", i);
            }
            if (i != iFirst && elem.iElemPrev != iPrev) {
                return Fail(pstrProblem, L"previous-sibling link wrong", i);
            }
            const int nLevel = iParent ? (parent.Level() + 1) & ElemLevelMask : 0;
            if (elem.Level() != nLevel) {
                return Fail(pstrProblem, L"level wrong", i);
            }
            if (elem.nStart < 0 || elem.nStart >= nDocLength || m_strDocText[elem.nStart] != L'<') {
                return Fail(pstrProblem, L"start is not a tag", i);
            }
            if (elem.StartTagLen() + elem.EndTagLen() > elem.nLength || elem.StartTagLen() < 2) {
                return Fail(pstrProblem, L"tag lengths exceed the element", i);
            }
            if (elem.StartAfter() > nDocLength) {
                return Fail(pstrProblem, L"element runs beyond the text", i);
            }
            if (elem.nStart < parent.StartContent() ||
                elem.StartAfter() > parent.StartAfter() - parent.EndTagLen()) {
                return Fail(pstrProblem, L"element outside its parent's content", i);
            }
            if (iPrev && elem.nStart < ELEM(iPrev).StartAfter()) {
                return Fail(pstrProblem, L"siblings overlap or are out of order", i);
            }
            if (!elem.iElemNext && i != iLast) {
                return Fail(pstrProblem, L"first child does not link the last child", iFirst);
            }
            parents.push_back(i);
            iPrev = i;
        }
    }

    // Released records: a finite chain, each marked exactly so, none in the tree.
    int nReleased = 0;
    for (int i = m_iReleasedPos; i; i = ELEM(i).iElemNext) {
        if (!inRange(i) || ++nReleased > nUsed) {
            return Fail(pstrProblem, L"released chain broken", i);
        }
        if (seen[static_cast<size_t>(i)]) {
            return Fail(pstrProblem, L"released record is reachable", i);
        }
        if (ELEM(i).nFlagsLevel != ElemReleased) {
            return Fail(pstrProblem, L"released record not marked released", i);
        }
    }
    return true;
}
