// Test access to CXmlDoc's internals: records, the table, the scanner and the
// index check, plus small helpers for wide text in test messages.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "vidozir/xmldoc.h"

namespace xml_test {

inline std::string Utf8(const wchar_t* text) {
    CLuStringA narrow;
    narrow.Format("%ls", text ? text : L"");
    return narrow.GetString();
}

// szOpen, nCount copies of szPiece, then szClose.
inline CLuStringW Repeated(const wchar_t* szOpen, const wchar_t* szPiece, int nCount,
                           const wchar_t* szClose) {
    CLuStringW text(szOpen);
    for (int n = 0; n < nCount; ++n) {
        text += szPiece;
    }
    return text + szClose;
}

class XmlProbe : public CXmlDoc {
public:
    XmlProbe() = default;
    explicit XmlProbe(const wchar_t* szDoc) : CXmlDoc(XML_CSTR(szDoc)) {}
    explicit XmlProbe(int nFlags) : CXmlDoc(nFlags) {}

    using CXmlDoc::ElemFirst;
    using CXmlDoc::ElemIllData;
    using CXmlDoc::ElemIllFormed;
    using CXmlDoc::ElemNonEnded;
    using CXmlDoc::ElemPos;
    using CXmlDoc::ElemPosTable;
    using CXmlDoc::ElemReleased;
    using CXmlDoc::NodePos;
    using CXmlDoc::TokenPos;
    using CXmlDoc::x_AllocElemPos;
    using CXmlDoc::x_AppendResult;
    using CXmlDoc::x_CheckSavedPos;
    using CXmlDoc::x_EncodeCDATASection;
    using CXmlDoc::x_GetFreePos;
    using CXmlDoc::x_GetParent;
    using CXmlDoc::x_GetTagName;
    using CXmlDoc::x_NamesEqual;
    using CXmlDoc::x_ParseUtf8;
    using CXmlDoc::x_ReleasePos;
    using CXmlDoc::x_SetPos;

    ElemPos& Elem(int i) { return ELEM(i); }
    const ElemPosTable& Table() const { return *m_pElemTable; }
    SavedPosMap** Maps() const { return m_pPosMaps->pMaps; }
    SavedPosMap* Map(int nMap) {
        SavedPosMap* pMap = nullptr;
        m_pPosMaps->GetMap(pMap, nMap);
        return pMap;
    }
    int NextFree() const { return m_iNextFreePos; }
    int Released() const { return m_iReleasedPos; }
    int MainPos() const { return m_iMainPos; }
    int ParentPos() const { return m_iParentPos; }
    int ChildPos() const { return m_iChildPos; }
    int NodeType() const { return m_nNodeType; }
    int NodeStart() const { return m_nNodeStart; }
    int NodeLength() const { return m_nNodeLength; }
    // Document flags as given, bits 16 and 32 included (SetDocFlags clears them).
    void ForceDocFlags(int nFlags) { m_nDocFlags = nFlags; }
    int Flags(int i) { return ELEM(i).nFlagsLevel & ~0xFFFF; }

    // The record whose element starts at nStart, 0 when none.
    int At(int nStart) {
        for (int i = 1; i < m_iNextFreePos; ++i) {
            if (ELEM(i).nStart == nStart && ELEM(i).nFlagsLevel != ElemReleased) {
                return i;
            }
        }
        return 0;
    }
    // Children of iPos in order, as their start offsets.
    std::vector<int> ChildStarts(int iPos) {
        std::vector<int> starts;
        for (int i = ELEM(iPos).iElemChild; i; i = ELEM(i).iElemNext) {
            starts.push_back(ELEM(i).nStart);
        }
        return starts;
    }

    // The tree below iPos as text: each element as start+length, then "!" when
    // it has no end tag, "*" when its content is ill, "#" on an ill-formed
    // document, then its children in parentheses. The index check vouches for
    // the links, levels and first-child marks the text leaves out.
    std::string Dump(int iPos = 0) const {
        const ElemPos& e = ELEM(iPos);
        std::string s = std::to_string(e.nStart) + "+" + std::to_string(e.nLength);
        s += e.nFlagsLevel & ElemNonEnded ? "!" : "";
        s += e.nFlagsLevel & ElemIllData ? "*" : "";
        s += e.nFlagsLevel & ElemIllFormed ? "#" : "";
        for (int c = e.iElemChild; c; c = ELEM(c).iElemNext) {
            s += (c == e.iElemChild ? "(" : " ") + Dump(c) + (ELEM(c).iElemNext ? "" : ")");
        }
        return s;
    }

    // The entries of map nMap's slots in use, "slot: entry ...;": a used
    // entry's name and flags U(sed) M(ain) C(hild), or "-" for a free one; L
    // marks the last.
    std::string Slots(int nMap) {
        std::string out;
        const SavedPosMap* pMap = Map(nMap);
        for (int nSlot = 0; nSlot < pMap->nMapSize; ++nSlot) {
            const SavedPos* p = pMap->pTable[nSlot];
            out += p ? std::to_string(nSlot) + ":" : "";
            for (int k = 0, f = 0; p && !(f & SavedPosLast); ++k) {
                f = p[k].nSavedPosFlags;
                const std::string flags =
                    std::string(f & SavedPosMain ? "M" : "") + (f & SavedPosChild ? "C" : "");
                out += " " + (f & SavedPosUsed ? Utf8(p[k].strName) + "/U" + flags : "-") +
                       (f & SavedPosLast ? "L" : "");
            }
            out += p ? ";" : "";
        }
        return out;
    }

    ::testing::AssertionResult IndexOk() const {
        CLuStringW strProblem;
        if (x_CheckElemIndex(&strProblem)) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << Utf8(strProblem) << " in \"" << Utf8(m_strDocText).substr(0, 200) << "\"";
    }

    // Every record handed out since the last parse is either in the tree or on
    // the released chain: an edit that drops a record from the tree without
    // releasing it leaves saved positions able to reach it. Call after IndexOk.
    ::testing::AssertionResult RecordsAccounted() const {
        std::vector<char> seen(static_cast<size_t>(m_iNextFreePos), 0);
        for (const WalkEntry& e : Walk()) {
            seen[static_cast<size_t>(e.iRecord)] = 1;
        }
        for (int i = m_iReleasedPos; i; i = ELEM(i).iElemNext) {
            seen[static_cast<size_t>(i)] = 1;
        }
        for (int i = 1; i < m_iNextFreePos; ++i) {
            if (!seen[static_cast<size_t>(i)]) {
                return ::testing::AssertionFailure()
                       << "record " << i << " (start " << ELEM(i).nStart
                       << ") is neither linked nor released";
            }
        }
        return ::testing::AssertionSuccess();
    }

    // One element in a walk of the tree in document order. Links are walk
    // positions, so two indexes of the same text compare equal however their
    // records are numbered; position 0 is the document record (and "none" for
    // the child and sibling links, which never name it).
    // fields: start, length, start tag, end tag, level, flags (kFlagsField),
    // parent, first child, next and previous sibling.
    enum { kFlagsField = 5 };
    struct WalkEntry {
        int iRecord;
        std::vector<int> fields;
    };
    std::vector<WalkEntry> Walk() const {
        std::vector<int> order, todo{0};
        while (!todo.empty()) {  // children pushed in reverse, so the first comes next
            const int i = todo.back();
            todo.pop_back();
            order.push_back(i);
            const size_t nTop = todo.size();
            for (int c = ELEM(i).iElemChild; c; c = ELEM(c).iElemNext) {
                todo.push_back(c);
            }
            std::reverse(todo.begin() + static_cast<long>(nTop), todo.end());
        }
        std::vector<int> walkPos(static_cast<size_t>(m_iNextFreePos), 0);
        for (size_t n = 0; n < order.size(); ++n) {
            walkPos[static_cast<size_t>(order[n])] = static_cast<int>(n);
        }
        auto at = [&](int i) { return walkPos[static_cast<size_t>(i)]; };
        std::vector<WalkEntry> walk;
        for (int i : order) {
            const ElemPos& e = ELEM(i);
            walk.push_back({i,
                            {e.nStart, e.nLength, e.StartTagLen(), e.EndTagLen(), e.Level(),
                             e.nFlagsLevel & ~0xFFFF, i ? at(e.iElemParent) : 0, at(e.iElemChild),
                             at(e.iElemNext), i ? at(e.iElemPrev) : 0}});
        }
        return walk;
    }
};

// Compares two indexes record by record in document order: spans, tag
// lengths, levels, links and the record flags outside nIgnoreFlags.
// nIgnoreFlagsDoc is masked out on the document record only.

inline ::testing::AssertionResult SameIndex(const XmlProbe& actual, const XmlProbe& expected,
                                            int nIgnoreFlags, int nIgnoreFlagsDoc) {
    const std::vector<XmlProbe::WalkEntry> a = actual.Walk(), e = expected.Walk();
    const size_t n = std::min(a.size(), e.size());
    for (size_t i = 0; i < n; ++i) {
        std::vector<int> fx = a[i].fields, fy = e[i].fields;
        const int nMask = ~(nIgnoreFlags | (i == 0 ? nIgnoreFlagsDoc : 0));
        fx[XmlProbe::kFlagsField] &= nMask;
        fy[XmlProbe::kFlagsField] &= nMask;
        static const char* const kNames[] = {
            "start", "length", "start tag",   "end tag",      "level",
            "flags", "parent", "first child", "next sibling", "previous sibling"};
        for (size_t f = 0; f < fx.size(); ++f) {
            if (fx[f] != fy[f]) {
                return ::testing::AssertionFailure()
                       << kNames[f] << " differs at walk position " << i << " (edited record "
                       << a[i].iRecord << " then fresh parse: start/length/tags/level/flags/links "
                       << ::testing::PrintToString(fx) << " " << ::testing::PrintToString(fy)
                       << ")";
            }
        }
    }
    if (a.size() != e.size()) {
        return ::testing::AssertionFailure() << "the edited index has " << a.size() - 1
                                             << " elements, a fresh parse " << e.size() - 1;
    }
    return ::testing::AssertionSuccess();
}

}  // namespace xml_test
