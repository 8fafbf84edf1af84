#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "xml_probe.h"

using xml_test::Utf8;
using xml_test::XmlProbe;

namespace {

// The scanned nodes as "type:start:length", with "/" for an empty element,
// then " | " and the error records of the scan if there are any.
std::string ScanAll(const wchar_t* text) {
    XmlProbe::TokenPos token(text, 0);
    XmlProbe::NodePos node;
    std::string nodes, meta;
    for (int nType; (nType = token.ScanNode(node)) != -2;) {
        EXPECT_EQ(nType, node.nNodeType);
        EXPECT_EQ(token.m_nNext, node.nStart + node.nLength);
        nodes += (nodes.empty() ? "" : " ") + std::to_string(nType) + ":" +
                 std::to_string(node.nStart) + ":" + std::to_string(node.nLength) +
                 (node.nNodeFlags & 0x10000 ? "/" : "");
        meta += Utf8(node.strMeta);
    }
    EXPECT_EQ(node.nLength, 0);
    return meta.empty() ? nodes : nodes + " | " + meta;
}

TEST(XmlScan, NodesAndWhereTheyEnd) {
    const std::pair<const wchar_t*, const char*> cases[] = {
        {L"<?xml version='1.0'?><!DOCTYPE r><r a=\"1\"><!-- c --><![CDATA[<x>]]>"
         L"t &amp; u<e/> \r\n</r>",
         "16:0:21 64:21:12 1:33:9 32:42:10 8:52:15 2:67:9 1:76:4/ 4:80:3 0:83:4"},
        {L"", ""},
        {L"  ", "4:0:2"},
        {L"x", "2:0:1"},
        // Text ends behind a ">"; the ">" that turns white space into text does not end it.
        {L"a > b", "2:0:3 2:3:2"},
        {L"  > b<a/>", "2:0:5 1:5:4/"},
        // Only a quote after "=" opens a value; ">" inside it does not end the tag.
        {L"<a b = \"x>y\" c='>'>", "1:0:19"},
        {L"<a b\"x>y\">", "1:0:7 2:7:3"},
        {L"<a b='x\"y>'/>", "1:0:13/"},
        // Unquoted values end at white space; a "/" in them keeps the tag open.
        {L"<a b=x/>", "1:0:8"},
        {L"<a b=x />", "1:0:9/"},
        {L"<a b='x'/>", "1:0:10/"},
        {L"<a b=/>", "1:0:7"},
        {L"<a b==x/>", "1:0:9"},
        {L"<a/>", "1:0:4/"},
        {L"<a / >", "1:0:6"},
        {L"</a '>'", "0:0:6 2:6:1"},  // end tags track no quotes
        // Terminators, tested only where the ">" lies beyond their length.
        {L"<!-- a > b -- > -->x", "32:0:19 2:19:1"},
        {L"<![CDATA[ ]> ]]]>x", "8:0:17 2:17:1"},
        {L"<?pi a > b ?>x", "16:0:13 2:13:1"},
        {L"<?>?>", "16:0:5"},
        {L" <?>", "4:0:1 16:1:3"},
        {L"<!-->", "32:0:5"},
        // A document type holds its declarations.
        {L"<!DOCTYPE r [\n<!ENTITY e \"a>b\">\n<!-- > -->\n<?p > ?>\n<!ATTLIST r a CDATA '>'>\n]>"
         L"<r/>",
         "64:0:79 1:79:4/"},
        {L"<!DOCTYPE r [<!x> y]><r/>", "64:0:21 1:21:4/ | <doctype_tag_syntax offset=\"0\"/>"},
        // Inside a document type, "<" ends an error node and with it the scan.
        {L"<!DOCTYPE r [<!x <!ENTITY",
         "-1:0:17 -1:17:8 | <doctype_tag_syntax offset=\"0\"/><exclamation_tag_syntax "
         "offset=\"17\"/><unterminated_tag_syntax type=\"tag\" offset=\"17\"/>"},
        // Error nodes.
        {L"<1 a='<'>x",
         "-1:0:6 -1:6:3 2:9:1 | <first_tag_syntax offset=\"0\"/><first_tag_syntax offset=\"6\"/>"},
        {L"<!x a=\"'>'\">y", "-1:0:12 2:12:1 | <exclamation_tag_syntax offset=\"0\"/>"},
    };
    for (const auto& [szText, szNodes] : cases) {
        EXPECT_EQ(ScanAll(szText), szNodes) << Utf8(szText);
    }
}

TEST(XmlScan, NamesAndMatching) {
    XmlProbe::TokenPos token(L"<Item a='1'/></item\t>< b>", XmlProbe::DocFlagIgnoreCase);
    XmlProbe::NodePos node;
    token.ScanNode(node);
    EXPECT_EQ(Utf8(token.TokenText()), "Item");
    for (const wchar_t* name : {L"item", L"ITEM/child", L"Item[2]", L"Item=x", L"Item]"}) {
        EXPECT_TRUE(token.MatchName(name)) << Utf8(name);
    }
    EXPECT_FALSE(token.MatchName(L"Items") || token.MatchName(L"Ite") || token.MatchName(nullptr));
    token.m_nTokenFlags = 0;
    EXPECT_FALSE(token.MatchName(L"item"));
    token.ScanNode(node);
    EXPECT_EQ(node.nNodeType, 0);
    EXPECT_EQ(Utf8(token.TokenText()), "item");
    token.ScanNode(node);  // "<" then a space: an error node
    EXPECT_EQ(node.nNodeType, -1);
}

TEST(XmlScan, NameComparison) {
    EXPECT_TRUE(XmlProbe::x_NamesEqual(L"AbC", L"aBc", 3, true));
    EXPECT_FALSE(XmlProbe::x_NamesEqual(L"AbC", L"aBc", 3, false));
    EXPECT_FALSE(XmlProbe::x_NamesEqual(L"a@", L"a`", 2, true));  // not letters
    EXPECT_TRUE(XmlProbe::x_NamesEqual(L"A\x00E9", L"a\x00E9", 2, true));
    EXPECT_FALSE(XmlProbe::x_NamesEqual(L"\u00E9A", L"\u00E9a", 2, true));
    EXPECT_FALSE(XmlProbe::x_NamesEqual(L"\x00C9", L"\x00E9", 1, true));  // ASCII only
}

TEST(XmlScan, SkipToTag) {
    XmlProbe::TokenPos token(L" \t\r\n<a>  ", 0);
    EXPECT_TRUE(token.SkipToTag(0));
    EXPECT_EQ(token.m_nNext, 4);
    EXPECT_EQ(token.Length(), 0);
    EXPECT_FALSE(token.SkipToTag(7));
    EXPECT_EQ(token.m_nNext, 9);
}

}  // namespace
