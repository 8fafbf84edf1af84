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

// (A parse of the document's own text is in the edit tests' find-and-remove loop.)
TEST(XmlDoc, SetDocReplacesTextAndResult) {
    XmlProbe doc(L"<a></b></a>");
    EXPECT_NE(doc.GetResult(), L"");
    EXPECT_TRUE(doc.SetDoc(Repeated(L"<r>", L"<x/>", 20, L"</r>")));
    EXPECT_EQ(doc.GetResult(), L"");
    EXPECT_EQ(doc.NextFree(), 22);
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
    // From empty, step by step: the size asked for, the size reached (one new
    // segment at most) and the length of the segment pointer array. The last
    // record of each step keeps its mark.
    const int k = 65536;
    const int steps[][3] = {{200000, 2 * k, 6}, {140000, 140000, 6}, {150000, 150000, 6},
                            {7 * k, 4 * k, 6},  {7 * k, 5 * k, 6},   {7 * k, 6 * k, 6},
                            {7 * k, 7 * k, 16}};
    XmlProbe::ElemPosTable table;
    std::vector<int> marked;
    for (const auto& step : steps) {
        table.Grow(step[0]);
        EXPECT_EQ(table.m_nSize, step[1]);
        EXPECT_EQ(table.m_nSegs, step[2]) << step[1];
        marked.push_back(step[1] - 1);
        table[step[1] - 1].nLength = step[1];
        for (int i : marked) {
            EXPECT_EQ(table[i].nLength, i + 1) << step[1];
        }
    }
}

// The released chain is checked after every random edit (RecordsAccounted).
TEST(XmlDoc, FreeRecordsGrowTheTableByHalf) {
    XmlProbe doc(L"<r/>");
    EXPECT_EQ(doc.Table().m_nSize, 8);
    for (int n = 2; n < 8; ++n) {
        EXPECT_EQ(doc.x_GetFreePos(), n);
    }
    EXPECT_EQ(doc.x_GetFreePos(), 8);  // full: grows by half
    EXPECT_EQ(doc.Table().m_nSize, 12);
    EXPECT_TRUE(doc.x_AllocElemPos(0));
    EXPECT_EQ(doc.Table().m_nSize, 13);
}

TEST(XmlDoc, DocumentsOfSeveralSegments) {
    const int nCount = 140000;
    XmlProbe doc(Repeated(L"<r>", L"<e/>", nCount, L"</r>"));
    EXPECT_TRUE(doc.IsWellFormed());
    EXPECT_EQ(doc.NextFree(), nCount + 2);
    EXPECT_GT(doc.Table().m_nSize, 2 * 65536);
    // Record i is element i - 1 after the root, also in later segments.
    for (int i : {65535, 65536, 65537, 131072, nCount + 1}) {
        EXPECT_EQ(doc.Elem(i).nStart, 3 + (i - 2) * 4) << i;
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
    EXPECT_TRUE(doc.SetMapSize(5, 2) && !doc.SetMapSize(5, 2) && !doc.SetMapSize(11, 1));
    EXPECT_TRUE(doc.SetMapSize(0, 3) && !doc.SetMapSize(7, -1));  // at least one slot
    std::string sizes;
    for (int n = 0; doc.Maps()[n]; ++n) {
        sizes += std::to_string(doc.Maps()[n]->nMapSize);
    }
    EXPECT_EQ(sizes, "5551");
    doc.SetDoc(L"<a/>");  // a parse releases every map
    EXPECT_EQ(doc.Maps(), nullptr);
}

TEST(XmlDoc, AssignmentCopiesEverything) {
    XmlProbe source(L"<r><a/><b></b></r>");
    source.x_SetPos(1, 2, 0);
    XmlProbe copy;
    copy = source;
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
    // "a", "h" and "o" share slot 6 of map 0, which then has room for 14; "h"
    // goes with its element. A copy holds the entries in use, the last marked.
    XmlProbe source(L"<r><a/><b/><c/></r>");
    ASSERT_TRUE(source.FindChildElem(L"a") && source.SavePos(L"a") && source.FindChildElem() &&
                source.SavePos(L"h") && source.FindChildElem() && source.SavePos(L"o", 1));
    ASSERT_TRUE(source.SavePos(L"o"));
    source.x_ReleasePos(source.At(7));
    ASSERT_TRUE(source.x_CheckSavedPos());
    XmlProbe copy;
    copy = source;
    EXPECT_EQ(copy.Slots(0) + " " + copy.Slots(1), "6: a/UC o/UCL; 6: o/UCL;");
    EXPECT_EQ(copy.Maps()[2], nullptr);
    // The entries are the copy's own.
    ASSERT_TRUE(source.SavePos(L"a", 1) && source.SetDoc(L"<x/>"));
    EXPECT_EQ(copy.Slots(1), "6: o/UCL;");
    EXPECT_TRUE(copy.RestorePos(L"a") && copy.ChildPos() == copy.At(3));
}

}  // namespace
