#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "xml_probe.h"

using xml_test::Utf8;
using xml_test::XmlProbe;

namespace {

// One scanned node as "type:start:length", with "/" for an empty element.
std::vector<std::string> ScanAll(const wchar_t* text, std::string* meta = nullptr) {
    XmlProbe::TokenPos token(text, 0);
    XmlProbe::NodePos node;
    std::vector<std::string> nodes;
    for (;;) {
        const int nType = token.ScanNode(node);
        if (nType == -2) {
            EXPECT_EQ(node.nLength, 0);
            return nodes;
        }
        EXPECT_EQ(nType, node.nNodeType);
        EXPECT_EQ(token.m_nNext, node.nStart + node.nLength);
        std::string item = std::to_string(nType) + ":" + std::to_string(node.nStart) + ":" +
                           std::to_string(node.nLength);
        if (node.nNodeFlags & 0x10000) {
            item += "/";
        }
        nodes.push_back(item);
        if (meta) {
            *meta += Utf8(node.strMeta);
        }
    }
}

using Nodes = std::vector<std::string>;

TEST(XmlScan, NodeKinds) {
    EXPECT_EQ(ScanAll(L"<?xml version='1.0'?><!DOCTYPE r><r a=\"1\"><!-- c --><![CDATA[<x>]]>"
                      L"t &amp; u<e/> \r\n</r>"),
              (Nodes{"16:0:21", "64:21:12", "1:33:9", "32:42:10", "8:52:15", "2:67:9", "1:76:4/",
                     "4:80:3", "0:83:4"}));
    EXPECT_EQ(ScanAll(L""), Nodes{});
    EXPECT_EQ(ScanAll(L"  "), Nodes{"4:0:2"});
    EXPECT_EQ(ScanAll(L"x"), Nodes{"2:0:1"});
}

TEST(XmlScan, TextEndsBehindAGreaterThanSign) {
    EXPECT_EQ(ScanAll(L"a > b"), (Nodes{"2:0:3", "2:3:2"}));
    // The ">" that turns white space into text does not end it.
    EXPECT_EQ(ScanAll(L"  > b<a/>"), (Nodes{"2:0:5", "1:5:4/"}));
}

TEST(XmlScan, NamesAndMatching) {
    XmlProbe::TokenPos token(L"<Item a='1'/></item\t>< b>", XmlProbe::DocFlagIgnoreCase);
    XmlProbe::NodePos node;
    token.ScanNode(node);
    EXPECT_EQ(Utf8(token.TokenText()), "Item");
    for (const wchar_t* name : {L"item", L"ITEM/child", L"Item[2]", L"Item=x", L"Item]"}) {
        EXPECT_TRUE(token.MatchName(name)) << Utf8(name);
    }
    EXPECT_FALSE(token.MatchName(L"Items"));
    EXPECT_FALSE(token.MatchName(L"Ite"));
    EXPECT_FALSE(token.MatchName(nullptr));
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

TEST(XmlScan, QuotesInStartTags) {
    // Only a quote after "=" opens a value; ">" inside it does not end the tag.
    EXPECT_EQ(ScanAll(L"<a b = \"x>y\" c='>'>"), Nodes{"1:0:19"});
    EXPECT_EQ(ScanAll(L"<a b\"x>y\">"), (Nodes{"1:0:7", "2:7:3"}));
    EXPECT_EQ(ScanAll(L"<a b='x\"y>'/>"), Nodes{"1:0:13/"});
    // Unquoted values end at white space; a "/" in them keeps the tag open.
    EXPECT_EQ(ScanAll(L"<a b=x/>"), Nodes{"1:0:8"});
    EXPECT_EQ(ScanAll(L"<a b=x />"), Nodes{"1:0:9/"});
    EXPECT_EQ(ScanAll(L"<a b='x'/>"), Nodes{"1:0:10/"});
    EXPECT_EQ(ScanAll(L"<a b=/>"), Nodes{"1:0:7"});
    EXPECT_EQ(ScanAll(L"<a b==x/>"), Nodes{"1:0:9"});
    EXPECT_EQ(ScanAll(L"<a/>"), Nodes{"1:0:4/"});
    EXPECT_EQ(ScanAll(L"<a / >"), Nodes{"1:0:6"});
    // End tags track no quotes.
    EXPECT_EQ(ScanAll(L"</a '>'"), (Nodes{"0:0:6", "2:6:1"}));
}

TEST(XmlScan, Terminators) {
    EXPECT_EQ(ScanAll(L"<!-- a > b -- > -->x"), (Nodes{"32:0:19", "2:19:1"}));
    EXPECT_EQ(ScanAll(L"<![CDATA[ ]> ]]]>x"), (Nodes{"8:0:17", "2:17:1"}));
    EXPECT_EQ(ScanAll(L"<?pi a > b ?>x"), (Nodes{"16:0:13", "2:13:1"}));
    // The terminator is tested only where the ">" lies beyond its length.
    EXPECT_EQ(ScanAll(L"<?>?>"), Nodes{"16:0:5"});
    EXPECT_EQ(ScanAll(L" <?>"), (Nodes{"4:0:1", "16:1:3"}));
    EXPECT_EQ(ScanAll(L"<!-->"), Nodes{"32:0:5"});
}

TEST(XmlScan, DocumentTypeHoldsItsDeclarations) {
    const wchar_t* text =
        L"<!DOCTYPE r [\n<!ENTITY e \"a>b\">\n<!-- > -->\n<?p > ?>\n<!ATTLIST r a CDATA '>'>\n]>"
        L"<r/>";
    EXPECT_EQ(ScanAll(text), (Nodes{"64:0:79", "1:79:4/"}));
    std::string meta;
    EXPECT_EQ(ScanAll(L"<!DOCTYPE r [<!x> y]><r/>", &meta), (Nodes{"64:0:21", "1:21:4/"}));
    EXPECT_EQ(meta, "<doctype_tag_syntax offset=\"0\"/>");
    // Inside a document type, "<" ends an error node and with it the scan.
    meta.clear();
    EXPECT_EQ(ScanAll(L"<!DOCTYPE r [<!x <!ENTITY", &meta), (Nodes{"-1:0:17", "-1:17:8"}));
    EXPECT_EQ(meta,
              "<doctype_tag_syntax offset=\"0\"/>"
              "<exclamation_tag_syntax offset=\"17\"/>"
              "<unterminated_tag_syntax type=\"tag\" offset=\"17\"/>");
}

TEST(XmlScan, ErrorNodes) {
    std::string meta;
    EXPECT_EQ(ScanAll(L"<1 a='<'>x", &meta), (Nodes{"-1:0:6", "-1:6:3", "2:9:1"}));
    EXPECT_EQ(meta,
              "<first_tag_syntax offset=\"0\"/>"
              "<first_tag_syntax offset=\"6\"/>");
    meta.clear();
    EXPECT_EQ(ScanAll(L"<!x a=\"'>'\">y", &meta), (Nodes{"-1:0:12", "2:12:1"}));
    EXPECT_EQ(meta, "<exclamation_tag_syntax offset=\"0\"/>");
}

}  // namespace
