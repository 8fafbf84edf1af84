#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "xml_probe.h"

#if defined(VIDOZIR_TEST_LIBXML2)
#include <libxml/parser.h>
#include <libxml/tree.h>

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

// Reaches the node members, paths and saved-position internals, and sets what
// the public operations cannot (the streaming flags, a result text of file
// records).
class NavProbe : public XmlProbe {
public:
    using CXmlDoc::PathPos;
    using CXmlDoc::SavedPosChild;
    using CXmlDoc::x_CheckSavedPos;
    using CXmlDoc::x_GetPath;
    using XmlProbe::XmlProbe;
    NavProbe(int nFlags, const wchar_t* szDoc) : XmlProbe(nFlags) { SetDoc(szDoc); }

    int NodeStart() const { return m_nNodeStart; }
    int NodeLength() const { return m_nNodeLength; }
    void ForceFlags(int nFlags) { m_nDocFlags = nFlags; }
    void SetResultText(const wchar_t* szResult) { m_strResultText = szResult; }
    CLuStringW Path() const { return x_GetPath(m_iMainPos); }
};

constexpr int kIgnoreCase = CXmlDoc::DocFlagIgnoreCase;
constexpr int kTrim = CXmlDoc::DocFlagTrimWhitespace;
constexpr int kCollapse = CXmlDoc::DocFlagCollapseWhitespace;

// The whole cursor: parent, main, child, node type, node start, node length.
using Cursor = std::array<int, 6>;
Cursor Cur(const NavProbe& d) {
    return {d.ParentPos(), d.MainPos(), d.ChildPos(), d.NodeType(), d.NodeStart(), d.NodeLength()};
}
Cursor OnElem(int parent, int main, int child = 0) {
    return {parent, main, child, main ? 1 : 0, 0, 0};
}

std::string S(const CLuStringW& text) {
    return Utf8(text);
}

// UTF-8 to UTF-16 units; false on a malformed sequence, an overlong form, a
// surrogate or a code point beyond U+10FFFF.
bool DecodeUtf8(const char* p, size_t n, std::vector<wchar_t>& out) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(p);
    for (size_t i = 0; i < n;) {
        uint32_t c = s[i];
        const int extra = c < 0x80             ? 0
                          : (c & 0xE0) == 0xC0 ? 1
                          : (c & 0xF0) == 0xE0 ? 2
                          : (c & 0xF8) == 0xF0 ? 3
                                               : -1;
        if (extra < 0 || i + extra >= n + (extra == 0)) {
            return false;
        }
        const uint32_t min = extra == 0 ? 0 : extra == 1 ? 0x80 : extra == 2 ? 0x800 : 0x10000;
        c &= 0x7F >> extra;
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

CLuStringW W(const char* szUtf8) {
    std::vector<wchar_t> units;
    DecodeUtf8(szUtf8, std::strlen(szUtf8), units);
    return CLuStringW(units.data(), static_cast<int>(units.size()));
}

// ---------------------------------------------------------------- cursors

TEST(XmlNavigate, CursorsMoveOverTheIndexAndStayPutOnFailure) {
    NavProbe doc(L"<r><a/><b/><a/></r>");
    const int r = doc.At(0), a1 = doc.At(3), b = doc.At(7), a2 = doc.At(11);
    EXPECT_FALSE(doc.IntoElem());   // no main position yet
    EXPECT_FALSE(doc.OutOfElem());  // no parent
    ASSERT_TRUE(doc.FindElem());
    EXPECT_FALSE(doc.FindElem());  // the root has no sibling
    EXPECT_EQ(Cur(doc), OnElem(0, r));
    ASSERT_TRUE(doc.IntoElem());
    EXPECT_EQ(Cur(doc), OnElem(r, 0));
    EXPECT_TRUE(doc.FindElem(L"a"));
    EXPECT_TRUE(doc.FindElem(L"a"));
    EXPECT_FALSE(doc.FindElem(L"a"));
    EXPECT_EQ(Cur(doc), OnElem(r, a2));
    doc.ResetMainPos();
    std::vector<int> order;
    while (doc.FindElem(XML_CSTR(L""))) {
        order.push_back(doc.MainPos());
    }
    EXPECT_EQ(order, (std::vector<int>{a1, b, a2}));
    // Out of the level: the former main position becomes the child.
    EXPECT_TRUE(doc.OutOfElem());
    EXPECT_EQ(Cur(doc), OnElem(0, r, a2));
    EXPECT_EQ(S(doc.GetChildTagName()), "a");
    EXPECT_FALSE(doc.OutOfElem());
    EXPECT_EQ(Cur(doc), OnElem(0, r, a2));
    doc.ResetChildPos();
    EXPECT_EQ(Cur(doc), OnElem(0, r));

    // FindChildElem moves the child; with no main position it finds the root.
    doc.ResetPos();
    EXPECT_EQ(S(doc.GetTagName()), "");
    ASSERT_TRUE(doc.FindChildElem());
    EXPECT_EQ(Cur(doc), OnElem(0, r, a1));
    EXPECT_TRUE(doc.FindChildElem(L"a"));
    EXPECT_FALSE(doc.FindChildElem(L"b"));
    EXPECT_EQ(Cur(doc), OnElem(0, r, a2));
    doc.ResetChildPos();
    EXPECT_TRUE(doc.FindChildElem(L"b"));
    // Into the child, which becomes the main position; into a leaf, an empty level.
    ASSERT_TRUE(doc.IntoElem());
    EXPECT_EQ(Cur(doc), OnElem(r, b));
    EXPECT_FALSE(doc.FindChildElem());
    ASSERT_TRUE(doc.IntoElem());
    EXPECT_EQ(Cur(doc), OnElem(b, 0));
    EXPECT_FALSE(doc.FindElem());
    ASSERT_TRUE(doc.OutOfElem());
    EXPECT_EQ(Cur(doc), OnElem(r, b));
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
    NavProbe folded(kIgnoreCase, L"<Root><Item ID='7'/></Root>");
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
    const std::pair<const wchar_t*, int> cases[] = {
        {nullptr, 0},       {L"", 0},
        {L"a", 1},          {L"a/b/c", 1},
        {L"a[12]/b", 1},    {L"a[@id]", 1},
        {L"a[@id='x']", 1}, {L"a[@id=\"x y\"]", 1},
        {L"a[@id=x]", 1},   {L"a[b]", 1},
        {L"a/@id", 1},      {L"a/b[2]/@id", 1},
        {L"/r", 2},         {L"/r/a[2]", 2},
        {L"//r", 3},        {L"a[", -1},
        {L"a[2", -1},       {L"a/", -1},
        {L"/r/", -1},       {L"a]", -1},
        {L"a b", -1},       {L"a[2]x", -1},
        {L"a[@id='x]", -1}, {L"//r/a", -1},  // nothing may follow the single step of "//"
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NavProbe::PathPos(c.first).nPathType, c.second) << Utf8(c.first);
    }
}

TEST(XmlNavigate, OnlyTheFirstStepOfARelativePathTakesPartInTheSearch) {
    NavProbe doc(L"<r><item/><items/><it/><item x='1'/></r>");
    const std::pair<const wchar_t*, bool> top[] = {
        {L"r/a", true},  {L"r[2]", true}, {L"r[@x]", true}, {L"r/@id", true}, {L"/r", false},
        {L"//r", false}, {L"r/", false},  {L"r[", false},   {L"ro", false},
    };
    for (const auto& c : top) {
        doc.ResetPos();
        EXPECT_EQ(doc.FindElem(c.first), c.second) << Utf8(c.first);
        EXPECT_EQ(doc.MainPos(), c.second ? doc.At(0) : 0) << Utf8(c.first);
    }
    // Tag names that merely share a prefix with the step do not match.
    ASSERT_TRUE(doc.FindElem() && doc.IntoElem());
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
    EXPECT_FALSE(doc.FindChildElem(L"/r/it"));
    EXPECT_EQ(doc.Elem(doc.ChildPos()).nStart, 10);
}

TEST(XmlNavigate, AbsolutePathsCountSameNamedSiblings) {
    NavProbe doc(L"<list><item/><other/><item/><item><x/><x/></item><a]/><a]/></list>");
    // "a]" is no valid path step: no count is written for it.
    const std::pair<int, const char*> paths[] = {
        {0, "/list"},
        {6, "/list/item"},
        {13, "/list/other"},
        {21, "/list/item[2]"},
        {28, "/list/item[3]"},
        {34, "/list/item[3]/x"},
        {38, "/list/item[3]/x[2]"},
        {49, "/list/a]"},
        {54, "/list/a]"},
    };
    for (const auto& p : paths) {
        EXPECT_EQ(S(doc.x_GetPath(doc.At(p.first))), p.second) << p.first;
    }
    EXPECT_EQ(S(doc.x_GetPath(0)), "");
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
struct Node {
    int type;
    const wchar_t* at;
    int length;
    const char* tag;
    const char* data;
};

// Walks the level with FindNode(nMask) through exactly these nodes. The main
// position of another node is the last element of the level before it; at
// the end of the level the cursor stays on the last node.
void ExpectNodes(NavProbe& doc, const std::vector<Node>& nodes, int nMask = 0) {
    const CLuStringW& text = doc.GetDoc();
    for (const Node& n : nodes) {
        SCOPED_TRACE(Utf8(n.at));
        const int nStart = text.Find(n.at);
        ASSERT_EQ(doc.FindNode(nMask), n.type);
        if (n.type == 1) {
            EXPECT_EQ(Cur(doc), OnElem(doc.ParentPos(), doc.At(nStart)));
        } else {
            int iBefore = 0;
            for (int nChild : doc.ChildStarts(doc.ParentPos())) {
                iBefore = nChild < nStart ? doc.At(nChild) : iBefore;
            }
            const int nLength = n.length ? n.length : static_cast<int>(std::wcslen(n.at));
            EXPECT_EQ(Cur(doc), (Cursor{doc.ParentPos(), iBefore, 0, n.type, nStart, nLength}));
        }
        EXPECT_EQ(S(doc.GetTagName()), n.tag);
        EXPECT_EQ(S(doc.GetData()), n.data);
    }
    const Cursor last = Cur(doc);
    EXPECT_EQ(doc.FindNode(nMask), 0);
    EXPECT_EQ(Cur(doc), last);
}

TEST(XmlNavigate, FindNodeVisitsEveryKindOfNode) {
    NavProbe doc(
        L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE\n  r PUBLIC \"-//x\">\n<r>"
        L"t &amp; t<![CDATA[c<]]><!--m--><? p x=\"1\"?> <e:f.g-h\r\t a='2'/>u</q></ q ></>< x>"
        L"</r>\r\n");
    const int r = doc.At(doc.GetDoc().Find(L"<r>")), e = doc.At(doc.GetDoc().Find(L"<e:"));
    // Attributes of a processing instruction, the tag name being no attribute.
    ASSERT_EQ(doc.FindNode(), 16);
    EXPECT_EQ(S(doc.GetAttrib(L"encoding")), "UTF-8");
    EXPECT_EQ(S(doc.GetAttrib(L"xml")), "");
    EXPECT_EQ(S(doc.GetAttribName(0)), "version");
    EXPECT_EQ(S(doc.GetAttribName(1)), "encoding");
    EXPECT_EQ(S(doc.GetAttribName(2)), "");
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
    ASSERT_TRUE(doc.FindElem(L"r"));
    ASSERT_TRUE(doc.IntoElem());
    ExpectNodes(doc, {{2, L"t &amp; t", 0, "#text", "t & t"},
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
    EXPECT_FALSE(doc.FindElem());  // e has no next sibling
    EXPECT_EQ(doc.NodeType(), 32768);
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
    ExpectNodes(doc, {{32, L"<!--m-->", 0, "#comment", "m"}}, 32);  // "<!--n-->" lies in e
    doc.ResetMainPos();
    ExpectNodes(
        doc,
        {{2, L"t<", 1, "#text", "t"}, {2, L"u<", 1, "#text", "u"}, {128, L"</q>", 0, "q", "q"}},
        2 | 128);
    doc.ResetMainPos();
    ExpectNodes(doc, {{1, L"<e>", 0, "e", ""}}, 1);
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
    ExpectNodes(doc, {{32, L"<!--n-->", 0, "#comment", "n"}}, 32);
    EXPECT_FALSE(doc.FindElem());
    EXPECT_EQ(doc.NodeType(), 32);
    // Into a level of text only, and into an empty one.
    doc.ResetMainPos();
    ASSERT_TRUE(doc.FindElem(L"i"));
    ASSERT_TRUE(doc.IntoElem());
    ExpectNodes(doc, {{2, L"in", 0, "#text", "in"}});
    NavProbe leaf(L"<r><e/></r>");
    ASSERT_TRUE(leaf.FindChildElem() && leaf.IntoElem() && leaf.IntoElem());
    ExpectNodes(leaf, {});
    EXPECT_EQ(Cur(leaf), OnElem(leaf.At(3), 0));
}

TEST(XmlNavigate, FindNodeFollowsTheIndexPastAnUnendedElement) {
    // a has no end tag, so b was moved up to follow it as a sibling.
    NavProbe doc(L"<r><a><b/>x</r>");
    ASSERT_TRUE(doc.FindElem() && doc.IntoElem());
    ExpectNodes(doc,
                {{1, L"<a>", 0, "a", ""}, {1, L"<b/>", 0, "b", ""}, {2, L"x", 0, "#text", "x"}});
}

TEST(XmlNavigate, WhiteSpaceNodeDataIsItsWholeText) {
    NavProbe doc(kTrim, L"<r>\r\n <a/> x </r>");
    ASSERT_TRUE(doc.FindElem() && doc.IntoElem());
    // Text is unescaped, so trimmed; white space alone is kept as it stands.
    ExpectNodes(doc, {{4, L"\r\n ", 0, "#text", "\r\n "},
                      {1, L"<a/>", 0, "a", ""},
                      {2, L" x ", 0, "#text", "x"}});
}

// ---------------------------------------------------------------- attributes

TEST(XmlNavigate, AttributesByNameAndByNumber) {
    NavProbe doc(
        L"<r flag a='1' b=\"x &amp; y\" c=un&lt;q d = \"sp\" e='&#65;&eacute;' f='it\"s'\n"
        L"\tg=\"&lt;/a>\" last/>");
    EXPECT_EQ(S(doc.GetAttrib(L"a")), "");  // no main position yet
    EXPECT_EQ(S(doc.GetAttribName(0)), "");
    ASSERT_TRUE(doc.FindElem());
    // A bare name is its own value; named references fold to their capitalised form.
    const std::pair<const char*, const char*> attribs[] = {
        {"flag", "flag"}, {"a", "1"},     {"b", "x & y"}, {"c", "un<q"},    {"d", "sp"},
        {"e", "A\u00C9"}, {"f", "it\"s"}, {"g", "</a>"},  {"last", "last"},
    };
    CLuStringW name, value;
    for (int n = 0; n < 9; ++n) {
        EXPECT_TRUE(doc.GetAttrib(W(attribs[n].first)) == W(attribs[n].second)) << n;
        ASSERT_TRUE(doc.GetNthAttrib(n, name, value)) << n;
        EXPECT_TRUE(name == W(attribs[n].first) && value == W(attribs[n].second)) << n;
    }
    EXPECT_FALSE(doc.GetNthAttrib(9, name, value));
    EXPECT_EQ(S(doc.GetAttribName(9)), "");
    for (const wchar_t* szMissing : {L"fla", L"flags", L"r", L"z"}) {  // r is the tag name
        EXPECT_EQ(S(doc.GetAttrib(szMissing)), "") << Utf8(szMissing);
    }
    EXPECT_EQ(S(doc.GetAttrib(XML_CSTR(nullptr))), "");
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
    NavProbe doc(kIgnoreCase | kCollapse, L"<r Id=' a \t b '/>");
    ASSERT_TRUE(doc.FindElem());
    EXPECT_EQ(S(doc.GetAttrib(L"ID")), "a b");
    doc.SetDocFlags(0);
    EXPECT_EQ(S(doc.GetAttrib(L"ID")), "");
    EXPECT_EQ(S(doc.GetAttrib(L"Id")), " a \t b ");
}

// ---------------------------------------------------------------- data

TEST(XmlNavigate, DataOfElements) {
    struct Case {
        int flags;
        const wchar_t* text;
        const char* data;
    } cases[] = {
        // Text, CDATA content as it stands; comments and instructions give nothing.
        {0, L"<r>x &amp; y<!--c--> z</r>", "x & y z"},
        {0, L"<r>a<![CDATA[<&amp;>]]>b<?p d?>c</r>", "a<&amp;>bc"},
        {0, L"<r><![CDATA[x]]]]><![CDATA[>y]]></r>", "x]]>y"},
        // White space alone between other nodes is a white-space node: nothing.
        {0, L"<r> <!--c-->x<![CDATA[ ]]> </r>", "x "},
        {0, L"<r>a > b</r>", "a > b"},
        {0, L"<r>a > b<!--c--></r>", "a > b"},
        {0, L"<r>&#x263a; &#128512;</r>", "\u263A \U0001F600"},
        // Child elements leave no data, nor does an element without content.
        {0, L"<r>t<c/>u</r>", ""},
        {0, L"<r>\n  <c>x</c>\n</r>", ""},
        {0, L"<r/>", ""},
        {0, L"<r></r>", ""},
        {0, L"<r><!--only--></r>", ""},
        {0, L"<r>  a \t b  </r>", "  a \t b  "},
        // Each text node is unescaped, so trimmed or collapsed, on its own.
        {kTrim, L"<r>  a \t b  </r>", "a \t b"},
        {kTrim, L"<r> a <!--c--> b </r>", "ab"},
        {kTrim, L"<r> a <![CDATA[ c ]]> b </r>", "a c b"},
        {kCollapse, L"<r>\r\n  a \t b  &#32;</r>", "a b  "},  // a decoded space is no white space
    };
    for (const Case& c : cases) {
        NavProbe doc(c.flags, c.text);
        ASSERT_TRUE(doc.FindElem()) << Utf8(c.text);
        EXPECT_TRUE(doc.GetData() == W(c.data)) << Utf8(c.text) << " gave " << S(doc.GetData());
    }
}

TEST(XmlNavigate, DataOfChildAndMissingElements) {
    NavProbe doc(L"<r><a>1</a><b/></r>");
    EXPECT_EQ(S(doc.GetData()), "");
    EXPECT_EQ(S(doc.GetChildData()), "");
    ASSERT_TRUE(doc.FindChildElem(L"a"));
    EXPECT_EQ(S(doc.GetChildData()), "1");
    // An element whose end tag is missing ends at its start tag: no data.
    NavProbe unended(L"<r><a>x</r>");
    ASSERT_TRUE(unended.FindChildElem(L"a"));
    EXPECT_EQ(S(unended.GetChildData()), "");
}

TEST(XmlNavigate, ElementContentIsRawText) {
    NavProbe doc(L"<r>\n <a>x &amp; y</a>\n <b/> t\n</r>");
    EXPECT_EQ(S(doc.GetElemContent()), "");
    ASSERT_TRUE(doc.FindElem());
    EXPECT_EQ(S(doc.GetElemContent()), "\n <a>x &amp; y</a>\n <b/> t\n");
    ASSERT_TRUE(doc.IntoElem() && doc.FindElem());
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

TEST(XmlNavigate, ErrorMessages) {
    struct Case {
        bool bResult;  // text is a result text of file records, not a document
        const wchar_t* text;
        const char* message;
    } cases[] = {
        {false, L"<a/>", ""},
        {false, L"", ""},
        {false, L"<a/><b/>", "root element has sibling"},
        {false, L"text only", "no root element"},
        {false, L"<a></b></a>", "lone end tag 'b' at offset 3"},
        {false, L"<a><b></a>", "start tag 'b' at offset 3 expecting end tag at offset 7"},
        {false, L"<r>< x></r>", "tag syntax error at offset 3 expecting tag name / ! or ?"},
        {false, L"<r><!x></r>", "tag syntax error at offset 3 expecting 'DOCTYPE' [ or -"},
        {false, L"<r><!-x></r>", "tag syntax error at offset 3 expecting - to begin comment"},
        {false, L"<r><![X[></r>", "tag syntax error at offset 3 expecting 'CDATA'"},
        {false, L"<r/><?pi", "unterminated tag at offset 4"},
        // Only the first record of the parse is told.
        {false, L"<r><a></b></r><c/>", "lone end tag 'b' at offset 6"},
        {true, L"<doctype_tag_syntax offset=\"9\"/>",
         "tag syntax error at offset 9 expecting markup declaration"},
        {true, L"<file_error msg=\"Access &amp; denied\" n=\"5\"/>", "Access & denied"},
        {true, L"<read encoding=\"UTF-16LE\" length=\"120\"/>", "UTF-16LE length 120"},
        {true, L"<write length=\"5\"/>", "length 5"},
        {true, L"<converted_to encoding=\"windows-1252\" length=\"4\"/>",
         "to windows-1252 length 4"},
        {true, L"<converted_from encoding=\"UTF-16BE\" length=\"6\"/>", "UTF-16BE length 6 to"},
        {true, L"<mystery a=\"1\"/><endian_swap/>", "endian swap"},
        // Every file record, but again one record of the parse.
        {true,
         L"<bom/><read encoding=\"UTF-8\" length=\"10\"/><nulls_removed count=\"2\"/>"
         L"<utf8_detection/><lone_end_tag tagname=\"x\" offset=\"1\"/>"
         L"<unended_start_tag tagname=\"y\" offset=\"2\" offset2=\"9\"/><no_root_element/>",
         "BOM + UTF-8 length 10 removed 2 nulls (used UTF-8 detection) lone end tag 'x' at "
         "offset 1"},
        {true, L"<root_has_sibling/><write encoding=\"UTF-8\" length=\"5\"/><conversion_loss/>",
         "root element has sibling UTF-8 length 5 (chars lost in conversion!)"},
    };
    for (const Case& c : cases) {
        NavProbe doc(c.bResult ? L"" : c.text);
        if (c.bResult) {
            doc.SetResultText(c.text);
        }
        EXPECT_EQ(S(doc.GetError()), c.message) << Utf8(c.text);
    }
    // The parse behind the first-record case did record all three.
    EXPECT_EQ(S(NavProbe(L"<r><a></b></r><c/>").GetResult()),
              "<lone_end_tag tagname=\"b\" offset=\"6\"/>"
              "<unended_start_tag tagname=\"a\" offset=\"3\" offset2=\"11\"/><root_has_sibling/>");
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
    ASSERT_TRUE(doc.FindElem() && doc.IntoElem() && doc.FindElem(L"c"));
    ASSERT_EQ(doc.FindNode(), 32);
    EXPECT_TRUE(doc.SavePos(L"main"));  // overwrites
    EXPECT_TRUE(doc.RestorePos(L"child"));
    EXPECT_TRUE(doc.RestorePos(L"main"));
    EXPECT_EQ(Cur(doc), OnElem(r, c));
    // Names are exact, whatever the document flags say; a parse drops them all.
    doc.SetDocFlags(kIgnoreCase);
    EXPECT_FALSE(doc.RestorePos(L"MAIN"));
    doc.SetDoc(doc.GetDoc());
    EXPECT_FALSE(doc.RestorePos(L"main"));
}

TEST(XmlNavigate, SavedPositionMapsAndSlots) {
    // Restoring creates every missing map up to its number, of seven slots.
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
    EXPECT_TRUE(pMap->pTable[1] == nullptr && pMap->pTable[2] == nullptr);
    EXPECT_EQ(S(pMap->pTable[0][0].strName), "ab");
    EXPECT_EQ(pMap->pTable[0][0].iPos, sized.At(0));
    EXPECT_EQ(pMap->pTable[0][0].nSavedPosFlags, NavProbe::SavedPosUsed | NavProbe::SavedPosMain);
    EXPECT_EQ(pMap->pTable[0][1].nSavedPosFlags, NavProbe::SavedPosLast);

    // The sum is unsigned 32-bit: 32,769 units of 0xFFFF pass 2^31 (negative
    // as a signed sum); 65,538 of them pass 2^32 (slot 4 if wider, 0 if not).
    for (int nUnits : {32769, 65538}) {
        std::vector<wchar_t> units(nUnits, static_cast<wchar_t>(0xFFFF));
        units.push_back(0);
        const int nSlot = static_cast<int>(static_cast<uint32_t>(nUnits) * 0xFFFFu % 7);
        ASSERT_TRUE(sized.SavePos(units.data(), 1)) << nUnits;
        ASSERT_NE(sized.Map(1)->pTable[nSlot], nullptr) << nUnits;
        EXPECT_EQ(sized.Map(1)->pTable[nSlot][0].strName.GetLength(), nUnits);
        EXPECT_TRUE(sized.RestorePos(units.data(), 1));
    }
}

TEST(XmlNavigate, SavedPositionSlotsGrowOnCollision) {
    NavProbe doc(xml_test::Repeated(L"<r>", L"<e/>", 20, L"</r>"));
    // Names whose code units sum to 6 modulo 7: all share slot 6.
    std::vector<CLuStringW> names;
    for (wchar_t c1 = L'a'; c1 <= L'z'; ++c1) {
        for (wchar_t c2 = L'a'; c2 <= L'z' && names.size() < 16; ++c2) {
            if ((c1 + c2) % 7 == 6) {
                names.push_back(CLuStringW(L"") + c1 + c2);
            }
        }
    }
    ASSERT_EQ(names.size(), 16u);
    ASSERT_TRUE(doc.FindElem() && doc.IntoElem());
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
    ASSERT_TRUE(doc.FindElem());
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
    const NavProbe::SavedPos* pSlot = small.Map(0)->pTable[6];
    EXPECT_EQ(pSlot[1].nSavedPosFlags,
              NavProbe::SavedPosUsed | NavProbe::SavedPosChild | NavProbe::SavedPosLast);
    EXPECT_EQ(pSlot[1].iPos, small.At(3));
    EXPECT_EQ(pSlot[0].nSavedPosFlags, NavProbe::SavedPosUsed | NavProbe::SavedPosMain);
}

TEST(XmlNavigate, StaleSavedPositionsAreDropped) {
    NavProbe doc(L"<r><a/><b/><c/></r>");
    const int a = doc.At(3), b = doc.At(7), c = doc.At(11);
    ASSERT_TRUE(doc.FindChildElem(L"a") && doc.SavePos(L"a"));  // all three names in slot 6
    ASSERT_TRUE(doc.FindChildElem(L"b") && doc.SavePos(L"h"));
    ASSERT_TRUE(doc.FindChildElem(L"c") && doc.SavePos(L"o"));
    ASSERT_TRUE(doc.SavePos(L"x", 1));  // 120 % 7 = 1
    // Release b's record as a removal would, then drop what refers to it.
    doc.x_ReleasePos(b);
    EXPECT_TRUE(doc.x_CheckSavedPos());
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
    EXPECT_TRUE(doc.x_CheckSavedPos());
    EXPECT_FALSE(doc.x_CheckSavedPos());  // nothing left to drop
    EXPECT_FALSE(doc.RestorePos(L"o"));
    EXPECT_FALSE(doc.RestorePos(L"x", 1));
    pSlot = doc.Map(1)->pTable[1];
    EXPECT_EQ(pSlot[0].nSavedPosFlags & NavProbe::SavedPosUsed, 0);
    EXPECT_EQ(pSlot[1].nSavedPosFlags, NavProbe::SavedPosLast);
    EXPECT_TRUE(doc.RestorePos(L"a"));
}

// ---------------------------------------------------------------- real documents

#if defined(VIDOZIR_TEST_LIBXML2)

CLuStringW Wide(const xmlChar* text) {
    return W(text ? reinterpret_cast<const char*>(text) : "");
}

// libxml2 turns every CR LF and lone CR into LF before parsing; this class
// keeps the text as written. Compared after the same folding on both sides.
CLuStringW FoldLineEnds(const CLuStringW& text) {
    CLuStringW out;
    for (int k = 0; k < text.GetLength(); ++k) {
        if (text[k] != L'\r') {
            out += text[k];
            continue;
        }
        out += L'\n';
        if (k + 1 < text.GetLength() && text[k + 1] == L'\n') {
            ++k;
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
        if (!std::strchr(" \t\n\r", *text)) {
            return false;
        }
    }
    return true;
}

// Namespace prefixes stay in this class's names: compare qualified names.
CLuStringW QualifiedName(const xmlChar* name, xmlNsPtr ns) {
    return ns && ns->prefix ? Wide(ns->prefix) + L":" + Wide(name) : Wide(name);
}

struct OracleCounts {
    int files = 0, skipped = 0, elements = 0, attributes = 0, data = 0, paths = 0;
};

class OracleWalk {
public:
    OracleWalk(NavProbe& doc, const std::string& file, OracleCounts& counts)
        : m_doc(doc), m_file(file), m_counts(counts) {}

    // The element under the main position must be node, then its children.
    // Counting same-named siblings is quadratic in this class and in the
    // check: paths are compared only below the first 200 siblings of a level.
    void Element(xmlNodePtr node, const CLuStringW& strParentPath, bool bCheckPath, int nSame) {
        ++m_counts.elements;
        const CLuStringW name = QualifiedName(node->name, node->ns);
        Expect(m_doc.GetTagName() == name, "tag name", m_doc.GetTagName(), name);
        CLuStringW path = strParentPath + L"/" + name;
        if (nSame) {
            path.AppendFormat(L"[%d]", nSame + 1);
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
        if (!bElementChildren) {
            Data(node);
            const Cursor before = Cur(m_doc);
            Expect(!m_doc.FindChildElem() && Cur(m_doc) == before, "no child, cursor kept");
            return;
        }
        Expect(m_doc.GetData() == L"", "data of a parent", m_doc.GetData());
        if (!m_doc.IntoElem()) {
            return Expect(false, "IntoElem");
        }
        int nIndex = 0;
        std::map<CLuStringW, int> seen;  // same-named siblings so far
        for (xmlNodePtr child = node->children; child && m_nFailures < 10; child = child->next) {
            if (child->type != XML_ELEMENT_NODE) {
                continue;
            }
            const CLuStringW childName = QualifiedName(child->name, child->ns);
            if (!m_doc.FindElem()) {
                Expect(false, "FindElem", L"", childName);
                break;
            }
            Element(child, path, bCheckPath && nIndex++ < 200, seen[childName]++);
        }
        Expect(!m_doc.FindElem(), "no further sibling", m_doc.GetTagName());
        Expect(m_doc.OutOfElem(), "OutOfElem");
    }

private:
    // This class lists namespace declarations among the attributes; libxml2
    // keeps them apart (nsDef), so each kind is matched in order on its own.
    void Attributes(xmlNodePtr node) {
        struct Attrib {
            CLuStringW name, value;
            bool bValue;  // compared
        };
        std::vector<Attrib> ours[2], theirs[2];  // declarations, attributes
        CLuStringW name, value;
        for (int n = 0; m_doc.GetNthAttrib(n, name, value); ++n) {
            ours[name == L"xmlns" || name.Left(6) == L"xmlns:" ? 0 : 1].push_back(
                {name, value, true});
        }
        for (xmlNsPtr ns = node->nsDef; ns; ns = ns->next) {
            const CLuStringW decl =
                ns->prefix ? L"xmlns:" + Wide(ns->prefix) : CLuStringW(L"xmlns");
            theirs[0].push_back({decl, Wide(ns->href), true});
        }
        for (xmlAttrPtr attr = node->properties; attr; attr = attr->next) {
            ++m_counts.attributes;
            // A reference to an entity of the document type stays a reference
            // node in libxml2 (no substitution asked for): not compared.
            Attrib a{QualifiedName(attr->name, attr->ns), L"", true};
            for (xmlNodePtr part = attr->children; part; part = part->next) {
                a.bValue = a.bValue && part->type != XML_ENTITY_REF_NODE;
                a.value += part->type == XML_TEXT_NODE ? Wide(part->content) : CLuStringW();
            }
            theirs[1].push_back(a);
        }
        for (int kind = 0; kind < 2; ++kind) {
            const char* szWhat = kind ? "attribute" : "namespace declaration";
            Expect(ours[kind].size() == theirs[kind].size(), szWhat);
            for (size_t k = 0; k < std::min(ours[kind].size(), theirs[kind].size()); ++k) {
                const Attrib &o = ours[kind][k], &t = theirs[kind][k];
                Expect(o.name == t.name, szWhat, o.name, t.name);
                Expect(!t.bValue || FoldAttribute(o.value) == FoldAttribute(t.value), szWhat,
                       o.value, t.value);
            }
        }
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

    void Expect(bool bOk, const char* what, const CLuStringW& actual = CLuStringW(),
                const CLuStringW& expected = CLuStringW()) {
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

// Compares one file with libxml2's reading of it; false when it was skipped:
// not UTF-8 (or ASCII), not well-formed, or without a root element.
bool CompareWithLibxml2(const std::string& file, OracleCounts& counts) {
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<wchar_t> units;
    const size_t nSkip = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;  // a BOM is no text
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    if ((!in.good() && !in.eof()) || !ctxt ||
        !DecodeUtf8(bytes.data() + nSkip, bytes.size() - nSkip, units)) {
        xmlFreeParserCtxt(ctxt);
        return false;
    }
    xmlDocPtr xdoc =
        xmlCtxtReadMemory(ctxt, bytes.data(), static_cast<int>(bytes.size()), file.c_str(), nullptr,
                          XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    const bool bWellFormed = xdoc && ctxt->wellFormed && ctxt->nsWellFormed;
    xmlFreeParserCtxt(ctxt);
    const xmlChar* enc = xdoc ? xdoc->encoding : nullptr;
    if (!bWellFormed || !xmlDocGetRootElement(xdoc) ||
        !(!enc || !xmlStrcasecmp(enc, BAD_CAST "utf-8") ||
          !xmlStrcasecmp(enc, BAD_CAST "us-ascii") || !xmlStrcasecmp(enc, BAD_CAST "ascii"))) {
        xmlFreeDoc(xdoc);
        return false;
    }
    units.push_back(0);
    NavProbe doc;
    EXPECT_TRUE(doc.SetDoc(units.data())) << file << ": " << S(doc.GetError());
    if (doc.FindElem()) {
        OracleWalk(doc, file, counts).Element(xmlDocGetRootElement(xdoc), L"", true, 0);
        EXPECT_FALSE(doc.FindElem()) << file;
    } else {
        ADD_FAILURE() << file << ": no root element found";
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
        ASSERT_TRUE(bCompared || file != kMimePackage) << "libxml2 could not read " << file;
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
