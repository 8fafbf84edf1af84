// Load, Save, ReadTextFile and WriteTextFile: marks, nulls, byte order,
// declared and detected encodings, the result records, and Python's codecs as
// the oracle of every code page both sides know.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

#include "encoding_fixtures.h"  // generated with Python's codecs
#include "platform/win32.h"
#include "support/test_support.h"
#include "support/text.h"
#include "xml_probe.h"

namespace {

using Bytes = std::string;
using vidozir_test::W;

// A file in the test's folder, in Windows form (backslashes), which the
// library accepts on every platform.
std::wstring PathOf(const wchar_t* szName) {
    static const std::wstring folder =
        vidozir_test::WindowsForm(vidozir_test::MakeTempDir("xmlfile")) + L'\\';
    return folder + szName;
}

void WriteBytes(const std::wstring& path, const Bytes& bytes) {
    FILE* fp = _wfopen(path.c_str(), L"wb");
    ASSERT_NE(fp, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), fp), bytes.size());
    std::fclose(fp);
}

Bytes ReadBytes(const std::wstring& path) {
    Bytes bytes;
    if (FILE* fp = _wfopen(path.c_str(), L"rb")) {
        for (int c; (c = std::fgetc(fp)) != EOF;) {
            bytes += static_cast<char>(c);
        }
        std::fclose(fp);
    }
    return bytes;
}

// Text of BMP characters in a file's form.
enum class Form { Le, Be, Utf32Le };
Bytes Encode(const std::wstring& text, Form form) {
    Bytes out;
    for (wchar_t c : text) {
        const unsigned u = static_cast<unsigned>(c);
        char b[4] = {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8), 0, 0};
        if (form == Form::Be) {
            std::swap(b[0], b[1]);
        }
        out.append(b, form == Form::Utf32Le ? 4u : 2u);
    }
    return out;
}

// GetError of a result text made by the static file functions.
struct ResultReader : CXmlDoc {
    explicit ResultReader(const CLuStringW& strResult) { m_strResultText = strResult; }
};

const Bytes kUtf8Mark = "\xEF\xBB\xBF", kLeMark = "\xFF\xFE", kBeMark = "\xFE\xFF";

TEST(XmlFile, LoadReportsEveryStep) {
    struct Case {
        const char* szWhat;
        Bytes bytes;
        std::wstring text;
        int nMarkFlags;
        const wchar_t* szError;
        const wchar_t* szResult;
        bool bSameBytes = true;  // saving writes the file back as it was
    } const cases[] = {
        {"UTF-8 mark", kUtf8Mark + "<a/>", L"<a/>", CXmlDoc::DocFlagUtf8Preamble,
         L"BOM + UTF-8 length 4 to UTF-16 length 4",
         L"<bom/><read encoding=\"UTF-8\" length=\"4\"/>"
         L"<converted_to encoding=\"UTF-16\" length=\"4\"/>"},
        {"UTF-16LE mark", kLeMark + Encode(L"<a>\u00e9</a>", Form::Le), L"<a>\u00e9</a>",
         CXmlDoc::DocFlagUtf16LeFile, L"BOM + UTF-16LE length 8",
         L"<bom/><read encoding=\"UTF-16LE\" length=\"8\"/>"},
        {"UTF-16BE mark", kBeMark + Encode(L"<a>\u65e5</a>", Form::Be), L"<a>\u65e5</a>",
         CXmlDoc::DocFlagUtf16BeFile, L"BOM + UTF-16BE length 8 endian swap", nullptr},
        {"UTF-16LE, odd byte and nulls", kLeMark + Encode(L"<a/>", Form::Le) + Bytes(2, '\0') + "x",
         L"<a/>", CXmlDoc::DocFlagUtf16LeFile, L"BOM + UTF-16LE length 5 removed 1 nulls", nullptr,
         false},
        {"nulls", Bytes("<a>x\0y\0</a>", 11), L"<a>xy</a>", 0,
         L"UTF-8 length 11 removed 2 nulls to UTF-16 length 9", nullptr, false},
        {"windows-1252", "<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>\xE9\x80</a>",
         L"<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>\u00e9\u20ac</a>", 0,
         L"windows-1252 length 54 to UTF-16 length 54", nullptr},
        {"UTF-8 found by detection", " <a>\xC3\xA9</a>", L" <a>\u00e9</a>", 0,
         L"UTF-8 length 10 (used UTF-8 detection) to UTF-16 length 9",
         L"<read encoding=\"UTF-8\" length=\"10\"/><utf8_detection/>"
         L"<converted_to encoding=\"UTF-16\" length=\"9\"/>"},
        {"empty file", "", L"", 0, L"UTF-8 length 0 (used UTF-8 detection) to UTF-16 length 0",
         nullptr},
        {"mark only", kLeMark, L"", CXmlDoc::DocFlagUtf16LeFile, L"BOM + UTF-16LE length 0",
         nullptr},
        // Declared as the 32-bit code: read as the 8-bit text it must be.
        {"UTF-32 declared", "<?xml version=\"1.0\" encoding=\"UTF-32\"?><a>\xC3\xA9</a>",
         L"<?xml version=\"1.0\" encoding=\"UTF-32\"?><a>\u00e9</a>", 0,
         L"UTF-32 length 48 to UTF-16 length 47", nullptr, false},
        {"UTF-16 declared, no mark", "<?xml encoding=\"UTF-16\"?><a>\xC3\xA9</a>",
         L"<?xml encoding=\"UTF-16\"?><a>\u00e9</a>", 0, L"UTF-16 length 34 to UTF-16 length 33",
         nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.szWhat);
        const std::wstring path = PathOf(L"load.xml");
        WriteBytes(path, c.bytes);
        // The marks of an earlier file are forgotten; other flags stay.
        CXmlDoc doc(CXmlDoc::DocFlagIgnoreCase | CXmlDoc::DocFlagUtf16BeFile);
        EXPECT_EQ(doc.Load(path.c_str()), !c.text.empty());
        EXPECT_EQ(W(doc.GetDoc()), c.text);
        EXPECT_EQ(doc.GetDocFlags(), CXmlDoc::DocFlagIgnoreCase | c.nMarkFlags);
        EXPECT_EQ(W(doc.GetError()), c.szError);
        if (c.szResult) {
            EXPECT_EQ(W(doc.GetResult()), c.szResult);
        }
        // Saved back as it came.
        const std::wstring copy = PathOf(L"copy.xml");
        EXPECT_TRUE(doc.Save(copy.c_str()));
        if (c.bSameBytes) {
            EXPECT_EQ(ReadBytes(copy), c.bytes);
        }
    }
}

// Long texts, declared UTF-8 or undeclared, with what UTF-8 allows and what
// only the lenient decoder accepts (overlong forms, surrogates, values above
// U+10FFFF, bare continuation bytes), cut sequences and nulls: the text is
// what the platform's conversion makes of the bytes, and the encoding is the
// one DetectUTF8 finds.
TEST(XmlFile, Utf8FilesReadAsThePlatformConvertsThem) {
    const Bytes pieces[] = {"\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80",
                            "\xC0\x80",
                            "\xE0\x80\x80",
                            "\xED\xA0\x80",
                            "\xF4\x90\x80\x80",
                            "\x85\x81",
                            "\xC3",
                            Bytes("\0\xC3\xA9", 3)};
    const std::wstring path = PathOf(L"utf8.xml");
    for (const Bytes& piece : pieces) {
        for (const Bytes& head : {Bytes("<?xml encoding=\"UTF-8\"?><a>"), Bytes(" <a>")}) {
            // The reader takes 64 KiB at a time: some pieces straddle that.
            for (const size_t nAt : {size_t(150), size_t(65534), size_t(65535)}) {
                const Bytes bytes =
                    head + Bytes(nAt - head.size(), 'x') + piece + Bytes(150, 'y') + piece + "</a>";
                WriteBytes(path, bytes);
                CLuStringW strText, strResult;
                ASSERT_TRUE(
                    CXmlDoc::ReadTextFile(path.c_str(), strText, &strResult, nullptr, nullptr));
                Bytes data = bytes;
                data.erase(std::remove(data.begin(), data.end(), '\0'), data.end());
                const int nData = static_cast<int>(data.size());
                const bool bUtf8 = head[0] == '<' || CXmlDoc::DetectUTF8(data.data(), nData);
                std::wstring expected(data.size(), L'\0');
                expected.resize(static_cast<size_t>(MultiByteToWideChar(
                    bUtf8 ? CP_UTF8 : CP_ACP, 0, data.data(), nData, &expected[0], nData)));
                EXPECT_EQ(W(strText), expected) << piece << nAt;
                // Text that is not UTF-8 is read in the default code page.
                EXPECT_EQ(
                    W(strResult).find(bUtf8 ? L"<read encoding=\"UTF-8\"" : L"<read encoding=\"\""),
                    0u)
                    << piece << nAt;
            }
        }
    }
}

TEST(XmlFile, FailuresReportThePlatformsMessage) {
    CXmlDoc doc(L"<kept/>");
    EXPECT_FALSE(doc.Load(PathOf(L"missing.xml").c_str()));
    EXPECT_TRUE(doc.GetDoc().IsEmpty());
    CXmlDoc record(doc.GetResult());
    ASSERT_TRUE(record.FindElem(L"file_error")) << xml_test::Utf8(doc.GetResult());
    EXPECT_EQ(W(record.GetAttrib(L"n")), L"2");  // ENOENT and ERROR_FILE_NOT_FOUND alike
    const std::wstring msg = W(record.GetAttrib(L"msg"));
    EXPECT_FALSE(msg.empty());
    EXPECT_EQ(msg.find_first_of(L"\r\n"), std::wstring::npos);
    EXPECT_LE(msg.size(), 100u);
    EXPECT_EQ(W(doc.GetError()), msg);
    EXPECT_FALSE(doc.FindElem());

    doc.SetDoc(L"<a/>");
    EXPECT_FALSE(doc.Save(PathOf(L"no-such-folder\\a.xml").c_str()));
    EXPECT_NE(W(doc.GetResult()).find(L"<file_error msg=\""), std::wstring::npos);
    CLuStringW strText(L"x");
    EXPECT_FALSE(CXmlDoc::ReadTextFile(XML_CSTR(), strText));
    EXPECT_TRUE(strText.IsEmpty());
    // A streaming document neither loads nor saves.
    WriteBytes(PathOf(L"stream.xml"), "<a/>");
    CXmlDoc streaming(CXmlDoc::DocFlagReadFile);
    EXPECT_FALSE(streaming.Load(PathOf(L"stream.xml").c_str()) ||
                 streaming.Save(PathOf(L"stream.xml").c_str()));
    EXPECT_TRUE(streaming.GetResult().IsEmpty());
}

TEST(XmlFile, WritingConvertsAndReports) {
    struct Case {
        const char* szWhat;
        std::wstring text;
        int nFlags;
        const wchar_t* szEncoding;  // override, or null
        Bytes bytes;
        const wchar_t* szError;
    } const cases[] = {
        {"declared code page with a loss",
         L"<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>\u00e9\u65e5</a>", 0, nullptr,
         "<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>\xE9?</a>",
         L"UTF-16 length 54 to (chars lost in conversion!) windows-1252 length 54"},
        {"undeclared is UTF-8", L"<a>\u00e9</a>", 0, nullptr, "<a>\xC3\xA9</a>",
         L"UTF-16 length 8 to UTF-8 length 9"},
        {"override", L"<a>\u00e9</a>", 0, L"ISO-8859-1", "<a>\xE9</a>",
         L"UTF-16 length 8 to ISO-8859-1 length 8"},
        {"mark wins over override", L"<a/>", CXmlDoc::DocFlagUtf16BeFile, L"UTF-8",
         kBeMark + Encode(L"<a/>", Form::Be), L"BOM + endian swap UTF-16BE length 4"},
        {"UTF-8 mark first", L"<a/>", CXmlDoc::DocFlagUtf8Preamble | CXmlDoc::DocFlagUtf16LeFile,
         nullptr, kUtf8Mark + "<a/>", L"BOM + UTF-16 length 4 to UTF-8 length 4"},
        {"empty", L"", CXmlDoc::DocFlagUtf16LeFile, nullptr, kLeMark, L"BOM + UTF-16LE length 0"},
        {"UTF-16 named, no mark", L"<?xml encoding=\"UTF-16\"?><a/>", 0, nullptr,
         Encode(L"<?xml encoding=\"UTF-16\"?><a/>", Form::Le),
         L"UTF-16 length 29 to UTF-16 length 58"},
        {"UTF-16BE named, no mark", L"<?xml encoding=\"utf-16be\"?><a/>", 0, nullptr,
         Encode(L"<?xml encoding=\"utf-16be\"?><a/>", Form::Be),
         L"UTF-16 length 31 to utf-16be length 62"},
        {"UTF-32 as code points", L"<?xml encoding=\"UTF-32\"?>\xD83D\xDE00", 0, nullptr,
         Encode(L"<?xml encoding=\"UTF-32\"?>", Form::Utf32Le) + Bytes("\x00\xF6\x01\x00", 4),
         L"UTF-16 length 27 to UTF-32 length 104"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.szWhat);
        const std::wstring path = PathOf(L"write.xml");
        CLuStringW strResult(L"<old/>");
        int nFlags = c.nFlags | CXmlDoc::DocFlagIgnoreCase;
        CLuStringW strEncoding(c.szEncoding);
        const std::wstring text = c.text;
        EXPECT_TRUE(CXmlDoc::WriteTextFile(path.c_str(), CLuStringW(text.c_str()), &strResult,
                                           &nFlags, c.szEncoding ? &strEncoding : nullptr));
        EXPECT_EQ(ReadBytes(path), c.bytes);
        EXPECT_EQ(nFlags, c.nFlags | CXmlDoc::DocFlagIgnoreCase);
        ResultReader errors(strResult);
        EXPECT_EQ(W(errors.GetError()), c.szError) << xml_test::Utf8(strResult);
    }
}

// Where two sequences first differ, with their lengths; "" when they are equal.
template <typename Text>
std::string Differences(const Text& got, const Text& expected) {
    const auto at = std::mismatch(got.begin(), got.end(), expected.begin(), expected.end());
    return at.first == got.end() && at.second == expected.end()
               ? std::string()
               : "lengths " + std::to_string(got.size()) + "/" + std::to_string(expected.size()) +
                     ", first difference at " + std::to_string(at.first - got.begin());
}

// Stateful encodings: the encoder chooses where to switch state (ICU, for
// one, announces ISO-2022-KR and HZ at the very start), so a saved file is
// checked by reading it back rather than byte by byte.
bool IsStateful(int nCodePage) {
    return (nCodePage >= 50220 && nCodePage <= 50229) || nCodePage == 52936 || nCodePage == 65000;
}

// Where the platform's table knowingly differs from Python's. Python's cp950
// gives the kana of Big5's row C6 their Unicode characters; Windows and ICU
// keep them in the private use area. On Linux, ICU carries IBM's tables for
// these DOS code pages where Windows follows its own.
bool KnownDeviation(int nCodePage, unsigned nPython, unsigned nPlatform) {
    if (nCodePage == 950 && nPlatform >= 0xE000 && nPlatform <= 0xF8FF) {
        return true;
    }
    // Code page, Python's character, the platform's.
#if defined(_WIN32)
    // Windows's tables for the Mac pages, KOI8-U (its 21866 is KOI8-RU) and
    // ISO 8859-7/8 predate the revisions that Python follows.
    static const unsigned deviations[][3] = {
        {10000, 0x3A9, 0x2126}, {10006, 0x20AC, 0xAD},   {10006, 0xB7, 0x387},
        {10007, 0x490, 0xA2},   {10007, 0x491, 0x2202},  {10007, 0x20AC, 0xA4},
        {10079, 0x3A9, 0x2126}, {10079, 0x20AC, 0xA4},   {10081, 0x3A9, 0x2126},
        {21866, 0x255D, 0x45E}, {21866, 0x256C, 0x40E},  {28597, 0x2018, 0x2BD},
        {28597, 0x2019, 0x2BC}, {28597, 0x20AC, 0xF7C2}, {28597, 0x20AF, 0xF7C3},
        {28597, 0x37A, 0xF7C4}, {28598, 0xAF, 0x203E}};
#else
    static const unsigned deviations[][3] = {
        {437, 0xB5, 0x3BC},    {860, 0xB5, 0x3BC},   {861, 0xB5, 0x3BC},  {862, 0xB5, 0x3BC},
        {863, 0xB5, 0x3BC},    {865, 0xB5, 0x3BC},   {852, 0xAC, 0xFFFD}, {864, 0xFEC1, 0xFEC3},
        {864, 0xFEC5, 0xFEC7}, {864, 0x651, 0xFE7C}, {869, 0xB7, 0x387},  {869, 0x384, 0xB4},
        {1125, 0xB7, 0xF7},    {1125, 0x221A, 0xB1}};
#endif
    for (const unsigned* d : deviations) {
        if (d[0] == unsigned(nCodePage) && d[1] == nPython && d[2] == nPlatform) {
            return true;
        }
    }
    return false;
}

// Every code page of the name table that Python knows and the platform has:
// the file loads to what Python decodes, and saves back to the same bytes.
TEST(XmlFile, CodePagesAgreeWithPythonsCodecs) {
    std::string unavailable;
    int nChecked = 0;
    for (const EncodingFixture& fixture : kEncodingFixtures) {
        SCOPED_TRACE(fixture.szCodec);
        if (!IsValidCodePage(static_cast<UINT>(fixture.nCodePage))) {
            unavailable += " " + std::to_string(fixture.nCodePage);
            continue;
        }
        ++nChecked;
        const Bytes bytes(reinterpret_cast<const char*>(fixture.pBytes),
                          static_cast<size_t>(fixture.nBytes));
        const std::wstring path = PathOf(L"codepage.xml");
        WriteBytes(path, bytes);
        CXmlDoc doc;
        EXPECT_TRUE(doc.Load(path.c_str())) << xml_test::Utf8(doc.GetResult());
        const std::wstring text = W(doc.GetDoc());
        const std::wstring expected(fixture.pText, fixture.pText + fixture.nText);
        bool bDeviates = false;
        if (text.size() == expected.size()) {
            for (size_t n = 0; n < text.size(); ++n) {
                if (text[n] != expected[n] &&
                    KnownDeviation(fixture.nCodePage, static_cast<unsigned>(expected[n]),
                                   static_cast<unsigned>(text[n]))) {
                    bDeviates = true;
                } else {
                    EXPECT_EQ(text[n], expected[n]) << fixture.nCodePage << " at " << n;
                }
            }
        } else {
            ADD_FAILURE() << fixture.nCodePage << Differences(text, expected);
        }
        EXPECT_TRUE(doc.Save(path.c_str()));
        if (IsStateful(fixture.nCodePage) || bDeviates) {
            // Read back in the declared encoding (a leading state sequence
            // hides the declaration); what the platform could not map reads
            // back as the "?" it was written as.
            CLuStringW strEncoding = CXmlDoc::GetDeclaredEncoding(doc.GetDoc());
            CLuStringW strAgain;
            CXmlDoc::ReadTextFile(path.c_str(), strAgain, nullptr, nullptr, &strEncoding);
            std::wstring written = text;
            for (wchar_t& c : written) {
                c = c == 0xFFFD ? L'?' : c;
            }
            EXPECT_EQ(Differences(W(strAgain), written), "") << fixture.nCodePage;
        } else {
            EXPECT_EQ(Differences(ReadBytes(path), bytes), "") << fixture.nCodePage;
        }
    }
    std::printf("code pages checked: %d; not on this platform:%s\n", nChecked, unavailable.c_str());
    EXPECT_GT(nChecked, 40);
}

}  // namespace
