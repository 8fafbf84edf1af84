#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "xml_probe.h"

using xml_test::Repeated;
using xml_test::SameIndex;
using xml_test::Utf8;
using xml_test::XmlProbe;

namespace {

TEST(XmlDoc, EmptyDocumentFlagsAndConstructors) {
    XmlProbe doc;
    EXPECT_FALSE(doc.IsWellFormed());
    EXPECT_EQ(doc.GetResult() + doc.GetDoc(), L"");
    EXPECT_EQ(doc.NextFree(), 1);
    EXPECT_EQ(doc.Table().m_nSize, 8);
    EXPECT_EQ(doc.Elem(0).nLength, 0);
    EXPECT_TRUE(doc.IndexOk());
    doc.SetDocFlags(0xFF);
    EXPECT_EQ(doc.GetDocFlags(), 0x8F);
    XmlProbe flagged(CXmlDoc::DocFlagIgnoreCase | CXmlDoc::DocFlagTrimWhitespace);
    EXPECT_EQ(flagged.GetDocFlags(), 8 | 256);
    EXPECT_TRUE(CXmlDoc(L"<a/>").IsWellFormed());
    EXPECT_EQ(CXmlDoc(XML_CSTR(nullptr)).GetDoc(), L"");
}

// Streaming documents take no text; only the ill-formed mark makes them ill.
TEST(XmlDoc, StreamingFlagsRefuseWholeDocumentOperations) {
    CXmlDoc writing(CXmlDoc::DocFlagWriteFile);
    EXPECT_TRUE(writing.IsWellFormed());
    EXPECT_FALSE(writing.SetDoc(L"<a/>") || writing.SetMapSize(7, 0));
    EXPECT_EQ(writing.GetDoc(), L"");
    CXmlDoc reading(CXmlDoc::DocFlagReadFile);
    EXPECT_TRUE(reading.IsWellFormed());
    reading = CXmlDoc(L"<a/>");
    EXPECT_EQ(reading.GetDoc() + CXmlDoc(reading).GetDoc(), L"");
}

TEST(XmlDoc, SetDocReplacesTextAndResult) {
    XmlProbe doc(L"<a></b></a>");
    EXPECT_NE(doc.GetResult(), L"");
    EXPECT_TRUE(doc.SetDoc(CLuStringW(L"<r><x/></r>")));
    EXPECT_EQ(doc.GetResult(), L"");
    EXPECT_EQ(doc.NextFree(), 3);
    // Reparsing its own text numbers the records from 1 again.
    doc.x_GetFreePos();
    doc.x_ReleasePos(doc.At(3));
    EXPECT_TRUE(doc.SetDoc(doc.GetDoc()));
    EXPECT_EQ(doc.NextFree(), 3);
    EXPECT_EQ(doc.Released(), 0);
    EXPECT_EQ(doc.GetDoc(), L"<r><x/></r>");
    // A null text frees the table; the parse then reserves 8 records again.
    EXPECT_FALSE(doc.SetDoc(static_cast<const wchar_t*>(nullptr)));
    EXPECT_EQ(doc.Table().m_nSize, 8);
    EXPECT_EQ(doc.GetDoc(), L"");
}

TEST(XmlDoc, TableReservesForTheText) {
    const CLuStringW text = Repeated(
        L"<r>", L"<item>a text long enough that the reserve covers every element of it</item>",
        1000, L"</r>");
    XmlProbe doc(text);
    EXPECT_EQ(doc.Table().m_nSize, text.GetLength() / 64 + 8);
    EXPECT_EQ(doc.NextFree(), 1002);
}

TEST(XmlDoc, TableGrowsOneSegmentAtATime) {
    XmlProbe::ElemPosTable table;
    table.Grow(200000);  // limited to two segments
    EXPECT_EQ(table.m_nSize, 131072);
    EXPECT_EQ(table.m_nSegs, 6);
    table[131071].nStart = 7;
    table[65536].nStart = 5;
    table.Grow(140000);
    EXPECT_EQ(table.m_nSize, 140000);
    EXPECT_EQ(table[131071].nStart, 7);
    EXPECT_EQ(table[65536].nStart, 5);

    XmlProbe::ElemPosTable small;
    small.Grow(8);
    small[7].nLength = 3;
    small.Grow(12);  // same segment: copied into a larger block
    EXPECT_EQ(small[7].nLength, 3);
    EXPECT_EQ(small.m_nSegs, 4);
    small.Grow(70000);  // segment 0 becomes a full block, segment 1 the rest
    EXPECT_EQ(small.m_nSize, 70000);
    EXPECT_EQ(small[7].nLength, 3);
    small[65535].nLength = 9;
    small[69999].nLength = 4;
    small.Grow(300000);
    EXPECT_EQ(small.m_nSize, 3 * 65536);
    EXPECT_EQ(small[65535].nLength, 9);
    EXPECT_EQ(small[69999].nLength, 4);
    EXPECT_EQ(small.m_nSegs, 4);
    small.Grow(5 * 65536);  // one more segment per call
    EXPECT_EQ(small.m_nSize, 4 * 65536);
    small.Grow(5 * 65536);
    EXPECT_EQ(small.m_nSize, 5 * 65536);
    EXPECT_EQ(small.m_nSegs, 4 + 2 * 4);  // the pointer array grew
    EXPECT_EQ(small[65535].nLength, 9);
}

TEST(XmlDoc, FreeAndReleasedRecords) {
    XmlProbe doc(L"<r/>");
    EXPECT_EQ(doc.Table().m_nSize, 8);
    for (int n = 2; n < 8; ++n) {
        EXPECT_EQ(doc.x_GetFreePos(), n);
    }
    EXPECT_EQ(doc.x_GetFreePos(), 8);  // full: grows by half
    EXPECT_EQ(doc.Table().m_nSize, 12);
    EXPECT_TRUE(doc.x_AllocElemPos(0));
    EXPECT_EQ(doc.Table().m_nSize, 13);
    doc.Elem(5).iElemNext = 6;
    EXPECT_EQ(doc.x_ReleasePos(5), 6);
    EXPECT_EQ(doc.x_ReleasePos(3), 0);
    EXPECT_EQ(doc.Released(), 3);
    EXPECT_EQ(doc.Elem(3).iElemNext, 5);
    EXPECT_EQ(doc.Elem(5).nFlagsLevel, XmlProbe::ElemReleased);
    EXPECT_TRUE(doc.IndexOk());
}

TEST(XmlDoc, DocumentsOfSeveralSegments) {
    const int nCount = 140000;
    XmlProbe doc(Repeated(L"<r>", L"<e/>", nCount, L"</r>"));
    EXPECT_TRUE(doc.IsWellFormed());
    EXPECT_EQ(doc.NextFree(), nCount + 2);
    EXPECT_GT(doc.Table().m_nSize, 2 * 65536);
    // Record i is element i - 1 after the root; records past 65,536 live in
    // later segments, addressed by (i >> 16, i & 0xFFFF).
    for (int i : {65535, 65536, 65537, 131072, nCount + 1}) {
        EXPECT_EQ(doc.Elem(i).nStart, 3 + (i - 2) * 4) << i;
        EXPECT_EQ(&doc.Elem(i), &doc.Table().m_pSegs[i >> 16][i & 0xFFFF]);
    }
    EXPECT_EQ(doc.Elem(doc.Elem(2).iElemPrev).nStart, 3 + (nCount - 1) * 4);
    EXPECT_TRUE(doc.IndexOk());
    // A text given as a string is copied piece by piece behind its parse.
    CLuStringW strText = doc.GetDoc();
    strText += L"<!---->";
    XmlProbe copy;
    EXPECT_TRUE(copy.SetDoc(strText));
    EXPECT_EQ(copy.GetDoc(), strText);
    EXPECT_EQ(copy.NextFree(), nCount + 2);
}

// UTF-8 bytes parse as SetDoc parses their UTF8To16 conversion: decoded a
// piece ahead of the scan, with characters cut by piece ends, nodes longer
// than a piece, a text that ends inside a tag, and bytes that are not
// well-formed UTF-8 (converted leniently instead).
TEST(XmlDoc, ParseFromUtf8AsFromItsConversion) {
    auto times = [](const std::string& piece, int n) {
        std::string text;
        for (int k = 0; k < n; ++k) {
            text += piece;
        }
        return text;
    };
    auto converted = [](const std::string& bytes) {
        const int nBytes = static_cast<int>(bytes.size());
        std::vector<unsigned short> units(bytes.size() + 1);
        const int nUnits = CXmlDoc::UTF8To16(nullptr, bytes.data(), nBytes);
        CXmlDoc::UTF8To16(units.data(), bytes.data(), nBytes);
        return CLuStringW(std::wstring(units.begin(), units.begin() + nUnits).c_str(), nUnits);
    };
    const std::string many = times("<e a='\xC3\xA9\xE6\x97\xA5'>\xF0\x9F\x98\x80 x</e>", 3000);
    const std::string cases[] = {
        "",
        "<r>" + many + "</r>",
        "<r><!--" + times("-\xC3\xA9", 40000) + "--><a b='" + times("\xE6\x97\xA5", 30000) +
            "'/></r>",
        "<r>" + many + "<b></r>",
        "<r>" + many + "<e x='cut short",
        "<r>" + many + "\xFF</r>",
        "\xE6\x97<r/>",
        "<r>" + many + std::string("\0</r>", 5),
    };
    for (const std::string& bytes : cases) {
        XmlProbe fromBytes, fromText;
        EXPECT_EQ(fromBytes.x_ParseUtf8(bytes.data(), static_cast<int>(bytes.size())),
                  fromText.SetDoc(converted(bytes)));
        EXPECT_EQ(fromBytes.GetDoc(), fromText.GetDoc());
        EXPECT_EQ(fromBytes.GetResult(), fromText.GetResult());
        EXPECT_TRUE(SameIndex(fromBytes, fromText, 0, 0)) << bytes.size() << " bytes";
    }
}

TEST(XmlDoc, SetMapSizeCreatesMissingMaps) {
    XmlProbe doc;
    EXPECT_TRUE(doc.SetMapSize(7, 2));
    for (int n = 0; n < 3; ++n) {
        ASSERT_NE(doc.Maps()[n], nullptr);
        EXPECT_EQ(doc.Maps()[n]->nMapSize, 7);
    }
    EXPECT_EQ(doc.Maps()[3], nullptr);
    EXPECT_FALSE(doc.SetMapSize(7, 2));
    EXPECT_FALSE(doc.SetMapSize(11, 1));
    EXPECT_EQ(doc.Maps()[1]->nMapSize, 7);
    EXPECT_TRUE(doc.SetMapSize(0, 3));  // at least one slot
    EXPECT_EQ(doc.Maps()[3]->nMapSize, 1);
    EXPECT_FALSE(doc.SetMapSize(7, -1));
    doc.SetDoc(L"<a/>");  // a parse releases every map
    EXPECT_EQ(doc.Maps(), nullptr);
}

TEST(XmlDoc, AssignmentCopiesEverything) {
    XmlProbe source(L"<r><a/><b></b></r>");
    source.x_SetPos(1, 2, 0);
    XmlProbe copy;
    copy = source;
    EXPECT_EQ(copy.GetDoc(), source.GetDoc());
    EXPECT_EQ(copy.NextFree(), 4);
    EXPECT_EQ(copy.Table().m_nSize, 8);  // at least 8 records
    EXPECT_EQ(copy.MainPos() * 10 + copy.ParentPos(), 21);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(std::memcmp(&copy.Elem(i), &source.Elem(i), sizeof(XmlProbe::ElemPos)), 0);
    }
    // Later changes of one leave the other alone.
    source.SetDoc(L"<x/>");
    EXPECT_EQ(copy.GetDoc(), L"<r><a/><b></b></r>");
    EXPECT_EQ(copy.Dump(), "0+18(0+18(3+4 7+7))");
    EXPECT_TRUE(copy.IsWellFormed() && copy.IndexOk());
    // Assigned to itself, it stays as it was.
    CXmlDoc& base = copy;
    base = static_cast<const CXmlDoc&>(base);
    EXPECT_EQ(copy.Dump(), "0+18(0+18(3+4 7+7))");
    EXPECT_EQ(copy.NextFree(), 4);

    CXmlDoc result(L"<a></b></a>");
    CXmlDoc resultCopy(result);
    EXPECT_EQ(resultCopy.GetResult(), result.GetResult());
    EXPECT_FALSE(resultCopy.IsWellFormed());

    // Tables past one segment are copied segment by segment.
    XmlProbe large(Repeated(L"<r>", L"<e/>", 70000, L"</r>"));
    copy = large;
    EXPECT_EQ(copy.Table().m_nSize, large.NextFree());
    EXPECT_EQ(copy.Table().m_nSegs, 2);
    EXPECT_EQ(copy.Elem(70001).nStart, large.Elem(70001).nStart);
    EXPECT_TRUE(copy.IndexOk());
}

TEST(XmlDoc, AssignmentCopiesSavedPositionsInUse) {
    XmlProbe source(L"<r/>");
    XmlProbe::SavedPosMap* pMap = source.Map(1);
    ASSERT_NE(pMap, nullptr);
    // Slot 0: three entries in use, the third marked last, a fourth beyond it.
    XmlProbe::SavedPos* pEntries = new XmlProbe::SavedPos[4];
    const wchar_t* names[] = {L"a", L"b", L"c", L"d"};
    for (int n = 0; n < 4; ++n) {
        pEntries[n].strName = names[n];
        pEntries[n].iPos = n + 1;
        pEntries[n].nSavedPosFlags = XmlProbe::SavedPosUsed | XmlProbe::SavedPosMain;
    }
    pEntries[2].nSavedPosFlags |= XmlProbe::SavedPosLast;
    pMap->pTable[0] = pEntries;
    // Slot 3: the second entry is not in use.
    XmlProbe::SavedPos* pShort = new XmlProbe::SavedPos[2];
    pShort[0].strName = L"x";
    pShort[0].nSavedPosFlags = XmlProbe::SavedPosUsed;
    pShort[1].nSavedPosFlags = XmlProbe::SavedPosLast;
    pMap->pTable[3] = pShort;

    XmlProbe copy;
    copy = source;
    ASSERT_NE(copy.Maps(), nullptr);
    ASSERT_NE(copy.Maps()[0], nullptr);
    ASSERT_NE(copy.Maps()[1], nullptr);
    EXPECT_EQ(copy.Maps()[2], nullptr);
    const XmlProbe::SavedPosMap* pCopy = copy.Maps()[1];
    EXPECT_EQ(pCopy->nMapSize, 7);
    ASSERT_NE(pCopy->pTable[0], nullptr);
    EXPECT_EQ(pCopy->pTable[0][2].strName, L"c");
    EXPECT_EQ(pCopy->pTable[0][2].iPos, 3);
    EXPECT_TRUE(pCopy->pTable[0][2].nSavedPosFlags & XmlProbe::SavedPosLast);
    EXPECT_FALSE(pCopy->pTable[0][1].nSavedPosFlags & XmlProbe::SavedPosLast);
    ASSERT_NE(pCopy->pTable[3], nullptr);
    EXPECT_EQ(pCopy->pTable[3][0].strName, L"x");
    EXPECT_EQ(pCopy->pTable[3][0].nSavedPosFlags, XmlProbe::SavedPosUsed | XmlProbe::SavedPosLast);
    EXPECT_EQ(pCopy->pTable[1], nullptr);
    // The source's entries are its own.
    pEntries[0].strName = L"changed";
    EXPECT_EQ(pCopy->pTable[0][0].strName, L"a");
}

}  // namespace
