#include <gtest/gtest.h>

#include "xml_probe.h"

using xml_test::Repeated;
using xml_test::Utf8;
using xml_test::XmlProbe;

namespace {

std::string Result(const CXmlDoc& doc) {
    return Utf8(doc.GetResult());
}

// A parse of `text` under `flags` builds the index `dump` (see Dump) and the
// result `result` (null: not compared).
struct ParseCase {
    const wchar_t* text;
    const char* dump;
    const char* result;
    int flags;
};

TEST(XmlParse, IndexAndResultOfEachShape) {
    const int kFold = CXmlDoc::DocFlagIgnoreCase;
    const ParseCase cases[] = {
        {L"<?xml version=\"1.0\"?>\r\n<r a='1'><a>x</a><b/>text<!--c--><c><d/></c></r>\r\n",
         "0+73(23+48(32+8 40+4 56+11(59+4)))", ""},
        // A missing end tag ends the element after its start tag; its children
        // move up behind it.
        {L"<a><b></a>", "0+10#(0+10(3+3!))",
         "<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"7\"/>"},
        {L"<a><b><c/><d><e/></d></a>", "0+25#(0+25(3+3! 6+4 10+11(13+4)))",
         "<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"22\"/>"},
        // Runs open at the end are ended innermost first; a lone end tag marks
        // the innermost open element, the mark moving up as they end.
        {L"<r><p><x/><q><y/><z></r2>", "0+25*#(0+3! 3+3! 6+4 10+3! 13+4 17+3!)",
         "<lone_end_tag tagname=\"r2\" offset=\"20\"/>"
         "<unended_start_tag tagname=\"z\" offset=\"17\" offset2=\"25\"/>"
         "<unended_start_tag tagname=\"q\" offset=\"10\" offset2=\"25\"/>"
         "<unended_start_tag tagname=\"p\" offset=\"3\" offset2=\"25\"/>"
         "<unended_start_tag tagname=\"r\" offset=\"0\" offset2=\"25\"/>"
         "<root_has_sibling/>"},
        // An end tag closes an outer element and ends the ones between.
        {L"<r><a><b><c/></a><d/></r>", "0+25#(0+25(3+14(6+3! 9+4) 17+4))",
         "<unended_start_tag tagname=\"b\" offset=\"6\" offset2=\"14\"/>"},
        {L"<a></b></a>", "0+11#(0+11*)", "<lone_end_tag tagname=\"b\" offset=\"3\"/>"},
        {L"</x><a/>", "0+8*#(4+4)", "<lone_end_tag tagname=\"x\" offset=\"0\"/>"},
        // One root element, and only one.
        {L"<a/><b/>", "0+8(0+4 4+4)", "<root_has_sibling/>"},
        {L"text only", "0+9", "<no_root_element/>"},
        {L"", "0+0", ""},
        {L"  \r\n<a/>\r\n", "0+10(4+4)", ""},
        // Case matters unless ignored; equal units at or above 128 stop the
        // forgiving for the rest of the name.
        {L"<a>x</A>", "0+8*#(0+3!)", nullptr},
        {L"<a>x</A>", "0+8(0+8)", "", kFold},
        {L"<\u00E9a>x</\u00E9A>", "0+10*#(0+4!)", nullptr, kFold},
        {L"<a\x00E9>x</A\x00E9>", "0+10(0+10)", "", kFold},
        // Scanner errors become records of the result and mark the parent.
        {L"<a><!x></a>", "0+11#(0+11*)", "<exclamation_tag_syntax offset=\"3\"/>"},
        {L"<a><![CDATA[x", "0+13*#(0+3!)",
         "<unterminated_tag_syntax type=\"cdata_section\" offset=\"3\"/>"
         "<unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"13\"/>"},
        {L"<r>< x <b/></r>", "0+15#(0+15*(7+4))",
         "<first_tag_syntax offset=\"3\"/>"},  // ends before a tag
        {L"<r><!-x></r>", nullptr, "<comment_tag_syntax offset=\"3\"/>"},
        {L"<r><![X[></r>", nullptr, "<cdata_section_syntax offset=\"3\"/>"},
        {L"<!DOCTYPE r [<!Q>]><r/>", nullptr, ""},  // an error inside a document type stays in it
        {L"<r/><!DOCTYPE r [<!ENTITY", nullptr,
         "<unterminated_tag_syntax type=\"document_type\" offset=\"4\"/>"},
        {L"<r/><?pi", nullptr,
         "<unterminated_tag_syntax type=\"processing_instruction\" offset=\"4\"/>"},
        {L"<r/><!-- c", nullptr, "<unterminated_tag_syntax type=\"comment\" offset=\"4\"/>"},
        {L"<r/></r", nullptr, "<unterminated_tag_syntax type=\"end_tag\" offset=\"4\"/>"},
        {L"<r/><q a='>", nullptr, "<unterminated_tag_syntax type=\"start_tag\" offset=\"4\"/>"},
        {L"<r/><", nullptr, "<unterminated_tag_syntax type=\"tag\" offset=\"4\"/>"},
        // Empty-element tags: the "/" of an unquoted value is part of it.
        {L"<r><a href=x/></r>", "0+18#(0+18(3+11!))",
         "<unended_start_tag tagname=\"a\" offset=\"3\" offset2=\"15\"/>"},
        {L"<r><a href='x'/></r>", "0+20(0+20(3+13))", ""},
        {L"<r><a href=x /></r>", "0+19(0+19(3+12))", ""},
        {L"<r><a t='>' u=\"/>\">x</a></r>", "0+28(0+28(3+21))", ""},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(Utf8(c.text));
        XmlProbe doc(c.flags);
        doc.SetDoc(c.text);
        if (c.dump) {
            EXPECT_EQ(doc.Dump(), c.dump);
        }
        if (c.result) {
            EXPECT_EQ(Result(doc), c.result);
        }
        // Well formed: one root element and no error.
        EXPECT_EQ(doc.IsWellFormed(),
                  !(doc.Flags(0) & XmlProbe::ElemIllFormed) && doc.ChildStarts(0).size() == 1);
        EXPECT_TRUE(doc.IndexOk());
        // Positions are reset by the parse.
        EXPECT_EQ(doc.MainPos() + doc.ParentPos() + doc.ChildPos() + doc.NodeType(), 0);
    }
    // Tag lengths, which the index text leaves out.
    XmlProbe doc(cases[0].text);
    const int r = doc.At(23), b = doc.At(40);
    EXPECT_EQ(doc.Elem(r).StartTagLen() * 100 + doc.Elem(r).EndTagLen(), 904);
    EXPECT_EQ(doc.Elem(b).StartTagLen() * 100 + doc.Elem(b).EndTagLen(), 400);
    doc.SetDoc(cases[30].text);
    EXPECT_EQ(doc.Elem(doc.At(3)).StartTagLen(), 16);
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
    EXPECT_EQ(doc.Elem(doc.At(3 * 65536)).Level(), 0);  // levels wrap in their 16 bits
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
