#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cwchar>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "xml_probe.h"

#if defined(VIDOZIR_TEST_LIBXML2)
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#endif

using xml_test::Utf8;

namespace {

// Reaches the node members, paths and saved-position internals, and sets what
// the public operations cannot (the streaming flags, a result text of file
// records).
class NavProbe : public xml_test::XmlProbe {
public:
    using CXmlDoc::PathPos;
    using CXmlDoc::x_GetPath;
    using XmlProbe::XmlProbe;
    NavProbe(int nFlags, const wchar_t* szDoc) : XmlProbe(nFlags) { SetDoc(szDoc); }

    void SetResultText(const wchar_t* szResult) { m_strResultText = szResult; }
    CLuStringW Path() const { return x_GetPath(m_iMainPos); }
};

constexpr int kIgnoreCase = CXmlDoc::DocFlagIgnoreCase, kTrim = CXmlDoc::DocFlagTrimWhitespace,
              kCollapse = CXmlDoc::DocFlagCollapseWhitespace;

constexpr auto S = &Utf8;  // short, as it is everywhere below

// The whole cursor: parent, main, child, node type, node start, node length.
using Cursor = std::array<int, 6>;
Cursor Cur(const NavProbe& d) {
    return {d.ParentPos(), d.MainPos(), d.ChildPos(), d.NodeType(), d.NodeStart(), d.NodeLength()};
}
Cursor OnElem(int parent, int main, int child = 0) {
    return {parent, main, child, main ? 1 : 0, 0, 0};
}

// An operation gave bResult and left the cursor at expected.
::testing::AssertionResult Step(const NavProbe& doc, bool bResult, bool bExpected,
                                const Cursor& expected) {
    if (bResult == bExpected && Cur(doc) == expected) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "gave " << bResult << " and " << ::testing::PrintToString(Cur(doc)) << ", not "
           << bExpected << " and " << ::testing::PrintToString(expected);
}

// ---------------------------------------------------------------- cursors

TEST(XmlNavigate, CursorsMoveOverTheIndexAndStayPutOnFailure) {
    NavProbe doc(L"<r><a/><b/><a/></r>");
    const int r = doc.At(0), a1 = doc.At(3), b = doc.At(7), a2 = doc.At(11);
    // No main position to go into, no parent to go out to; one root.
    EXPECT_TRUE(Step(doc, doc.IntoElem() || doc.OutOfElem(), false, OnElem(0, 0)));
    EXPECT_TRUE(Step(doc, doc.FindElem() && !doc.FindElem(), true, OnElem(0, r)));
    EXPECT_TRUE(Step(doc, doc.IntoElem(), true, OnElem(r, 0)));
    EXPECT_TRUE(Step(doc, doc.FindElem(L"a"), true, OnElem(r, a1)));
    EXPECT_TRUE(Step(doc, doc.FindElem(L"a"), true, OnElem(r, a2)));
    EXPECT_TRUE(Step(doc, doc.FindElem(L"a"), false, OnElem(r, a2)));
    doc.ResetMainPos();
    EXPECT_TRUE(Step(doc, doc.FindElem(XML_CSTR(L"")) && doc.FindElem(), true, OnElem(r, b)));
    // Out of the level: the former main position becomes the child.
    EXPECT_TRUE(Step(doc, doc.OutOfElem() && !doc.OutOfElem(), true, OnElem(0, r, b)));
    doc.ResetChildPos();
    EXPECT_EQ(Cur(doc), OnElem(0, r));
    // FindChildElem moves the child; with no main position it finds the root first.
    doc.ResetPos();
    EXPECT_TRUE(Step(doc, doc.FindChildElem(), true, OnElem(0, r, a1)));
    EXPECT_TRUE(Step(doc, doc.FindChildElem(L"a"), true, OnElem(0, r, a2)));
    EXPECT_TRUE(Step(doc, doc.FindChildElem(L"b"), false, OnElem(0, r, a2)));
    doc.ResetChildPos();
    // Into the child, which becomes the main position; into a leaf, an empty level.
    EXPECT_TRUE(Step(doc, doc.FindChildElem(L"b") && doc.IntoElem(), true, OnElem(r, b)));
    EXPECT_TRUE(Step(doc, doc.FindChildElem(), false, OnElem(r, b)));
    EXPECT_TRUE(Step(doc, doc.IntoElem() && !doc.FindElem(), true, OnElem(b, 0)));
    EXPECT_TRUE(Step(doc, doc.OutOfElem(), true, OnElem(r, b)));
    EXPECT_FALSE(CXmlDoc().FindChildElem() || CXmlDoc().FindElem());
}

TEST(XmlNavigate, NamesAndAttributeValuesFollowTheDocumentFlags) {
    const wchar_t* szDoc = L"<Root><Item ID=' 7 \t x '/></Root>";
    NavProbe exact(szDoc), folded(kIgnoreCase | kCollapse, szDoc);
    EXPECT_FALSE(exact.FindElem(L"root") || exact.FindChildElem(L"ITEM"));
    ASSERT_TRUE(exact.FindChildElem(L"Item"));
    EXPECT_EQ(S(exact.GetChildAttrib(L"id")) + "|" + S(exact.GetChildAttrib(L"ID")), "| 7 \t x ");
    ASSERT_TRUE(folded.FindElem(L"rOOT") && folded.FindChildElem(L"ITEM"));
    EXPECT_EQ(S(folded.GetChildAttrib(L"id")), "7 x");
}

TEST(XmlNavigate, StreamingFlagsRefuseWholeDocumentOperations) {
    NavProbe doc(L"<r><a>x</a></r>");
    ASSERT_TRUE(doc.FindElem() && doc.SavePos(L"p"));
    doc.ForceDocFlags(CXmlDoc::DocFlagReadFile);
    EXPECT_FALSE(doc.FindChildElem() || doc.SavePos(L"q") || doc.RestorePos(L"p"));
    EXPECT_TRUE(doc.GetElemContent().IsEmpty() && doc.GetSubDoc().IsEmpty());
    EXPECT_EQ(S(doc.GetTagName()), "r");
    EXPECT_TRUE(doc.IntoElem() && doc.FindElem(L"a"));  // only flag 32 stops FindElem
    doc.ForceDocFlags(CXmlDoc::DocFlagWriteFile);
    doc.ResetMainPos();
    EXPECT_FALSE(doc.FindElem() || doc.RestorePos(L"p"));
    doc.ForceDocFlags(0);
    EXPECT_TRUE(doc.RestorePos(L"p"));
    EXPECT_EQ(S(doc.GetTagName()), "r");
}

// ---------------------------------------------------------------- paths

TEST(XmlNavigate, PathTypes) {
    // Nothing may follow the single step of "//"; a predicate that does not
    // start with 1 to 9 names a child.
    const std::pair<const wchar_t*, int> cases[] = {
        {nullptr, 0},     {L"", 0},        {L"a", 1},          {L"a/b/c", 1},
        {L"a[12]/b", 1},  {L"a[@id]", 1},  {L"a[@id='x']", 1}, {L"a[@id=\"x y\"]", 1},
        {L"a[@id=x]", 1}, {L"a[b]", 1},    {L"a/@id", 1},      {L"a/b[2]/@id", 1},
        {L"/r", 2},       {L"/r/a[2]", 2}, {L"//r", 3},        {L"a[", -1},
        {L"a[2", -1},     {L"a/", -1},     {L"/r/", -1},       {L"a]", -1},
        {L"a b", -1},     {L"a[2]x", -1},  {L"a[0x]", 1},      {L"a[@id='x]", -1},
        {L"//r/a", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NavProbe::PathPos(c.first).nPathType, c.second) << Utf8(c.first);
    }
}

TEST(XmlNavigate, OnlyTheFirstStepOfARelativePathTakesPartInTheSearch) {
    NavProbe doc(L"<r><item/><items/><it/><item x='1'/></r>");
    // The children of r each path finds, one after the other: later steps and
    // predicates play no part, a mere prefix of a tag name does not match, and
    // other than relative paths find nothing.
    const std::pair<const wchar_t*, std::vector<int>> cases[] = {
        {L"item[@x='1']", {3, 23}},
        {L"item/x", {3, 23}},
        {L"it[2]", {18}},
        {L"it/@id", {18}},
        {L"i", {}},
        {L"item[", {}},
        {L"it/", {}},
        {L"/r/it", {}},
        {L"//it", {}},
    };
    ASSERT_TRUE(doc.FindElem() && doc.IntoElem());
    for (const auto& [szPath, starts] : cases) {
        std::vector<int> found;
        for (doc.ResetMainPos(); doc.FindElem(szPath);) {
            found.push_back(doc.Elem(doc.MainPos()).nStart);
        }
        EXPECT_EQ(found, starts) << Utf8(szPath);
        EXPECT_TRUE(!starts.empty() || doc.MainPos() == 0) << Utf8(szPath);
    }
}

TEST(XmlNavigate, AbsolutePathsCountSameNamedSiblings) {
    // "a]" is no valid path step: no count is written for it.
    NavProbe doc(L"<list><item/><other/><item/><item><x/><x/></item><a]/><a]/></list>");
    std::string paths = S(doc.x_GetPath(0));
    for (int i = 1; i < doc.NextFree(); ++i) {
        paths += " " + S(doc.x_GetPath(i));
    }
    EXPECT_EQ(paths,
              " /list /list/item /list/other /list/item[2] /list/item[3] /list/item[3]/x "
              "/list/item[3]/x[2] /list/a] /list/a]");
    // The count uses the name comparison of the document; top-level siblings count too.
    NavProbe exact(L"<list><Item/><item/></list>"), folded(kIgnoreCase, exact.GetDoc());
    EXPECT_EQ(S(exact.x_GetPath(exact.At(13))), "/list/item");
    EXPECT_EQ(S(folded.x_GetPath(folded.At(13))), "/list/item[2]");
    NavProbe two(L"<a/><a/>");
    EXPECT_EQ(S(two.x_GetPath(two.At(4))), "/a[2]");
}

// ---------------------------------------------------------------- nodes

// A node FindNode should reach next: its type, its start (the first
// occurrence of the text at), its length (all of at when 0), name and data.
using Node = std::tuple<int, const wchar_t*, int, const char*, const char*>;

// Walks the level with FindNode(nMask) through exactly these nodes. The main
// position of another node is the last element of the level before it; at
// the end of the level the cursor stays on the last node.
void ExpectNodes(NavProbe& doc, const std::vector<Node>& nodes, int nMask = 0) {
    for (const auto& [nType, szAt, nLength, szTag, szData] : nodes) {
        SCOPED_TRACE(Utf8(szAt));
        const int nStart = doc.GetDoc().Find(szAt);
        ASSERT_EQ(doc.FindNode(nMask), nType);
        int iMain = nType == 1 ? doc.At(nStart) : 0;  // or else the last element before
        for (int nChild : doc.ChildStarts(doc.ParentPos())) {
            if (nType != 1 && nChild < nStart) {
                iMain = doc.At(nChild);
            }
        }
        const int nLen = nLength ? nLength : static_cast<int>(std::wcslen(szAt));
        const Cursor node{doc.ParentPos(), iMain, 0, nType, nStart, nLen};
        EXPECT_EQ(Cur(doc), nType == 1 ? OnElem(doc.ParentPos(), iMain) : node);
        EXPECT_EQ(S(doc.GetTagName()), szTag);
        EXPECT_EQ(S(doc.GetData()), szData);
    }
    const Cursor last = Cur(doc);
    EXPECT_EQ(doc.FindNode(nMask), 0);
    EXPECT_EQ(Cur(doc), last);
}

TEST(XmlNavigate, FindNodeVisitsEveryKindOfNode) {
    // Trimming applies to text; a white-space node's data is its whole text.
    NavProbe doc(kTrim,
                 L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE\n  r PUBLIC \"-//x\">\n<r>"
                 L" t &amp; t<![CDATA[c<]]><!--m--><? p x=\"1\"?> <e:f.g-h\r\t a='2'/>u</q></ q >"
                 L"</>< x></r>\r\n");
    const int r = doc.At(doc.GetDoc().Find(L"<r>")), e = doc.At(doc.GetDoc().Find(L"<e:"));
    // Attributes of a processing instruction, its target being no attribute.
    ASSERT_EQ(doc.FindNode(), 16);
    EXPECT_EQ(S(doc.GetAttrib(L"encoding")) + S(doc.GetAttrib(L"xml")), "UTF-8");
    EXPECT_EQ(S(doc.GetAttribName(1)) + "|" + S(doc.GetAttribName(2)), "encoding|");
    doc.ResetPos();
    // At document level only the end of the text ends the scan.
    ExpectNodes(
        doc, {{16, L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0, "xml",
               "xml version=\"1.0\" encoding=\"UTF-8\""},
              {4, L"\n<!", 1, "#text", "\n"},
              {64, L"<!DOCTYPE\n  r PUBLIC \"-//x\">", 0, "r", "<!DOCTYPE\n  r PUBLIC \"-//x\">"},
              {4, L"\n<r>", 1, "#text", "\n"},
              {1, L"<r>", 0, "r", ""},
              {4, L"\r\n", 0, "#text", "\r\n"}});
    EXPECT_FALSE(doc.IntoElem());  // only from an element
    NavProbe top(L"</x ><a/>");
    ExpectNodes(top, {{128, L"</x >", 0, "x", "x "}, {1, L"<a/>", 0, "a", ""}});

    // Inside the root; the parent's end tag ends the level.
    doc.ResetPos();
    ASSERT_TRUE(doc.FindElem(L"r") && doc.IntoElem());
    ExpectNodes(doc, {{2, L" t &amp; t", 0, "#text", "t & t"},
                      {8, L"<![CDATA[c<]]>", 0, "#cdata-section", "c<"},
                      {32, L"<!--m-->", 0, "#comment", "m"},
                      {16, L"<? p x=\"1\"?>", 0, "p", " p x=\"1\""},  // space after "<?" skipped
                      {4, L" <e", 1, "#text", " "},
                      {1, L"<e:", 0, "e:f.g-h", ""},
                      {2, L"u</q>", 1, "#text", "u"},
                      {128, L"</q>", 0, "q", "q"},
                      {128, L"</ q >", 0, "q", " q "},
                      {128, L"</>", 0, ">", ""},  // a stop character is a name by itself
                      {32768, L"< x>", 0, "", "< x>"}});
    EXPECT_EQ(S(doc.GetAttrib(L"a")), "");           // on a node, not the element before it
    EXPECT_FALSE(doc.FindElem() || doc.IntoElem());  // e has no next sibling
    EXPECT_EQ(doc.NodeType(), 32768);
    // Out of the level from a node: the parent becomes the main position.
    EXPECT_TRUE(doc.OutOfElem());
    EXPECT_EQ(Cur(doc), OnElem(0, r, e));
}

TEST(XmlNavigate, FindNodeMaskSkipsNodesAndFollowsTheIndex) {
    NavProbe doc(L"<r>t<![CDATA[c]]><!--m--><e><i>in</i><!--n--></e>u</q>< x></r>");
    const int r = doc.At(0), e = doc.At(25);
    ASSERT_TRUE(doc.FindElem() && doc.IntoElem());
    ExpectNodes(doc, {{32, L"<!--m-->", 0, "#comment", "m"}}, 32);  // "<!--n-->" lies in e
    doc.ResetMainPos();
    ExpectNodes(
        doc,
        {{2, L"t<", 1, "#text", "t"}, {2, L"u<", 1, "#text", "u"}, {128, L"</q>", 0, "q", "q"}},
        2 | 128);
    doc.ResetMainPos();
    ExpectNodes(doc, {{1, L"<e>", 0, "e", ""}}, 1);
    // From an element the scan starts behind it.
    ExpectNodes(doc, {{32768, L"< x>", 0, "", "< x>"}}, 8 | 32768);
    // A node before the first element leaves FindElem at the first child.
    doc.ResetMainPos();
    EXPECT_EQ(doc.FindNode(8), 8);
    EXPECT_TRUE(doc.FindElem());
    EXPECT_EQ(Cur(doc), OnElem(r, e));
    // In e, from a node between its children FindElem goes on behind the
    // element before the node.
    ASSERT_TRUE(doc.IntoElem());
    ExpectNodes(doc, {{32, L"<!--n-->", 0, "#comment", "n"}}, 32);
    EXPECT_FALSE(doc.FindElem());
    EXPECT_EQ(doc.NodeType(), 32);
    // Into an empty level.
    NavProbe leaf(L"<r><e/></r>");
    ASSERT_TRUE(leaf.FindChildElem() && leaf.IntoElem() && leaf.IntoElem());
    ExpectNodes(leaf, {});
    EXPECT_EQ(Cur(leaf), OnElem(leaf.At(3), 0));
    // a has no end tag, so b was moved up to follow it as a sibling.
    NavProbe unended(L"<r><a><b/>x</r>");
    ASSERT_TRUE(unended.FindElem() && unended.IntoElem());
    ExpectNodes(unended,
                {{1, L"<a>", 0, "a", ""}, {1, L"<b/>", 0, "b", ""}, {2, L"x", 0, "#text", "x"}});
}

// ---------------------------------------------------------------- attributes

TEST(XmlNavigate, AttributesByNameAndByNumber) {
    // Values, quoted or not, are never taken for names, nor is the tag name.
    NavProbe doc(
        L"<r flag a=b b=\"x &amp; y\" c=un&lt;q d = 'e' e='&#65;&eacute;' f='it\"s'\n"
        L"\tg=\"&lt;/a>\" v=\"w=1\" w=2 last/>");
    EXPECT_EQ(S(doc.GetAttrib(L"a")), "");  // no main position yet
    EXPECT_EQ(S(doc.GetAttribName(0)), "");
    ASSERT_TRUE(doc.FindElem());
    // A bare name is its own value; named references fold to their capitalised form.
    const std::pair<const wchar_t*, const wchar_t*> attribs[] = {
        {L"flag", L"flag"}, {L"a", L"b"},       {L"b", L"x & y"},   {L"c", L"un<q"},
        {L"d", L"e"},       {L"e", L"A\u00C9"}, {L"f", L"it\"s"},   {L"g", L"</a>"},
        {L"v", L"w=1"},     {L"w", L"2"},       {L"last", L"last"}, {L"z", L""},
        {L"fla", L""},      {L"flags", L""},    {L"r", L""},        {nullptr, L""},
    };
    CLuStringW name, value;
    for (int n = 0; n < 16; ++n) {
        const auto& [szName, szValue] = attribs[n];
        EXPECT_TRUE(doc.GetAttrib(szName) == szValue) << Utf8(szName) << " " << n;
        // By number: the first eleven, then nothing.
        EXPECT_EQ(doc.GetNthAttrib(n, name, value), n < 11) << n;
        EXPECT_TRUE(n >= 11 || (name == szName && value == szValue)) << n;
    }
}

// ---------------------------------------------------------------- data

TEST(XmlNavigate, DataOfElements) {
    const std::tuple<int, const wchar_t*, const wchar_t*> cases[] = {
        // Text, and CDATA as it stands; comments and instructions give nothing.
        {0, L"<r>x &amp; y<!--c--> z</r>", L"x & y z"},
        {0, L"<r>a<![CDATA[<&amp;>]]>b<?p d?>c</r>", L"a<&amp;>bc"},
        {0, L"<r><![CDATA[x]]]]><![CDATA[>y]]></r>", L"x]]>y"},
        // White space alone between other nodes is a white-space node: nothing.
        {0, L"<r> <!--c-->x<![CDATA[ ]]> </r>", L"x "},
        {0, L"<r>a > b<!--c--></r>", L"a > b"},
        {0, L"<r>&#x263a; &#128512;</r>", L"\u263A \xD83D\xDE00"},
        {0, L"<r>  a \t b  </r>", L"  a \t b  "},
        {0, L"<r>t<c/>u</r>", L""},  // a child leaves no data
        {0, L"<r/>", L""},
        {0, L"<a>x", L""},  // with its end tag missing an element ends at its start tag
        // Each text node is unescaped, so trimmed or collapsed, on its own.
        {kTrim, L"<r>  a \t b  </r>", L"a \t b"},
        {kTrim, L"<r> a <!--c--> b </r>", L"ab"},
        {kTrim, L"<r> a <![CDATA[ c ]]> b </r>", L"a c b"},
        {kCollapse, L"<r>\r\n  a \t b  &#32;</r>", L"a b  "},  // a decoded space is no white space
    };
    for (const auto& [nFlags, szText, szData] : cases) {
        // Each text as the root, then as the child of another element.
        NavProbe doc(nFlags, szText), outer(nFlags, CLuStringW(L"<w>") + szText + L"</w>");
        EXPECT_TRUE(doc.GetData().IsEmpty() && outer.GetChildData().IsEmpty());  // no position
        ASSERT_TRUE(doc.FindElem() && outer.FindChildElem()) << Utf8(szText);
        EXPECT_TRUE(doc.GetData() == szData) << Utf8(szText) << " gave " << S(doc.GetData());
        EXPECT_TRUE(outer.GetChildData() == szData) << Utf8(szText) << " as a child";
    }
}

TEST(XmlNavigate, ContentAndSubDocumentAreRawText) {
    NavProbe doc(L"<r>\n <a>x &amp; y</a>\n <b/> t\n <c/>\t</r>\r\n");
    EXPECT_EQ(S(doc.GetElemContent()) + S(doc.GetSubDoc()) + S(doc.GetChildSubDoc()), "");
    ASSERT_TRUE(doc.FindElem());
    EXPECT_EQ(S(doc.GetElemContent()), "\n <a>x &amp; y</a>\n <b/> t\n <c/>\t");
    EXPECT_EQ(S(doc.GetSubDoc()), S(doc.GetDoc()));  // up to the end of the text
    // A sub-document takes the white space behind it only up to a tag.
    std::string subdocs;
    while (doc.FindChildElem()) {
        subdocs += S(doc.GetChildSubDoc()) + "|";
    }
    EXPECT_EQ(subdocs, "<a>x &amp; y</a>\n |<b/>|<c/>\t|");
    ASSERT_TRUE(doc.IntoElem());
    EXPECT_EQ(S(doc.GetElemContent()), "");
    doc.ResetMainPos();
    ASSERT_TRUE(doc.FindElem(L"a"));
    EXPECT_EQ(S(doc.GetElemContent()), "x &amp; y");
    NavProbe tight(L"<r><a/></r> x");
    ASSERT_TRUE(tight.FindChildElem());
    EXPECT_EQ(S(tight.GetChildSubDoc()) + "|" + S(tight.GetSubDoc()), "<a/>|<r><a/></r>");
}

// ---------------------------------------------------------------- errors

TEST(XmlNavigate, ErrorMessages) {
    // Messages of the parse; only its first record is told.
    const std::pair<const wchar_t*, const char*> parsed[] = {
        {L"<a/>", ""},
        {L"", ""},
        {L"<a/><b/>", "root element has sibling"},
        {L"text only", "no root element"},
        {L"<a></b></a>", "lone end tag 'b' at offset 3"},
        {L"<a><b></a>", "start tag 'b' at offset 3 expecting end tag at offset 7"},
        {L"<r>< x></r>", "tag syntax error at offset 3 expecting tag name / ! or ?"},
        {L"<r><!x></r>", "tag syntax error at offset 3 expecting 'DOCTYPE' [ or -"},
        {L"<r><!-x></r>", "tag syntax error at offset 3 expecting - to begin comment"},
        {L"<r><![X[></r>", "tag syntax error at offset 3 expecting 'CDATA'"},
        {L"<r/><?pi", "unterminated tag at offset 4"},
        {L"<r><a></b></r><c/>", "lone end tag 'b' at offset 6"}};
    for (const auto& c : parsed) {
        EXPECT_EQ(S(CXmlDoc(c.first).GetError()), c.second) << Utf8(c.first);
    }
    EXPECT_EQ(S(CXmlDoc(L"<r><a></b></r><c/>").GetResult()),
              "<lone_end_tag tagname=\"b\" offset=\"6\"/>"
              "<unended_start_tag tagname=\"a\" offset=\"3\" offset2=\"11\"/><root_has_sibling/>");
    // File records are all told, in order; unknown records are passed over.
    const std::pair<const wchar_t*, const char*> results[] = {
        {L"<file_error msg=\"Access &amp; denied\" n=\"5\"/><mystery a=\"1\"/><endian_swap/>",
         "Access & denied endian swap"},
        {L"<converted_from encoding=\"UTF-16BE\" length=\"6\"/><write length=\"5\"/>"
         L"<converted_to encoding=\"windows-1252\" length=\"4\"/>",
         "UTF-16BE length 6 to length 5 to windows-1252 length 4"},
        {L"<bom/><read encoding=\"UTF-8\" length=\"10\"/><nulls_removed count=\"2\"/>"
         L"<utf8_detection/><lone_end_tag tagname=\"x\" offset=\"1\"/>"
         L"<unended_start_tag tagname=\"y\" offset=\"2\" offset2=\"9\"/><no_root_element/>",
         "BOM + UTF-8 length 10 removed 2 nulls (used UTF-8 detection) lone end tag 'x' at "
         "offset 1"},
        {L"<doctype_tag_syntax offset=\"9\"/><write encoding=\"UTF-16LE\" length=\"5\"/>"
         L"<conversion_loss/><root_has_sibling/>",
         "tag syntax error at offset 9 expecting markup declaration UTF-16LE length 5 (chars lost "
         "in conversion!)"},
    };
    for (const auto& c : results) {
        NavProbe doc;
        doc.SetResultText(c.first);
        EXPECT_EQ(S(doc.GetError()), c.second) << Utf8(c.first);
    }
}

// ---------------------------------------------------------------- saved positions

// The random edits save and restore cursors of every kind under names in map
// 0, also after removals and parses; here the empty name, other maps, no name
// and exact names.
TEST(XmlNavigate, SavedPositionsRestoreTheCursorTriple) {
    NavProbe doc(L"<r><a><b/></a></r>");
    const int a = doc.At(3), b = doc.At(6);
    EXPECT_TRUE(doc.SavePos());  // document level, the empty name
    ASSERT_TRUE(doc.FindChildElem() && doc.IntoElem() && doc.IntoElem() && doc.SavePos(L"p", 1));
    EXPECT_FALSE(doc.SavePos(XML_CSTR(nullptr)));
    EXPECT_TRUE(Step(doc, doc.FindElem() && !doc.RestorePos(L"p"), true, OnElem(a, b)));
    EXPECT_TRUE(Step(doc, doc.RestorePos(L"p", 1), true, OnElem(a, 0)));
    EXPECT_TRUE(Step(doc, doc.RestorePos(L""), true, OnElem(0, 0)));
    EXPECT_TRUE(Step(doc, doc.RestorePos(XML_CSTR(nullptr)), false, OnElem(0, 0)));
    ASSERT_TRUE(doc.FindElem() && doc.SavePos(L"main"));
    doc.SetDocFlags(kIgnoreCase);
    EXPECT_TRUE(!doc.RestorePos(L"MAIN") && doc.RestorePos(L"main"));
}

TEST(XmlNavigate, SavedPositionSlotsAreCodeUnitSums) {
    // Restoring creates every missing map up to its number, of seven slots.
    NavProbe doc(L"<r/>");
    EXPECT_FALSE(doc.RestorePos(L"q", 2));
    // A map sized beforehand keeps its size; the slot is the sum mod its size.
    ASSERT_TRUE(doc.SetMapSize(3, 3) && doc.FindElem() && doc.SavePos(L"ab", 3));
    EXPECT_EQ(doc.Slots(3), "0: ab/UM -L;");  // 97 + 98 = 195
    // The sum is unsigned 32-bit: 32,769 units of 0xFFFF pass 2^31 (negative
    // as a signed sum); 65,538 of them pass 2^32 (slot 4 if wider, 0 if not).
    for (int nUnits : {32769, 65538}) {
        std::vector<wchar_t> units(nUnits, static_cast<wchar_t>(0xFFFF));
        units.push_back(0);
        const int nSlot = static_cast<int>(static_cast<uint32_t>(nUnits) * 0xFFFFu % 7);
        ASSERT_TRUE(doc.SavePos(units.data(), 1)) << nUnits;
        ASSERT_NE(doc.Map(1)->pTable[nSlot], nullptr) << nUnits;
        EXPECT_EQ(doc.Map(1)->pTable[nSlot][0].strName.GetLength(), nUnits);
        EXPECT_TRUE(doc.RestorePos(units.data(), 1));
    }
}

TEST(XmlNavigate, SavedPositionSlotsGrowOnCollision) {
    NavProbe doc(xml_test::Repeated(L"<r>", L"<e/>", 20, L"</r>"));
    // Names whose code units sum to 6 modulo 7: all share slot 6.
    const wchar_t* const names[] = {L"ab", L"ai", L"ap", L"aw", L"ba", L"bh", L"bo", L"bv",
                                    L"cg", L"cn", L"cu", L"df", L"dm", L"dt", L"ee", L"el"};
    ASSERT_TRUE(doc.FindElem() && doc.IntoElem());
    std::vector<int> saved;
    for (int n = 0; n < 16; ++n) {
        ASSERT_TRUE(doc.FindElem() && doc.SavePos(names[n]));
        saved.push_back(doc.MainPos());
        // Saving under a name again takes its entry, the last one too.
        ASSERT_TRUE(n != 1 || doc.SavePos(names[n]));
        // 2 entries, then (1 * 2 + 12) = 14, then (13 * 2 + 12) = 38.
        const int nLast = n < 2 ? 1 : n < 14 ? 13 : 37;
        std::string expected = "6:";
        for (int k = 0; k <= nLast; ++k) {
            expected += " " + (k <= n ? Utf8(names[k]) + "/UM" : "-") + (k == nLast ? "L" : "");
        }
        EXPECT_EQ(doc.Slots(0), expected + ";");
    }
    ASSERT_TRUE(doc.FindElem() && doc.SavePos(names[13]));
    saved[13] = doc.MainPos();  // overwritten in place
    EXPECT_EQ(doc.Map(0)->pTable[6][13].iPos, saved[13]);
    for (int n = 0; n < 16; ++n) {
        EXPECT_TRUE(Step(doc, doc.RestorePos(names[n]), true, OnElem(doc.At(0), saved[n]))) << n;
    }
    EXPECT_FALSE(doc.RestorePos(L"zz"));  // 244 % 7 = 6 as well, never saved
}

TEST(XmlNavigate, StaleSavedPositionsAreDropped) {
    NavProbe doc(L"<r><a/><b/><c/></r>");
    const int r = doc.At(0), a = doc.At(3), b = doc.At(7), c = doc.At(11);
    ASSERT_TRUE(doc.FindChildElem(L"a") && doc.SavePos(L"a"));  // all three names in slot 6
    ASSERT_TRUE(doc.FindChildElem(L"b") && doc.SavePos(L"h"));
    ASSERT_TRUE(doc.FindChildElem(L"c") && doc.SavePos(L"o") && doc.SavePos(L"x", 1));
    // Release b's record as a removal would, then drop what refers to it.
    doc.x_ReleasePos(b);
    EXPECT_TRUE(doc.x_CheckSavedPos());
    EXPECT_EQ(doc.Slots(0), "6: a/UC o/UC - - - - - - - - - - - -L;");
    EXPECT_FALSE(doc.RestorePos(L"h"));
    EXPECT_TRUE(Step(doc, doc.RestorePos(L"o"), true, OnElem(0, r, c)));
    EXPECT_TRUE(Step(doc, doc.RestorePos(L"a"), true, OnElem(0, r, a)));
    EXPECT_TRUE(doc.RestorePos(L"x", 1));  // 120 % 7 = 1
    doc.x_ReleasePos(c);
    EXPECT_TRUE(doc.x_CheckSavedPos());
    EXPECT_FALSE(doc.x_CheckSavedPos());  // nothing left to drop
    EXPECT_EQ(doc.Slots(0) + " " + doc.Slots(1), "6: a/UC - - - - - - - - - - - - -L; 1: - -L;");
    EXPECT_FALSE(doc.RestorePos(L"o") || doc.RestorePos(L"x", 1));
    EXPECT_TRUE(doc.RestorePos(L"a"));
}

// ---------------------------------------------------------------- real documents

#if defined(VIDOZIR_TEST_LIBXML2)

// UTF-8 as UTF-16 units; false when libxml2 finds no character.
bool Utf16(const xmlChar* p, int n, std::vector<wchar_t>& out) {
    for (int nLength; n > 0; p += nLength, n -= nLength) {
        nLength = n;
        const int c = xmlGetUTF8Char(p, &nLength);
        if (c < 0) {
            return false;
        }
        if (c >= 0x10000) {
            out.push_back(static_cast<wchar_t>(0xD800 | ((c - 0x10000) >> 10)));
        }
        out.push_back(static_cast<wchar_t>(c >= 0x10000 ? 0xDC00 | (c & 0x3FF) : c));
    }
    return true;
}

CLuStringW Wide(const xmlChar* text) {
    std::vector<wchar_t> units;
    Utf16(text, xmlStrlen(text), units);
    return CLuStringW(units.data(), static_cast<int>(units.size()));
}

// libxml2 turns every CR LF and lone CR into LF before parsing; this class
// keeps the text as written. Compared after the same folding on both sides.
// In attribute values libxml2 also turns each literal tab, line feed and
// carriage return into a space: the same again (this loses the difference
// from a character reference such as "&#10;", which both keep).
CLuStringW Fold(const CLuStringW& text, bool bAttribute = false) {
    CLuStringW out;
    for (int k = 0; k < text.GetLength(); ++k) {
        if (text[k] == L'\r' && k + 1 < text.GetLength() && text[k + 1] == L'\n') {
            continue;
        }
        const wchar_t c = text[k] == L'\r' ? L'\n' : text[k];
        out += bAttribute && (c == L'\t' || c == L'\n') ? L' ' : c;
    }
    return out;
}

// Namespace prefixes stay in this class's names: compare qualified names.
CLuStringW QualifiedName(const xmlChar* name, xmlNsPtr ns) {
    return ns && ns->prefix ? Wide(ns->prefix) + L":" + Wide(name) : Wide(name);
}

// Walks this class's reading of a document beside libxml2's.
struct Oracle {
    NavProbe doc;
    std::string file;
    int files = 0, skipped = 0, elements = 0, attributes = 0, data = 0, paths = 0, failures = 0;

    // Compares one file; false when it was skipped: not UTF-8 (or ASCII), not
    // well-formed, or without a root element.
    bool Compare(const std::string& strFile) {
        file = strFile;
        failures = 0;
        std::ifstream in(file, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        std::vector<wchar_t> units;
        const size_t nSkip = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;  // a BOM is no text
        const xmlChar* p = reinterpret_cast<const xmlChar*>(bytes.data());
        if (!Utf16(p + nSkip, static_cast<int>(bytes.size() - nSkip), units)) {
            return false;
        }
        xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
        xmlDocPtr xdoc =
            xmlCtxtReadMemory(ctxt, bytes.data(), static_cast<int>(bytes.size()), file.c_str(),
                              nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
        const bool bWellFormed = xdoc && ctxt->wellFormed && ctxt->nsWellFormed;
        xmlFreeParserCtxt(ctxt);
        const xmlChar* enc = xdoc ? xdoc->encoding : nullptr;
        const bool bUtf8 = !enc || !xmlStrcasecmp(enc, BAD_CAST "utf-8") ||
                           !xmlStrcasecmp(enc, BAD_CAST "us-ascii") ||
                           !xmlStrcasecmp(enc, BAD_CAST "ascii");
        const xmlNodePtr root = bWellFormed && bUtf8 ? xmlDocGetRootElement(xdoc) : nullptr;
        if (root) {
            units.push_back(0);
            Expect(doc.SetDoc(units.data()), "parse", doc.GetError());
            Expect(doc.FindElem(), "root element");
            Element(root, L"", true, 0);
            Expect(!doc.FindElem(), "no sibling of the root");
        }
        xmlFreeDoc(xdoc);
        return root != nullptr;
    }

    // The element under the main position must be node, then its children.
    // Counting same-named siblings is quadratic in this class and in the
    // check: paths are compared only below the first 200 siblings of a level.
    void Element(xmlNodePtr node, const CLuStringW& strParentPath, bool bCheckPath, int nSame) {
        ++elements;
        const CLuStringW name = QualifiedName(node->name, node->ns);
        Expect(doc.GetTagName() == name, "tag name", doc.GetTagName(), name);
        CLuStringW path = strParentPath + L"/" + name;
        if (nSame) {
            path.AppendFormat(L"[%d]", nSame + 1);
        }
        if (bCheckPath) {
            ++paths;
            const CLuStringW ours = doc.Path();
            Expect(ours == path, "path", ours, path);
        }
        Attributes(node);
        if (!xmlFirstElementChild(node)) {
            Data(node);
            const Cursor before = Cur(doc);
            Expect(!doc.FindChildElem() && Cur(doc) == before, "no child, cursor kept");
            return;
        }
        Expect(doc.GetData() == L"", "data of a parent", doc.GetData());
        Expect(doc.IntoElem(), "IntoElem");
        std::map<CLuStringW, int> seen;  // same-named siblings so far
        int nIndex = 0;
        for (xmlNodePtr child = xmlFirstElementChild(node); child && failures < 10;
             child = xmlNextElementSibling(child)) {
            const CLuStringW childName = QualifiedName(child->name, child->ns);
            if (!doc.FindElem()) {
                Expect(false, "FindElem", L"", childName);
                break;
            }
            Element(child, path, bCheckPath && nIndex++ < 200, seen[childName]++);
        }
        Expect(!doc.FindElem(), "no further sibling", doc.GetTagName());
        Expect(doc.OutOfElem(), "OutOfElem");
    }

    // This class lists namespace declarations among the attributes; libxml2
    // keeps them apart (nsDef): ours are compared declarations first. A
    // reference to an entity of the document type stays a reference node in
    // libxml2 (no substitution asked for): such a value (kEntity) is not compared.
    void Attributes(xmlNodePtr node) {
        static const CLuStringW kEntity(L"\x1");
        std::vector<std::pair<CLuStringW, CLuStringW>> ours, theirs;
        CLuStringW name, value;
        for (size_t n = 0, nDecls = 0; doc.GetNthAttrib(static_cast<int>(n), name, value); ++n) {
            const bool bDecl = name == L"xmlns" || name.Left(6) == L"xmlns:";
            ours.emplace(bDecl ? ours.begin() + nDecls++ : ours.end(), name, value);
        }
        for (xmlNsPtr ns = node->nsDef; ns; ns = ns->next) {
            theirs.emplace_back(ns->prefix ? L"xmlns:" + Wide(ns->prefix) : CLuStringW(L"xmlns"),
                                Wide(ns->href));
        }
        for (xmlAttrPtr attr = node->properties; attr; attr = attr->next, ++attributes) {
            CLuStringW strValue;
            for (xmlNodePtr part = attr->children; part && strValue != kEntity; part = part->next) {
                strValue =
                    part->type == XML_ENTITY_REF_NODE ? kEntity : strValue + Wide(part->content);
            }
            theirs.emplace_back(QualifiedName(attr->name, attr->ns), strValue);
        }
        Expect(ours.size() == theirs.size(), "attribute count");
        for (size_t k = 0; k < std::min(ours.size(), theirs.size()); ++k) {
            const auto &o = ours[k], &t = theirs[k];
            Expect(o.first == t.first, "attribute name", o.first, t.first);
            Expect(t.second == kEntity || Fold(o.second, true) == Fold(t.second, true),
                   "attribute value", o.second, t.second);
        }
    }

    // With markup in the content this class scans its nodes, and a run of
    // white space alone between two of them is a white-space node, which
    // gives nothing; libxml2 keeps it as text.
    void Data(xmlNodePtr node) {
        bool bMarkup = false;
        for (xmlNodePtr child = node->children; child; child = child->next) {
            if (child->type == XML_ENTITY_REF_NODE) {
                return;  // as for attributes: a document type's entity, not compared
            }
            bMarkup = bMarkup || child->type != XML_TEXT_NODE;
        }
        CLuStringW expected;
        for (xmlNodePtr child = node->children; child; child = child->next) {
            if (child->type == XML_CDATA_SECTION_NODE ||
                (child->type == XML_TEXT_NODE && !(bMarkup && xmlIsBlankNode(child)))) {
                expected += Wide(child->content);
            }
        }
        ++data;
        const CLuStringW ours = doc.GetData();
        Expect(Fold(ours) == Fold(expected), "data", ours, expected);
    }

    void Expect(bool bOk, const char* what, const CLuStringW& ours = L"",
                const CLuStringW& theirs = L"") {
        if (!bOk && ++failures <= 10) {
            ADD_FAILURE() << file << ": " << what << " at " << S(doc.Path()) << ": got \""
                          << S(ours).substr(0, 200) << "\", libxml2 \"" << S(theirs).substr(0, 200)
                          << "\"";
        }
    }
};

TEST(XmlNavigateOracle, RealDocumentsReadAsLibxml2ReadsThem) {
    namespace fs = std::filesystem;
    const std::string kMimePackage = "/usr/share/mime/packages/freedesktop.org.xml";
    if (!fs::exists(kMimePackage)) {
        GTEST_SKIP() << kMimePackage << " is missing (package shared-mime-info)";
    }
    std::vector<std::string> files{kMimePackage};
    for (const char* szRoot : {"/usr/share/xml", "/usr/share/mime"}) {
        std::error_code ec;
        for (fs::recursive_directory_iterator it(szRoot, ec), end; !ec && it != end;
             it.increment(ec)) {
            // Links name files already on the list (iso_639.xml and the like).
            if (!it->is_symlink(ec) && it->is_regular_file(ec) &&
                it->path().extension() == ".xml" && it->path() != kMimePackage) {
                files.push_back(it->path().string());
            }
        }
    }
    std::sort(files.begin() + 1, files.end());
    xmlInitParser();
    // A bound on the work keeps the test short on a machine with many more
    // documents: the MIME package first, then files in name order until the
    // byte budget is spent; single files above 8 MB are passed over.
    const uintmax_t kFileLimit = 8u << 20, kBudget = 48u << 20;
    uintmax_t nBytes = 0;
    Oracle oracle;
    for (const std::string& file : files) {
        std::error_code ec;
        const uintmax_t nSize = fs::file_size(file, ec);
        const bool bInBudget = !ec && nSize <= kFileLimit && nBytes + nSize <= kBudget;
        nBytes += bInBudget ? nSize : 0;
        const bool bCompared = bInBudget && oracle.Compare(file);
        ASSERT_TRUE(bCompared || !bInBudget || file != kMimePackage)
            << "libxml2 could not read " << file;
        ++(bCompared ? oracle.files : oracle.skipped);
    }
    std::printf(
        "[ oracle   ] %d files (%ju bytes) compared, %d skipped: %d elements, %d attributes, "
        "%d data, %d paths\n",
        oracle.files, nBytes, oracle.skipped, oracle.elements, oracle.attributes, oracle.data,
        oracle.paths);
    EXPECT_GT(oracle.elements, 1000);
}

#endif  // VIDOZIR_TEST_LIBXML2

}  // namespace
