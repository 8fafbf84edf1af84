// Test access to CXmlDoc's internals: records, the table, the scanner and the
// index check, plus small helpers for wide text in test messages.
#pragma once

#include <gtest/gtest.h>

#include <string>

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
    text += szClose;
    return text;
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
    using CXmlDoc::SavedPos;
    using CXmlDoc::SavedPosLast;
    using CXmlDoc::SavedPosMain;
    using CXmlDoc::SavedPosMap;
    using CXmlDoc::SavedPosUsed;
    using CXmlDoc::TokenPos;
    using CXmlDoc::x_AllocElemPos;
    using CXmlDoc::x_AppendResult;
    using CXmlDoc::x_EncodeCDATASection;
    using CXmlDoc::x_GetFreePos;
    using CXmlDoc::x_GetParent;
    using CXmlDoc::x_NamesEqual;
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
    int Flags(int i) { return ELEM(i).nFlagsLevel & ~0xFFFF; }
    int Level(int i) { return ELEM(i).Level(); }

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

    ::testing::AssertionResult IndexOk() const {
        CLuStringW strProblem;
        if (x_CheckElemIndex(&strProblem)) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << Utf8(strProblem) << " in \"" << Utf8(m_strDocText).substr(0, 200) << "\"";
    }
    bool IndexOkQuiet() const { return x_CheckElemIndex(); }
};

}  // namespace xml_test
