#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "xml_probe.h"

#if defined(VIDOZIR_TEST_LIBXML2)
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#endif

using xml_test::Utf8;
using xml_test::XmlProbe;

namespace {

// Reaches the cursor's node members, the path and saved-position internals,
// and lets a test set what the public operations cannot (the reserved
// streaming flags, a result text of file records).
class NavProbe : public XmlProbe {
public:
    using CXmlDoc::PathPos;
    using CXmlDoc::SavedPosChild;
    using CXmlDoc::x_CheckSavedPos;
    using CXmlDoc::x_GetPath;
    using XmlProbe::XmlProbe;

    int NodeStart() const { return m_nNodeStart; }
    int NodeLength() const { return m_nNodeLength; }
    void ForceFlags(int nFlags) { m_nDocFlags = nFlags; }
    void SetResultText(const wchar_t* szResult) { m_strResultText = szResult; }
    CLuStringW Path() const { return x_GetPath(m_iMainPos); }
};

// The whole cursor: parent, main, child, node type, node start and length.
struct Cursor {
    int parent, main, child, type, start, length;
    bool operator==(const Cursor& o) const {
        return parent == o.parent && main == o.main && child == o.child && type == o.type &&
               start == o.start && length == o.length;
    }
};
std::ostream& operator<<(std::ostream& os, const Cursor& c) {
    return os << "{parent " << c.parent << ", main " << c.main << ", child " << c.child << ", type "
              << c.type << ", node " << c.start << "+" << c.length << "}";
}
Cursor Cur(const NavProbe& doc) {
    return Cursor{doc.ParentPos(), doc.MainPos(),   doc.ChildPos(),
                  doc.NodeType(),  doc.NodeStart(), doc.NodeLength()};
}
Cursor OnElem(int parent, int main, int child = 0) {
    return Cursor{parent, main, child, main ? 1 : 0, 0, 0};
}

std::string S(const CLuStringW& text) {
    return Utf8(text);
}

// ---------------------------------------------------------------- cursors

TEST(XmlNavigate, FindElemStepsThroughSiblingsAndKeepsTheCursorOnFailure) {
    NavProbe doc(L"<r><a/><b/><a/></r>");
    const int r = doc.At(0), a1 = doc.At(3), b = doc.At(7), a2 = doc.At(11);
    EXPECT_EQ(Cur(doc), OnElem(0, 0));
    EXPECT_FALSE(doc.IntoElem());   // no main position yet
    EXPECT_FALSE(doc.OutOfElem());  // no parent
    EXPECT_EQ(Cur(doc), OnElem(0, 0));

    ASSERT_TRUE(doc.FindElem());
    EXPECT_EQ(Cur(doc), OnElem(0, r));
    EXPECT_FALSE(doc.FindElem());  // the root has no sibling
    EXPECT_EQ(Cur(doc), OnElem(0, r));

    ASSERT_TRUE(doc.IntoElem());
    EXPECT_EQ(Cur(doc), OnElem(r, 0));
    EXPECT_TRUE(doc.FindElem(L"a"));
    EXPECT_EQ(Cur(doc), OnElem(r, a1));
    EXPECT_TRUE(doc.FindElem(L"a"));
    EXPECT_EQ(Cur(doc), OnElem(r, a2));
    EXPECT_FALSE(doc.FindElem(L"a"));
    EXPECT_EQ(Cur(doc), OnElem(r, a2));

    doc.ResetMainPos();
    EXPECT_EQ(Cur(doc), OnElem(r, 0));
    std::vector<int> order;
    while (doc.FindElem(XML_CSTR(L""))) {
        order.push_back(doc.MainPos());
    }
    EXPECT_EQ(order, (std::vector<int>{a1, b, a2}));
    EXPECT_EQ(S(doc.GetTagName()), "a");

    // Out of the level: the former main position becomes the child.
    EXPECT_TRUE(doc.OutOfElem());
    EXPECT_EQ(Cur(doc), OnElem(0, r, a2));
    EXPECT_EQ(S(doc.GetChildTagName()), "a");
    EXPECT_FALSE(doc.OutOfElem());
    EXPECT_EQ(Cur(doc), OnElem(0, r, a2));
    doc.ResetChildPos();
    EXPECT_EQ(Cur(doc), OnElem(0, r));
    EXPECT_EQ(S(doc.GetChildTagName()), "");
    doc.ResetPos();
    EXPECT_EQ(Cur(doc), OnElem(0, 0));
    EXPECT_EQ(S(doc.GetTagName()), "");
}

TEST(XmlNavigate, FindChildElemMovesTheChildUnderTheMainElement) {
    NavProbe doc(L"<r><a/><b/><a/></r>");
    const int r = doc.At(0), a1 = doc.At(3), b = doc.At(7), a2 = doc.At(11);
    // With no main position the root is found first.
    ASSERT_TRUE(doc.FindChildElem());
    EXPECT_EQ(Cur(doc), OnElem(0, r, a1));
    EXPECT_TRUE(doc.FindChildElem(L"a"));
    EXPECT_EQ(Cur(doc), OnElem(0, r, a2));
    EXPECT_FALSE(doc.FindChildElem(L"b"));
    EXPECT_FALSE(doc.FindChildElem());
    EXPECT_EQ(Cur(doc), OnElem(0, r, a2));
    doc.ResetChildPos();
    EXPECT_TRUE(doc.FindChildElem(L"b"));
    EXPECT_EQ(Cur(doc), OnElem(0, r, b));
    EXPECT_EQ(S(doc.GetChildTagName()), "b");

    // Into the child: it becomes the main position.
    ASSERT_TRUE(doc.IntoElem());
    EXPECT_EQ(Cur(doc), OnElem(r, b));
    EXPECT_FALSE(doc.FindChildElem());  // b has no children
    EXPECT_EQ(Cur(doc), OnElem(r, b));
    // Into a leaf: an empty level, and back out onto it.
    ASSERT_TRUE(doc.IntoElem());
    EXPECT_EQ(Cur(doc), OnElem(b, 0));
    EXPECT_FALSE(doc.FindElem());
    EXPECT_EQ(Cur(doc), OnElem(b, 0));
    ASSERT_TRUE(doc.OutOfElem());
    EXPECT_EQ(Cur(doc), OnElem(r, b));
    ASSERT_TRUE(doc.OutOfElem());
    EXPECT_EQ(Cur(doc), OnElem(0, r, b));

    CXmlDoc empty;
    EXPECT_FALSE(empty.FindChildElem());
    EXPECT_FALSE(empty.FindElem());
}

TEST(XmlNavigate, NamesFollowTheIgnoreCaseFlag) {
    NavProbe exact(L"<Root><Item ID='7'/></Root>");
    EXPECT_FALSE(exact.FindElem(L"root"));
    ASSERT_TRUE(exact.FindElem(L"Root"));
    EXPECT_FALSE(exact.FindChildElem(L"ITEM"));
    ASSERT_TRUE(exact.FindChildElem(L"Item"));
    EXPECT_EQ(S(exact.GetChildAttrib(L"id")), "");
    EXPECT_EQ(S(exact.GetChildAttrib(L"ID")), "7");

    NavProbe folded(CXmlDoc::DocFlagIgnoreCase);
    folded.SetDoc(L"<Root><Item ID='7'/></Root>");
    ASSERT_TRUE(folded.FindElem(L"rOOT"));
    ASSERT_TRUE(folded.FindChildElem(L"ITEM"));
    EXPECT_EQ(S(folded.GetChildAttrib(L"id")), "7");
    // Equal units at or above 128 end the forgiving for the rest of the name.
    folded.SetDoc(L"<\u00E9a/>");
    EXPECT_FALSE(folded.FindElem(L"\u00E9A"));
    folded.SetDoc(L"<a\u00E9/>");
    EXPECT_TRUE(folded.FindElem(L"A\u00E9"));
}

TEST(XmlNavigate, StreamingFlagsRefuseWholeDocumentOperations) {
    NavProbe doc(L"<r><a>x</a></r>");
    ASSERT_TRUE(doc.FindElem());
    ASSERT_TRUE(doc.SavePos(L"p"));
    doc.ForceFlags(CXmlDoc::DocFlagReadFile);
    EXPECT_FALSE(doc.FindChildElem());
    EXPECT_FALSE(doc.SavePos(L"q"));
    EXPECT_FALSE(doc.RestorePos(L"p"));
    EXPECT_EQ(S(doc.GetElemContent()), "");
    EXPECT_EQ(S(doc.GetSubDoc()), "");
    EXPECT_EQ(S(doc.GetTagName()), "r");
    ASSERT_TRUE(doc.IntoElem());
    EXPECT_TRUE(doc.FindElem(L"a"));  // only flag 32 stops FindElem

    doc.ForceFlags(CXmlDoc::DocFlagWriteFile);
    doc.ResetMainPos();
    EXPECT_FALSE(doc.FindElem());
    EXPECT_FALSE(doc.RestorePos(L"p"));
    doc.ForceFlags(0);
    EXPECT_TRUE(doc.RestorePos(L"p"));
    EXPECT_EQ(S(doc.GetTagName()), "r");
}

// ---------------------------------------------------------------- paths

TEST(XmlNavigate, PathTypes) {
    struct Case {
        const wchar_t* path;
        int type;
    } cases[] = {
        {nullptr, 0},       {L"", 0},
        {L"a", 1},          {L"a/b", 1},
        {L"a/b/c", 1},      {L"a[2]", 1},
        {L"a[12]/b", 1},    {L"a[@id]", 1},
        {L"a[@id='x']", 1}, {L"a[@id=\"x y\"]", 1},
        {L"a[@id=x]", 1},   {L"a[b]", 1},
        {L"a/@id", 1},      {L"a/b[2]/@id", 1},
        {L"/r", 2},         {L"/r/a[2]", 2},
        {L"//r", 3},        {L"a[", -1},
        {L"a[2", -1},       {L"a/", -1},
        {L"/r/", -1},       {L"a]", -1},
        {L"a b", -1},       {L"a[2]x", -1},
        {L"//r/a", -1},  // nothing may follow the single step of "//"
    };
    for (const Case& c : cases) {
        NavProbe::PathPos path(c.path);
        EXPECT_EQ(path.nPathType, c.type) << (c.path ? Utf8(c.path) : "(null)");
        EXPECT_FALSE(path.bReader);
    }
    NavProbe::PathPos relative(L"item[2]/x");
    EXPECT_TRUE(relative.IsRelative());
    EXPECT_EQ(Utf8(relative.FirstStep()), "item[2]/x");
}

TEST(XmlNavigate, OnlyTheFirstStepOfARelativePathTakesPartInTheSearch) {
    NavProbe doc(L"<r><item/><items/><it/><item x='1'/></r>");
    const int r = doc.At(0);
    EXPECT_TRUE(doc.FindElem(L"r/a"));
    EXPECT_EQ(doc.MainPos(), r);
    struct Case {
        const wchar_t* path;
        bool found;
    } top[] = {{L"/r", false},  {L"//r", false},  {L"r/", false},   {L"r[", false},
               {L"r[2]", true}, {L"r[@x]", true}, {L"r/@id", true}, {L"ro", false}};
    for (const Case& c : top) {
        doc.ResetPos();
        EXPECT_EQ(doc.FindElem(c.path), c.found) << Utf8(c.path);
        EXPECT_EQ(doc.MainPos(), c.found ? r : 0) << Utf8(c.path);
    }
    // Tag names that merely share a prefix with the step do not match.
    doc.ResetPos();
    ASSERT_TRUE(doc.FindElem());
    ASSERT_TRUE(doc.IntoElem());
    std::vector<int> found;
    while (doc.FindElem(L"item[@x='1']")) {
        found.push_back(doc.Elem(doc.MainPos()).nStart);
    }
    EXPECT_EQ(found, (std::vector<int>{3, 23}));
    doc.ResetMainPos();
    EXPECT_TRUE(doc.FindElem(L"it"));
    EXPECT_EQ(doc.Elem(doc.MainPos()).nStart, 18);
    doc.ResetMainPos();
    EXPECT_FALSE(doc.FindElem(L"i"));
    EXPECT_FALSE(doc.FindElem(L"a["));
    EXPECT_EQ(doc.MainPos(), 0);
    doc.ResetPos();
    EXPECT_TRUE(doc.FindChildElem(L"items/x"));
    EXPECT_EQ(doc.Elem(doc.ChildPos()).nStart, 10);
    EXPECT_FALSE(doc.FindChildElem(L"/r/it"));
    EXPECT_EQ(doc.Elem(doc.ChildPos()).nStart, 10);
}

TEST(XmlNavigate, AbsolutePathsCountSameNamedSiblings) {
    NavProbe doc(L"<list><item/><other/><item/><item><x/><x/></item><a]/><a]/></list>");
    const int list = doc.At(0);
    EXPECT_EQ(S(doc.x_GetPath(list)), "/list");
    EXPECT_EQ(S(doc.x_GetPath(doc.At(6))), "/list/item");
    EXPECT_EQ(S(doc.x_GetPath(doc.At(13))), "/list/other");
    EXPECT_EQ(S(doc.x_GetPath(doc.At(21))), "/list/item[2]");
    EXPECT_EQ(S(doc.x_GetPath(doc.At(28))), "/list/item[3]");
    EXPECT_EQ(S(doc.x_GetPath(doc.At(34))), "/list/item[3]/x");
    EXPECT_EQ(S(doc.x_GetPath(doc.At(38))), "/list/item[3]/x[2]");
    // "a]" is no valid path step: no count is written for it.
    EXPECT_EQ(S(doc.x_GetPath(doc.At(49))), "/list/a]");
    EXPECT_EQ(S(doc.x_GetPath(doc.At(54))), "/list/a]");
    EXPECT_EQ(S(doc.x_GetPath(0)), "");

    // The count uses the name comparison of the document.
    NavProbe exact(L"<list><Item/><item/></list>");
    EXPECT_EQ(S(exact.x_GetPath(exact.At(13))), "/list/item");
    NavProbe folded(CXmlDoc::DocFlagIgnoreCase);
    folded.SetDoc(L"<list><Item/><item/></list>");
    EXPECT_EQ(S(folded.x_GetPath(folded.At(13))), "/list/item[2]");
    // Top-level siblings are counted too.
    NavProbe two(L"<a/><a/>");
    EXPECT_EQ(S(two.x_GetPath(two.At(4))), "/a[2]");
}

// ---------------------------------------------------------------- nodes

TEST(XmlNavigate, FindNodeVisitsEveryKindOfNode) {
    const wchar_t* szText =
        L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE r>\n"
        L"<r>t &amp; t<![CDATA[c<]]><!--m--><?p x=\"1\"?> <e a='2'/>u</q>< x></r>\n";
    NavProbe doc(szText);
    const CLuStringW& text = doc.GetDoc();
    const int r = doc.At(text.Find(L"<r>"));
    const int e = doc.At(text.Find(L"<e "));
    ASSERT_NE(r, 0);
    ASSERT_NE(e, 0);
    // The cursor on a node that starts where szAt is found, nLength units long
    // (all of szAt by default).
    auto node = [&](int main, int type, const wchar_t* szAt, int nLength = -1) {
        return Cursor{doc.ParentPos(),
                      main,
                      0,
                      type,
                      text.Find(szAt),
                      nLength < 0 ? static_cast<int>(std::wcslen(szAt)) : nLength};
    };

    // Document level.
    EXPECT_EQ(doc.FindNode(), 16);
    EXPECT_EQ(Cur(doc), node(0, 16, L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
    EXPECT_EQ(S(doc.GetTagName()), "xml");
    EXPECT_EQ(S(doc.GetAttrib(L"encoding")), "UTF-8");
    EXPECT_EQ(S(doc.GetAttrib(L"standalone")), "");
    EXPECT_EQ(S(doc.GetAttribName(0)), "version");
    EXPECT_EQ(S(doc.GetAttribName(1)), "encoding");
    EXPECT_EQ(S(doc.GetAttribName(2)), "");
    EXPECT_EQ(S(doc.GetData()), "xml version=\"1.0\" encoding=\"UTF-8\"");
    EXPECT_EQ(doc.FindNode(), 4);
    EXPECT_EQ(doc.NodeStart(), text.Find(L"\n"));
    EXPECT_EQ(doc.NodeLength(), 1);
    EXPECT_EQ(S(doc.GetTagName()), "#text");
    EXPECT_EQ(doc.FindNode(), 64);
    EXPECT_EQ(Cur(doc), node(0, 64, L"<!DOCTYPE r>"));
    EXPECT_EQ(S(doc.GetTagName()), "r");
    EXPECT_EQ(S(doc.GetData()), "<!DOCTYPE r>");
    EXPECT_EQ(doc.FindNode(), 4);
    EXPECT_EQ(doc.FindNode(), 1);
    EXPECT_EQ(Cur(doc), OnElem(0, r));
    EXPECT_EQ(doc.FindNode(), 4);  // the line break behind the root
    EXPECT_EQ(Cur(doc), (Cursor{0, r, 0, 4, text.GetLength() - 1, 1}));
    EXPECT_EQ(doc.FindNode(), 0);
    EXPECT_EQ(Cur(doc), (Cursor{0, r, 0, 4, text.GetLength() - 1, 1}));
    EXPECT_FALSE(doc.IntoElem());  // only from an element

    // Inside the root, every node in order.
    doc.ResetPos();
    ASSERT_TRUE(doc.FindElem(L"r"));
    ASSERT_TRUE(doc.IntoElem());
    EXPECT_EQ(doc.FindNode(0), 2);
    EXPECT_EQ(Cur(doc), node(0, 2, L"t &amp; t"));
    EXPECT_EQ(S(doc.GetTagName()), "#text");
    EXPECT_EQ(S(doc.GetData()), "t & t");
    EXPECT_EQ(doc.FindNode(), 8);
    EXPECT_EQ(Cur(doc), node(0, 8, L"<![CDATA[c<]]>"));
    EXPECT_EQ(S(doc.GetTagName()), "#cdata-section");
    EXPECT_EQ(S(doc.GetData()), "c<");
    EXPECT_EQ(doc.FindNode(), 32);
    EXPECT_EQ(Cur(doc), node(0, 32, L"<!--m-->"));
    EXPECT_EQ(S(doc.GetTagName()), "#comment");
    EXPECT_EQ(S(doc.GetData()), "m");
    EXPECT_EQ(doc.FindNode(), 16);
    EXPECT_EQ(Cur(doc), node(0, 16, L"<?p x=\"1\"?>"));
    EXPECT_EQ(S(doc.GetTagName()), "p");
    EXPECT_EQ(S(doc.GetAttrib(L"x")), "1");
    EXPECT_EQ(S(doc.GetData()), "p x=\"1\"");
    EXPECT_EQ(doc.FindNode(), 4);
    EXPECT_EQ(Cur(doc), node(0, 4, L" <e", 1));
    EXPECT_EQ(doc.FindNode(), 1);
    EXPECT_EQ(Cur(doc), OnElem(r, e));
    EXPECT_EQ(S(doc.GetAttrib(L"a")), "2");
    EXPECT_EQ(doc.FindNode(), 2);
    EXPECT_EQ(Cur(doc), node(e, 2, L"u</q>", 1));
    EXPECT_EQ(S(doc.GetTagName()), "#text");
    EXPECT_EQ(S(doc.GetData()), "u");
    EXPECT_EQ(doc.FindNode(), 128);
    EXPECT_EQ(Cur(doc), node(e, 128, L"</q>"));
    EXPECT_EQ(S(doc.GetTagName()), "q");
    EXPECT_EQ(S(doc.GetData()), "q");
    EXPECT_EQ(doc.FindNode(), 32768);
    EXPECT_EQ(Cur(doc), node(e, 32768, L"< x>"));
    EXPECT_EQ(S(doc.GetTagName()), "");
    EXPECT_EQ(S(doc.GetData()), "< x>");
    const Cursor last = Cur(doc);
    EXPECT_EQ(doc.FindNode(), 0);  // the parent's end tag ends the level
    EXPECT_EQ(Cur(doc), last);
    EXPECT_FALSE(doc.FindElem());  // e has no next sibling
    EXPECT_EQ(Cur(doc), last);
    EXPECT_EQ(S(doc.GetChildTagName()), "");
    EXPECT_FALSE(doc.IntoElem());
    // Out of the level from a node: the parent becomes the main position.
    EXPECT_TRUE(doc.OutOfElem());
    EXPECT_EQ(Cur(doc), OnElem(0, r, e));
}

TEST(XmlNavigate, FindNodeMaskSkipsOtherNodesAndWholeElements) {
    NavProbe doc(L"<r>t<![CDATA[c]]><!--m--><e><i>in</i><!--n--></e>u</q>< x></r>");
    const CLuStringW& text = doc.GetDoc();
    const int r = doc.At(0), e = doc.At(text.Find(L"<e>"));
    ASSERT_TRUE(doc.FindElem());
    ASSERT_TRUE(doc.IntoElem());
    EXPECT_EQ(doc.FindNode(32), 32);
    EXPECT_EQ(doc.NodeStart(), text.Find(L"<!--m"));
    EXPECT_EQ(doc.MainPos(), 0);
    EXPECT_EQ(doc.FindNode(32), 0);  // "<!--n-->" lies inside e
    EXPECT_EQ(doc.NodeStart(), text.Find(L"<!--m"));

    doc.ResetMainPos();
    std::vector<int> types, mains;
    for (int nType; (nType = doc.FindNode(2 | 128)) != 0;) {
        types.push_back(nType);
        mains.push_back(doc.MainPos());
    }
    EXPECT_EQ(types, (std::vector<int>{2, 2, 128}));
    EXPECT_EQ(mains, (std::vector<int>{0, e, e}));

    doc.ResetMainPos();
    EXPECT_EQ(doc.FindNode(1), 1);
    EXPECT_EQ(Cur(doc), OnElem(r, e));
    EXPECT_EQ(doc.FindNode(1), 0);
    EXPECT_EQ(Cur(doc), OnElem(r, e));
    EXPECT_EQ(doc.FindNode(8 | 32768), 32768);
    EXPECT_EQ(doc.NodeStart(), text.Find(L"< x>"));

    // From an element the scan starts behind it.
    doc.ResetMainPos();
    ASSERT_TRUE(doc.FindElem(L"e"));
    EXPECT_EQ(doc.FindNode(), 2);
    EXPECT_EQ(doc.NodeStart(), text.Find(L"u</q>"));
    // A node before the first element leaves FindElem at the first child.
    doc.ResetMainPos();
    EXPECT_EQ(doc.FindNode(8), 8);
    EXPECT_TRUE(doc.FindElem());
    EXPECT_EQ(Cur(doc), OnElem(r, e));
    // In e, from a node between its children FindElem goes on behind the
    // element before the node.
    ASSERT_TRUE(doc.IntoElem());
    EXPECT_EQ(doc.FindNode(32), 32);
    EXPECT_EQ(doc.MainPos(), doc.At(text.Find(L"<i>")));
    EXPECT_FALSE(doc.FindElem());
    EXPECT_EQ(doc.NodeType(), 32);
    // Into an empty level there is nothing to find.
    doc.ResetMainPos();
    ASSERT_TRUE(doc.FindElem(L"i"));
    ASSERT_TRUE(doc.IntoElem());
    EXPECT_EQ(doc.FindNode(), 2);
    EXPECT_EQ(doc.FindNode(), 0);
    NavProbe leaf(L"<r><e/></r>");
    ASSERT_TRUE(leaf.FindChildElem());
    ASSERT_TRUE(leaf.IntoElem());
    ASSERT_TRUE(leaf.IntoElem());
    EXPECT_EQ(leaf.FindNode(), 0);
    EXPECT_EQ(Cur(leaf), OnElem(leaf.At(3), 0));
}

TEST(XmlNavigate, FindNodeFollowsTheIndexPastAnUnendedElement) {
    // a has no end tag, so b was moved up to follow it as a sibling.
    NavProbe doc(L"<r><a><b/>x</r>");
    const int r = doc.At(0), a = doc.At(3), b = doc.At(6);
    ASSERT_TRUE(doc.FindElem());
    ASSERT_TRUE(doc.IntoElem());
    EXPECT_EQ(doc.FindNode(), 1);
    EXPECT_EQ(Cur(doc), OnElem(r, a));
    EXPECT_EQ(doc.FindNode(), 1);
    EXPECT_EQ(Cur(doc), OnElem(r, b));
    EXPECT_EQ(doc.FindNode(), 2);
    EXPECT_EQ(doc.MainPos(), b);
    EXPECT_EQ(doc.FindNode(), 0);
}

TEST(XmlNavigate, TagNamesOfUnusualNodes) {
    NavProbe doc(L"<!DOCTYPE\n  html PUBLIC \"-//x\"><html\n\tlang='en'><? p ?></ q ></></html>");
    EXPECT_EQ(doc.FindNode(64), 64);
    EXPECT_EQ(S(doc.GetTagName()), "html");
    ASSERT_TRUE(doc.FindElem());
    EXPECT_EQ(S(doc.GetTagName()), "html");
    ASSERT_TRUE(doc.IntoElem());
    EXPECT_EQ(doc.FindNode(), 16);
    EXPECT_EQ(S(doc.GetTagName()), "p");  // white space after "<?" is skipped
    EXPECT_EQ(S(doc.GetData()), " p ");
    EXPECT_EQ(doc.FindNode(), 128);
    EXPECT_EQ(S(doc.GetTagName()), "q");
    EXPECT_EQ(doc.FindNode(), 128);
    EXPECT_EQ(S(doc.GetTagName()), ">");  // a stop character is a name by itself
    EXPECT_EQ(S(doc.GetData()), "");
    EXPECT_EQ(doc.FindNode(), 0);

    // At document level only the end of the text ends the scan.
    NavProbe top(L"</x ><a/>");
    EXPECT_EQ(top.FindNode(), 128);
    EXPECT_EQ(S(top.GetTagName()), "x");
    EXPECT_EQ(S(top.GetData()), "x ");
    EXPECT_EQ(top.FindNode(), 1);
    EXPECT_EQ(top.FindNode(), 0);

    NavProbe named(L"<a:b.c-d\r\n/>");
    ASSERT_TRUE(named.FindElem());
    EXPECT_EQ(S(named.GetTagName()), "a:b.c-d");
}

TEST(XmlNavigate, WhiteSpaceNodeDataIsItsWholeText) {
    NavProbe doc(CXmlDoc::DocFlagTrimWhitespace);
    doc.SetDoc(L"<r>\r\n <a/> x </r>");
    ASSERT_TRUE(doc.FindElem());
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_EQ(doc.FindNode(), 4);
    EXPECT_EQ(S(doc.GetData()), "\r\n ");
    EXPECT_EQ(doc.FindNode(), 1);
    EXPECT_EQ(doc.FindNode(), 2);
    EXPECT_EQ(S(doc.GetData()), "x");  // text is unescaped, so trimmed
}

// ---------------------------------------------------------------- attributes

TEST(XmlNavigate, AttributesByNameAndByNumber) {
    NavProbe doc(
        L"<r flag a='1' b=\"x &amp; y\" c=un&lt;q d = \"sp\" e='&#65;&eacute;' f='it\"s'\n"
        L"\tg=\"&lt;/a>\" last/>");
    EXPECT_EQ(S(doc.GetAttrib(L"a")), "");  // no main position yet
    EXPECT_EQ(S(doc.GetAttribName(0)), "");
    ASSERT_TRUE(doc.FindElem());
    EXPECT_EQ(S(doc.GetAttrib(L"flag")), "flag");
    EXPECT_EQ(S(doc.GetAttrib(L"a")), "1");
    EXPECT_EQ(S(doc.GetAttrib(L"b")), "x & y");
    EXPECT_EQ(S(doc.GetAttrib(L"c")), "un<q");
    EXPECT_EQ(S(doc.GetAttrib(L"d")), "sp");
    // Named references fold to their capitalised form.
    EXPECT_TRUE(doc.GetAttrib(L"e") == L"A\u00C9");
    EXPECT_EQ(S(doc.GetAttrib(L"f")), "it\"s");
    EXPECT_EQ(S(doc.GetAttrib(L"g")), "</a>");
    EXPECT_EQ(S(doc.GetAttrib(L"last")), "last");
    EXPECT_EQ(S(doc.GetAttrib(L"fla")), "");
    EXPECT_EQ(S(doc.GetAttrib(L"flags")), "");
    EXPECT_EQ(S(doc.GetAttrib(L"r")), "");  // the tag name is no attribute
    EXPECT_EQ(S(doc.GetAttrib(L"z")), "");
    EXPECT_EQ(S(doc.GetAttrib(XML_CSTR(nullptr))), "");

    const char* names[] = {"flag", "a", "b", "c", "d", "e", "f", "g", "last"};
    for (int n = 0; n < 9; ++n) {
        EXPECT_EQ(S(doc.GetAttribName(n)), names[n]) << n;
    }
    EXPECT_EQ(S(doc.GetAttribName(9)), "");
    CLuStringW name, value;
    ASSERT_TRUE(doc.GetNthAttrib(0, name, value));
    EXPECT_EQ(S(name), "flag");
    EXPECT_EQ(S(value), "flag");
    ASSERT_TRUE(doc.GetNthAttrib(3, name, value));
    EXPECT_EQ(S(name), "c");
    EXPECT_EQ(S(value), "un<q");
    ASSERT_TRUE(doc.GetNthAttrib(8, name, value));
    EXPECT_EQ(S(name), "last");
    EXPECT_FALSE(doc.GetNthAttrib(9, name, value));
}

TEST(XmlNavigate, AttributeValuesAreNeverTakenForNames) {
    NavProbe doc(L"<r><x a=b b=2 /><y p='q' q='z'/><z v=\"w=1\" w='2'/></r>");
    ASSERT_TRUE(doc.FindChildElem(L"x"));
    EXPECT_EQ(S(doc.GetChildAttrib(L"b")), "2");
    EXPECT_EQ(S(doc.GetChildAttrib(L"a")), "b");
    ASSERT_TRUE(doc.FindChildElem(L"y"));
    EXPECT_EQ(S(doc.GetChildAttrib(L"q")), "z");
    ASSERT_TRUE(doc.FindChildElem(L"z"));
    EXPECT_EQ(S(doc.GetChildAttrib(L"w")), "2");
    ASSERT_TRUE(doc.IntoElem());
    EXPECT_EQ(S(doc.GetAttribName(1)), "w");
    EXPECT_EQ(S(doc.GetAttrib(L"v")), "w=1");
}

TEST(XmlNavigate, AttributeNamesAndValuesFollowTheDocumentFlags) {
    NavProbe doc(CXmlDoc::DocFlagIgnoreCase | CXmlDoc::DocFlagCollapseWhitespace);
    doc.SetDoc(L"<r Id=' a \t b '/>");
    ASSERT_TRUE(doc.FindElem());
    EXPECT_EQ(S(doc.GetAttrib(L"ID")), "a b");
    doc.SetDocFlags(0);
    EXPECT_EQ(S(doc.GetAttrib(L"ID")), "");
    EXPECT_EQ(S(doc.GetAttrib(L"Id")), " a \t b ");
}

// ---------------------------------------------------------------- data

TEST(XmlNavigate, DataOfElements) {
    struct Case {
        const wchar_t* text;
        const char* data;
    } cases[] = {
        {L"<r>x &amp; y<!--c--> z</r>", "x & y z"},
        {L"<r>a<![CDATA[<&amp;>]]>b<?p d?>c</r>", "a<&amp;>bc"},
        // White space alone between other nodes is a white-space node: nothing.
        {L"<r> <!--c-->x<![CDATA[ ]]> </r>", "x "},
        {L"<r> x </r>", " x "},
        {L"<r>a > b</r>", "a > b"},
        {L"<r>a > b<!--c--></r>", "a > b"},
        {L"<r>t<c/>u</r>", ""},
        {L"<r>\n  <c>x</c>\n</r>", ""},
        {L"<r/>", ""},
        {L"<r></r>", ""},
        {L"<r><!--only--></r>", ""},
        {L"<r><![CDATA[x]]]]><![CDATA[>y]]></r>", "x]]>y"},
        {L"<r>&#x263a; &#128512;</r>", "\u263A \U0001F600"},
    };
    for (const Case& c : cases) {
        NavProbe doc(c.text);
        ASSERT_TRUE(doc.FindElem()) << Utf8(c.text);
        const CLuStringW data = doc.GetData();
        CLuStringW expected;
        // Expectations are UTF-8: turn them into UTF-16 units for comparing.
        for (const unsigned char* p = reinterpret_cast<const unsigned char*>(c.data); *p;) {
            uint32_t code = *p++;
            if (code >= 0xC0) {
                const int extra = code >= 0xF0 ? 3 : code >= 0xE0 ? 2 : 1;
                code &= 0x3F >> extra;
                for (int k = 0; k < extra; ++k) {
                    code = (code << 6) | (*p++ & 0x3F);
                }
            }
            if (code >= 0x10000) {
                expected += static_cast<wchar_t>(0xD800 | ((code - 0x10000) >> 10));
                expected += static_cast<wchar_t>(0xDC00 | (code & 0x3FF));
            } else {
                expected += static_cast<wchar_t>(code);
            }
        }
        EXPECT_TRUE(data == expected) << Utf8(c.text) << " gave " << S(data);
    }
}

TEST(XmlNavigate, DataOfChildAndMissingElements) {
    NavProbe doc(L"<r><a>1</a><b><c>2</c></b><d>x<e/>y</d></r>");
    EXPECT_EQ(S(doc.GetData()), "");
    EXPECT_EQ(S(doc.GetChildData()), "");
    ASSERT_TRUE(doc.FindChildElem(L"a"));
    EXPECT_EQ(S(doc.GetChildData()), "1");
    EXPECT_EQ(S(doc.GetData()), "");  // r has children
    ASSERT_TRUE(doc.FindChildElem(L"b"));
    EXPECT_EQ(S(doc.GetChildData()), "");
    ASSERT_TRUE(doc.FindChildElem(L"d"));
    EXPECT_EQ(S(doc.GetChildData()), "");  // text around a child counts for nothing
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.FindChildElem());
    EXPECT_EQ(S(doc.GetChildTagName()), "e");
    EXPECT_EQ(S(doc.GetChildData()), "");
    // An element whose end tag is missing ends at its start tag: no data.
    NavProbe unended(L"<r><a>x</r>");
    ASSERT_TRUE(unended.FindChildElem(L"a"));
    EXPECT_EQ(S(unended.GetChildData()), "");
}

TEST(XmlNavigate, DataFollowsTrimAndCollapseFlags) {
    NavProbe trim(CXmlDoc::DocFlagTrimWhitespace);
    trim.SetDoc(L"<r>  a \t b  </r>");
    ASSERT_TRUE(trim.FindElem());
    EXPECT_EQ(S(trim.GetData()), "a \t b");
    // Each text node is unescaped, so trimmed, on its own.
    trim.SetDoc(L"<r> a <!--c--> b </r>");
    ASSERT_TRUE(trim.FindElem());
    EXPECT_EQ(S(trim.GetData()), "ab");
    trim.SetDoc(L"<r> a <![CDATA[ c ]]> b </r>");
    ASSERT_TRUE(trim.FindElem());
    EXPECT_EQ(S(trim.GetData()), "a c b");

    NavProbe collapse(CXmlDoc::DocFlagCollapseWhitespace);
    collapse.SetDoc(L"<r>\r\n  a \t b  &#32;</r>");
    ASSERT_TRUE(collapse.FindElem());
    EXPECT_EQ(S(collapse.GetData()), "a b  ");  // the decoded space is no white space

    NavProbe plain(L"<r>  a \t b  </r>");
    ASSERT_TRUE(plain.FindElem());
    EXPECT_EQ(S(plain.GetData()), "  a \t b  ");
}

TEST(XmlNavigate, ElementContentIsRawText) {
    NavProbe doc(L"<r>\n <a>x &amp; y</a>\n <b/> t\n</r>");
    EXPECT_EQ(S(doc.GetElemContent()), "");
    ASSERT_TRUE(doc.FindElem());
    EXPECT_EQ(S(doc.GetElemContent()), "\n <a>x &amp; y</a>\n <b/> t\n");
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.FindElem());
    EXPECT_EQ(S(doc.GetElemContent()), "x &amp; y");
    ASSERT_TRUE(doc.FindElem());
    EXPECT_EQ(S(doc.GetElemContent()), "");
}

TEST(XmlNavigate, SubDocumentTakesTrailingWhiteSpaceOnlyUpToATag) {
    NavProbe doc(L"<r>\n <a>x</a>\n <b/> t\n <c/>\t</r>\r\n");
    EXPECT_EQ(S(doc.GetSubDoc()), "");
    EXPECT_EQ(S(doc.GetChildSubDoc()), "");
    ASSERT_TRUE(doc.FindChildElem(L"a"));
    EXPECT_EQ(S(doc.GetChildSubDoc()), "<a>x</a>\n ");
    ASSERT_TRUE(doc.FindChildElem(L"b"));
    EXPECT_EQ(S(doc.GetChildSubDoc()), "<b/>");  // " t" is not white space up to a tag
    ASSERT_TRUE(doc.FindChildElem(L"c"));
    EXPECT_EQ(S(doc.GetChildSubDoc()), "<c/>\t");    // up to the end tag of r
    EXPECT_EQ(S(doc.GetSubDoc()), S(doc.GetDoc()));  // up to the end of the text
    NavProbe tight(L"<r><a/></r> x");
    ASSERT_TRUE(tight.FindChildElem());
    EXPECT_EQ(S(tight.GetChildSubDoc()), "<a/>");
    EXPECT_EQ(S(tight.GetSubDoc()), "<r><a/></r>");
}

// ---------------------------------------------------------------- errors

TEST(XmlNavigate, ErrorMessagesOfParseRecords) {
    struct Case {
        const wchar_t* text;
        const char* message;
    } cases[] = {
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
    };
    for (const Case& c : cases) {
        CXmlDoc doc(c.text);
        EXPECT_EQ(S(doc.GetError()), c.message) << Utf8(c.text);
    }
    // Only the first record of the parse is told.
    CXmlDoc several(L"<r><a></b></r><c/>");
    EXPECT_EQ(S(several.GetResult()),
              "<lone_end_tag tagname=\"b\" offset=\"6\"/>"
              "<unended_start_tag tagname=\"a\" offset=\"3\" offset2=\"11\"/><root_has_sibling/>");
    EXPECT_EQ(S(several.GetError()), "lone end tag 'b' at offset 6");
}

TEST(XmlNavigate, ErrorMessagesOfFileRecords) {
    struct Case {
        const wchar_t* result;
        const char* message;
    } cases[] = {
        {L"<doctype_tag_syntax offset=\"9\"/>",
         "tag syntax error at offset 9 expecting markup declaration"},
        {L"<file_error msg=\"Access &amp; denied\" n=\"5\"/>", "Access & denied"},
        {L"<bom/>", "BOM +"},
        {L"<read encoding=\"UTF-16LE\" length=\"120\"/>", "UTF-16LE length 120"},
        {L"<read encoding=\"\" length=\"7\"/>", "length 7"},
        {L"<write encoding=\"UTF-8\" length=\"5\"/>", "UTF-8 length 5"},
        {L"<write length=\"5\"/>", "length 5"},
        {L"<converted_to encoding=\"windows-1252\" length=\"4\"/>", "to windows-1252 length 4"},
        {L"<converted_to length=\"4\"/>", "to length 4"},
        {L"<converted_from encoding=\"UTF-16BE\" length=\"6\"/>", "UTF-16BE length 6 to"},
        {L"<converted_from length=\"6\"/>", "length 6 to"},
        {L"<nulls_removed count=\"3\"/>", "removed 3 nulls"},
        {L"<conversion_loss/>", "(chars lost in conversion!)"},
        {L"<utf8_detection/>", "(used UTF-8 detection)"},
        {L"<endian_swap/>", "endian swap"},
        {L"<mystery a=\"1\"/><bom/>", "BOM +"},
        // Reading a file, then the parse: every file record, one parse record.
        {L"<bom/><read encoding=\"UTF-8\" length=\"10\"/><nulls_removed count=\"2\"/>"
         L"<utf8_detection/><lone_end_tag tagname=\"x\" offset=\"1\"/>"
         L"<unended_start_tag tagname=\"y\" offset=\"2\" offset2=\"9\"/><no_root_element/>",
         "BOM + UTF-8 length 10 removed 2 nulls (used UTF-8 detection) lone end tag 'x' at "
         "offset 1"},
        {L"<root_has_sibling/><write encoding=\"UTF-8\" length=\"5\"/><conversion_loss/>",
         "root element has sibling UTF-8 length 5 (chars lost in conversion!)"},
    };
    for (const Case& c : cases) {
        NavProbe doc;
        doc.SetResultText(c.result);
        EXPECT_EQ(S(doc.GetError()), c.message) << Utf8(c.result);
    }
}

// ---------------------------------------------------------------- saved positions

TEST(XmlNavigate, SavedPositionsRestoreTheCursorTriple) {
    NavProbe doc(L"<r><a><b/></a><c/><!--n--></r>");
    const int r = doc.At(0), a = doc.At(3), b = doc.At(6), c = doc.At(14);
    EXPECT_TRUE(doc.SavePos());  // document level, the empty name
    ASSERT_TRUE(doc.FindChildElem(L"a"));
    EXPECT_TRUE(doc.SavePos(L"child"));
    ASSERT_TRUE(doc.IntoElem());
    EXPECT_TRUE(doc.SavePos(L"main"));
    ASSERT_TRUE(doc.IntoElem());
    EXPECT_TRUE(doc.SavePos(L"parent", 1));
    ASSERT_TRUE(doc.FindElem());
    EXPECT_EQ(doc.MainPos(), b);
    EXPECT_FALSE(doc.SavePos(XML_CSTR(nullptr)));

    EXPECT_TRUE(doc.RestorePos(L"child"));
    EXPECT_EQ(Cur(doc), OnElem(0, r, a));
    EXPECT_TRUE(doc.RestorePos(L"main"));
    EXPECT_EQ(Cur(doc), OnElem(r, a));
    EXPECT_FALSE(doc.RestorePos(L"parent"));  // saved in map 1
    EXPECT_EQ(Cur(doc), OnElem(r, a));
    EXPECT_TRUE(doc.RestorePos(L"parent", 1));
    EXPECT_EQ(Cur(doc), OnElem(a, 0));
    EXPECT_TRUE(doc.FindElem());
    EXPECT_EQ(doc.MainPos(), b);
    EXPECT_TRUE(doc.RestorePos(L""));
    EXPECT_EQ(Cur(doc), OnElem(0, 0));
    EXPECT_FALSE(doc.RestorePos(XML_CSTR(nullptr)));

    // A saved node position comes back as its element; node members are cleared.
    doc.ResetPos();
    ASSERT_TRUE(doc.FindElem());
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.FindElem(L"c"));
    ASSERT_EQ(doc.FindNode(), 32);
    EXPECT_TRUE(doc.SavePos(L"main"));  // overwrites
    EXPECT_TRUE(doc.RestorePos(L"child"));
    EXPECT_TRUE(doc.RestorePos(L"main"));
    EXPECT_EQ(Cur(doc), OnElem(r, c));

    // Names are exact, whatever the document flags say.
    doc.SetDocFlags(CXmlDoc::DocFlagIgnoreCase);
    EXPECT_FALSE(doc.RestorePos(L"MAIN"));
    // A parse drops every saved position.
    doc.SetDoc(doc.GetDoc());
    EXPECT_FALSE(doc.RestorePos(L"main"));
}

TEST(XmlNavigate, RestoringCreatesMissingMapsOfSevenSlots) {
    NavProbe doc(L"<r/>");
    EXPECT_TRUE(doc.Maps() == nullptr || doc.Maps()[0] == nullptr);
    EXPECT_FALSE(doc.RestorePos(L"q", 2));
    ASSERT_NE(doc.Maps(), nullptr);
    for (int n = 0; n < 3; ++n) {
        ASSERT_NE(doc.Maps()[n], nullptr) << n;
        EXPECT_EQ(doc.Maps()[n]->nMapSize, 7) << n;
    }
    EXPECT_EQ(doc.Maps()[3], nullptr);

    // A map sized beforehand keeps its size; the slot is the sum mod its size.
    NavProbe sized(L"<r/>");
    EXPECT_TRUE(sized.SetMapSize(3));
    ASSERT_TRUE(sized.FindElem());
    EXPECT_TRUE(sized.SavePos(L"ab"));  // 97 + 98 = 195, slot 0 of 3
    NavProbe::SavedPosMap* pMap = sized.Map(0);
    ASSERT_EQ(pMap->nMapSize, 3);
    ASSERT_NE(pMap->pTable[0], nullptr);
    EXPECT_EQ(pMap->pTable[1], nullptr);
    EXPECT_EQ(pMap->pTable[2], nullptr);
    EXPECT_EQ(S(pMap->pTable[0][0].strName), "ab");
    EXPECT_EQ(pMap->pTable[0][0].iPos, sized.At(0));
    EXPECT_EQ(pMap->pTable[0][0].nSavedPosFlags, NavProbe::SavedPosUsed | NavProbe::SavedPosMain);
    EXPECT_EQ(pMap->pTable[0][1].nSavedPosFlags, NavProbe::SavedPosLast);
}

TEST(XmlNavigate, SavedPositionSlotsGrowOnCollision) {
    // Twenty children e0 .. e19 to save distinct positions at.
    CLuStringW text(L"<r>");
    for (int n = 0; n < 20; ++n) {
        CLuStringW child;
        child.Format(L"<e%d/>", n);
        text += child;
    }
    text += L"</r>";
    NavProbe doc(text);
    // Names whose code units sum to 6 modulo 7: all share slot 6.
    std::vector<CLuStringW> names;
    for (wchar_t c1 = L'a'; c1 <= L'z' && names.size() < 16; ++c1) {
        for (wchar_t c2 = L'a'; c2 <= L'z' && names.size() < 16; ++c2) {
            if ((c1 + c2) % 7 == 6) {
                names.push_back(CLuStringW(L"") + c1 + c2);
            }
        }
    }
    ASSERT_EQ(names.size(), 16u);
    ASSERT_TRUE(doc.FindElem());
    ASSERT_TRUE(doc.IntoElem());
    std::vector<int> saved;
    for (size_t n = 0; n < names.size(); ++n) {
        ASSERT_TRUE(doc.FindElem());
        saved.push_back(doc.MainPos());
        ASSERT_TRUE(doc.SavePos(names[n]));
        NavProbe::SavedPos* pSlot = doc.Map(0)->pTable[6];
        ASSERT_NE(pSlot, nullptr);
        // 2 entries, then (1 * 2 + 12) = 14, then (13 * 2 + 12) = 38.
        const int nLast = n < 2 ? 1 : n < 14 ? 13 : 37;
        for (int k = 0; k <= nLast; ++k) {
            const int nFlags = pSlot[k].nSavedPosFlags;
            EXPECT_EQ((nFlags & NavProbe::SavedPosLast) != 0, k == nLast) << n << " " << k;
            EXPECT_EQ((nFlags & NavProbe::SavedPosUsed) != 0, k <= static_cast<int>(n))
                << n << " " << k;
        }
        EXPECT_EQ(S(pSlot[n].strName), S(names[n]));
    }
    for (int nSlot = 0; nSlot < 6; ++nSlot) {
        EXPECT_EQ(doc.Map(0)->pTable[nSlot], nullptr) << nSlot;
    }
    // Saving under a name again overwrites its entry in place.
    doc.ResetMainPos();
    ASSERT_TRUE(doc.FindElem(L"e19"));
    ASSERT_TRUE(doc.SavePos(names[13]));
    EXPECT_EQ(doc.Map(0)->pTable[6][13].iPos, doc.MainPos());
    EXPECT_EQ(doc.Map(0)->pTable[6][14].iPos, saved[14]);
    saved[13] = doc.MainPos();
    for (size_t n = 0; n < names.size(); ++n) {
        ASSERT_TRUE(doc.RestorePos(names[n])) << n;
        EXPECT_EQ(Cur(doc), OnElem(doc.At(0), saved[n])) << n;
    }
    EXPECT_FALSE(doc.RestorePos(L"zz"));  // 244 % 7 = 6 as well, never saved

    // In a 2-entry array the second entry is the last one and keeps the mark.
    NavProbe small(L"<r><a/><b/></r>");
    ASSERT_TRUE(small.FindElem());
    ASSERT_TRUE(small.SavePos(L"a"));  // 97 % 7 = 6
    ASSERT_TRUE(small.SavePos(L"h"));  // 104 % 7 = 6
    ASSERT_TRUE(small.FindChildElem());
    ASSERT_TRUE(small.SavePos(L"h"));
    NavProbe::SavedPos* pSlot = small.Map(0)->pTable[6];
    EXPECT_EQ(pSlot[1].nSavedPosFlags,
              NavProbe::SavedPosUsed | NavProbe::SavedPosChild | NavProbe::SavedPosLast);
    EXPECT_EQ(pSlot[1].iPos, small.At(3));
    EXPECT_EQ(pSlot[0].nSavedPosFlags, NavProbe::SavedPosUsed | NavProbe::SavedPosMain);
}

TEST(XmlNavigate, SlotOfALongNameUsesUnsigned32BitSums) {
    NavProbe doc(L"<r/>");
    ASSERT_TRUE(doc.FindElem());
    // 32,769 units of 0xFFFF sum past 2^31 (negative as a signed sum); 65,538
    // of them past 2^32 (slot 4 with a wider sum, 0 with a 32-bit one).
    for (int nUnits : {32769, 65538}) {
        std::vector<wchar_t> units(nUnits, static_cast<wchar_t>(0xFFFF));
        units.push_back(0);
        const uint32_t nSum = static_cast<uint32_t>(nUnits) * 0xFFFFu;
        const int nSlot = static_cast<int>(nSum % 7);
        ASSERT_TRUE(doc.SavePos(units.data())) << nUnits;
        NavProbe::SavedPosMap* pMap = doc.Map(0);
        ASSERT_NE(pMap->pTable[nSlot], nullptr) << nUnits;
        EXPECT_EQ(pMap->pTable[nSlot][0].strName.GetLength(), nUnits);
        EXPECT_TRUE(doc.RestorePos(units.data()));
    }
}

TEST(XmlNavigate, StaleSavedPositionsAreDropped) {
    NavProbe doc(L"<r><a/><b/><c/></r>");
    const int a = doc.At(3), b = doc.At(7), c = doc.At(11);
    ASSERT_TRUE(doc.FindChildElem(L"a"));
    ASSERT_TRUE(doc.SavePos(L"a"));  // all three names in slot 6
    ASSERT_TRUE(doc.FindChildElem(L"b"));
    ASSERT_TRUE(doc.SavePos(L"h"));
    ASSERT_TRUE(doc.FindChildElem(L"c"));
    ASSERT_TRUE(doc.SavePos(L"o"));
    ASSERT_TRUE(doc.SavePos(L"x", 1));  // 120 % 7 = 1
    // Release b's record as a removal would, then drop what refers to it.
    doc.x_ReleasePos(b);
    doc.x_CheckSavedPos();
    NavProbe::SavedPos* pSlot = doc.Map(0)->pTable[6];
    EXPECT_EQ(S(pSlot[0].strName), "a");
    EXPECT_EQ(pSlot[0].iPos, a);
    EXPECT_EQ(S(pSlot[1].strName), "o");
    EXPECT_EQ(pSlot[1].iPos, c);
    EXPECT_EQ(pSlot[1].nSavedPosFlags, NavProbe::SavedPosUsed | NavProbe::SavedPosChild);
    EXPECT_EQ(pSlot[2].nSavedPosFlags & NavProbe::SavedPosUsed, 0);
    EXPECT_EQ(pSlot[13].nSavedPosFlags, NavProbe::SavedPosLast);
    EXPECT_FALSE(doc.RestorePos(L"h"));
    EXPECT_TRUE(doc.RestorePos(L"o"));
    EXPECT_EQ(doc.ChildPos(), c);
    EXPECT_TRUE(doc.RestorePos(L"a"));
    EXPECT_EQ(doc.ChildPos(), a);
    EXPECT_TRUE(doc.RestorePos(L"x", 1));

    doc.x_ReleasePos(c);
    doc.x_CheckSavedPos();
    EXPECT_FALSE(doc.RestorePos(L"o"));
    EXPECT_FALSE(doc.RestorePos(L"x", 1));
    pSlot = doc.Map(1)->pTable[1];
    EXPECT_EQ(pSlot[0].nSavedPosFlags & NavProbe::SavedPosUsed, 0);
    EXPECT_EQ(pSlot[1].nSavedPosFlags, NavProbe::SavedPosLast);
    EXPECT_TRUE(doc.RestorePos(L"a"));
}

// ---------------------------------------------------------------- real documents

#if defined(VIDOZIR_TEST_LIBXML2)

// UTF-8 to UTF-16 units; false on a malformed sequence, an overlong form, a
// surrogate or a code point beyond U+10FFFF.
bool DecodeUtf8(const char* p, size_t n, std::vector<wchar_t>& out) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(p);
    size_t i = 0;
    while (i < n) {
        uint32_t c = s[i];
        int extra = 0;
        uint32_t min = 0;
        if (c < 0x80) {
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1, min = 0x80, c &= 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2, min = 0x800, c &= 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3, min = 0x10000, c &= 0x07;
        } else {
            return false;
        }
        if (extra && i + extra >= n) {
            return false;
        }
        for (int k = 1; k <= extra; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) {
                return false;
            }
            c = (c << 6) | (s[i + k] & 0x3F);
        }
        if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            return false;
        }
        if (c >= 0x10000) {
            out.push_back(static_cast<wchar_t>(0xD800 | ((c - 0x10000) >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 | (c & 0x3FF)));
        } else {
            out.push_back(static_cast<wchar_t>(c));
        }
        i += extra + 1;
    }
    return true;
}

CLuStringW Wide(const xmlChar* text) {
    std::vector<wchar_t> units;
    const char* p = reinterpret_cast<const char*>(text ? text : BAD_CAST "");
    DecodeUtf8(p, std::strlen(p), units);
    return CLuStringW(units.data(), static_cast<int>(units.size()));
}

// libxml2 turns every CR LF and lone CR into LF before parsing; this class
// keeps the text as written. Compared after the same folding on both sides.
CLuStringW FoldLineEnds(const CLuStringW& text) {
    CLuStringW out;
    for (int k = 0; k < text.GetLength(); ++k) {
        if (text[k] == L'\r') {
            out += L'\n';
            if (k + 1 < text.GetLength() && text[k + 1] == L'\n') {
                ++k;
            }
        } else {
            out += text[k];
        }
    }
    return out;
}

// libxml2 also normalises attribute values: each literal tab, line feed and
// carriage return becomes a space. The same again on both sides (this loses
// the difference from a character reference such as "&#10;", which both keep).
CLuStringW FoldAttribute(const CLuStringW& text) {
    CLuStringW out = FoldLineEnds(text);
    out.Replace(L'\t', L' ');
    out.Replace(L'\n', L' ');
    return out;
}

bool IsBlank(const xmlChar* text) {
    for (; text && *text; ++text) {
        if (*text != ' ' && *text != '\t' && *text != '\n' && *text != '\r') {
            return false;
        }
    }
    return true;
}

// Namespace prefixes stay in this class's names: compare qualified names.
CLuStringW QualifiedName(const xmlChar* name, xmlNsPtr ns) {
    CLuStringW qname;
    if (ns && ns->prefix) {
        qname = Wide(ns->prefix);
        qname += L":";
    }
    qname += Wide(name);
    return qname;
}

struct OracleCounts {
    int files = 0, skipped = 0, elements = 0, attributes = 0, data = 0, paths = 0;
};

class OracleWalk {
public:
    OracleWalk(NavProbe& doc, const std::string& file, OracleCounts& counts)
        : m_doc(doc), m_file(file), m_counts(counts) {}
    int Failures() const { return m_nFailures; }

    // The element under the main position must be node, then its children.
    // Counting same-named siblings is quadratic in this class and in the
    // check: paths are compared only below the first 200 siblings of a level.
    void Element(xmlNodePtr node, const CLuStringW& strParentPath, bool bCheckPath,
                 int nSameBefore) {
        ++m_counts.elements;
        const CLuStringW name = QualifiedName(node->name, node->ns);
        Expect(m_doc.GetTagName() == name, "tag name", m_doc.GetTagName(), name);
        CLuStringW path = strParentPath + L"/" + name;
        if (nSameBefore) {
            CLuStringW count;
            count.Format(L"[%d]", nSameBefore + 1);
            path += count;
        }
        if (bCheckPath) {
            ++m_counts.paths;
            Expect(m_doc.Path() == path, "path", m_doc.Path(), path);
        }
        Attributes(node);
        bool bElementChildren = false;
        for (xmlNodePtr child = node->children; child; child = child->next) {
            bElementChildren = bElementChildren || child->type == XML_ELEMENT_NODE;
        }
        if (bElementChildren) {
            Expect(m_doc.GetData() == L"", "data of a parent", m_doc.GetData(), L"");
            Children(node, path, bCheckPath);
        } else {
            Data(node);
            const Cursor before = Cur(m_doc);
            Expect(!m_doc.FindChildElem(), "no child", L"", L"");
            Expect(Cur(m_doc) == before, "cursor kept", L"", L"");
        }
    }

    void Children(xmlNodePtr node, const CLuStringW& path, bool bCheckPath) {
        if (!m_doc.IntoElem()) {
            Expect(false, "IntoElem", L"", L"");
            return;
        }
        int nIndex = 0;
        std::map<CLuStringW, int> seen;  // same-named siblings so far
        for (xmlNodePtr child = node->children; child && m_nFailures < 10; child = child->next) {
            if (child->type != XML_ELEMENT_NODE) {
                continue;
            }
            if (!m_doc.FindElem()) {
                Expect(false, "FindElem", L"", QualifiedName(child->name, child->ns));
                break;
            }
            const int nSame = seen[QualifiedName(child->name, child->ns)]++;
            Element(child, path, bCheckPath && nIndex < 200, nSame);
            ++nIndex;
        }
        Expect(!m_doc.FindElem(), "no further sibling", m_doc.GetTagName(), L"");
        Expect(m_doc.OutOfElem(), "OutOfElem", L"", L"");
    }

private:
    void Attributes(xmlNodePtr node) {
        // This class lists namespace declarations among the attributes;
        // libxml2 keeps them apart (nsDef), so they are matched separately.
        std::vector<std::pair<CLuStringW, CLuStringW>> decls, attrs;
        CLuStringW name, value;
        for (int n = 0; m_doc.GetNthAttrib(n, name, value); ++n) {
            const bool bDecl = name == L"xmlns" || name.Left(6) == L"xmlns:";
            (bDecl ? decls : attrs).emplace_back(name, value);
        }
        size_t k = 0;
        for (xmlNsPtr ns = node->nsDef; ns; ns = ns->next, ++k) {
            CLuStringW expected(L"xmlns");
            if (ns->prefix) {
                expected += L":";
                expected += Wide(ns->prefix);
            }
            if (k >= decls.size()) {
                Expect(false, "namespace declaration", L"", expected);
                return;
            }
            Expect(decls[k].first == expected, "namespace name", decls[k].first, expected);
            Expect(FoldAttribute(decls[k].second) == FoldAttribute(Wide(ns->href)),
                   "namespace value", decls[k].second, Wide(ns->href));
        }
        Expect(k == decls.size(), "namespace declaration count", L"", L"");
        k = 0;
        for (xmlAttrPtr attr = node->properties; attr; attr = attr->next, ++k) {
            ++m_counts.attributes;
            const CLuStringW expected = QualifiedName(attr->name, attr->ns);
            if (k >= attrs.size()) {
                Expect(false, "attribute", L"", expected);
                return;
            }
            Expect(attrs[k].first == expected, "attribute name", attrs[k].first, expected);
            // A reference to an entity of the document type stays a reference
            // node in libxml2 (no substitution asked for): not compared.
            CLuStringW strValue;
            bool bEntity = false;
            for (xmlNodePtr part = attr->children; part; part = part->next) {
                bEntity = bEntity || part->type == XML_ENTITY_REF_NODE;
                if (part->type == XML_TEXT_NODE) {
                    strValue += Wide(part->content);
                }
            }
            if (!bEntity) {
                Expect(FoldAttribute(attrs[k].second) == FoldAttribute(strValue), "attribute value",
                       attrs[k].second, strValue);
            }
        }
        Expect(k == attrs.size(), "attribute count", L"", L"");
    }

    void Data(xmlNodePtr node) {
        bool bMarkup = false;
        for (xmlNodePtr child = node->children; child; child = child->next) {
            if (child->type == XML_ENTITY_REF_NODE) {
                return;  // as for attributes: a document type's entity, not compared
            }
            bMarkup = bMarkup || child->type != XML_TEXT_NODE;
        }
        // With markup in the content this class scans its nodes, and a run of
        // white space alone between two of them is a white-space node, which
        // gives nothing; libxml2 keeps it as text.
        CLuStringW expected;
        for (xmlNodePtr child = node->children; child; child = child->next) {
            if (child->type == XML_CDATA_SECTION_NODE ||
                (child->type == XML_TEXT_NODE && !(bMarkup && IsBlank(child->content)))) {
                expected += Wide(child->content);
            }
        }
        ++m_counts.data;
        const CLuStringW data = m_doc.GetData();
        Expect(FoldLineEnds(data) == FoldLineEnds(expected), "data", data, expected);
    }

    void Expect(bool bOk, const char* what, const CLuStringW& actual, const CLuStringW& expected) {
        if (bOk || ++m_nFailures > 10) {
            return;
        }
        ADD_FAILURE() << m_file << ": " << what << " at " << S(m_doc.Path()) << ": got \""
                      << S(actual).substr(0, 200) << "\", libxml2 \"" << S(expected).substr(0, 200)
                      << "\"";
    }

    NavProbe& m_doc;
    std::string m_file;
    OracleCounts& m_counts;
    int m_nFailures = 0;
};

std::string LowerAscii(std::string text) {
    for (char& c : text) {
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return text;
}

// Compares one file with libxml2's reading of it; false when it was skipped.
bool CompareWithLibxml2(const std::string& file, OracleCounts& counts) {
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        return false;
    }
    std::vector<wchar_t> units;
    size_t nSkip = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;  // a BOM is no text
    if (!DecodeUtf8(bytes.data() + nSkip, bytes.size() - nSkip, units)) {
        return false;  // neither UTF-8 nor ASCII
    }
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    if (!ctxt) {
        return false;
    }
    xmlDocPtr xdoc =
        xmlCtxtReadMemory(ctxt, bytes.data(), static_cast<int>(bytes.size()), file.c_str(), nullptr,
                          XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    const bool bWellFormed = xdoc && ctxt->wellFormed && ctxt->nsWellFormed;
    xmlFreeParserCtxt(ctxt);
    const std::string encoding =
        xdoc && xdoc->encoding ? LowerAscii(reinterpret_cast<const char*>(xdoc->encoding)) : "";
    if (!bWellFormed || !xmlDocGetRootElement(xdoc) ||
        !(encoding.empty() || encoding == "utf-8" || encoding == "us-ascii" ||
          encoding == "ascii")) {
        xmlFreeDoc(xdoc);
        return false;
    }
    units.push_back(0);
    NavProbe doc;
    const bool bOurs = doc.SetDoc(units.data());
    EXPECT_TRUE(bOurs) << file << ": " << S(doc.GetError());
    if (bOurs) {
        OracleWalk walk(doc, file, counts);
        if (doc.FindElem()) {
            walk.Element(xmlDocGetRootElement(xdoc), L"", true, 0);
            EXPECT_FALSE(doc.FindElem()) << file;
        } else {
            ADD_FAILURE() << file << ": no root element found";
        }
    }
    xmlFreeDoc(xdoc);
    return true;
}

TEST(XmlNavigateOracle, RealDocumentsReadAsLibxml2ReadsThem) {
    namespace fs = std::filesystem;
    const char* const kMimePackage = "/usr/share/mime/packages/freedesktop.org.xml";
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
    OracleCounts counts;
    const auto started = std::chrono::steady_clock::now();
    for (const std::string& file : files) {
        std::error_code ec;
        const uintmax_t nSize = fs::file_size(file, ec);
        if (ec || nSize > kFileLimit || nBytes + nSize > kBudget) {
            ++counts.skipped;
            continue;
        }
        nBytes += nSize;
        const bool bCompared = CompareWithLibxml2(file, counts);
        if (file == kMimePackage) {
            ASSERT_TRUE(bCompared) << "libxml2 could not read " << file;
        }
        bCompared ? ++counts.files : ++counts.skipped;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf(
        "[ oracle   ] %d files (%ju bytes) compared, %d skipped: %d elements, %d attributes, "
        "%d data, %d paths in %.1f s\n",
        counts.files, nBytes, counts.skipped, counts.elements, counts.attributes, counts.data,
        counts.paths, seconds);
    EXPECT_GT(counts.elements, 1000);
}

#endif  // VIDOZIR_TEST_LIBXML2

}  // namespace
