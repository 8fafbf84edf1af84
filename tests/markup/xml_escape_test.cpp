#include <gtest/gtest.h>

#include <set>

#include "html_entities.h"
#include "xml_probe.h"

using xml_test::Utf8;
using xml_test::XmlProbe;

namespace {

CLuStringW Unescape(const wchar_t* text, int nFlags = 0) {
    return CXmlDoc::UnescapeText(text, -1, nFlags);
}

TEST(XmlEscape, MarkupCharactersAreEscaped) {
    EXPECT_EQ(CXmlDoc::EscapeText(L"a<b & c>", 0), L"a&lt;b &amp; c&gt;");
    EXPECT_EQ(CXmlDoc::EscapeText(L"\"q\" 'a'", 0), L"\"q\" 'a'");
    EXPECT_EQ(CXmlDoc::EscapeText(L"\"q\" 'a'", CXmlDoc::NodeEscapeQuotes),
              L"&quot;q&quot; &apos;a&apos;");
    EXPECT_EQ(CXmlDoc::EscapeText(L"", 0), L"");
    EXPECT_EQ(CXmlDoc::EscapeText(L"\xD83D\xDE00\x00E9", 0), L"\xD83D\xDE00\x00E9");
}

TEST(XmlEscape, ReferencesKeptWithNodeWithRefs) {
    EXPECT_EQ(CXmlDoc::EscapeText(L"&amp; & &#65; &x", CXmlDoc::NodeWithRefs),
              L"&amp; &amp; &#65; &amp;x");
    EXPECT_EQ(CXmlDoc::EscapeText(L"&a-b.c:d_\x00E9;&;&1;&_x;", CXmlDoc::NodeWithRefs),
              L"&a-b.c:d_\x00E9;&amp;;&amp;1;&_x;");
    // "#" only right after the "&".
    EXPECT_EQ(CXmlDoc::EscapeText(L"&a#b; &#x41; &##1;", CXmlDoc::NodeWithRefs),
              L"&amp;a#b; &#x41; &amp;##1;");
    EXPECT_EQ(CXmlDoc::EscapeText(L"&amp;", 0), L"&amp;amp;");
}

TEST(XmlEscape, OutputGrowsForLongRunsOfEscapes) {
    CLuStringW text, expected;
    for (int n = 0; n < 5000; ++n) {
        text += L"<&";
        expected += L"&lt;&amp;";
    }
    EXPECT_EQ(CXmlDoc::EscapeText(text, 0), expected);
    CLuStringW refs, expectedRefs;
    for (int n = 0; n < 300; ++n) {
        refs += L"&averyveryverylongentityname;";
    }
    EXPECT_EQ(CXmlDoc::EscapeText(L"<" + refs, CXmlDoc::NodeWithRefs), L"&lt;" + refs);
}

TEST(XmlUnescape, EntitiesAndNumbers) {
    EXPECT_EQ(Unescape(L"6&gt;7 &#60; &#x263a; &#X41;"), L"6>7 < \x263A A");
    EXPECT_EQ(Unescape(L"&lt;&amp;&quot;&apos;&AMP;&Amp;"), L"<&\"'&&");
    EXPECT_EQ(Unescape(L"&nosuch; &amp"), L"&nosuch; &amp");
    EXPECT_EQ(Unescape(L"&#128512;"), L"\xD83D\xDE00");
    EXPECT_EQ(Unescape(L"&#x10FFFF;"), L"\xDBFF\xDFFF");
    EXPECT_EQ(Unescape(L"&#0; &#; &#x; &#xg1; &;"), L"&#0; &#; &#x; &#xg1; &;");
    // Digits run to the first one not of the base, as strtol reads them.
    EXPECT_EQ(Unescape(L"&#65x; &#x41z;"), L"A A");
    // References out of Unicode's range stay as written.
    EXPECT_EQ(Unescape(L"&#x110000; &#-65;"), L"&#x110000; &#-65;");
    // Non-ASCII characters never belong to a reference name.
    EXPECT_EQ(Unescape(L"&\x00E9;"), L"&\x00E9;");
    // Only the given length is read.
    EXPECT_EQ(CXmlDoc::UnescapeText(L"a&amp;b", 5, 0), L"a&amp");
    EXPECT_EQ(CXmlDoc::UnescapeText(L"a&amp;b", 6, 0), L"a&");
}

TEST(XmlUnescape, ReferenceNamesHaveAtMostNineCharacters) {
    EXPECT_EQ(Unescape(L"&#x0000041;"), L"A");              // 9 between "&" and ";"
    EXPECT_EQ(Unescape(L"&#x00000041;"), L"&#x00000041;");  // 10
    EXPECT_EQ(Unescape(L"&#000000065;"), L"&#000000065;");
    EXPECT_EQ(Unescape(L"&#00000065;"), L"A");
    EXPECT_EQ(Unescape(L"&thetasym;"), L"\x03D1");
    EXPECT_EQ(Unescape(L"&thetasymx;"), L"&thetasymx;");
}

TEST(XmlUnescape, EveryHtmlNameDecodesCapitalsFirst) {
    // The expectation is generated from Python's html.entities: 252 names,
    // 64 of them in two cases.
    ASSERT_EQ(sizeof(kHtmlEntities) / sizeof(kHtmlEntities[0]), 252u);
    EXPECT_EQ(kHtmlEntityPairs, 64);
    std::set<int> capitalisedWins;
    for (const HtmlEntity& entity : kHtmlEntities) {
        const CLuStringW name(entity.name);
        CLuStringW upper(name), lower(name);
        upper.MakeUpper();
        lower.MakeLower();
        for (const CLuStringW& spelling : {name, upper, lower}) {
            const CLuStringW decoded = Unescape(L"&" + spelling + L";");
            ASSERT_EQ(decoded.GetLength(), 1) << Utf8(spelling);
            EXPECT_EQ(static_cast<int>(decoded[0]), entity.decoded) << Utf8(spelling);
        }
        if (entity.decoded != entity.codepoint) {
            capitalisedWins.insert(entity.codepoint);
        }
    }
    EXPECT_EQ(capitalisedWins.size(), 64u);
    EXPECT_EQ(Unescape(L"&eacute;&Eacute;"), L"\x00C9\x00C9");
    EXPECT_EQ(Unescape(L"&apos;&APOS;"), L"''");
}

TEST(XmlUnescape, WhiteSpaceTrimmedOrCollapsed) {
    const wchar_t* text = L"  a \t b  ";
    EXPECT_EQ(Unescape(text), text);
    EXPECT_EQ(Unescape(text, CXmlDoc::DocFlagTrimWhitespace), L"a \t b");
    EXPECT_EQ(Unescape(text, CXmlDoc::DocFlagCollapseWhitespace), L"a b");
    EXPECT_EQ(Unescape(L"\r\n&#32; x\n\n&lt;\n", CXmlDoc::DocFlagCollapseWhitespace), L"  x <");
    EXPECT_EQ(Unescape(L" \t\r\n", CXmlDoc::DocFlagTrimWhitespace), L"");
}

TEST(XmlCdata, SectionsSplitAroundTheirTerminator) {
    EXPECT_EQ(XmlProbe::x_EncodeCDATASection(L"x]]>y"), L"<![CDATA[x]]]]><![CDATA[>y]]>");
    EXPECT_EQ(XmlProbe::x_EncodeCDATASection(L"]]>]]>"),
              L"<![CDATA[]]]]><![CDATA[>]]]]><![CDATA[>]]>");
    EXPECT_EQ(XmlProbe::x_EncodeCDATASection(L"a]]b>"), L"<![CDATA[a]]b>]]>");
    EXPECT_EQ(XmlProbe::x_EncodeCDATASection(L""), L"<![CDATA[]]>");
    EXPECT_EQ(XmlProbe::x_EncodeCDATASection(nullptr), L"<![CDATA[]]>");
}

}  // namespace
