#include <gtest/gtest.h>

#include "xml_probe.h"

using xml_test::Repeated;
using xml_test::Utf8;
using xml_test::XmlProbe;

namespace {

std::string Result(const CXmlDoc& doc) {
    return Utf8(doc.GetResult());
}

TEST(XmlParse, WellFormedDocumentIndexesEveryElement) {
    XmlProbe doc(
        L"<?xml version=\"1.0\"?>\r\n<r a='1'><a>x</a><b/>text<!--c--><c><d/></c></r>\r\n");
    EXPECT_TRUE(doc.IsWellFormed());
    EXPECT_EQ(Result(doc), "");
    EXPECT_TRUE(doc.IndexOk());
    EXPECT_EQ(doc.NextFree(), 6);
    const int r = doc.Elem(0).iElemChild;
    ASSERT_EQ(r, doc.At(23));
    EXPECT_EQ(doc.Elem(r).StartTagLen(), 9);
    EXPECT_EQ(doc.Elem(r).EndTagLen(), 4);
    EXPECT_EQ(doc.Elem(r).nLength, 48);
    EXPECT_EQ(doc.Elem(0).nLength, doc.GetDoc().GetLength());
    EXPECT_EQ(doc.ChildStarts(r), (std::vector<int>{32, 40, 56}));
    const int a = doc.At(32), b = doc.At(40), c = doc.At(56), d = doc.At(59);
    EXPECT_EQ(doc.Elem(a).nLength, 8);
    EXPECT_EQ(doc.Elem(b).nLength, 4);
    EXPECT_EQ(doc.Elem(b).EndTagLen(), 0);
    EXPECT_EQ(doc.Level(r), 0);
    EXPECT_EQ(doc.Level(a), 1);
    EXPECT_EQ(doc.Level(d), 2);
    EXPECT_EQ(doc.Flags(a), XmlProbe::ElemFirst);
    EXPECT_EQ(doc.Flags(b), 0);
    EXPECT_EQ(doc.Elem(a).iElemPrev, c);  // the first child names the last
    EXPECT_EQ(doc.Elem(c).iElemPrev, b);
    EXPECT_EQ(doc.Elem(d).iElemParent, c);
    // Positions are reset by the parse.
    EXPECT_EQ(doc.MainPos() + doc.ParentPos() + doc.ChildPos() + doc.NodeType(), 0);
}

TEST(XmlParse, MissingEndTagEndsTheElementAfterItsStartTag) {
    XmlProbe doc(L"<a><b></a>");
    EXPECT_FALSE(doc.IsWellFormed());
    EXPECT_EQ(Result(doc), "<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"7\"/>");
    const int a = doc.At(0), b = doc.At(3);
    EXPECT_EQ(doc.Flags(b), XmlProbe::ElemFirst | XmlProbe::ElemNonEnded);
    EXPECT_EQ(doc.Elem(b).nLength, 3);
    EXPECT_EQ(doc.Elem(a).nLength, 10);
    EXPECT_TRUE(doc.Flags(0) & XmlProbe::ElemIllFormed);
    EXPECT_TRUE(doc.IndexOk());
}

TEST(XmlParse, ChildrenOfAnUnendedElementMoveUpBehindIt) {
    XmlProbe doc(L"<a><b><c/><d><e/></d></a>");
    const int a = doc.At(0), b = doc.At(3), c = doc.At(6), d = doc.At(10), e = doc.At(13);
    EXPECT_EQ(doc.ChildStarts(a), (std::vector<int>{3, 6, 10}));
    EXPECT_EQ(doc.Elem(b).iElemChild, 0);
    EXPECT_EQ(doc.Flags(c), 0);  // no longer a first child
    EXPECT_EQ(doc.Elem(doc.Elem(a).iElemChild).iElemPrev, d);
    EXPECT_EQ(doc.Level(c), 1);
    EXPECT_EQ(doc.Level(d), 1);
    EXPECT_EQ(doc.Level(e), 2);  // below a moved child, one level up as well
    EXPECT_EQ(doc.Elem(e).iElemParent, d);
    EXPECT_TRUE(doc.IndexOk());
}

TEST(XmlParse, UnclosedRunsAtTheEndAreFlattenedInnermostFirst) {
    XmlProbe doc(L"<r><p><x/><q><y/><z></r2>");
    // At the end of the text r, p, q and z are open: records come innermost first.
    EXPECT_EQ(Result(doc),
              "<lone_end_tag tagname=\"r2\" offset=\"20\"/>"
              "<unended_start_tag tagname=\"z\" offset=\"17\" offset2=\"25\"/>"
              "<unended_start_tag tagname=\"q\" offset=\"10\" offset2=\"25\"/>"
              "<unended_start_tag tagname=\"p\" offset=\"3\" offset2=\"25\"/>"
              "<unended_start_tag tagname=\"r\" offset=\"0\" offset2=\"25\"/>"
              "<root_has_sibling/>");
    EXPECT_EQ(doc.ChildStarts(0), (std::vector<int>{0, 3, 6, 10, 13, 17}));
    for (int start : {0, 3, 6, 10, 13, 17}) {
        EXPECT_EQ(doc.Level(doc.At(start)), 0) << start;
    }
    // The lone end tag marked z, the innermost open element; the mark moved up
    // to the document record as z, q, p and r were ended.
    EXPECT_FALSE(doc.Flags(doc.At(17)) & XmlProbe::ElemIllData);
    EXPECT_TRUE(doc.Flags(0) & XmlProbe::ElemIllData);
    EXPECT_TRUE(doc.IndexOk());
}

TEST(XmlParse, EndTagClosesAnOuterElementAndEndsTheOnesBetween) {
    XmlProbe doc(L"<r><a><b><c/></a><d/></r>");
    const int r = doc.At(0), a = doc.At(3), b = doc.At(6), c = doc.At(9);
    EXPECT_EQ(doc.ChildStarts(r), (std::vector<int>{3, 17}));
    EXPECT_EQ(doc.ChildStarts(a), (std::vector<int>{6, 9}));
    EXPECT_EQ(doc.Level(b), 2);
    EXPECT_EQ(doc.Level(c), 2);
    EXPECT_EQ(doc.Elem(a).nLength, 14);
    EXPECT_EQ(Result(doc), "<unended_start_tag tagname=\"b\" offset=\"6\" offset2=\"14\"/>");
    EXPECT_TRUE(doc.IndexOk());
}

TEST(XmlParse, LoneEndTagIsSkipped) {
    XmlProbe doc(L"<a></b></a>");
    EXPECT_FALSE(doc.IsWellFormed());
    EXPECT_EQ(Result(doc), "<lone_end_tag tagname=\"b\" offset=\"3\"/>");
    EXPECT_EQ(doc.Elem(doc.At(0)).nLength, 11);
    EXPECT_EQ(doc.Flags(doc.At(0)), XmlProbe::ElemFirst | XmlProbe::ElemIllData);

    XmlProbe top(L"</x><a/>");
    EXPECT_TRUE(top.Flags(0) & XmlProbe::ElemIllData);
    EXPECT_EQ(Result(top), "<lone_end_tag tagname=\"x\" offset=\"0\"/>");
}

TEST(XmlParse, RootElementCount) {
    XmlProbe two(L"<a/><b/>");
    EXPECT_FALSE(two.IsWellFormed());
    EXPECT_EQ(Result(two), "<root_has_sibling/>");
    EXPECT_EQ(two.ChildStarts(0), (std::vector<int>{0, 4}));

    XmlProbe text(L"text only");
    EXPECT_FALSE(text.IsWellFormed());
    EXPECT_EQ(Result(text), "<no_root_element/>");

    XmlProbe empty(L"");
    EXPECT_FALSE(empty.IsWellFormed());
    EXPECT_EQ(Result(empty), "");

    XmlProbe spaced(L"  \r\n<a/>\r\n");
    EXPECT_TRUE(spaced.IsWellFormed());
}

TEST(XmlParse, CaseOfNamesMattersUnlessIgnored) {
    CXmlDoc exact(L"<a>x</A>");
    EXPECT_FALSE(exact.IsWellFormed());
    CXmlDoc folded(CXmlDoc::DocFlagIgnoreCase);
    EXPECT_TRUE(folded.SetDoc(L"<a>x</A>"));
    EXPECT_EQ(folded.GetResult(), L"");
    // Equal non-ASCII units stop the forgiving: later case differences count.
    EXPECT_FALSE(
        folded.SetDoc(L"<\x00E9"
                      L"a>x</\x00E9"
                      L"A>"));
    EXPECT_TRUE(folded.SetDoc(L"<a\x00E9>x</A\x00E9>"));
}

TEST(XmlParse, ScannerErrorsBecomeRecordsAndMarkTheParent) {
    XmlProbe bang(L"<a><!x></a>");
    EXPECT_EQ(Result(bang), "<exclamation_tag_syntax offset=\"3\"/>");
    EXPECT_TRUE(bang.Flags(bang.At(0)) & XmlProbe::ElemIllData);
    EXPECT_FALSE(bang.IsWellFormed());
    EXPECT_EQ(bang.Elem(bang.At(0)).nLength, 11);

    XmlProbe cdata(L"<a><![CDATA[x");
    EXPECT_EQ(Result(cdata),
              "<unterminated_tag_syntax type=\"cdata_section\" offset=\"3\"/>"
              "<unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"13\"/>");

    struct Case {
        const wchar_t* text;
        const char* record;
    } cases[] = {
        {L"<r>< x></r>", "<first_tag_syntax offset=\"3\"/>"},
        {L"<r><!-x></r>", "<comment_tag_syntax offset=\"3\"/>"},
        {L"<r><![X[></r>", "<cdata_section_syntax offset=\"3\"/>"},
        {L"<!DOCTYPE r [<!Q>]><r/>", ""},  // an error inside a document type stays in it
        {L"<r/><!DOCTYPE r [<!ENTITY",
         "<unterminated_tag_syntax type=\"document_type\" offset=\"4\"/>"},
        {L"<r/><?pi", "<unterminated_tag_syntax type=\"processing_instruction\" offset=\"4\"/>"},
        {L"<r/><!-- c", "<unterminated_tag_syntax type=\"comment\" offset=\"4\"/>"},
        {L"<r/></r", "<unterminated_tag_syntax type=\"end_tag\" offset=\"4\"/>"},
        {L"<r/><q a='>", "<unterminated_tag_syntax type=\"start_tag\" offset=\"4\"/>"},
        {L"<r/><", "<unterminated_tag_syntax type=\"tag\" offset=\"4\"/>"},
    };
    for (const Case& c : cases) {
        XmlProbe doc(c.text);
        EXPECT_EQ(Result(doc), c.record) << Utf8(c.text);
        EXPECT_TRUE(doc.IndexOk());
    }
}

TEST(XmlParse, ErrorNodeEndsBeforeTheNextTag) {
    XmlProbe doc(L"<r>< x <b/></r>");
    EXPECT_EQ(Result(doc), "<first_tag_syntax offset=\"3\"/>");
    EXPECT_EQ(doc.ChildStarts(doc.At(0)), (std::vector<int>{7}));
}

TEST(XmlParse, EmptyElementTagRules) {
    XmlProbe unquoted(L"<r><a href=x/></r>");
    // The "/" belongs to the unquoted value: a stays open until </r> ends it.
    EXPECT_EQ(unquoted.Flags(unquoted.At(3)) & XmlProbe::ElemNonEnded, XmlProbe::ElemNonEnded);
    XmlProbe quoted(L"<r><a href='x'/></r>");
    EXPECT_EQ(quoted.Elem(quoted.At(3)).nLength, 13);
    EXPECT_TRUE(quoted.IsWellFormed());
    XmlProbe spaced(L"<r><a href=x /></r>");
    EXPECT_TRUE(spaced.IsWellFormed());
    XmlProbe inside(L"<r><a t='>' u=\"/>\">x</a></r>");
    EXPECT_TRUE(inside.IsWellFormed());
    EXPECT_EQ(inside.Elem(inside.At(3)).StartTagLen(), 16);
}

TEST(XmlParse, ResultTextStopsGrowingAtAThousandCharacters) {
    XmlProbe doc(Repeated(L"<r>", L"</x>", 200, L"</r>"));
    const int nLength = doc.GetResult().GetLength();
    EXPECT_GE(nLength, 1000);
    EXPECT_LT(nLength, 1100);
    EXPECT_TRUE(doc.IndexOk());
}

TEST(XmlParse, OverlongEndTagClosesNothing) {
    const CLuStringW name = Repeated(L"", L"n", 1030, L"");
    CLuStringW text = L"<" + name + L"></" + name + L">";
    XmlProbe doc(text);
    EXPECT_FALSE(doc.IsWellFormed());
    EXPECT_TRUE(doc.Flags(doc.At(0)) & XmlProbe::ElemNonEnded);
    EXPECT_TRUE(doc.IndexOk());
}

TEST(XmlParse, DeepNestingBeyondTheLevelField) {
    const int nDepth = 70000;
    CLuStringW text = Repeated(L"", L"<a>", nDepth, L"") + Repeated(L"", L"</a>", nDepth, L"");
    XmlProbe doc(text);
    EXPECT_TRUE(doc.IsWellFormed());
    EXPECT_EQ(doc.Level(doc.At(3 * 65536)), 0);  // levels wrap in their 16 bits
    EXPECT_TRUE(doc.IndexOk());
    // The same tags never closed: every one is ended, in linear time.
    text = text.Left(3 * nDepth);
    EXPECT_FALSE(doc.SetDoc(text));
    EXPECT_EQ(doc.ChildStarts(0).size(), static_cast<size_t>(nDepth));
    EXPECT_TRUE(doc.IndexOk());
}

TEST(XmlAppendResult, WritesAttributesInOrder) {
    CLuStringW result;
    XmlProbe::x_AppendResult(result, L"file_error", L"can't \"open\" <x>", 64 | 4, 5, -1);
    EXPECT_EQ(Utf8(result), "<file_error msg=\"can&apos;t &quot;open&quot; &lt;x&gt;\" n=\"5\"/>");
    result.Empty();
    XmlProbe::x_AppendResult(result, L"read", L"UTF-8", 8 | 16, 120, -1);
    XmlProbe::x_AppendResult(result, L"nulls_removed", nullptr, 1, 3, -1);
    XmlProbe::x_AppendResult(result, L"bom", nullptr, 0, -1, -1);
    XmlProbe::x_AppendResult(result, L"t", L"x", 2, -1, 9);
    EXPECT_EQ(Utf8(result),
              "<read encoding=\"UTF-8\" length=\"120\"/><nulls_removed count=\"3\"/><bom/>"
              "<t type=\"x\" offset2=\"9\"/>");
}

TEST(XmlAppendResult, AmendsTheFirstRecordOfTheName) {
    CLuStringW result(L"<bom/><read encoding=\"UTF-8\" length=\"1\"/><read length=\"2\"/>");
    XmlProbe::x_AppendResult(result, L"read", L"UTF-16LE", 32 | 8 | 16, 345, -1);
    EXPECT_EQ(Utf8(result),
              "<bom/><read encoding=\"UTF-16LE\" length=\"345\"/><read length=\"2\"/>");
    XmlProbe::x_AppendResult(result, L"bom", nullptr, 32 | 1, 7, -1);
    EXPECT_EQ(Utf8(result).substr(0, 18), "<bom count=\"7\"/><r");
    const CLuStringW before = result;
    XmlProbe::x_AppendResult(result, L"missing", L"x", 32, -1, -1);
    XmlProbe::x_AppendResult(result, L"rea", L"x", 32, -1, -1);
    EXPECT_EQ(result, before);
}

}  // namespace
