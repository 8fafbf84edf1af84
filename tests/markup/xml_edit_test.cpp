#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "xml_probe.h"

using xml_test::SameIndex;
using xml_test::Utf8;
using xml_test::XmlProbe;

namespace {

std::string Text(const CXmlDoc& doc) {
    return Utf8(doc.GetDoc());
}

// An edited index must be the index a parse of the edited text builds. The
// document record's ElemIllFormed is left out: edits never clear it, so a
// document that was repaired by editing still carries the mark of its parse.
::testing::AssertionResult Reparses(const XmlProbe& doc, int nIgnoreFlags = 0) {
    if (!doc.IndexOkQuiet()) {
        return doc.IndexOk();
    }
    XmlProbe fresh(doc.GetDocFlags());
    fresh.SetDoc(CLuStringW(doc.GetDoc()));
    return SameIndex(doc, fresh, nIgnoreFlags, XmlProbe::ElemIllFormed);
}

int ReleasedCount(XmlProbe& doc) {
    int n = 0;
    for (int i = doc.Released(); i; i = doc.Elem(i).iElemNext) {
        ++n;
    }
    return n;
}

// Everything a refused edit must leave alone.
struct Snapshot {
    explicit Snapshot(const XmlProbe& doc)
        : text(doc.GetDoc()), walk(doc.Walk()), cursor{doc.ParentPos(), doc.MainPos(),
                                                       doc.ChildPos(),  doc.NodeType(),
                                                       doc.NodeStart(), doc.NodeLength(),
                                                       doc.NextFree(),  doc.Released()} {}
    CLuStringW text;
    std::vector<XmlProbe::WalkEntry> walk;
    std::vector<int> cursor;
};

::testing::AssertionResult Unchanged(const XmlProbe& doc, const Snapshot& before) {
    const Snapshot now(doc);
    if (now.text != before.text) {
        return ::testing::AssertionFailure() << "text changed to \"" << Utf8(now.text)
                                             << "\" from \"" << Utf8(before.text) << "\"";
    }
    if (now.cursor != before.cursor) {
        return ::testing::AssertionFailure() << "cursor or record counters changed";
    }
    if (now.walk.size() != before.walk.size()) {
        return ::testing::AssertionFailure() << "element count changed";
    }
    for (size_t i = 0; i < now.walk.size(); ++i) {
        const XmlProbe::WalkEntry &x = now.walk[i], &y = before.walk[i];
        if (x.iRecord != y.iRecord || x.nStart != y.nStart || x.nLength != y.nLength ||
            x.nStartTag != y.nStartTag || x.nEndTag != y.nEndTag || x.nLevel != y.nLevel ||
            x.nFlags != y.nFlags || x.nParent != y.nParent || x.nChild != y.nChild ||
            x.nNext != y.nNext || x.nPrev != y.nPrev) {
            return ::testing::AssertionFailure() << "record " << x.iRecord << " changed";
        }
    }
    return ::testing::AssertionSuccess();
}

// ---- adding elements ----

TEST(XmlEditAddElem, NewDocumentGetsOneElementPerLine) {
    XmlProbe doc;
    ASSERT_TRUE(doc.AddElem(L"root"));
    EXPECT_EQ(Text(doc), "<root/>\r\n");
    const int root = doc.Elem(0).iElemChild;
    ASSERT_NE(root, 0);
    EXPECT_EQ(doc.Elem(root).nStart, 0);
    EXPECT_EQ(doc.Elem(root).nLength, 7);
    EXPECT_EQ(doc.Elem(root).StartTagLen(), 7);
    EXPECT_EQ(doc.Elem(root).EndTagLen(), 0);
    EXPECT_EQ(doc.Flags(root), XmlProbe::ElemFirst);
    EXPECT_EQ(doc.Elem(0).nLength, 9);
    EXPECT_EQ(doc.MainPos(), root);
    EXPECT_EQ(doc.ParentPos() + doc.ChildPos(), 0);
    EXPECT_EQ(doc.NodeType(), 1);
    EXPECT_TRUE(doc.IsWellFormed());

    ASSERT_TRUE(doc.AddChildElem(L"a"));
    EXPECT_EQ(Text(doc), "<root>\r\n<a/>\r\n</root>\r\n");
    const int a = doc.ChildPos();
    EXPECT_EQ(doc.Elem(a).nStart, 8);
    EXPECT_EQ(doc.Elem(a).nLength, 4);
    EXPECT_EQ(doc.Level(a), 1);
    EXPECT_EQ(doc.Flags(a), XmlProbe::ElemFirst);
    EXPECT_EQ(doc.Elem(root).StartTagLen(), 6);
    EXPECT_EQ(doc.Elem(root).EndTagLen(), 7);
    EXPECT_EQ(doc.Elem(root).nLength, 21);
    EXPECT_EQ(doc.MainPos(), root);

    ASSERT_TRUE(doc.AddChildElem(L"b"));
    EXPECT_EQ(Text(doc), "<root>\r\n<a/>\r\n<b/>\r\n</root>\r\n");
    ASSERT_TRUE(doc.InsertChildElem(L"c"));  // before the child position, b
    EXPECT_EQ(Text(doc), "<root>\r\n<a/>\r\n<c/>\r\n<b/>\r\n</root>\r\n");
    EXPECT_EQ(doc.ChildPos(), doc.At(14));
    doc.ResetChildPos();
    ASSERT_TRUE(doc.InsertChildElem(L"d"));  // no child position: first
    doc.ResetChildPos();
    ASSERT_TRUE(doc.AddChildElem(L"e"));  // no child position: last
    EXPECT_EQ(Text(doc), "<root>\r\n<d/>\r\n<a/>\r\n<c/>\r\n<b/>\r\n<e/>\r\n</root>\r\n");
    EXPECT_EQ(doc.ChildStarts(root), (std::vector<int>{8, 14, 20, 26, 32}));
    EXPECT_EQ(doc.Flags(doc.At(8)), XmlProbe::ElemFirst);
    EXPECT_EQ(doc.Flags(a), 0);

    ASSERT_TRUE(doc.AddElem(L"s"));  // after root, behind its line end
    EXPECT_EQ(Text(doc).substr(38), "</root>\r\n<s/>\r\n");
    EXPECT_EQ(doc.ChildStarts(0), (std::vector<int>{0, 47}));
    EXPECT_FALSE(doc.IsWellFormed());
    EXPECT_TRUE(Reparses(doc));
}

TEST(XmlEditAddElem, NoLinesWritesTheElementRightThere) {
    XmlProbe doc(L"<root></root>");
    ASSERT_TRUE(doc.FindElem());
    ASSERT_TRUE(doc.AddChildElem(L"a", L"", CXmlDoc::NodeWithNoLines));
    EXPECT_EQ(Text(doc), "<root><a/></root>");
    EXPECT_EQ(doc.Elem(doc.ChildPos()).nStart, 6);
    ASSERT_TRUE(doc.AddChildElem(L"b", L"", CXmlDoc::NodeWithNoLines));
    EXPECT_EQ(Text(doc), "<root><a/><b/></root>");
    EXPECT_TRUE(Reparses(doc));

    XmlProbe lines(L"<root></root>");
    ASSERT_TRUE(lines.FindElem());
    ASSERT_TRUE(lines.AddChildElem(L"a"));
    EXPECT_EQ(Text(lines), "<root>\r\n<a/>\r\n</root>");
    EXPECT_EQ(lines.Elem(lines.ChildPos()).nStart, 8);

    XmlProbe top;
    ASSERT_TRUE(top.AddElem(L"x", L"", CXmlDoc::NodeWithNoLines));
    EXPECT_EQ(Text(top), "<x/>");
}

TEST(XmlEditAddElem, ValuesAreEscapedOrWrittenAsCdata) {
    struct Case {
        const wchar_t* value;
        int flags;
        const char* text;
    } cases[] = {
        {L"1<2", 0, "<x>1&lt;2</x>\r\n"},
        {L"1<2", CXmlDoc::NodeWithCdata, "<x><![CDATA[1<2]]></x>\r\n"},
        {L"a]]>b", CXmlDoc::NodeWithCdata, "<x><![CDATA[a]]]]><![CDATA[>b]]></x>\r\n"},
        {L"a>b&c\"'", 0, "<x>a&gt;b&amp;c\"'</x>\r\n"},
        {L"&amp; & &#65;", CXmlDoc::NodeWithRefs, "<x>&amp; &amp; &#65;</x>\r\n"},
        {L"v", CXmlDoc::NodeWithXhtmlSpace, "<x>v</x>\r\n"},
        {nullptr, 0, "<x/>\r\n"},
        {L"", CXmlDoc::NodeWithXhtmlSpace, "<x />\r\n"},
    };
    for (const Case& c : cases) {
        XmlProbe doc;
        ASSERT_TRUE(doc.AddElem(L"x", c.value, c.flags));
        EXPECT_EQ(Text(doc), c.text) << Utf8(c.value);
        const int x = doc.MainPos();
        EXPECT_EQ(doc.Elem(x).nLength, doc.GetDoc().GetLength() - 2);
        if (c.value && *c.value) {
            EXPECT_EQ(doc.Elem(x).StartTagLen(), 3);
            EXPECT_EQ(doc.Elem(x).EndTagLen(), 4);
            if (!(c.flags & CXmlDoc::NodeWithRefs)) {
                EXPECT_EQ(doc.GetData(), c.value);
            }
        } else {
            EXPECT_EQ(doc.Elem(x).StartTagLen(), doc.Elem(x).nLength);
        }
        EXPECT_TRUE(Reparses(doc));
    }
}

TEST(XmlEditAddElem, NoEndIsOnlyForEmptyValues) {
    XmlProbe doc;
    const Snapshot before(doc);
    EXPECT_FALSE(doc.AddElem(L"x", L"v", CXmlDoc::NodeWithNoEnd));
    EXPECT_FALSE(doc.AddElem(L"x", 5, CXmlDoc::NodeWithNoEnd));
    EXPECT_TRUE(Unchanged(doc, before));

    ASSERT_TRUE(doc.AddElem(L"x", L"", CXmlDoc::NodeWithNoEnd));
    EXPECT_EQ(Text(doc), "<x>\r\n");
    const int x = doc.MainPos();
    EXPECT_EQ(doc.Flags(x), XmlProbe::ElemFirst | XmlProbe::ElemNonEnded);
    EXPECT_EQ(doc.Elem(x).nLength, 3);
    EXPECT_EQ(doc.Elem(x).EndTagLen(), 0);

    // A child splits it: the end tag goes in front of its ">".
    ASSERT_TRUE(doc.AddChildElem(L"a"));
    EXPECT_EQ(Text(doc), "<x>\r\n<a/>\r\n</x>\r\n");
    EXPECT_EQ(doc.Flags(x), XmlProbe::ElemFirst);
    EXPECT_EQ(doc.Elem(x).StartTagLen(), 3);
    EXPECT_EQ(doc.Elem(x).EndTagLen(), 4);
    EXPECT_EQ(doc.Elem(x).nLength, 15);
    EXPECT_EQ(doc.Elem(doc.ChildPos()).nStart, 5);
    EXPECT_TRUE(Reparses(doc));
}

TEST(XmlEditAddElem, EmptyParentIsSplitIntoStartAndEndTag) {
    struct Case {
        const wchar_t* doc;
        int flags;
        const char* text;
        int start, startTag, length;
    } cases[] = {
        {L"<e/>", CXmlDoc::NodeWithNoLines, "<e><a/></e>", 3, 3, 11},
        {L"<e />", CXmlDoc::NodeWithNoLines, "<e ><a/></e>", 4, 4, 12},
        {L"<e a='1'/>", 0, "<e a='1'>\r\n<a/>\r\n</e>", 11, 9, 21},
        {L"<e>", CXmlDoc::NodeWithNoLines, "<e><a/></e>", 3, 3, 11},  // not ended
        {L"<e>", 0, "<e>\r\n<a/>\r\n</e>", 5, 3, 15},
    };
    for (const Case& c : cases) {
        XmlProbe doc(c.doc);
        ASSERT_TRUE(doc.FindElem());
        const int e = doc.MainPos();
        ASSERT_TRUE(doc.AddChildElem(L"a", L"", c.flags));
        EXPECT_EQ(Text(doc), c.text) << Utf8(c.doc);
        EXPECT_EQ(doc.Elem(doc.ChildPos()).nStart, c.start) << Utf8(c.doc);
        EXPECT_EQ(doc.Elem(e).StartTagLen(), c.startTag) << Utf8(c.doc);
        EXPECT_EQ(doc.Elem(e).EndTagLen(), 4) << Utf8(c.doc);
        EXPECT_EQ(doc.Elem(e).nLength, c.length) << Utf8(c.doc);
        EXPECT_FALSE(doc.Flags(e) & XmlProbe::ElemNonEnded);
        EXPECT_TRUE(Reparses(doc)) << Utf8(c.doc);
    }

    // The same one level down, with records behind the split.
    XmlProbe doc(L"<r><u><e/></r>");
    ASSERT_TRUE(doc.FindElem());
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.FindElem(L"u"));
    ASSERT_TRUE(doc.AddChildElem(L"a", L"v", CXmlDoc::NodeWithNoLines));
    EXPECT_EQ(Text(doc), "<r><u><a>v</a></u><e/></r>");
    EXPECT_TRUE(Reparses(doc));
}

TEST(XmlEditAddElem, InsertionSkipsWhiteSpaceOnlyUpToATag) {
    XmlProbe doc(L"<r>\r\n  <a/>\r\n  <b/>\r\n</r>");
    ASSERT_TRUE(doc.FindChildElem(L"a"));
    ASSERT_TRUE(doc.AddChildElem(L"n"));
    EXPECT_EQ(Text(doc), "<r>\r\n  <a/>\r\n  <n/>\r\n<b/>\r\n</r>");
    EXPECT_EQ(doc.Elem(doc.ChildPos()).nStart, 15);
    EXPECT_TRUE(Reparses(doc));

    XmlProbe nolines(L"<r>\r\n  <a/>\r\n  <b/>\r\n</r>");
    ASSERT_TRUE(nolines.FindChildElem(L"a"));
    ASSERT_TRUE(nolines.AddChildElem(L"n", L"", CXmlDoc::NodeWithNoLines));
    EXPECT_EQ(Text(nolines), "<r>\r\n  <a/><n/>\r\n  <b/>\r\n</r>");

    XmlProbe text(L"<r><a/> x<b/></r>");  // text follows: the offset stays
    ASSERT_TRUE(text.FindChildElem(L"a"));
    ASSERT_TRUE(text.AddChildElem(L"n"));
    EXPECT_EQ(Text(text), "<r><a/><n/>\r\n x<b/></r>");

    XmlProbe first(L"<r>\r\n<!--c-->\r\n<a/></r>");
    ASSERT_TRUE(first.FindElem());
    ASSERT_TRUE(first.IntoElem());
    ASSERT_TRUE(first.InsertElem(L"n"));  // no main position: first child
    EXPECT_EQ(Text(first), "<r>\r\n<n/>\r\n<!--c-->\r\n<a/></r>");
    EXPECT_EQ(first.ChildStarts(first.At(0)), (std::vector<int>{5, 21}));
    EXPECT_TRUE(Reparses(first));

    XmlProbe last(L"<r>\r\n<a/>\r\n</r>");
    ASSERT_TRUE(last.FindElem());
    ASSERT_TRUE(last.AddChildElem(L"b"));  // no child position: at the end tag
    EXPECT_EQ(Text(last), "<r>\r\n<a/>\r\n<b/>\r\n</r>");
    EXPECT_TRUE(Reparses(last));
}

TEST(XmlEditAddElem, CursorOnANodeDecidesPlaceAndLink) {
    // On text before any element: after the text, linked as the first child.
    XmlProbe doc(L"<r>abc<a/></r>");
    ASSERT_TRUE(doc.FindElem());
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_EQ(doc.FindNode(2), 2);
    ASSERT_TRUE(doc.AddElem(L"n"));
    EXPECT_EQ(Text(doc), "<r>abc<n/>\r\n<a/></r>");
    EXPECT_EQ(doc.ChildStarts(doc.At(0)), (std::vector<int>{6, 12}));
    EXPECT_EQ(doc.MainPos(), doc.At(6));
    EXPECT_EQ(doc.NodeType(), 1);
    EXPECT_EQ(doc.NodeStart() + doc.NodeLength(), 0);
    EXPECT_TRUE(Reparses(doc));

    // Inserted before text that follows a: still after a.
    XmlProbe ins(L"<r><a/>abc<b/></r>");
    ASSERT_TRUE(ins.FindElem());
    ASSERT_TRUE(ins.IntoElem());
    ASSERT_EQ(ins.FindNode(2), 2);
    ASSERT_TRUE(ins.InsertElem(L"n"));
    EXPECT_EQ(Text(ins), "<r><a/><n/>\r\nabc<b/></r>");
    EXPECT_EQ(ins.ChildStarts(ins.At(0)), (std::vector<int>{3, 7, 16}));
    EXPECT_TRUE(Reparses(ins));
}

TEST(XmlEditAddElem, IntegerOverloadsWriteDecimal) {
    XmlProbe doc(L"<r/>");
    ASSERT_TRUE(doc.FindElem());
    ASSERT_TRUE(doc.AddChildElem(L"a", 7));
    ASSERT_TRUE(doc.InsertChildElem(L"b", -3));
    ASSERT_TRUE(doc.AddElem(L"c", 0));
    ASSERT_TRUE(doc.InsertElem(L"d", 12));
    ASSERT_TRUE(doc.SetAttrib(L"n", 5));
    ASSERT_TRUE(doc.AddAttrib(L"m", -1));
    ASSERT_TRUE(doc.SetData(9));
    doc.ResetPos();
    ASSERT_TRUE(doc.FindElem(L"r"));
    ASSERT_TRUE(doc.FindChildElem(L"a"));
    ASSERT_TRUE(doc.SetChildAttrib(L"k", 3));
    ASSERT_TRUE(doc.AddChildAttrib(L"j", 4));
    ASSERT_TRUE(doc.SetChildData(8));
    EXPECT_EQ(Text(doc),
              "<r>\r\n<b>-3</b>\r\n<a k=\"3\" j=\"4\">8</a>\r\n</r>"
              "<d n=\"5\" m=\"-1\">9</d>\r\n<c>0</c>\r\n");
    EXPECT_TRUE(Reparses(doc));
}

// ---- adding nodes ----

TEST(XmlEditAddNode, EachNodeTypeIsWrittenAndBecomesTheCursor) {
    XmlProbe doc(L"<r><a/></r>");
    ASSERT_TRUE(doc.FindElem());
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.FindElem(L"a"));
    const int a = doc.MainPos();
    auto cursorIs = [&](int nType, int nStart, int nLength) {
        EXPECT_EQ(doc.NodeType(), nType);
        EXPECT_EQ(doc.NodeStart(), nStart);
        EXPECT_EQ(doc.NodeLength(), nLength);
        EXPECT_EQ(doc.ChildPos(), 0);
    };

    ASSERT_TRUE(doc.AddNode(2, L"x<y"));  // text: escaped, no line ends
    EXPECT_EQ(Text(doc), "<r><a/>x&lt;y</r>");
    cursorIs(2, 7, 6);
    EXPECT_EQ(doc.MainPos(), a);
    ASSERT_TRUE(doc.AddNode(32, L"c"));  // comment: with a line end
    EXPECT_EQ(Text(doc), "<r><a/>x&lt;y<!--c-->\r\n</r>");
    cursorIs(32, 13, 8);
    EXPECT_EQ(Utf8(doc.GetData()), "c");
    ASSERT_TRUE(doc.InsertNode(16, L"pi x"));
    EXPECT_EQ(Text(doc), "<r><a/>x&lt;y<?pi x?>\r\n<!--c-->\r\n</r>");
    cursorIs(16, 13, 8);
    EXPECT_EQ(Utf8(doc.GetTagName()), "pi");

    const Snapshot before(doc);
    EXPECT_FALSE(doc.AddNode(8, L"a]]>b"));
    EXPECT_FALSE(doc.InsertNode(8, L"]]>"));
    EXPECT_TRUE(Unchanged(doc, before));

    ASSERT_TRUE(doc.AddNode(8, L"<c>"));
    EXPECT_EQ(Text(doc), "<r><a/>x&lt;y<?pi x?><![CDATA[<c>]]>\r\n<!--c-->\r\n</r>");
    cursorIs(8, 21, 15);
    ASSERT_TRUE(doc.AddNode(4, L" \t"));
    cursorIs(4, 36, 2);
    ASSERT_TRUE(doc.AddNode(1, L"e"));  // an element: a record, linked after a
    const int e = doc.MainPos();
    ASSERT_NE(e, a);
    EXPECT_EQ(doc.NodeType(), 1);
    EXPECT_EQ(doc.Elem(e).nStart, 38);
    EXPECT_EQ(doc.Elem(e).nLength, 4);
    EXPECT_EQ(doc.Elem(e).StartTagLen(), 4);
    EXPECT_EQ(doc.Elem(a).iElemNext, e);
    EXPECT_EQ(doc.Level(e), 1);
    EXPECT_TRUE(Reparses(doc));

    ASSERT_TRUE(doc.AddNode(128, L"zz"));  // a lone end tag
    EXPECT_EQ(Text(doc), "<r><a/>x&lt;y<?pi x?><![CDATA[<c>]]> \t<e/></zz>\r\n<!--c-->\r\n</r>");
    cursorIs(128, 42, 5);
    EXPECT_EQ(doc.MainPos(), e);
    // Adding a lone end tag need not mark r; the rest must match a parse.
    EXPECT_TRUE(Reparses(doc, XmlProbe::ElemIllData));

    doc.ResetPos();
    ASSERT_TRUE(doc.InsertNode(64, L"<!DOCTYPE r>"));
    EXPECT_EQ(Text(doc).substr(0, 17), "<!DOCTYPE r>\r\n<r>");
    cursorIs(64, 0, 12);
    EXPECT_EQ(doc.MainPos(), 0);
    EXPECT_EQ(doc.ChildStarts(0), (std::vector<int>{14}));
    EXPECT_TRUE(Reparses(doc, XmlProbe::ElemIllData));
}

TEST(XmlEditAddNode, NodeIntoAnEmptyElementSplitsIt) {
    struct Case {
        int type;
        const wchar_t* text;
        const char* doc;
        int start;
    } cases[] = {
        {32, L"c", "<e>\r\n<!--c-->\r\n</e>", 5},
        {2, L"t", "<e>t</e>", 3},
        {8, L"d", "<e><![CDATA[d]]></e>", 3},
    };
    for (const Case& c : cases) {
        XmlProbe doc(L"<e/>");
        ASSERT_TRUE(doc.FindElem());
        ASSERT_TRUE(doc.IntoElem());
        ASSERT_TRUE(doc.AddNode(c.type, c.text));
        EXPECT_EQ(Text(doc), c.doc);
        EXPECT_EQ(doc.NodeType(), c.type);
        EXPECT_EQ(doc.NodeStart(), c.start);
        const int e = doc.At(0);
        EXPECT_EQ(doc.Elem(e).StartTagLen(), 3);
        EXPECT_EQ(doc.Elem(e).EndTagLen(), 4);
        EXPECT_EQ(doc.Elem(e).nLength, static_cast<int>(strlen(c.doc)));
        EXPECT_TRUE(Reparses(doc));
    }
    XmlProbe doc(L"<g/>");
    ASSERT_TRUE(doc.FindElem());
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.AddNode(1, L"x"));
    EXPECT_EQ(Text(doc), "<g><x/></g>");
    EXPECT_EQ(doc.Elem(doc.MainPos()).iElemParent, doc.At(0));
    EXPECT_EQ(doc.ParentPos(), doc.At(0));
    EXPECT_TRUE(Reparses(doc));
}

// ---- subdocuments ----

TEST(XmlEditSubDoc, WellFormedSubDocumentIsIndexedInPlace) {
    XmlProbe doc(L"<r><a/></r>");
    ASSERT_TRUE(doc.FindElem());
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.FindElem(L"a"));
    // Only the span of the element goes in, not the comment or line end around it.
    ASSERT_TRUE(doc.AddSubDoc(L"<!--lead--><b k='1'><c/>t</b>\r\n"));
    EXPECT_EQ(Text(doc), "<r><a/><b k='1'><c/>t</b>\r\n</r>");
    EXPECT_EQ(doc.GetResult(), L"");
    const int b = doc.MainPos();
    EXPECT_EQ(doc.Elem(b).nStart, 7);
    EXPECT_EQ(doc.Elem(b).nLength, 18);
    EXPECT_EQ(doc.Level(doc.At(16)), 2);
    EXPECT_EQ(doc.NodeType(), 1);
    EXPECT_TRUE(Reparses(doc));
    EXPECT_TRUE(doc.RecordsAccounted());

    ASSERT_TRUE(doc.InsertSubDoc(L"<p/>"));
    EXPECT_EQ(Utf8(doc.GetTagName()), "p");
    doc.ResetPos();
    ASSERT_TRUE(doc.FindElem());
    ASSERT_TRUE(doc.AddChildSubDoc(L"<q/>"));
    EXPECT_EQ(Utf8(doc.GetChildTagName()), "q");
    ASSERT_TRUE(doc.InsertChildSubDoc(L"<s/>"));
    EXPECT_EQ(Utf8(doc.GetChildTagName()), "s");
    EXPECT_EQ(Text(doc), "<r><a/><p/>\r\n<b k='1'><c/>t</b>\r\n<s/>\r\n<q/>\r\n</r>");
    EXPECT_EQ(doc.ChildStarts(doc.At(0)), (std::vector<int>{3, 7, 13, 33, 39}));
    EXPECT_TRUE(Reparses(doc));
    EXPECT_TRUE(doc.RecordsAccounted());
}

TEST(XmlEditSubDoc, ParseRecordsOfTheDocumentMakeWayForThoseOfTheSubDocument) {
    XmlProbe doc(L"<r><a></r>");
    ASSERT_FALSE(doc.GetResult().IsEmpty());
    ASSERT_TRUE(doc.FindElem());
    ASSERT_TRUE(doc.AddChildSubDoc(L"<b/>"));
    EXPECT_EQ(Utf8(doc.GetResult()), "");
    EXPECT_FALSE(doc.AddChildSubDoc(L"</zz>"));
    EXPECT_EQ(Utf8(doc.GetResult()), "<lone_end_tag tagname=\"zz\" offset=\"0\"/>");
    ASSERT_TRUE(doc.SetElemContent(L"<c/>"));
    EXPECT_EQ(Utf8(doc.GetResult()), "");
    EXPECT_TRUE(Reparses(doc));
}

TEST(XmlEditSubDoc, TwoTopLevelElementsAreBothLinkedButReportFalse) {
    XmlProbe doc(L"<r/>");
    ASSERT_TRUE(doc.FindElem());
    EXPECT_FALSE(doc.AddChildSubDoc(L"<x/><y/>"));
    EXPECT_EQ(Text(doc), "<r>\r\n<x/><y/>\r\n</r>");
    EXPECT_EQ(doc.ChildStarts(doc.At(0)), (std::vector<int>{5, 9}));
    EXPECT_EQ(doc.ChildPos(), doc.At(5));
    EXPECT_TRUE(Reparses(doc));

    XmlProbe top;
    EXPECT_FALSE(top.AddSubDoc(L"<a/>\r\n<b/>"));
    EXPECT_EQ(Text(top), "<a/>\r\n<b/>\r\n");
    EXPECT_EQ(top.ChildStarts(0), (std::vector<int>{0, 6}));
    EXPECT_EQ(top.MainPos(), top.At(0));
    EXPECT_TRUE(Reparses(top));
}

TEST(XmlEditSubDoc, PlainTextIsInsertedAndReportsFalse) {
    XmlProbe doc(L"<r><a/><b/></r>");
    ASSERT_TRUE(doc.FindElem());
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.FindElem(L"a"));
    EXPECT_FALSE(doc.AddSubDoc(L"plain text"));
    EXPECT_EQ(Text(doc), "<r><a/>plain text<b/></r>");
    EXPECT_EQ(doc.MainPos(), 0);
    ASSERT_TRUE(doc.FindElem(L"b"));
    EXPECT_EQ(doc.MainPos(), doc.At(17));
    EXPECT_EQ(Utf8(doc.GetTagName()), "b");
    EXPECT_TRUE(Reparses(doc));
    EXPECT_TRUE(doc.RecordsAccounted());
}

TEST(XmlEditSubDoc, MalformedSubDocumentIsInsertedWhole) {
    XmlProbe doc(L"<r><a/></r>");
    ASSERT_TRUE(doc.FindElem());
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.FindElem(L"a"));
    EXPECT_FALSE(doc.AddSubDoc(L"<b><c></b>"));
    EXPECT_EQ(Text(doc), "<r><a/><b><c></b></r>");  // no line ends
    EXPECT_EQ(Utf8(doc.GetResult()),
              "<unended_start_tag tagname=\"c\" offset=\"3\" offset2=\"7\"/>");
    const int b = doc.MainPos(), c = doc.At(10);
    EXPECT_EQ(doc.Elem(b).nStart, 7);
    EXPECT_EQ(doc.Elem(b).nLength, 10);
    EXPECT_EQ(doc.Flags(c), XmlProbe::ElemFirst | XmlProbe::ElemNonEnded);
    EXPECT_EQ(doc.Level(c), 2);
    EXPECT_TRUE(Reparses(doc));

    // A lone end tag marks the parent under which the subdocument went.
    XmlProbe lone(L"<r><a/></r>");
    ASSERT_TRUE(lone.FindElem());
    ASSERT_TRUE(lone.IntoElem());
    ASSERT_TRUE(lone.FindElem(L"a"));
    EXPECT_FALSE(lone.AddSubDoc(L"<b/></zz>"));
    EXPECT_EQ(Text(lone), "<r><a/><b/></zz></r>");
    EXPECT_EQ(Utf8(lone.GetResult()), "<lone_end_tag tagname=\"zz\" offset=\"4\"/>");
    EXPECT_TRUE(lone.Flags(lone.At(0)) & XmlProbe::ElemIllData);
    EXPECT_TRUE(Reparses(lone));
    EXPECT_TRUE(lone.RecordsAccounted());

    XmlProbe nomain(L"<r/>");
    const Snapshot before(nomain);
    EXPECT_FALSE(nomain.AddChildSubDoc(L"<x/>"));
    EXPECT_FALSE(nomain.InsertChildSubDoc(L"<x/>"));
    EXPECT_TRUE(Unchanged(nomain, before));
}

// ---- attributes ----

TEST(XmlEditAttrib, NewAttributeGoesInFrontOfTheTagEnd) {
    XmlProbe doc(L"<e/>");
    ASSERT_TRUE(doc.FindElem());
    const int e = doc.MainPos();
    ASSERT_TRUE(doc.SetAttrib(L"a", L"x\"y"));
    EXPECT_EQ(Text(doc), "<e a=\"x&quot;y\"/>");
    EXPECT_EQ(doc.Elem(e).StartTagLen(), 17);
    EXPECT_EQ(doc.Elem(e).nLength, 17);
    EXPECT_EQ(Utf8(doc.GetAttrib(L"a")), "x\"y");
    ASSERT_TRUE(doc.SetAttrib(L"a", L"1"));
    EXPECT_EQ(Text(doc), "<e a=\"1\"/>");
    EXPECT_EQ(doc.Elem(e).StartTagLen(), 10);

    XmlProbe spaced(L"<r><e  >t</e><f/></r>");
    ASSERT_TRUE(spaced.FindElem());
    ASSERT_TRUE(spaced.IntoElem());
    ASSERT_TRUE(spaced.FindElem(L"e"));
    ASSERT_TRUE(spaced.SetAttrib(L"a", L"it's"));
    EXPECT_EQ(Text(spaced), "<r><e a=\"it&apos;s\"  >t</e><f/></r>");
    EXPECT_EQ(spaced.Elem(spaced.MainPos()).StartTagLen(), 19);
    EXPECT_EQ(spaced.At(27), spaced.Elem(spaced.MainPos()).iElemNext);
    EXPECT_TRUE(Reparses(spaced));

    XmlProbe xhtml(L"<e />");
    ASSERT_TRUE(xhtml.FindElem());
    ASSERT_TRUE(xhtml.SetAttrib(L"a", L"1"));
    EXPECT_EQ(Text(xhtml), "<e a=\"1\" />");
    EXPECT_TRUE(Reparses(xhtml));
}

TEST(XmlEditAttrib, ExistingValueIsReplacedNotDuplicated) {
    XmlProbe doc(L"<e a='old' b=\"2\">t</e>");
    ASSERT_TRUE(doc.FindElem());
    ASSERT_TRUE(doc.SetAttrib(L"a", L"n"));
    EXPECT_EQ(Text(doc), "<e a=\"n\" b=\"2\">t</e>");
    EXPECT_EQ(doc.Elem(doc.MainPos()).StartTagLen(), 15);
    ASSERT_TRUE(doc.AddAttrib(L"b", L"3"));
    EXPECT_EQ(Text(doc), "<e a=\"n\" b=\"3\">t</e>");
    ASSERT_TRUE(doc.SetAttrib(L"c", L"&amp;&<", CXmlDoc::NodeWithRefs));
    EXPECT_EQ(Text(doc), "<e a=\"n\" b=\"3\" c=\"&amp;&amp;&lt;\">t</e>");
    EXPECT_TRUE(Reparses(doc));

    XmlProbe unquoted(L"<e a=x b='y'>t</e>");  // an unquoted value gets quotes
    ASSERT_TRUE(unquoted.FindElem());
    ASSERT_TRUE(unquoted.SetAttrib(L"a", L"1"));
    EXPECT_EQ(Text(unquoted), "<e a=\"1\" b='y'>t</e>");
    EXPECT_TRUE(Reparses(unquoted));
}

TEST(XmlEditAttrib, ChildAttributesAndProcessingInstructions) {
    XmlProbe doc(L"<?xml version=\"1.0\"?>\r\n<r><c/></r>");
    ASSERT_EQ(doc.FindNode(16), 16);
    ASSERT_TRUE(doc.SetAttrib(L"encoding", L"UTF-8"));
    EXPECT_EQ(Text(doc), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<r><c/></r>");
    EXPECT_EQ(doc.NodeType(), 16);
    EXPECT_EQ(doc.NodeLength(), 38);
    EXPECT_EQ(Utf8(doc.GetAttrib(L"encoding")), "UTF-8");
    EXPECT_EQ(doc.ChildStarts(0), (std::vector<int>{40}));
    EXPECT_TRUE(Reparses(doc));

    XmlProbe bare(L"<?p?><r/>");
    ASSERT_EQ(bare.FindNode(16), 16);
    ASSERT_TRUE(bare.SetAttrib(L"a", 1));
    EXPECT_EQ(Text(bare), "<?p a=\"1\"?><r/>");
    EXPECT_EQ(bare.NodeLength(), 11);
    EXPECT_TRUE(Reparses(bare));

    ASSERT_TRUE(doc.FindElem(L"r"));
    ASSERT_TRUE(doc.FindChildElem(L"c"));
    ASSERT_TRUE(doc.SetChildAttrib(L"k", L"v"));
    ASSERT_TRUE(doc.AddChildAttrib(L"k", L"w"));
    EXPECT_EQ(Text(doc).substr(40), "<r><c k=\"w\"/></r>");
    EXPECT_TRUE(Reparses(doc));

    doc.ResetChildPos();
    Snapshot before(doc);
    EXPECT_FALSE(doc.SetChildAttrib(L"k", L"x"));
    EXPECT_FALSE(doc.AddChildAttrib(L"k", 1));
    EXPECT_TRUE(Unchanged(doc, before));

    XmlProbe text(L"<r>t</r>");
    ASSERT_TRUE(text.FindElem());
    ASSERT_TRUE(text.IntoElem());
    ASSERT_EQ(text.FindNode(2), 2);  // text is no target
    before = Snapshot(text);
    EXPECT_FALSE(text.SetAttrib(L"a", L"1"));
    EXPECT_TRUE(Unchanged(text, before));
    text.ResetPos();
    EXPECT_FALSE(text.SetAttrib(L"a", L"1"));
    EXPECT_EQ(Text(text), "<r>t</r>");
}

// ---- data and content ----

TEST(XmlEditData, ElementContentIsReplacedWhole) {
    XmlProbe doc(L"<r><e/><f>old &amp; <!--c--><![CDATA[x]]></f><g><h/></g></r>");
    ASSERT_TRUE(doc.FindElem());
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.FindElem(L"e"));
    ASSERT_TRUE(doc.SetData(L"1<2"));  // splits "<e/>", no line ends
    EXPECT_EQ(Utf8(doc.GetData()), "1<2");
    const int e = doc.MainPos();
    EXPECT_EQ(doc.Elem(e).StartTagLen(), 3);
    EXPECT_EQ(doc.Elem(e).EndTagLen(), 4);
    EXPECT_EQ(doc.Elem(e).nLength, 13);
    ASSERT_TRUE(doc.FindElem(L"f"));
    ASSERT_TRUE(doc.SetData(L"new", CXmlDoc::NodeWithCdata));
    ASSERT_TRUE(doc.FindElem(L"g"));
    Snapshot before(doc);
    EXPECT_FALSE(doc.SetData(L"x"));  // g has a child element
    EXPECT_TRUE(Unchanged(doc, before));
    ASSERT_TRUE(doc.OutOfElem());  // main r, child g
    before = Snapshot(doc);
    EXPECT_FALSE(doc.SetChildData(L"x"));
    EXPECT_FALSE(doc.SetData(L"x"));
    EXPECT_TRUE(Unchanged(doc, before));
    doc.ResetChildPos();
    ASSERT_TRUE(doc.FindChildElem(L"e"));
    ASSERT_TRUE(doc.SetChildData(L""));
    EXPECT_EQ(Text(doc), "<r><e></e><f><![CDATA[new]]></f><g><h/></g></r>");
    EXPECT_TRUE(Reparses(doc));

    doc.ResetPos();
    before = Snapshot(doc);
    EXPECT_FALSE(doc.SetData(L"x"));  // no main position
    EXPECT_FALSE(doc.SetChildData(L"x"));
    EXPECT_TRUE(Unchanged(doc, before));
}

TEST(XmlEditData, SettingDataClearsTheIllDataMark) {
    XmlProbe doc(L"<r><e>x</zz>y</e><u></r>");
    ASSERT_TRUE(doc.FindElem());
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.FindElem(L"e"));
    ASSERT_TRUE(doc.Flags(doc.MainPos()) & XmlProbe::ElemIllData);
    ASSERT_TRUE(doc.SetData(L"ok"));
    EXPECT_FALSE(doc.Flags(doc.MainPos()) & XmlProbe::ElemIllData);
    // An element without end tag gets one.
    ASSERT_TRUE(doc.FindElem(L"u"));
    ASSERT_TRUE(doc.SetData(L"v"));
    EXPECT_EQ(Text(doc), "<r><e>ok</e><u>v</u></r>");
    EXPECT_FALSE(doc.Flags(doc.MainPos()) & XmlProbe::ElemNonEnded);
    EXPECT_EQ(doc.Elem(doc.MainPos()).nLength, 8);
    EXPECT_TRUE(Reparses(doc));
}

TEST(XmlEditData, NonElementNodesAreRewritten) {
    XmlProbe doc(L"<r><!--old--><a/><![CDATA[c]]></r>");
    ASSERT_TRUE(doc.FindElem());
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_EQ(doc.FindNode(32), 32);
    ASSERT_TRUE(doc.SetData(L"longer"));
    EXPECT_EQ(doc.NodeLength(), 13);
    EXPECT_EQ(doc.ChildStarts(doc.At(0)), (std::vector<int>{16}));
    ASSERT_EQ(doc.FindNode(8), 8);
    const Snapshot before(doc);
    EXPECT_FALSE(doc.SetData(L"x]]>y"));
    EXPECT_TRUE(Unchanged(doc, before));
    ASSERT_TRUE(doc.SetData(L"<d>"));
    EXPECT_EQ(Text(doc), "<r><!--longer--><a/><![CDATA[<d>]]></r>");
    EXPECT_EQ(doc.NodeType(), 8);
    EXPECT_EQ(doc.NodeStart(), 20);
    EXPECT_EQ(doc.NodeLength(), 15);
    EXPECT_TRUE(Reparses(doc));

    XmlProbe text(L"<r>a&amp;b<x/></r>");
    ASSERT_TRUE(text.FindElem());
    ASSERT_TRUE(text.IntoElem());
    ASSERT_EQ(text.FindNode(2), 2);
    ASSERT_TRUE(text.SetData(L"1<2"));
    EXPECT_EQ(Text(text), "<r>1&lt;2<x/></r>");
    EXPECT_EQ(text.NodeLength(), 6);
    EXPECT_EQ(text.ChildStarts(text.At(0)), (std::vector<int>{9}));
    EXPECT_TRUE(Reparses(text));
}

TEST(XmlEditContent, ContentIsParsedUnderTheElement) {
    XmlProbe doc(L"<r><a>old<x/><y><z/></y></a><b/></r>");
    ASSERT_TRUE(doc.FindElem());
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.FindElem(L"a"));
    ASSERT_TRUE(doc.FindChildElem(L"x"));
    ASSERT_TRUE(doc.SavePos(L"gone"));
    const int a = doc.MainPos(), nNextFree = doc.NextFree();
    ASSERT_TRUE(doc.SetElemContent(L"<b/>text<c>1</c>"));
    EXPECT_EQ(Text(doc), "<r><a><b/>text<c>1</c></a><b/></r>");
    EXPECT_EQ(doc.MainPos(), a);
    EXPECT_EQ(doc.ChildPos(), 0);
    EXPECT_EQ(doc.NodeType(), 1);
    EXPECT_EQ(doc.ChildStarts(a), (std::vector<int>{6, 14}));
    EXPECT_EQ(doc.Level(doc.At(14)), 2);
    EXPECT_GE(doc.NextFree(), nNextFree + 2);
    EXPECT_EQ(ReleasedCount(doc), 3 + (doc.NextFree() - nNextFree - 2));  // x, y, z, temporary
    EXPECT_TRUE(doc.RecordsAccounted());
    EXPECT_TRUE(Reparses(doc));
    EXPECT_FALSE(doc.RestorePos(L"gone"));
    EXPECT_EQ(Utf8(doc.GetElemContent()), "<b/>text<c>1</c>");

    EXPECT_FALSE(doc.SetElemContent(L"<n>"));
    EXPECT_EQ(Text(doc), "<r><a><n></a><b/></r>");
    EXPECT_EQ(Utf8(doc.GetResult()),
              "<unended_start_tag tagname=\"n\" offset=\"0\" offset2=\"3\"/>");
    EXPECT_TRUE(doc.Flags(doc.At(6)) & XmlProbe::ElemNonEnded);
    EXPECT_TRUE(Reparses(doc));

    EXPECT_FALSE(doc.SetElemContent(L"t</zz>"));
    EXPECT_TRUE(doc.Flags(a) & XmlProbe::ElemIllData);
    EXPECT_TRUE(Reparses(doc));
    EXPECT_TRUE(doc.SetElemContent(L"plain"));  // no element is no error here
    EXPECT_FALSE(doc.Flags(a) & XmlProbe::ElemIllData);
    EXPECT_EQ(Text(doc), "<r><a>plain</a><b/></r>");
    EXPECT_TRUE(Reparses(doc));
    EXPECT_TRUE(doc.RecordsAccounted());

    XmlProbe empty(L"<e/>");
    ASSERT_TRUE(empty.FindElem());
    ASSERT_TRUE(empty.SetElemContent(L"<k/>"));
    EXPECT_EQ(Text(empty), "<e><k/></e>");
    EXPECT_TRUE(Reparses(empty));
    empty.ResetPos();
    const Snapshot before(empty);
    EXPECT_FALSE(empty.SetElemContent(L"<k/>"));
    EXPECT_TRUE(Unchanged(empty, before));
}

// ---- removing ----

TEST(XmlEditRemove, WhiteSpaceBehindGoesOnlyWhenItRunsToATag) {
    XmlProbe doc(L"<r><a/>\r\n  <b/>\r\n</r>");
    ASSERT_TRUE(doc.FindElem());
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.FindElem(L"a"));
    const int nNextFree = doc.NextFree();
    ASSERT_TRUE(doc.RemoveElem());
    EXPECT_EQ(Text(doc), "<r><b/>\r\n</r>");
    EXPECT_EQ(doc.MainPos(), 0);  // a was the first child
    EXPECT_EQ(doc.NextFree(), nNextFree);
    ASSERT_TRUE(doc.FindElem());
    EXPECT_EQ(doc.Elem(doc.MainPos()).nStart, 3);
    EXPECT_EQ(doc.Flags(doc.MainPos()), XmlProbe::ElemFirst);
    EXPECT_TRUE(Reparses(doc));

    XmlProbe text(L"<r><a/>  x<b/></r>");
    ASSERT_TRUE(text.FindChildElem(L"a"));
    ASSERT_TRUE(text.RemoveChildElem());
    EXPECT_EQ(Text(text), "<r>  x<b/></r>");
    EXPECT_TRUE(Reparses(text));

    XmlProbe end(L"<r/>\r\n");
    ASSERT_TRUE(end.FindElem());
    ASSERT_TRUE(end.RemoveElem());
    EXPECT_EQ(Text(end), "");
    EXPECT_EQ(end.Elem(0).iElemChild, 0);
    EXPECT_EQ(end.Elem(0).nLength, 0);
    EXPECT_TRUE(end.IndexOk());
}

TEST(XmlEditRemove, LoopOfFindAndRemoveTakesEveryMatch) {
    XmlProbe doc(L"<r><x/><y/><x>1</x>\r\n<x><z/></x><w/></r>");
    ASSERT_TRUE(doc.FindElem());
    ASSERT_TRUE(doc.IntoElem());
    int nRemoved = 0;
    while (doc.FindElem(L"x") && nRemoved < 10) {
        ASSERT_TRUE(doc.RemoveElem());
        ++nRemoved;
    }
    EXPECT_EQ(nRemoved, 3);
    EXPECT_EQ(Text(doc), "<r><y/><w/></r>");
    EXPECT_EQ(ReleasedCount(doc), 4);
    EXPECT_EQ(doc.NextFree(), 8);  // removing never hands records back
    EXPECT_TRUE(doc.RecordsAccounted());
    EXPECT_TRUE(Reparses(doc));
    EXPECT_TRUE(doc.SetDoc(doc.GetDoc()));  // a parse numbers from 1 again
    EXPECT_EQ(Text(doc), "<r><y/><w/></r>");
    EXPECT_EQ(doc.NextFree(), 4);
    EXPECT_EQ(doc.Released(), 0);
}

TEST(XmlEditRemove, CursorFallsBackToThePreviousSibling) {
    XmlProbe doc(L"<r><a/><b/><c/></r>");
    ASSERT_TRUE(doc.FindElem());
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.FindElem(L"b"));
    ASSERT_TRUE(doc.RemoveElem());
    EXPECT_EQ(doc.MainPos(), doc.At(3));
    EXPECT_EQ(doc.NodeType(), 1);
    ASSERT_TRUE(doc.FindElem());
    EXPECT_EQ(Utf8(doc.GetTagName()), "c");

    XmlProbe child(L"<r><a/><b/><c/></r>");
    ASSERT_TRUE(child.FindElem());
    ASSERT_TRUE(child.FindChildElem(L"c"));
    ASSERT_TRUE(child.RemoveChildElem());
    EXPECT_EQ(child.ChildPos(), child.At(7));
    EXPECT_EQ(child.MainPos(), child.At(0));
    EXPECT_EQ(Text(child), "<r><a/><b/></r>");
    child.ResetChildPos();
    ASSERT_TRUE(child.FindChildElem(L"a"));
    ASSERT_TRUE(child.RemoveChildElem());
    EXPECT_EQ(child.ChildPos(), 0);
    EXPECT_TRUE(Reparses(child));
    const Snapshot before(child);
    EXPECT_FALSE(child.RemoveChildElem());  // no child position
    EXPECT_TRUE(Unchanged(child, before));

    XmlProbe node(L"<r><a/>t</r>");
    ASSERT_TRUE(node.FindElem());
    ASSERT_TRUE(node.IntoElem());
    ASSERT_EQ(node.FindNode(2), 2);  // main is a, but the cursor is on text
    const Snapshot onText(node);
    EXPECT_FALSE(node.RemoveElem());
    EXPECT_TRUE(Unchanged(node, onText));
    node.ResetPos();
    EXPECT_FALSE(node.RemoveElem());
    EXPECT_FALSE(node.RemoveNode());
}

TEST(XmlEditRemove, SavedPositionsOfRemovedElementsAreDropped) {
    XmlProbe doc(L"<r><a><b><c/></b></a><d/></r>");
    ASSERT_TRUE(doc.FindElem());
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.FindElem(L"a"));
    ASSERT_TRUE(doc.FindChildElem(L"b"));
    ASSERT_TRUE(doc.SavePos(L"inner"));
    doc.ResetMainPos();
    ASSERT_TRUE(doc.FindElem(L"d"));
    ASSERT_TRUE(doc.SavePos(L"keep"));
    const int d = doc.MainPos(), nNextFree = doc.NextFree();
    doc.ResetMainPos();
    ASSERT_TRUE(doc.FindElem(L"a"));
    ASSERT_TRUE(doc.RemoveElem());
    EXPECT_EQ(Text(doc), "<r><d/></r>");
    EXPECT_EQ(ReleasedCount(doc), 3);
    EXPECT_EQ(doc.NextFree(), nNextFree);
    EXPECT_TRUE(doc.RecordsAccounted());
    EXPECT_FALSE(doc.RestorePos(L"inner"));
    ASSERT_TRUE(doc.RestorePos(L"keep"));
    EXPECT_EQ(doc.MainPos(), d);

    // The same through RemoveNode on an element with descendants.
    XmlProbe node(L"<r><a><i/></a>  <b/></r>");
    ASSERT_TRUE(node.FindElem());
    ASSERT_TRUE(node.FindChildElem(L"a"));
    ASSERT_TRUE(node.IntoElem());
    ASSERT_TRUE(node.FindChildElem(L"i"));
    ASSERT_TRUE(node.SavePos(L"i"));
    ASSERT_TRUE(node.RemoveNode());  // removes a, without the white space behind
    EXPECT_EQ(Text(node), "<r>  <b/></r>");
    EXPECT_EQ(ReleasedCount(node), 2);
    EXPECT_TRUE(node.RecordsAccounted());
    EXPECT_EQ(node.NodeType(), 0);
    EXPECT_EQ(node.MainPos(), 0);
    EXPECT_FALSE(node.RestorePos(L"i"));
    EXPECT_TRUE(Reparses(node));
}

TEST(XmlEditRemoveNode, CursorMovesToTheNodeBefore) {
    XmlProbe pi(L"<r><a/><?p?><!--c--><b/></r>");
    ASSERT_TRUE(pi.FindElem());
    ASSERT_TRUE(pi.IntoElem());
    ASSERT_EQ(pi.FindNode(32), 32);
    ASSERT_TRUE(pi.RemoveNode());
    EXPECT_EQ(Text(pi), "<r><a/><?p?><b/></r>");
    EXPECT_EQ(pi.NodeType(), 16);
    EXPECT_EQ(pi.NodeStart(), 7);
    EXPECT_EQ(pi.NodeLength(), 5);
    EXPECT_EQ(pi.MainPos(), pi.At(3));
    EXPECT_EQ(pi.ChildPos(), 0);
    EXPECT_TRUE(Reparses(pi));

    XmlProbe elem(L"<r><a/><!--c--><b/></r>");  // nothing between: on a
    ASSERT_TRUE(elem.FindElem());
    ASSERT_TRUE(elem.IntoElem());
    ASSERT_EQ(elem.FindNode(32), 32);
    ASSERT_TRUE(elem.RemoveNode());
    EXPECT_EQ(elem.NodeType(), 1);
    EXPECT_EQ(elem.MainPos(), elem.At(3));
    EXPECT_EQ(elem.NodeStart() + elem.NodeLength(), 0);
    EXPECT_TRUE(Reparses(elem));

    XmlProbe none(L"<r><!--c--><b/></r>");  // nothing at all: nowhere
    ASSERT_TRUE(none.FindElem());
    ASSERT_TRUE(none.IntoElem());
    ASSERT_EQ(none.FindNode(32), 32);
    ASSERT_TRUE(none.RemoveNode());
    EXPECT_EQ(Text(none), "<r><b/></r>");
    EXPECT_EQ(none.NodeType(), 0);
    EXPECT_EQ(none.MainPos(), 0);
    ASSERT_TRUE(none.FindElem());
    EXPECT_EQ(Utf8(none.GetTagName()), "b");

    XmlProbe text(L"<r>t<a/></r>");
    ASSERT_TRUE(text.FindElem());
    ASSERT_TRUE(text.IntoElem());
    ASSERT_TRUE(text.FindElem(L"a"));
    ASSERT_TRUE(text.RemoveNode());
    EXPECT_EQ(Text(text), "<r>t</r>");
    EXPECT_EQ(text.NodeType(), 2);
    EXPECT_EQ(text.NodeStart(), 3);
    EXPECT_EQ(text.NodeLength(), 1);
    EXPECT_TRUE(Reparses(text));
}

TEST(XmlEditRemoveNode, RemovingTheLastLoneEndTagClearsTheMark) {
    XmlProbe doc(L"<r><a>x</zz></a></r>");
    ASSERT_TRUE(doc.FindElem());
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.FindElem(L"a"));
    const int a = doc.MainPos();
    ASSERT_TRUE(doc.Flags(a) & XmlProbe::ElemIllData);
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_EQ(doc.FindNode(128), 128);
    EXPECT_EQ(doc.NodeStart(), 7);
    ASSERT_TRUE(doc.RemoveNode());
    EXPECT_EQ(Text(doc), "<r><a>x</a></r>");
    EXPECT_FALSE(doc.Flags(a) & XmlProbe::ElemIllData);
    EXPECT_EQ(doc.NodeType(), 2);
    EXPECT_EQ(doc.NodeStart(), 6);
    EXPECT_EQ(doc.NodeLength(), 1);
    EXPECT_TRUE(Reparses(doc));

    // Another bad node in the same content keeps the mark.
    for (const wchar_t* text : {L"<r><a></zz><!x></a></r>", L"<r><a></zz>t</zy></a></r>",
                                L"<r><a></zz><u><b/></a></r>"}) {
        XmlProbe other(text);
        ASSERT_TRUE(other.FindElem());
        ASSERT_TRUE(other.IntoElem());
        ASSERT_TRUE(other.FindElem(L"a"));
        ASSERT_TRUE(other.IntoElem());
        ASSERT_EQ(other.FindNode(128), 128) << Utf8(text);
        ASSERT_TRUE(other.RemoveNode());
        EXPECT_TRUE(Reparses(other)) << Utf8(text);
    }

    XmlProbe top(L"<r/></zz>");
    ASSERT_TRUE(top.Flags(0) & XmlProbe::ElemIllData);
    ASSERT_EQ(top.FindNode(128), 128);
    ASSERT_TRUE(top.RemoveNode());
    EXPECT_EQ(Text(top), "<r/>");
    EXPECT_FALSE(top.Flags(0) & XmlProbe::ElemIllData);
    EXPECT_EQ(top.NodeType(), 1);
    EXPECT_EQ(top.MainPos(), top.At(0));
    EXPECT_TRUE(Reparses(top));
}

TEST(XmlEditLarge, EditsAcrossRecordSegments) {
    // Records 65,536 and up live in a second segment; edits shift, link and
    // take records on both sides of the boundary.
    const int nChildren = 65530;
    XmlProbe doc(xml_test::Repeated(L"<r>", L"<a/>", nChildren, L"</r>"));
    ASSERT_TRUE(doc.FindElem());
    for (int n = 0; n < 20; ++n) {  // the next free record crosses into the second segment
        ASSERT_TRUE(doc.AddChildElem(L"b", n, CXmlDoc::NodeWithNoLines));
    }
    EXPECT_GT(doc.NextFree(), 65536);
    doc.ResetChildPos();
    ASSERT_TRUE(doc.InsertChildElem(L"c", L"", CXmlDoc::NodeWithNoLines));
    EXPECT_EQ(doc.Elem(doc.ChildPos()).nStart, 3);
    ASSERT_TRUE(doc.SetAttrib(L"k", L"v"));  // shifts every record
    doc.ResetChildPos();
    ASSERT_TRUE(doc.FindChildElem(L"b"));
    ASSERT_TRUE(doc.SetChildData(L"xyz"));
    ASSERT_TRUE(doc.RemoveChildElem());
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.FindElem(L"b"));
    ASSERT_TRUE(doc.SetElemContent(L"<d/><d/>"));
    EXPECT_EQ(doc.Elem(doc.At(0)).nLength, doc.GetDoc().GetLength());
    EXPECT_TRUE(doc.RecordsAccounted());
    EXPECT_TRUE(Reparses(doc));
}

// ---- the text buffer and the document flags ----

TEST(XmlEditSplice, BufferGrowsByHalfAgainPlus128) {
    XmlProbe doc(L"<r/>");
    ASSERT_TRUE(doc.FindElem());
    ASSERT_LT(doc.GetDoc().GetAllocLength(), 15);
    ASSERT_TRUE(doc.AddChildElem(L"a"));
    ASSERT_EQ(doc.GetDoc().GetLength(), 15);
    EXPECT_EQ(doc.GetDoc().GetAllocLength(), 15 + 7 + 128);
    ASSERT_TRUE(doc.AddChildElem(L"b"));  // fits: no new buffer
    EXPECT_EQ(doc.GetDoc().GetAllocLength(), 150);
    ASSERT_TRUE(doc.AddChildElem(L"c", std::wstring(200, L'v').c_str()));
    const int n = doc.GetDoc().GetLength();
    ASSERT_EQ(n, 21 + 209);
    EXPECT_EQ(doc.GetDoc().GetAllocLength(), n + n / 2 + 128);
    ASSERT_TRUE(doc.RemoveChildElem());  // shrinking keeps the buffer
    EXPECT_EQ(doc.GetDoc().GetAllocLength(), n + n / 2 + 128);
    EXPECT_TRUE(Reparses(doc));
}

TEST(XmlEditFlags, ReadAndWriteFileFlagsRefuseRemovalsAndContent) {
    for (int nFlag : {16, 32}) {
        XmlProbe doc(L"<r><a/><!--c--></r>");
        ASSERT_TRUE(doc.FindElem());
        ASSERT_TRUE(doc.FindChildElem(L"a"));
        doc.ForceDocFlags(nFlag);
        const Snapshot before(doc);
        EXPECT_FALSE(doc.RemoveChildElem()) << nFlag;
        EXPECT_FALSE(doc.RemoveElem()) << nFlag;
        EXPECT_FALSE(doc.RemoveNode()) << nFlag;
        EXPECT_FALSE(doc.SetElemContent(L"<b/>")) << nFlag;
        EXPECT_TRUE(Unchanged(doc, before)) << nFlag;
        doc.ForceDocFlags(0);
        doc.ResetPos();
        ASSERT_TRUE(doc.FindElem());
        ASSERT_TRUE(doc.IntoElem());
        ASSERT_EQ(doc.FindNode(32), 32);
        doc.ForceDocFlags(nFlag);
        const Snapshot onNode(doc);
        EXPECT_FALSE(doc.RemoveNode()) << nFlag;
        EXPECT_TRUE(Unchanged(doc, onNode)) << nFlag;
    }
}

// Only the operations that need the whole document in memory refuse under
// these flags; adding is not one of them.
TEST(XmlEditFlags, AddingIsNotRefusedUnderFileFlags) {
    XmlProbe doc(32);
    ASSERT_TRUE(doc.AddElem(L"r"));
    ASSERT_TRUE(doc.AddChildElem(L"a"));
    EXPECT_EQ(Text(doc), "<r>\r\n<a/>\r\n</r>\r\n");
    EXPECT_FALSE(doc.RemoveChildElem());
    EXPECT_TRUE(doc.IndexOk());
}

// ---- differential oracle: random edits against a fresh parse ----
//
// Random documents get random sequences of edits and cursor moves. After
// every step the edited index must pass the index check, account for every
// record, keep the cursor on a real node, and equal record by record the
// index that a parse of the edited text builds. A parse is the reference
// because the rules repair the index so that it stays what a parse would find.
//
// What may legitimately differ, and how the generator avoids it:
// - Text that a parse in context reads differently than alone. A subdocument
//   or element content that is not well formed is parsed by itself; in the
//   document an unterminated comment, quote or tag would run on into the text
//   behind it, and an end tag could close an element outside it. So generated
//   malformed text only ends its errors in place: error nodes closed by ">",
//   lone end tags named from kLoneNames (never used as a start tag), and start
//   tags without end tag with unique names (never used as an end tag). The
//   same holds for elements written with NodeWithNoEnd: a unique name, or the
//   first end tag of that name behind it would close it in a fresh parse.
//   (The fragment "x < y" is unterminated by itself, but its error node stops
//   at the next "<" in the document as well, so it swallows no tag.)
// - Documents that end in an unterminated construct: what is added at the
//   end of the document would go into it. Generated documents end cleanly.
// - Node texts that break out of their node: comment and processing
//   instruction texts never hold ">", so "-->" or "?>" cannot end them early.
// - ElemIllFormed on the document record: no edit clears it, so it is not
//   compared. ElemIllData is compared, except after the edits whose rules do
//   not maintain it: adding a lone end tag (no rule marks the parent) and
//   removing an error node (only a removed lone end tag clears the mark). After
//   such an edit the document is parsed again, so later steps compare it again.
// - Setting a value on a bare attribute name is not settled by the rules, so
//   attribute edits never name "flag", the only bare attribute generated.

class Rng {
public:
    explicit Rng(uint64_t seed) : m_state(seed) {}
    uint64_t Next() {  // splitmix64: the same sequence on every platform
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }
    bool OneIn(int n) { return Below(n) == 0; }
    template <class T, size_t N>
    const T& Pick(const T (&items)[N]) {
        return items[Below(static_cast<int>(N))];
    }

private:
    uint64_t m_state;
};

const wchar_t* const kNames[] = {L"a", L"b", L"c", L"item", L"d"};
const wchar_t* const kLoneNames[] = {L"zz", L"zy"};

// A subdocument or element content; "#" stands for a fresh unique name.
struct Fragment {
    const wchar_t* text;
    bool bClean;           // parses without ElemIllFormed
    int nTop;              // top-level elements
    const wchar_t* first;  // the first top-level element's name
    const wchar_t* span;   // what a subdocument inserts: its elements (null: all of it)
};
const Fragment kFragments[] = {
    {L"<b/>", true, 1, L"b", L"<b/>"},
    {L"<c k=\"1\">t &amp; u</c>", true, 1, L"c", L"<c k=\"1\">t &amp; u</c>"},
    {L"<item><a/><b>x</b></item>", true, 1, L"item", L"<item><a/><b>x</b></item>"},
    {L"<!--lead--><d/>\r\n", true, 1, L"d", L"<d/>"},
    {L"\r\n<a>1</a>  ", true, 1, L"a", L"<a>1</a>"},
    {L"<?p?><b><c/></b>", true, 1, L"b", L"<b><c/></b>"},
    {L"<a/><b/>", true, 2, L"a", L"<a/><b/>"},
    {L"<c/>text<d/>", true, 2, L"c", L"<c/>text<d/>"},
    {L"plain text", true, 0, nullptr, nullptr},
    {L"", true, 0, nullptr, nullptr},
    {L"<#>", false, 1, L"#", nullptr},
    {L"<b><#></b>", false, 1, L"b", nullptr},
    {L"<b/></zz>", false, 1, L"b", nullptr},
    {L"</zy>", false, 0, nullptr, nullptr},
    {L"x < y", false, 0, nullptr, nullptr},
    {L"<!x><c/>", false, 1, L"c", nullptr},
    {L"<a><#><b/></a>", false, 1, L"a", nullptr},
    {L"<#>t<c/>", false, 2, L"#", nullptr},
};

class DocGenerator {
public:
    DocGenerator(Rng& rng, int& nUnique, bool bIgnoreCase)
        : m_rng(rng), m_nUnique(nUnique), m_bIgnoreCase(bIgnoreCase) {}

    void SetIgnoreCase(bool bIgnoreCase) { m_bIgnoreCase = bIgnoreCase; }
    std::wstring Unique(const wchar_t* szPrefix) { return szPrefix + std::to_wstring(++m_nUnique); }
    std::wstring Replace(const wchar_t* szText, const std::wstring& name) {
        std::wstring text(szText);
        for (size_t n = text.find(L'#'); n != std::wstring::npos; n = text.find(L'#')) {
            text.replace(n, 1, name);
        }
        return text;
    }

    std::wstring Document(bool bDirty) {
        int nBudget = 3 + m_rng.Below(80);
        std::wstring text;
        if (m_rng.OneIn(3)) {
            text += L"<?xml version=\"1.0\"?>\r\n";
        }
        if (m_rng.OneIn(4)) {
            text += m_rng.OneIn(2) ? L"<!DOCTYPE r>\r\n" : L"<!DOCTYPE r [<!ENTITY e '<x>'>]>\r\n";
        }
        if (m_rng.OneIn(3)) {
            text += L"<!--head-->\r\n";
        }
        if (bDirty && m_rng.OneIn(6)) {
            text += L"just text";  // no root element
        } else {
            if (bDirty && m_rng.OneIn(4)) {
                text += L"<" + Unique(L"u") + L">";  // an unended start tag before the root
            }
            text += Element(0, bDirty, nBudget);
            if (bDirty && m_rng.OneIn(4)) {
                text += L"<b/>";  // a second top-level element
            }
            if (bDirty && m_rng.OneIn(5)) {
                text += L"</zz>";
            }
        }
        if (m_rng.OneIn(2)) {
            text += L"\r\n";
        }
        if (m_rng.OneIn(4)) {
            text += L"<!--tail-->\r\n";
        }
        return text;
    }

private:
    std::wstring Attribs() {
        static const wchar_t* const kAttribs[] = {L" id=\"1\"",  L" k='v&amp;w'", L" flag",
                                                  L" t=\"a>b\"", L" ID=\"x\"",    L" id='2'"};
        std::wstring text;
        for (int n = m_rng.Below(3); n > 0; --n) {
            text += m_rng.Pick(kAttribs);
        }
        return text;
    }
    std::wstring EndName(const std::wstring& name) {
        if (!m_bIgnoreCase || !m_rng.OneIn(2)) {
            return name;
        }
        std::wstring upper(name);
        upper[0] = static_cast<wchar_t>(upper[0] - L'a' + L'A');
        return upper;
    }
    std::wstring Misc(bool bDirty) {
        static const wchar_t* const kMisc[] = {L"\r\n  ",      L" ",           L"text",
                                               L"a &amp; b",   L"q&#65;r",     L"a > b",
                                               L"<!--note-->", L"<?p v='1'?>", L"<![CDATA[<x>&]]>"};
        static const wchar_t* const kDirty[] = {L"<!x>",  L"<1>",   L"<!-x>", L"<![x>",
                                                L"a < b", L"</zz>", L"</zy>"};
        if (bDirty && m_rng.OneIn(4)) {
            if (m_rng.OneIn(3)) {
                return L"<" + Unique(L"u") + L">";
            }
            return m_rng.Pick(kDirty);
        }
        return m_rng.Pick(kMisc);
    }
    std::wstring Element(int nDepth, bool bDirty, int& nBudget) {
        --nBudget;
        const std::wstring name = m_rng.Pick(kNames);
        std::wstring text = L"<" + name + Attribs();
        if (m_rng.Below(10) < 2 || nDepth >= 4 || nBudget <= 0) {
            return text + (m_rng.OneIn(3) ? L" />" : L"/>");
        }
        text += L">";
        for (int n = m_rng.Below(5); n > 0; --n) {
            text +=
                nBudget > 0 && m_rng.OneIn(2) ? Element(nDepth + 1, bDirty, nBudget) : Misc(bDirty);
        }
        return text + L"</" + EndName(name) + L">";
    }

    Rng& m_rng;
    int& m_nUnique;
    bool m_bIgnoreCase;
};

std::string Quoted(const std::wstring& text) {
    std::string out = "\"";
    for (wchar_t c : text) {
        if (c == L'\r') {
            out += "\\r";
        } else if (c == L'\n') {
            out += "\\n";
        } else if (c == L'\t') {
            out += "\\t";
        } else if (c == L'"' || c == L'\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(c < 128 ? c : '?');
        }
    }
    return out + "\"";
}

class EditOracle {
public:
    explicit EditOracle(uint64_t seed) : m_rng(seed), m_gen(m_rng, m_nUnique, false) {}

    // Runs nSteps steps; false with Report() on the first fault.
    bool Run(int nSteps) {
        const bool bIgnoreCase = m_rng.OneIn(4);
        m_gen.SetIgnoreCase(bIgnoreCase);
        m_nDocFlags = bIgnoreCase ? CXmlDoc::DocFlagIgnoreCase : 0;
        NewDocument();
        if (!m_failure.empty()) {
            return false;
        }
        for (m_nStep = 0; m_nStep < nSteps; ++m_nStep) {
            if (m_doc.GetDoc().GetLength() > 6000) {
                NewDocument();
            } else if (m_rng.Below(100) < 40) {
                Move();
            } else {
                Edit();
            }
            if (!m_failure.empty()) {
                return false;
            }
        }
        return true;
    }
    int Edits() const { return m_nEdits; }

    std::string Report() const {
        std::string report = m_failure + "\nsteps since the document was loaded:\n";
        for (const std::string& line : m_log) {
            report += "  " + line + "\n";
        }
        return report + "text before the failing step: " + Quoted(m_before) + "\n";
    }

private:
    enum { kEither = -1 };

    void NewDocument() {
        const bool bDirty = m_rng.OneIn(3);
        const std::wstring text = m_gen.Document(bDirty);
        m_log.clear();
        m_log.push_back("SetDoc(" + Quoted(text) + ") flags " + std::to_string(m_nDocFlags));
        m_doc.SetDocFlags(m_nDocFlags);
        const bool bWellFormed = m_doc.SetDoc(text.c_str());
        if (!bDirty && !bWellFormed) {
            m_failure = "generated a document that is not well formed: " + Utf8(m_doc.GetError());
            return;
        }
        m_saved.clear();
        m_nLastNextFree = m_doc.NextFree();
        m_before = std::wstring(m_doc.GetDoc());
        Verify(false);
    }

    // ---- cursor moves ----
    void Move() {
        static const int kMasks[] = {0, 1, 2, 4, 8, 16, 32, 64, 128, 6, 48, 32768, 0xFFFF};
        static const wchar_t* const kPosNames[] = {L"p0", L"p1", L"p2"};
        std::string what;
        switch (m_rng.Below(11)) {
            case 0:
            case 1: {
                const bool bAny = m_rng.OneIn(3);
                const wchar_t* name = bAny ? nullptr : m_rng.Pick(kNames);
                what = "FindElem(" + (bAny ? std::string() : Utf8(name)) + ") -> " +
                       std::to_string(m_doc.FindElem(name));
                break;
            }
            case 2: {
                const bool bAny = m_rng.OneIn(3);
                const wchar_t* name = bAny ? nullptr : m_rng.Pick(kNames);
                what = "FindChildElem(" + (bAny ? std::string() : Utf8(name)) + ") -> " +
                       std::to_string(m_doc.FindChildElem(name));
                break;
            }
            case 3:
                what = "IntoElem() -> " + std::to_string(m_doc.IntoElem());
                break;
            case 4:
                what = "OutOfElem() -> " + std::to_string(m_doc.OutOfElem());
                break;
            case 5:
            case 6: {
                const int nMask = m_rng.Pick(kMasks);
                what = "FindNode(" + std::to_string(nMask) + ") -> " +
                       std::to_string(m_doc.FindNode(nMask));
                break;
            }
            case 7: {
                const int n = m_rng.Below(3);
                n == 0 ? m_doc.ResetPos() : n == 1 ? m_doc.ResetMainPos() : m_doc.ResetChildPos();
                what = n == 0 ? "ResetPos()" : n == 1 ? "ResetMainPos()" : "ResetChildPos()";
                break;
            }
            case 8:
            case 9: {
                const wchar_t* name = m_rng.Pick(kPosNames);
                const int nFlags = m_doc.ChildPos() ? 2 : m_doc.MainPos() ? 1 : 0;
                const int iPos = nFlags == 2   ? m_doc.ChildPos()
                                 : nFlags == 1 ? m_doc.MainPos()
                                               : m_doc.ParentPos();
                const bool bSaved = m_doc.SavePos(name);
                what = "SavePos(" + Utf8(name) + ") -> " + std::to_string(bSaved);
                if (!bSaved) {
                    Fail(what + ": refused");
                    return;
                }
                m_saved[name] = {nFlags, iPos};
                break;
            }
            default: {
                const wchar_t* name = m_rng.Pick(kPosNames);
                RestoreSaved(name);
                return;
            }
        }
        m_log.push_back(what);
        m_before = std::wstring(m_doc.GetDoc());
        VerifyCursor();  // the text is unchanged, and so is its fresh parse
    }

    void RestoreSaved(const wchar_t* name) {
        auto it = m_saved.find(name);
        bool bExpected = it != m_saved.end();
        int nFlags = 0, iPos = 0;
        if (bExpected) {
            nFlags = it->second.first;
            iPos = it->second.second;
            if (iPos && m_doc.Elem(iPos).nFlagsLevel == XmlProbe::ElemReleased) {
                bExpected = false;  // its element was removed: the entry was dropped
                m_saved.erase(it);
            }
        }
        const bool bRestored = m_doc.RestorePos(name);
        const std::string what = "RestorePos(" + Utf8(name) + ") -> " + std::to_string(bRestored);
        m_log.push_back(what);
        if (bRestored != bExpected) {
            Fail(what + ", expected " + std::to_string(bExpected));
            return;
        }
        if (bRestored) {
            int p = iPos, m = 0, c = 0;
            if (nFlags == 2) {
                c = iPos;
                m = m_doc.x_GetParent(c);
                p = m_doc.x_GetParent(m);
            } else if (nFlags == 1) {
                m = iPos;
                p = m_doc.x_GetParent(m);
            }
            if (m_doc.ParentPos() != p || m_doc.MainPos() != m || m_doc.ChildPos() != c) {
                Fail(what + ": restored the wrong cursor");
                return;
            }
        }
        VerifyCursor();
    }

    // ---- edits ----
    std::wstring Value() {
        static const wchar_t* const kValues[] = {
            L"", L"v", L"1<2", L"a&b", L"q\"u'o", L"x]]>y", L"  sp  ", L"&amp;", L"line\r\nbreak"};
        return m_rng.Pick(kValues);
    }

    static std::wstring NodeText(int nType, const std::wstring& text) {
        switch (nType) {
            case 1:
                return L"<" + text + L"/>";
            case 2:
            case 4:
                return std::wstring(CXmlDoc::EscapeText(text.c_str(), 0));
            case 8:
                return L"<![CDATA[" + text + L"]]>";
            case 16:
                return L"<?" + text + L"?>";
            case 32:
                return L"<!--" + text + L"-->";
            case 64:
                return text;
            default:
                return L"</" + text + L">";
        }
    }
    std::wstring NodeValue(int nType) {
        static const wchar_t* const kText[] = {L"t", L"x<y&z", L"a > b"};
        static const wchar_t* const kSpace[] = {L" ", L"\r\n", L"\t "};
        static const wchar_t* const kCdata[] = {L"<c>&", L"x]]>y", L"]"};
        static const wchar_t* const kPi[] = {L"p", L"p a='1'", L"q b=\"2\""};
        static const wchar_t* const kComment[] = {L"note", L"a-b", L"changed"};
        switch (nType) {
            case 1:
                return m_rng.Pick(kNames);
            case 2:
                return m_rng.Pick(kText);
            case 4:
                return m_rng.Pick(kSpace);
            case 8:
                return m_rng.Pick(kCdata);
            case 16:
                return m_rng.Pick(kPi);
            case 32:
                return m_rng.Pick(kComment);
            case 64:
                return m_rng.OneIn(2) ? L"<!DOCTYPE q>" : L"<!DOCTYPE r>";
            default:
                return m_rng.Pick(kLoneNames);
        }
    }

    void Edit() {
        ++m_nEdits;
        const Snapshot before(m_doc);
        m_before = std::wstring(m_doc.GetDoc());
        const int iParent = m_doc.ParentPos(), iMain = m_doc.MainPos(), iChild = m_doc.ChildPos();
        const int nType = m_doc.NodeType(), nNodeStart = m_doc.NodeStart();
        std::string what;
        int nExpected = kEither;  // 1 true, 0 false
        bool bInsertsWhenFalse = false;
        bool bStale = false;
        std::string check;  // a fault found by the step's own check
        bool bResult = false;
        bool bKeepsCursor = false;  // attributes and data change no cursor

        switch (m_rng.Below(15)) {
            case 0:
            case 1: {  // elements
                const int nKind = m_rng.Below(4);
                const bool bChild = nKind >= 2, bInsert = nKind % 2 == 1;
                static const int kFlags[] = {0,
                                             0,
                                             CXmlDoc::NodeWithNoLines,
                                             CXmlDoc::NodeWithXhtmlSpace,
                                             CXmlDoc::NodeWithCdata,
                                             CXmlDoc::NodeWithRefs,
                                             CXmlDoc::NodeWithNoLines | CXmlDoc::NodeWithCdata,
                                             CXmlDoc::NodeWithNoEnd};
                const int nFlags = m_rng.Pick(kFlags);
                const bool bInt = m_rng.OneIn(6);
                const int nValue = m_rng.Below(2000) - 1000;
                std::wstring value = bInt ? std::to_wstring(nValue) : Value();
                std::wstring name = m_rng.Pick(kNames);
                if (nFlags & CXmlDoc::NodeWithNoEnd) {
                    name = m_gen.Unique(L"n");
                    if (!bInt && !m_rng.OneIn(4)) {
                        value.clear();
                    }
                }
                std::wstring expected;
                if (value.empty()) {
                    expected = L"<" + name +
                               (nFlags & CXmlDoc::NodeWithNoEnd        ? L">"
                                : nFlags & CXmlDoc::NodeWithXhtmlSpace ? L" />"
                                                                       : L"/>");
                } else {
                    expected = L"<" + name + L">" +
                               std::wstring(nFlags & CXmlDoc::NodeWithCdata
                                                ? XmlProbe::x_EncodeCDATASection(value.c_str())
                                                : CXmlDoc::EscapeText(value.c_str(), nFlags)) +
                               L"</" + name + L">";
                }
                const std::wstring placed =
                    Placed(bChild, bInsert, nFlags & CXmlDoc::NodeWithNoLines, expected);
                if (bInt) {
                    bResult = bChild
                                  ? (bInsert ? m_doc.InsertChildElem(name.c_str(), nValue, nFlags)
                                             : m_doc.AddChildElem(name.c_str(), nValue, nFlags))
                                  : (bInsert ? m_doc.InsertElem(name.c_str(), nValue, nFlags)
                                             : m_doc.AddElem(name.c_str(), nValue, nFlags));
                } else {
                    const wchar_t* v = value.c_str();
                    bResult = bChild ? (bInsert ? m_doc.InsertChildElem(name.c_str(), v, nFlags)
                                                : m_doc.AddChildElem(name.c_str(), v, nFlags))
                                     : (bInsert ? m_doc.InsertElem(name.c_str(), v, nFlags)
                                                : m_doc.AddElem(name.c_str(), v, nFlags));
                }
                what = std::string(bInsert ? "Insert" : "Add") + (bChild ? "ChildElem(" : "Elem(") +
                       Utf8(name.c_str()) + ", " + (bInt ? std::to_string(nValue) : Quoted(value)) +
                       ", " + std::to_string(nFlags) + ") -> " + std::to_string(bResult);
                nExpected = !((nFlags & CXmlDoc::NodeWithNoEnd) && !value.empty()) &&
                            (!bChild || iMain != 0);
                if (bResult) {
                    const int iNew = bChild ? m_doc.ChildPos() : m_doc.MainPos();
                    check = TextIs(placed);
                    if (check.empty()) {
                        check = ElementTextIs(iNew, expected);
                    }
                    if (check.empty() &&
                        (m_doc.ParentPos() != iParent ||
                         (bChild ? m_doc.MainPos() != iMain : m_doc.ChildPos() != 0))) {
                        check = bChild ? "the parent or main position moved"
                                       : "the parent moved or the child is not 0";
                    }
                    if (check.empty() && m_doc.NodeType() != 1) {
                        check = "node type is not 1";
                    }
                }
                break;
            }
            case 2:
            case 3: {  // nodes
                static const int kTypes[] = {1, 2, 4, 8, 16, 32, 64, 128};
                const int nNodeType = m_rng.Pick(kTypes);
                const std::wstring text = NodeValue(nNodeType);
                const bool bInsert = m_rng.OneIn(2);
                const bool bLines = nNodeType == 16 || nNodeType == 32 || nNodeType == 64;
                const std::wstring placed =
                    Placed(false, bInsert, !bLines, NodeText(nNodeType, text));
                bResult = bInsert ? m_doc.InsertNode(nNodeType, text.c_str())
                                  : m_doc.AddNode(nNodeType, text.c_str());
                what = std::string(bInsert ? "InsertNode(" : "AddNode(") +
                       std::to_string(nNodeType) + ", " + Quoted(text) + ") -> " +
                       std::to_string(bResult);
                nExpected = !(nNodeType == 8 && text.find(L"]]>") != std::wstring::npos);
                bStale = nNodeType == 128;
                if (bResult) {
                    const std::wstring expected = NodeText(nNodeType, text);
                    check = TextIs(placed);
                    if (!check.empty()) {
                        // the text is wrong already
                    } else if (nNodeType == 1) {
                        check = m_doc.NodeType() == 1 ? ElementTextIs(m_doc.MainPos(), expected)
                                                      : "node type is not 1";
                    } else if (m_doc.NodeType() != nNodeType) {
                        check = "the cursor is not on a node of the type added";
                    } else if (std::wstring(m_doc.GetDoc().Mid(m_doc.NodeStart(),
                                                               m_doc.NodeLength())) != expected) {
                        check = "the cursor's node is not the text added";
                    }
                }
                break;
            }
            case 4:
            case 5: {  // subdocuments
                const Fragment& fragment = m_rng.Pick(kFragments);
                const std::wstring unique = m_gen.Unique(L"u");
                const std::wstring text = m_gen.Replace(fragment.text, unique);
                const int nKind = m_rng.Below(4);
                const bool bChild = nKind >= 2, bInsert = nKind % 2 == 1;
                const bool bRefused = bChild && iMain == 0;
                const std::wstring placed =
                    bRefused ? std::wstring()
                             : Placed(bChild, bInsert, !fragment.span,
                                      fragment.span ? std::wstring(fragment.span) : text);
                const wchar_t* t = text.c_str();
                bResult = bChild ? (bInsert ? m_doc.InsertChildSubDoc(t) : m_doc.AddChildSubDoc(t))
                                 : (bInsert ? m_doc.InsertSubDoc(t) : m_doc.AddSubDoc(t));
                what = std::string(bInsert ? "Insert" : "Add") +
                       (bChild ? "ChildSubDoc(" : "SubDoc(") + Quoted(text) + ") -> " +
                       std::to_string(bResult);
                nExpected = !bRefused && fragment.bClean && fragment.nTop == 1;
                bInsertsWhenFalse = !bRefused;
                if (!bRefused) {
                    const int iFirst = bChild ? m_doc.ChildPos() : m_doc.MainPos();
                    check = TextIs(placed);
                    if (!check.empty()) {
                        // the text is wrong already
                    } else if (!fragment.first) {
                        if (iFirst != 0) {
                            check = "a cursor names an element, but none was inserted";
                        }
                    } else if (iFirst == 0) {
                        check = "the first inserted element is not the cursor";
                    } else if (std::wstring(bChild ? m_doc.GetChildTagName()
                                                   : m_doc.GetTagName()) !=
                               m_gen.Replace(fragment.first, unique)) {
                        check = "the cursor is not on the first inserted element";
                    }
                }
                break;
            }
            case 6: {  // attributes
                bKeepsCursor = true;
                static const wchar_t* const kAttribNames[] = {L"id", L"k", L"new", L"ID"};
                const std::wstring name = m_rng.Pick(kAttribNames);
                const std::wstring value = Value();
                const int nFlags = m_rng.OneIn(4) ? CXmlDoc::NodeWithRefs : 0;
                const int nKind = m_rng.Below(4);
                const bool bChild = nKind >= 2;
                if (nKind == 0) {
                    bResult = m_doc.SetAttrib(name.c_str(), value.c_str(), nFlags);
                } else if (nKind == 1) {
                    bResult = m_doc.AddAttrib(name.c_str(), value.c_str());
                } else if (nKind == 2) {
                    bResult = m_doc.SetChildAttrib(name.c_str(), value.c_str(), nFlags);
                } else {
                    bResult = m_doc.AddChildAttrib(name.c_str(), value.c_str());
                }
                static const char* const kOps[] = {"SetAttrib(", "AddAttrib(", "SetChildAttrib(",
                                                   "AddChildAttrib("};
                what = kOps[nKind] + Utf8(name.c_str()) + ", " + Quoted(value) + ", " +
                       std::to_string(nFlags) + ") -> " + std::to_string(bResult);
                if (bChild) {
                    // With no element at all, the rules' wording lets a processing
                    // instruction under the cursor be the target: either answer.
                    nExpected =
                        iChild && nType == 1 ? 1 : (iMain == 0 && nType == 16 ? kEither : 0);
                } else {
                    nExpected = (iMain && nType == 1) || nType == 16;
                }
                const bool bRefs = nKind % 2 == 0 && nFlags;
                if (bResult && !bRefs) {
                    const std::wstring got(bChild ? m_doc.GetChildAttrib(name.c_str())
                                                  : m_doc.GetAttrib(name.c_str()));
                    if (got != value) {
                        check = "the attribute reads back as " + Quoted(got);
                    }
                }
                break;
            }
            case 7: {  // data
                bKeepsCursor = true;
                const bool bChild = m_rng.OneIn(3);
                if (nType == 32768 && !bChild) {
                    return;  // what rewriting an error node gives is not settled
                }
                const bool bOnNode = !bChild && nType != 0 && nType != 1;
                std::wstring value = bOnNode ? NodeValue(nType) : Value();
                const int nPicked = bOnNode          ? 0
                                    : m_rng.OneIn(3) ? CXmlDoc::NodeWithCdata
                                                     : (m_rng.OneIn(4) ? CXmlDoc::NodeWithRefs : 0);
                const bool bInt = !bOnNode && m_rng.OneIn(6);
                const int nValue = m_rng.Below(100);
                if (bInt) {
                    value = std::to_wstring(nValue);
                }
                const int nFlags = bInt ? 0 : nPicked;  // the number overloads take no flags
                std::wstring replaced = m_before;
                const int iTarget = bChild ? iChild : (bOnNode ? 0 : iMain);
                if (bOnNode) {
                    replaced.replace(static_cast<size_t>(m_doc.NodeStart()),
                                     static_cast<size_t>(m_doc.NodeLength()),
                                     NodeText(nType, value));
                } else if (iTarget && !m_doc.Elem(iTarget).iElemChild) {
                    replaced = Replaced(
                        iTarget, std::wstring(nFlags & CXmlDoc::NodeWithCdata
                                                  ? XmlProbe::x_EncodeCDATASection(value.c_str())
                                                  : CXmlDoc::EscapeText(value.c_str(), nFlags)));
                }
                if (bChild) {
                    bResult = bInt ? m_doc.SetChildData(nValue)
                                   : m_doc.SetChildData(value.c_str(), nFlags);
                } else {
                    bResult = bInt ? m_doc.SetData(nValue) : m_doc.SetData(value.c_str(), nFlags);
                }
                what = std::string(bChild ? "SetChildData(" : "SetData(") +
                       (bInt ? std::to_string(nValue) : Quoted(value)) + ", " +
                       std::to_string(nFlags) + ") -> " + std::to_string(bResult);
                auto hasChild = [&](int i) { return i && m_doc.Elem(i).iElemChild != 0; };
                if (bChild) {
                    nExpected =
                        iChild ? !hasChild(iChild) : (iMain == 0 && nType > 1 ? kEither : 0);
                } else if (bOnNode) {
                    nExpected = !(nType == 8 && value.find(L"]]>") != std::wstring::npos);
                } else {
                    nExpected = nType == 1 && iMain && !hasChild(iMain);
                }
                if (bResult) {
                    check = TextIs(replaced);
                }
                if (!check.empty()) {
                    // the text is wrong already
                } else if (bResult && bOnNode) {
                    if (m_doc.NodeType() != nType ||
                        std::wstring(m_doc.GetDoc().Mid(m_doc.NodeStart(), m_doc.NodeLength())) !=
                            NodeText(nType, value)) {
                        check = "the node does not hold the new data";
                    }
                } else if (bResult && !(nFlags & CXmlDoc::NodeWithRefs)) {
                    const std::wstring got(bChild ? m_doc.GetChildData() : m_doc.GetData());
                    if (got != value) {
                        check = "the data reads back as " + Quoted(got);
                    }
                    const int i = bChild ? m_doc.ChildPos() : m_doc.MainPos();
                    if (check.empty() && (m_doc.Flags(i) & XmlProbe::ElemIllData)) {
                        check = "ElemIllData was not cleared";
                    }
                }
                break;
            }
            case 8: {  // element content
                const Fragment& fragment = m_rng.Pick(kFragments);
                const std::wstring text = m_gen.Replace(fragment.text, m_gen.Unique(L"u"));
                const bool bCan = iMain && nType == 1;
                const std::wstring replaced = bCan ? Replaced(iMain, text) : std::wstring();
                bResult = m_doc.SetElemContent(text.c_str());
                what = "SetElemContent(" + Quoted(text) + ") -> " + std::to_string(bResult);
                nExpected = bCan && fragment.bClean;
                bInsertsWhenFalse = bCan;
                if (bCan) {
                    check = TextIs(replaced);
                    if (!check.empty()) {
                        // the text is wrong already
                    } else if (std::wstring(m_doc.GetElemContent()) != text) {
                        check = "the content reads back as " +
                                Quoted(m_doc.GetElemContent().GetString());
                    } else if (m_doc.MainPos() != iMain || m_doc.ChildPos() != 0 ||
                               m_doc.NodeType() != 1) {
                        check = "the cursor is not on the element with no child";
                    }
                }
                break;
            }
            case 9:
            case 10: {  // RemoveElem and RemoveChildElem
                const bool bChild = m_rng.OneIn(2);
                const int iGone = bChild ? iChild : (nType == 1 ? iMain : 0);
                const int iPrev = iGone && !(m_doc.Flags(iGone) & XmlProbe::ElemFirst)
                                      ? m_doc.Elem(iGone).iElemPrev
                                      : 0;
                std::wstring expected;
                if (iGone) {
                    const XmlProbe::ElemPos& e = m_doc.Elem(iGone);
                    const int nEnd = e.StartAfter();
                    int n = nEnd;
                    while (n < static_cast<int>(m_before.size()) &&
                           std::wstring(L" \t\r\n").find(m_before[static_cast<size_t>(n)]) !=
                               std::wstring::npos) {
                        ++n;
                    }
                    const bool bSpace = n == static_cast<int>(m_before.size()) ||
                                        m_before[static_cast<size_t>(n)] == L'<';
                    expected = m_before;
                    expected.erase(static_cast<size_t>(e.nStart),
                                   static_cast<size_t>((bSpace ? n : nEnd) - e.nStart));
                }
                bResult = bChild ? m_doc.RemoveChildElem() : m_doc.RemoveElem();
                what = std::string(bChild ? "RemoveChildElem() -> " : "RemoveElem() -> ") +
                       std::to_string(bResult);
                nExpected = iGone != 0;
                if (bResult && iGone) {
                    if (std::wstring(m_doc.GetDoc()) != expected) {
                        check = "the text is not the old text without the element";
                    } else if ((bChild ? m_doc.ChildPos() : m_doc.MainPos()) != iPrev) {
                        check = "the cursor is not on the previous sibling";
                    } else if (m_doc.Elem(iGone).nFlagsLevel != XmlProbe::ElemReleased) {
                        check = "the removed record is not released";
                    }
                }
                break;
            }
            case 11: {  // RemoveNode
                int nStart = m_doc.NodeStart(), nLength = m_doc.NodeLength();
                if (nType == 1 && iMain) {
                    nStart = m_doc.Elem(iMain).nStart;
                    nLength = m_doc.Elem(iMain).nLength;
                }
                const bool bOnNode = nType > 1 || (nType == 1 && iMain);
                bResult = m_doc.RemoveNode();
                what = "RemoveNode() -> " + std::to_string(bResult);
                nExpected = bOnNode ? 1 : (iMain ? kEither : 0);
                bStale = nType == 32768;
                if (bResult && bOnNode) {
                    std::wstring expected = m_before;
                    expected.erase(static_cast<size_t>(nStart), static_cast<size_t>(nLength));
                    if (std::wstring(m_doc.GetDoc()) != expected) {
                        check = "the text is not the old text without the node";
                    } else if (m_doc.ChildPos() != 0) {
                        check = "the child position is not 0";
                    } else if (m_doc.NodeType() > 1 && m_doc.NodeStart() >= nStart) {
                        check = "the cursor is not on a node before the removed one";
                    } else if (m_doc.NodeType() == 1 &&
                               m_doc.Elem(m_doc.MainPos()).StartAfter() > nStart) {
                        check = "the cursor is not on an element before the removed node";
                    } else if (m_doc.NodeType() == 0) {
                        const int p = m_doc.ParentPos();
                        const int nContent = p ? m_doc.Elem(p).StartContent() : 0;
                        if (m_doc.MainPos() != 0 || nStart != nContent) {
                            check = "the cursor stands nowhere although a node is before";
                        }
                    }
                }
                break;
            }
            default: {  // plain additions, so that documents grow as well as shrink
                const bool bChild = iMain && nType == 1;
                const std::wstring name = m_rng.Pick(kNames), value = Value();
                bResult = bChild ? m_doc.AddChildElem(name.c_str(), value.c_str())
                                 : m_doc.AddElem(name.c_str(), value.c_str());
                what = std::string(bChild ? "AddChildElem(" : "AddElem(") + Utf8(name.c_str()) +
                       ", " + Quoted(value) + ") -> " + std::to_string(bResult);
                nExpected = 1;
                break;
            }
        }
        if (bKeepsCursor && bResult && check.empty() &&
            (m_doc.ParentPos() != iParent || m_doc.MainPos() != iMain ||
             m_doc.ChildPos() != iChild || m_doc.NodeType() != nType ||
             m_doc.NodeStart() != nNodeStart)) {
            check = "the cursor moved";
        }
        m_log.push_back(what);
        if (nExpected != kEither && static_cast<int>(bResult) != nExpected) {
            Fail(what + ": expected " + std::to_string(nExpected));
            return;
        }
        if (!check.empty()) {
            Fail(what + ": " + check);
            return;
        }
        if (!bResult && !bInsertsWhenFalse) {
            ::testing::AssertionResult same = Unchanged(m_doc, before);
            if (!same) {
                Fail(what + ": refused, but " + same.message());
                return;
            }
        }
        Verify(bStale);
        if (m_failure.empty() && bStale) {
            // The edit left ElemIllData as the rules have it; parse again so
            // the next steps compare it once more.
            m_doc.SetDoc(CLuStringW(m_doc.GetDoc()));
            m_saved.clear();
            m_nLastNextFree = m_doc.NextFree();
            m_log.push_back("(parsed again)");
        }
    }

    // The text once szText is placed at the cursor as the rules for new text
    // have it (one level down with bChild), worked out before the edit.
    std::wstring Placed(bool bChild, bool bInsert, bool bNoLines, std::wstring text) {
        std::wstring doc = m_before;
        const int iParent = bChild ? m_doc.MainPos() : m_doc.ParentPos();
        const int iRel = bChild ? m_doc.ChildPos() : m_doc.MainPos();
        const int nNodeStart = bChild ? 0 : m_doc.NodeStart();
        const int nNodeLength = bChild ? 0 : m_doc.NodeLength();
        const XmlProbe::ElemPos p = m_doc.Elem(iParent);
        const bool bEmpty = iParent && p.IsEmptyElement();
        const bool bContentless = iParent && !bEmpty && p.ContentLen() == 0;
        size_t nOffset;
        if (iRel && !nNodeLength) {
            nOffset = static_cast<size_t>(bInsert ? m_doc.Elem(iRel).nStart
                                                  : m_doc.Elem(iRel).StartAfter());
        } else if (nNodeLength) {
            nOffset = static_cast<size_t>(bInsert ? nNodeStart : nNodeStart + nNodeLength);
        } else if (!iParent) {
            nOffset = bInsert ? 0 : doc.size();
        } else {
            nOffset =
                static_cast<size_t>(bInsert ? p.StartContent() : p.StartAfter() - p.EndTagLen());
        }
        if (!bNoLines && !bEmpty) {
            size_t n = nOffset;
            while (n < doc.size() && std::wstring(L" \t\r\n").find(doc[n]) != std::wstring::npos) {
                ++n;
            }
            if (n == doc.size() || doc[n] == L'<') {
                nOffset = n;
            }
        }
        if (!bNoLines) {
            text += L"\r\n";
        }
        if (bEmpty) {
            // Split: "/>" loses its "/", a start tag without end tag gets the
            // new text in front of its ">".
            const size_t nEnd = static_cast<size_t>(p.StartAfter());
            const std::wstring split = (bNoLines ? L">" : L">\r\n") + text + L"</" +
                                       std::wstring(m_doc.x_GetTagName(iParent));
            if (p.nFlagsLevel & XmlProbe::ElemNonEnded) {
                doc.insert(nEnd - 1, split);
            } else {
                doc.replace(nEnd - 2, 1, split);
            }
        } else {
            doc.insert(nOffset, bContentless && !bNoLines ? L"\r\n" + text : text);
        }
        return doc;
    }

    // The text once the content of element iPos is replaced by szContent: an
    // element without content is split into start and end tag as for new text.
    std::wstring Replaced(int iPos, const std::wstring& content) {
        std::wstring doc = m_before;
        const XmlProbe::ElemPos e = m_doc.Elem(iPos);
        const size_t nEnd = static_cast<size_t>(e.StartAfter());
        if (!e.IsEmptyElement()) {
            doc.replace(static_cast<size_t>(e.StartContent()), static_cast<size_t>(e.ContentLen()),
                        content);
        } else if (e.nFlagsLevel & XmlProbe::ElemNonEnded) {
            doc.insert(nEnd - 1, L">" + content + L"</" + std::wstring(m_doc.x_GetTagName(iPos)));
        } else {
            doc.replace(nEnd - 2, 1,
                        L">" + content + L"</" + std::wstring(m_doc.x_GetTagName(iPos)));
        }
        return doc;
    }

    std::string TextIs(const std::wstring& expected) const {
        const std::wstring got(m_doc.GetDoc());
        if (got == expected) {
            return std::string();
        }
        size_t n = 0;
        while (n < got.size() && n < expected.size() && got[n] == expected[n]) {
            ++n;
        }
        const size_t nFrom = n < 20 ? 0 : n - 20;
        return "the text differs from offset " + std::to_string(n) + ": " +
               Quoted(got.substr(nFrom, 60)) + ", expected " + Quoted(expected.substr(nFrom, 60));
    }

    std::string ElementTextIs(int iPos, const std::wstring& expected) {
        if (!iPos) {
            return "no cursor on the new element";
        }
        const XmlProbe::ElemPos& e = m_doc.Elem(iPos);
        const std::wstring got(m_doc.GetDoc().Mid(e.nStart, e.nLength));
        if (got != expected) {
            return "the new element's record spans " + Quoted(got) + ", expected " +
                   Quoted(expected);
        }
        return std::string();
    }

    void Fail(const std::string& what) {
        if (m_failure.empty()) {
            m_failure = "step " + std::to_string(m_nStep) + ": " + what;
        }
    }

    // The checks made after every step.
    void Verify(bool bStale) {
        if (!m_doc.IndexOkQuiet()) {
            Fail(m_log.back() + ": index check: " + m_doc.IndexOk().message());
            return;
        }
        ::testing::AssertionResult accounted = m_doc.RecordsAccounted();
        if (!accounted) {
            Fail(m_log.back() + ": " + accounted.message());
            return;
        }
        if (m_doc.NextFree() < m_nLastNextFree) {
            Fail(m_log.back() + ": the next free record went down");
            return;
        }
        m_nLastNextFree = m_doc.NextFree();
        m_fresh.SetDocFlags(m_nDocFlags);
        m_fresh.SetDoc(CLuStringW(m_doc.GetDoc()));
        const int nIll = bStale ? XmlProbe::ElemIllData : 0;
        ::testing::AssertionResult same =
            SameIndex(m_doc, m_fresh, nIll, XmlProbe::ElemIllFormed | nIll);
        if (!same) {
            Fail(m_log.back() + ": " + same.message());
            return;
        }
        VerifyCursor();
    }

    void VerifyCursor() {
        const std::string cursor = CursorProblem();
        if (!cursor.empty()) {
            Fail(m_log.back() + ": " + cursor);
        }
    }

    std::string CursorProblem() {
        const int p = m_doc.ParentPos(), m = m_doc.MainPos(), c = m_doc.ChildPos();
        const int t = m_doc.NodeType();
        for (int i : {p, m, c}) {
            if (i < 0 || i >= m_doc.NextFree() ||
                (i && m_doc.Elem(i).nFlagsLevel == XmlProbe::ElemReleased)) {
                return "a cursor names a record not in the tree";
            }
        }
        if (m && m_doc.Elem(m).iElemParent != p) {
            return "the main element's parent is not the parent position";
        }
        if (c && (!m || m_doc.Elem(c).iElemParent != m)) {
            return "the child element's parent is not the main position";
        }
        if (t == 1) {
            return !m                                        ? "node type 1 with no main position"
                   : m_doc.NodeStart() || m_doc.NodeLength() ? "node type 1 with a node span"
                                                             : std::string();
        }
        if (t == 0) {
            return m || c ? "node type 0 with a main or child position" : std::string();
        }
        // On a non-element node: inside the parent's content, after the main
        // element and before the element that follows it.
        const int s = m_doc.NodeStart(), e = s + m_doc.NodeLength();
        if (c || m_doc.NodeLength() <= 0) {
            return "a node cursor with a child position or no length";
        }
        const int nFrom = p ? m_doc.Elem(p).StartContent() : 0;
        const int nTo =
            p ? m_doc.Elem(p).StartAfter() - m_doc.Elem(p).EndTagLen() : m_doc.GetDoc().GetLength();
        if (s < nFrom || e > nTo) {
            return "the node lies outside its parent's content";
        }
        const int iNext = m ? m_doc.Elem(m).iElemNext : m_doc.Elem(p).iElemChild;
        if ((m && m_doc.Elem(m).StartAfter() > s) || (iNext && m_doc.Elem(iNext).nStart < e)) {
            return "the main position is not the last element before the node";
        }
        return NodeProblem(t, s, e);
    }

    // The node under the cursor must be one a scan of the fresh parse finds at
    // the same level. Text and white space may have merged with a neighbour
    // (or been swallowed by an error node that runs up to the next "<"), so
    // for them it is enough to lie inside such a node.
    std::string NodeProblem(int t, int s, int e) {
        // The indexes are equal, so the parent is the fresh element at the same start.
        const int p = m_doc.ParentPos();
        const int pr = p ? m_fresh.At(m_doc.Elem(p).nStart) : 0;
        if (pr) {
            m_fresh.x_SetPos(m_fresh.x_GetParent(pr), pr, 0);
            m_fresh.IntoElem();
        } else {
            m_fresh.ResetPos();
        }
        const bool bMerges = t == 2 || t == 4 || t == 32768;
        for (int n = 0; n <= m_fresh.GetDoc().GetLength() + 1; ++n) {
            const int ft = m_fresh.FindNode(0);
            if (!ft) {
                break;
            }
            int fs = m_fresh.NodeStart(), fl = m_fresh.NodeLength();
            if (ft == 1) {
                fs = m_fresh.Elem(m_fresh.MainPos()).nStart;
                fl = m_fresh.Elem(m_fresh.MainPos()).nLength;
            }
            if (bMerges && fs <= s && s < fs + fl) {
                return (ft == 2 || ft == 4 || ft == 32768) && e <= fs + fl
                           ? std::string()
                           : "the cursor's text node is not text in a fresh parse";
            }
            if (!bMerges && fs == s) {
                return ft == t && fl == e - s ? std::string()
                                              : "the cursor's node differs in a fresh parse";
            }
        }
        return "a fresh parse has no node where the cursor stands";
    }

    Rng m_rng;
    int m_nUnique = 0;
    DocGenerator m_gen;
    int m_nDocFlags = 0;
    XmlProbe m_doc;
    XmlProbe m_fresh;
    std::map<std::wstring, std::pair<int, int>> m_saved;  // name: flags, record
    int m_nLastNextFree = 0;
    int m_nStep = 0;
    int m_nEdits = 0;
    std::vector<std::string> m_log;
    std::wstring m_before;
    std::string m_failure;
};

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define XML_EDIT_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define XML_EDIT_SANITIZED 1
#endif
#endif
#ifdef XML_EDIT_SANITIZED
const int kSequences = 100;  // a sanitizer build runs some fifty times slower
#else
const int kSequences = 1000;
#endif

uint64_t EnvNumber(const char* szName, uint64_t nDefault) {
    const char* sz = std::getenv(szName);
    return sz && *sz ? std::strtoull(sz, nullptr, 0) : nDefault;
}

// XML_EDIT_SEED picks the first sequence's seed (sequence n uses seed + n);
// XML_EDIT_SEQUENCES and XML_EDIT_STEPS size the run; XML_EDIT_TRACE=1 prints
// each sequence's steps.
TEST(XmlEditOracle, RandomEditsKeepTheIndexOfAFreshParse) {
    const uint64_t seed = EnvNumber("XML_EDIT_SEED", 0x5EED0001);
    const int nSequences = static_cast<int>(EnvNumber("XML_EDIT_SEQUENCES", kSequences));
    const int nSteps = static_cast<int>(EnvNumber("XML_EDIT_STEPS", 300));
    int nEdits = 0;
    for (int n = 0; n < nSequences; ++n) {
        EditOracle oracle(seed + static_cast<uint64_t>(n));
        const bool bOk = oracle.Run(nSteps);
        nEdits += oracle.Edits();
        if (EnvNumber("XML_EDIT_TRACE", 0)) {
            std::printf("%s\n", oracle.Report().c_str());
        }
        ASSERT_TRUE(bOk) << "sequence seed " << seed + static_cast<uint64_t>(n)
                         << " (XML_EDIT_SEED=" << seed + static_cast<uint64_t>(n)
                         << " XML_EDIT_SEQUENCES=1 repeats it)\n"
                         << oracle.Report();
    }
    RecordProperty("edits", nEdits);
    EXPECT_GT(nEdits, nSequences * nSteps / 3);
}

}  // namespace
