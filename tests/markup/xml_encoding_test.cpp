// UTF-8/UTF-16 coding, UTF-8 detection, declared encodings and the name table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <random>
#include <utility>
#include <string>
#include <vector>

#include "encoding_names.h"  // written by the table's generator
#include "markup/xml_internal.h"
#include "xml_probe.h"

namespace {

using Units = std::vector<unsigned short>;

// The oracle for the converters: one character at a time through the
// decoders, "?" for a bad sequence, stopping at a 0 byte.
Units DecodeEach(const std::string& bytes) {
    Units units;
    const char* p = bytes.data();
    const char* const pEnd = p + bytes.size();
    while (p < pEnd && *p) {
        int nChar = CXmlDoc::DecodeCharUTF8(p, pEnd);
        int n = 0;
        unsigned short pair[2];
        CXmlDoc::EncodeCharUTF16(nChar == -1 ? '?' : nChar, pair, n);
        units.insert(units.end(), pair, pair + n);
    }
    return units;
}

// Converts into a buffer of the units counted and a terminator; nothing may
// be written past them.
Units Utf8To16(const std::string& bytes, int* pnConsumed = nullptr) {
    const int nCount = static_cast<int>(bytes.size());
    const int nUnits = CXmlDoc::UTF8To16(nullptr, bytes.data(), nCount);
    Units units(static_cast<size_t>(nUnits) + 1 + 64, 0xFFFF);
    const int nConsumed = CXmlDoc::UTF8To16(units.data(), bytes.data(), nCount);
    if (pnConsumed) {
        *pnConsumed = nConsumed;
    }
    if (bytes.find('\0') != std::string::npos) {  // copied as the terminator
        EXPECT_EQ(units[static_cast<size_t>(nUnits)], 0);
    }
    EXPECT_EQ(Units(units.begin() + nUnits + 1, units.end()), Units(64, 0xFFFF));
    units.resize(static_cast<size_t>(nUnits));
    return units;
}

TEST(XmlEncoding, EncodersWriteTheSpecifiedForms) {
    struct Case {
        int nChar;
        std::string utf8;
        Units utf16;
    } const cases[] = {
        {0x41, "A", {0x41}},
        {0xE9, "\xC3\xA9", {0xE9}},
        {0x7FF, "\xDF\xBF", {0x7FF}},
        {0x20AC, "\xE2\x82\xAC", {0x20AC}},
        {0xFFFF, "\xEF\xBF\xBF", {0xFFFF}},
        {0x10000, "\xF0\x90\x80\x80", {0xD800, 0xDC00}},
        {0x1F600, "\xF0\x9F\x98\x80", {0xD83D, 0xDE00}},
        {0x10FFFF, "\xF4\x8F\xBF\xBF", {0xDBFF, 0xDFFF}},
    };
    for (const Case& c : cases) {
        char szUtf8[8] = {};
        int nLen = 1;  // writes at the offset given, and advances it
        CXmlDoc::EncodeCharUTF8(c.nChar, szUtf8, nLen);
        EXPECT_EQ(std::string(szUtf8 + 1, nLen - 1), c.utf8) << c.nChar;
        int nCount = 0;
        CXmlDoc::EncodeCharUTF8(c.nChar, nullptr, nCount);
        EXPECT_EQ(nCount, static_cast<int>(c.utf8.size()));
        unsigned short units[2];
        int nUnits = 0;
        CXmlDoc::EncodeCharUTF16(c.nChar, units, nUnits);
        EXPECT_EQ(Units(units, units + nUnits), c.utf16) << c.nChar;
    }
}

TEST(XmlEncoding, Utf8DecoderIsLenientAsSpecified) {
    struct Case {
        std::string bytes;
        int nChar;
        int nAdvance;
    } const cases[] = {
        {"\xC0\x80", 0, 2},                // overlong forms are accepted
        {"\xE0\x80\xAF", 0x2F, 3},         //
        {"\x85\x81", 0x141, 2},            // 0x80-0xB7 read as lead bytes
        {"\xA1\x80\x80", 0x1000, 3},       // 0x20 set: two more
        {"\xB1\x80\x80\x80", 0x40000, 4},  // 0x30 set: three more
        {"\xB8\x80\x80\x80", -1, 1},       // 0xB8-0xBF fail as 0xF8-0xFF do
        {"\xBF", -1, 1},
        {"\xF8\x88\x80\x80\x80", -1, 1},
        {"\xFF", -1, 1},
        {"\xC3", -1, 1},      // cut off: the pointer stops at the end
        {"\xE2\x82", -1, 2},  //
        {"\xC3\x41", -1, 1},  // "A", a low byte, is left to be read next
        {"\xED\xA0\x80", 0xD800, 3},
    };
    for (const Case& c : cases) {
        const char* p = c.bytes.data();
        EXPECT_EQ(CXmlDoc::DecodeCharUTF8(p, p + c.bytes.size()), c.nChar) << c.bytes;
        EXPECT_EQ(p - c.bytes.data(), c.nAdvance) << c.bytes;
    }
}

TEST(XmlEncoding, Utf16DecoderPairsAnySurrogate) {
    struct Case {
        Units units;  // without the end; a 0 is appended
        int nChar;
        int nAdvance;
    } const cases[] = {
        {{0xD83D, 0xDE00}, 0x1F600, 2},
        {{0xDE00, 0xD83D}, ((0xDE00 & 0x3FF) << 10 | (0xD83D & 0x3FF)) + 0x10000, 2},
        {{0xD800, 0x41}, 0x10041, 2},  // whatever the second unit is
        {{0xD800}, -1, 1},             // before the 0
        {{0xFFFF}, 0xFFFF, 1},
    };
    for (const Case& c : cases) {
        Units units = c.units;
        units.push_back(0);
        const unsigned short* p = units.data();
        EXPECT_EQ(CXmlDoc::DecodeCharUTF16(p, nullptr), c.nChar);
        EXPECT_EQ(p - units.data(), c.nAdvance);
    }
    const Units lone = {0xD83D, 0xDE00};
    const unsigned short* p = lone.data();
    EXPECT_EQ(CXmlDoc::DecodeCharUTF16(p, p + 1), -1) << "a surrogate at the end";
}

// The oracle of the well-formed decoder: the units of the sequences before
// the first that is not well-formed UTF-8, and the bytes they take.
std::pair<std::wstring, size_t> DecodeWellFormed(const std::string& bytes) {
    std::wstring text;
    const char* p = bytes.data();
    const char* const pEnd = p + bytes.size();
    while (p < pEnd && *p) {
        const unsigned nLead = static_cast<unsigned char>(*p);
        const ptrdiff_t nLength = nLead < 0x80                     ? 1
                                  : nLead >= 0xC2 && nLead <= 0xDF ? 2
                                  : nLead >= 0xE0 && nLead <= 0xEF ? 3
                                  : nLead >= 0xF0 && nLead <= 0xF4 ? 4
                                                                   : 0;
        if (!nLength || pEnd - p < nLength ||
            std::any_of(p + 1, p + nLength, [](char c) { return (c & 0xC0) != 0x80; })) {
            break;
        }
        const char* q = p;
        const int nChar = CXmlDoc::DecodeCharUTF8(q, pEnd);
        if ((nLength == 3 && nChar < 0x800) || (nChar & 0xFFF800) == 0xD800 ||
            (nLength == 4 && (nChar < 0x10000 || nChar > 0x10FFFF))) {
            break;
        }
        unsigned short pair[2];
        int n = 0;
        CXmlDoc::EncodeCharUTF16(nChar, pair, n);
        text.append(pair, pair + n);
        p = q;
    }
    return {text, static_cast<size_t>(p - bytes.data())};
}

// Both decoding paths: the widest the processor runs and the portable one.
class Utf8Paths : public testing::TestWithParam<bool> {
protected:
    void SetUp() override { vidozir::xml::AllowWideUtf8(GetParam()); }
    void TearDown() override { vidozir::xml::AllowWideUtf8(true); }
};

INSTANTIATE_TEST_SUITE_P(XmlEncoding, Utf8Paths, testing::Bool());

TEST_P(Utf8Paths, FastPathsAgreeWithTheDecoders) {
    // ASCII runs of every length before and after each kind of sequence,
    // so that every block boundary of the wide path is crossed; text of
    // other scripts (single spaces between, a lone lead byte); a 0 byte
    // after such text, which must not be written past. Bad sequences become
    // "?"; a 0 byte ends the conversion, and so does the count.
    EXPECT_EQ(CXmlDoc::UTF8To16(nullptr, "abc", 0), 0);
    std::string script;
    for (int n = 0; n < 30; ++n) {
        script += "\xD0\xBF\xD1\x80 \xE6\x97\xA5\xF0\x9F\x98\x80 \xC3\xA9\xC3!\xE0\x80";
    }
    const std::string pieces[] = {"\xC3\xA9",   "\xE6\x97\xA5", "\xF0\x9F\x98\x80",   "\xFF",
                                  "\x85\x81",   "\xC3",         std::string("\0", 1), script,
                                  script + '\0'};
    for (const std::string& piece : pieces) {
        for (int nBefore = 0; nBefore < 300; nBefore += 11) {
            std::string text(static_cast<size_t>(nBefore), 'x');
            text += piece;
            text += std::string(static_cast<size_t>(nBefore * 7 % 200), 'y');  // none at first
            int nConsumed = 0;
            EXPECT_EQ(Utf8To16(text, &nConsumed), DecodeEach(text)) << nBefore;
            EXPECT_EQ(static_cast<size_t>(nConsumed),
                      text.find('\0') < text.size() ? text.find('\0') : text.size());
        }
    }
    // Random mixes of every kind of sequence, good and bad, so that each
    // lands at every offset of a block, whole or cut by the block's end;
    // read leniently and as well-formed text (the forms at the edges of what
    // is well-formed among them).
    const std::string kinds[] = {"\xC3\xA9",     "\xE6\x97\xA5", "\xF0\x9F\x98\x80",
                                 "\xC0\x80",     "\xC1\xBF",     "\xE0\x80\x80",
                                 "\xE0\xA0\x80", "\xED\x9F\xBF", "\xED\xA0\x80",
                                 "\xED\xBF\xBF", "\xEE\x80\x80", "\xF4\x90\x80\x80",
                                 "\x85",         "\xC3",         "\xFF",
                                 "\xEF\xBF",     "\xB9"};
    constexpr unsigned kKinds = sizeof(kinds) / sizeof(kinds[0]);
    std::mt19937 rng(15);
    for (int nText = 0; nText < 3000; ++nText) {
        std::string text;
        while (text.size() < 40 + nText % 160) {
            const unsigned nPick = rng() % (2 * kKinds);
            text += nPick < kKinds ? kinds[nPick]
                                   : std::string(rng() % (nPick < kKinds + 12 ? 4 : 40) + 1, 'a');
        }
        if (nText % 10 == 0) {
            text.insert(rng() % text.size(), 1, '\0');
        }
        EXPECT_EQ(Utf8To16(text), DecodeEach(text)) << nText;
        std::wstring units(text.size(), L'\xFFFF');
        int nUnits = 0;
        const int nBytes = vidozir::xml::DecodeWellFormedUtf8(
            text.data(), static_cast<int>(text.size()), &units[0], nUnits);
        units.resize(static_cast<size_t>(nUnits));
        EXPECT_EQ(std::make_pair(units, static_cast<size_t>(nBytes)), DecodeWellFormed(text))
            << nText;
    }
}

TEST(XmlEncoding, Utf16To8NeverSplitsACharacter) {
    const unsigned short text[] = {'a', 0x20AC, 0xD83D, 0xDE00, 'b', 0};
    EXPECT_EQ(CXmlDoc::UTF16To8(nullptr, text, 0), 1 + 3 + 4 + 1);
    // Room for so many bytes, what is written: the 0 only when there is room left.
    const std::pair<int, int> cases[] = {{0, 0}, {1, 1}, {3, 1}, {4, 4},
                                         {7, 4}, {8, 8}, {9, 9}, {20, 9}};
    for (const auto& [nRoom, nWritten] : cases) {
        char buffer[24];
        std::memset(buffer, 0x7F, sizeof(buffer));
        EXPECT_EQ(CXmlDoc::UTF16To8(buffer, text, nRoom), nWritten) << nRoom;
        EXPECT_EQ(buffer[nWritten], nWritten < nRoom ? 0 : 0x7F) << nRoom;
    }
    const unsigned short lone[] = {'x', 0xD800, 0};
    char buffer[8];
    EXPECT_EQ(CXmlDoc::UTF16To8(buffer, lone, 8), 2);
    EXPECT_STREQ(buffer, "x?");
}

TEST(XmlEncoding, DetectUtf8) {
    struct Case {
        std::string bytes;
        bool bValid;
        int nNonASCII;
        bool bAtEnd;
    } const cases[] = {
        {"plain", true, 0, false},
        {"caf\xC3\xA9 \xE6\x97\xA5", true, 2, false},
        {"\xC3", false, 1, true},
        {"ab\xE6\x97", false, 1, true},
        {"\xC3\x61", false, 1, false},  // a lead byte, then "a"
        {"\xC3\xA9\xBF", false, 2, false},
        {"\xC0\x80 overlong", true, 1, false},
        {std::string("ok\0\xFF", 4), true, 0, false},  // stops at a 0 byte
    };
    for (const Case& c : cases) {
        int nNonASCII = -1;
        bool bAtEnd = !c.bAtEnd;
        EXPECT_EQ(CXmlDoc::DetectUTF8(c.bytes.data(), static_cast<int>(c.bytes.size()), &nNonASCII,
                                      &bAtEnd),
                  c.bValid)
            << c.bytes;
        EXPECT_EQ(nNonASCII, c.nNonASCII) << c.bytes;
        EXPECT_EQ(bAtEnd, c.bAtEnd) << c.bytes;
    }
    // Long ASCII runs around a bad byte, as the fast path sees them.
    std::string run(100, 'a');
    run[70] = '\xFF';
    EXPECT_FALSE(CXmlDoc::DetectUTF8(run.data(), 100));
    EXPECT_TRUE(CXmlDoc::DetectUTF8(run.data(), 70));
}

TEST(XmlEncoding, DeclaredEncoding) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"<?xml version=\"1.0\" encoding=\"windows-1252\"?><a/>", L"windows-1252"},
        {L"<?XML encoding='gb2312' version='1.0'?>", L"gb2312"},
        {L"<?xml version=\"1.0\"?><a/>", L""},
        {L" <?xml version=\"1.0\" encoding=\"x\"?>", L""},  // not at offset 0
        {L"<a/><?xml encoding=\"x\"?>", L""},
        {L"<html><head><meta http-equiv=\"content-type\" content=\"text/html; charset=gb2312\">",
         L"gb2312"},
        {L"<HTML><META HTTP-EQUIV='Content-Type' CONTENT='text/html;CharSet = koi8-r'></HTML>",
         L"koi8-r"},
        {L"<html><meta name=x><meta http-equiv=\"Content-Type\" content=\"text/html\">"
         L"<meta http-equiv=\"Content-Type\" content=\"charset=utf-8\">",
         L""},  // the scan ends with the first Content-Type meta
        {L"<html><head></head><meta http-equiv=\"Content-Type\" content=\"charset=x\">", L""},
        {L"<body><meta http-equiv=\"Content-Type\" content=\"charset=x\">", L""},
        {L"<html><meta http-equiv=\"Content-Type\" content=\"text/html; charset=\">", L""},
        {L"", L""},
    };
    for (const auto& [szDoc, szEncoding] : cases) {
        EXPECT_EQ(CXmlDoc::GetDeclaredEncoding(szDoc), szEncoding) << xml_test::Utf8(szDoc);
    }
    EXPECT_EQ(CXmlDoc::GetDeclaredEncoding(XML_CSTR()), L"");
}

TEST(XmlEncoding, CodePageLookups) {
    const std::pair<const wchar_t*, int> cases[] = {
        {L"ISO-8859-1", 28591}, {L"UTF-32", 65005}, {L"utf-32", 12000},  {L"Utf-32", 12000},
        {L"x-unknown", -1},     {L"", 0},           {L"UTF-8", 65001},   {L"cp1256 ", 1256},
        {L"cp1256  ", -1},      {L"utf-8 ", -1},    {L"Shift_JIS", 932}, {L"\u00e9", -1},
    };
    for (const auto& [szName, nCodePage] : cases) {
        EXPECT_EQ(CXmlDoc::GetEncodingCodePage(szName), nCodePage) << xml_test::Utf8(szName);
    }
    EXPECT_EQ(CXmlDoc::GetEncodingCodePage(XML_CSTR()), 0);
    // Names of 100 characters or more are not looked up.
    const std::wstring longName = L"utf-8" + std::wstring(95, L' ');
    EXPECT_EQ(CXmlDoc::GetEncodingCodePage(longName.c_str()), -1);
}

TEST(XmlEncoding, EveryTableNameMapsToItsCodePage) {
    int nNames = 0;
    for (const EncodingNameEntry& entry : kEncodingNames) {
        ++nNames;
        EXPECT_EQ(CXmlDoc::GetEncodingCodePage(entry.szName), entry.nCodePage)
            << xml_test::Utf8(entry.szName);
        std::wstring upper(entry.szName);
        std::transform(upper.begin(), upper.end(), upper.begin(), ::towupper);  // ASCII names
        if (upper != L"UTF-32") {
            EXPECT_EQ(CXmlDoc::GetEncodingCodePage(upper.c_str()), entry.nCodePage);
        }
    }
    EXPECT_EQ(nNames, 365);
}

}  // namespace
