// Text encodings, numbers, hexadecimal text, format and IPv4 text.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "support/text.h"
#include "vidozir/diskutil.h"

using namespace VidOzir::DiskUtil;

namespace {

using vidozir_test::Wide;

std::u16string Units(const CLuStringW& text) {
    std::u16string units;
    for (int i = 0; i < text.GetLength(); ++i)
        units += char16_t(text[i]);
    return units;
}

// What a UTF-16 text becomes after a trip through UTF-8: everything up to the
// first null, each unpaired surrogate replaced by U+FFFD.
std::u16string Expected(const std::u16string& units) {
    std::u16string out;
    for (size_t i = 0; i < units.size() && units[i] != 0; ++i) {
        const char16_t unit = units[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            out += unit;
            out += units[++i];
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            out += char16_t(0xFFFD);
        } else {
            out += unit;
        }
    }
    return out;
}

TEST(Convert, Utf8BothWays) {
    const CLuStringW text(L"a\x00E9\x20AC\xD83D\xDE00z");
    const CLuStringA utf8 = Utf8FromWS(text);
    EXPECT_EQ(std::string(utf8.GetString()), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z");
    EXPECT_EQ(Utf8ToWS(utf8), text);

    // The destination is replaced, not appended to.
    CLuStringA narrow("old");
    WCharToMByte(CLuStringW(L"new"), narrow);
    EXPECT_EQ(narrow, "new");
    CLuStringW wide(L"old");
    MByteToWChar(CLuStringA("x"), wide);
    EXPECT_EQ(wide, L"x");
    MByteToWChar(CLuStringA(""), wide);
    EXPECT_TRUE(wide.IsEmpty());

    // Invalid UTF-8 bytes come back as U+FFFD, never as nothing.
    EXPECT_EQ(Utf8ToWS(CLuStringA("a\xFF!")), L"a\xFFFD!");
    EXPECT_EQ(AnsiFromUnicode(CLuStringW(L"Version 1.2 (x86)")), "Version 1.2 (x86)");
    EXPECT_EQ(AnsiToUnicode(CLuStringA("plain text")), L"plain text");
    EXPECT_TRUE(AnsiFromUnicode(CLuStringW()).IsEmpty());
    // An embedded null ends the conversion.
    EXPECT_EQ(Utf8FromWS(CLuStringW(L"ab\0cd", 5)), "ab");
    EXPECT_EQ(Utf8ToWS(CLuStringA("ab\0cd", 5)), L"ab");
    EXPECT_EQ(AnsiFromUnicode(CLuStringW(L"ab\0cd", 5)), "ab");
}

// Lead and trail surrogates, ASCII (0 too), the private-use area and the rest.
TEST(Convert, RandomUtf16RoundTripsThroughUtf8) {
    const unsigned ranges[][2] = {{0xD800, 0x400},  {0xDC00, 0x400}, {0, 0x80},
                                  {0xE000, 0x2000}, {1, 0xD7FF},     {1, 0xD7FF}};
    std::mt19937 random(20261205);
    for (int round = 0; round < 400; ++round) {
        std::u16string units;
        for (int i = int(random() % 40); i > 0; --i) {
            const unsigned* range = ranges[random() % 6];
            units += char16_t(range[0] + random() % range[1]);
        }
        const CLuStringW back = Utf8ToWS(Utf8FromWS(Wide(units)));
        ASSERT_EQ(Units(back), Expected(units)) << "round " << round;
    }
}

TEST(Convert, NumbersAndAddressesToText) {
    EXPECT_EQ(IntToStringA(-5), "-5");
    EXPECT_EQ(IntToStringA(2147483647), "2147483647");
    EXPECT_EQ(DWordToStringW(4294967295ul), L"4294967295");
    EXPECT_EQ(DWordToStringW(0), L"0");
    EXPECT_EQ(Int64ToStringW(-1), L"18446744073709551615");
    EXPECT_EQ(Int64ToStringW(1234567890123LL), L"1234567890123");
    EXPECT_EQ(IPToString(0x0100007Fu), L"127.0.0.1");
    EXPECT_EQ(IPToString(0xFFFFFFFFu), L"255.255.255.255");
    EXPECT_EQ(IPToString(0x0A01A8C0u), L"192.168.1.10");
}

// Each text through the wide and the narrow readers alike.
TEST(Convert, TextToNumbers) {
    const std::pair<const char*, int> ints[] = {{"42abc", 42}, {"-17", -17}, {"abc", 0},
                                                {"0x10", 0},   {"", 0},      {"123 456", 123}};
    for (const auto& [text, value] : ints) {
        EXPECT_EQ(StringToInt(AnsiToUnicode(text)), value) << text;
        EXPECT_EQ(StringToIntW(AnsiToUnicode(text)), value) << text;
        EXPECT_EQ(StringToIntA(text), value) << text;
    }
    const std::pair<const wchar_t*, unsigned long> dwords[] = {
        {L"abc", 0}, {L"-1", 4294967295ul}, {L"300", 300}};
    for (const auto& [text, value] : dwords) {
        unsigned long dword = 7;
        EXPECT_EQ(StringToDWordW(text, dword), 1);
        EXPECT_EQ(dword, value) << text;
    }
    // Leading blanks are skipped; decimal only.
    const std::tuple<const char*, int, long long> int64s[] = {
        {"-42", 1, -42}, {"  12", 1, 12}, {"abc", 0, 0},
        {"", 0, 0},      {"0x10", 1, 0},  {"9007199254740993", 1, 9007199254740993LL}};
    for (const auto& [text, ok, value] : int64s) {
        long long wide = 5, narrow = 5;
        EXPECT_EQ(StringToInt64W(AnsiToUnicode(text), wide) != 0, ok != 0) << text;
        EXPECT_EQ(StringToInt64A(text, narrow) != 0, ok != 0) << text;
        if (ok)
            EXPECT_TRUE(wide == value && narrow == value) << text;
    }
}

TEST(Convert, BytesToHexText) {
    const unsigned char bytes[] = {0x0A, 0xFF};
    EXPECT_EQ(ByteToString(bytes, 2), L"0aff");
    EXPECT_EQ(Encode16(bytes, 2), L"0AFF");
    EXPECT_EQ(bin2hex(reinterpret_cast<const char*>(bytes), 2), "0aff");
    EXPECT_EQ(bin2hex(std::string("\x80\0\x01", 3)), "800001");
    EXPECT_TRUE(ByteToString(nullptr, 2).IsEmpty());
    EXPECT_TRUE(ByteToString(bytes, 0).IsEmpty());
    EXPECT_TRUE(ByteToString(bytes, -3).IsEmpty());
    EXPECT_TRUE(Encode16(bytes, 0).IsEmpty());

    CLuStringW out(L"kept");
    EXPECT_EQ(ByteToString(nullptr, 2, out), 0);
    EXPECT_EQ(ByteToString(bytes, 0, out), 0);
    EXPECT_EQ(out, L"kept");
    EXPECT_EQ(ByteToString(bytes, -1, out), 1);
    EXPECT_TRUE(out.IsEmpty());
    out = L"old";
    EXPECT_EQ(ByteToString(bytes, 2, out), 1);
    EXPECT_EQ(out, L"0aff");

    std::string inPlace("\x0A\xFF\0", 3);
    Encode16(inPlace);
    EXPECT_EQ(inPlace, "0AFF00");
    std::string empty;
    Encode16(empty);
    EXPECT_TRUE(empty.empty());
}

TEST(Convert, StringToByte) {
    unsigned char out[2] = {0xEE, 0xEE};
    EXPECT_EQ(StringToByte(CLuStringW(L"0a1"), out, 2), 0);
    EXPECT_EQ(StringToByte(CLuStringW(L"0G12"), out, 2), 0);
    EXPECT_TRUE(out[0] == 0xEE && out[1] == 0xEE);
    EXPECT_EQ(StringToByte(CLuStringW(L"0A1G"), out, 2), 0);  // stops at the bad pair
    EXPECT_TRUE(out[0] == 0x0A && out[1] == 0xEE);
    EXPECT_EQ(StringToByte(CLuStringW(L" 0a1B "), out, 2), 1);
    EXPECT_TRUE(out[0] == 0x0A && out[1] == 0x1B);
    EXPECT_EQ(StringToByte(CLuStringW(L""), nullptr, 0), 1);
    EXPECT_EQ(StringToByte(CLuStringW(L"\x0660\x0661"), out, 1), 0);  // not ASCII digits
}

TEST(Convert, HexRoundTripsOverRandomBytes) {
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        std::string bytes(random() % 64, '\0');
        for (char& b : bytes)
            b = char(random() & 0xFF);
        EXPECT_EQ(hex2bin(bin2hex(bytes).c_str()), bytes);
        std::vector<unsigned char> decoded(bytes.size() + 1, 0x5A);
        const CLuStringW upper = Encode16(bytes.data(), unsigned(bytes.size()));
        EXPECT_EQ(StringToByte(upper, decoded.data(), int(bytes.size())), 1);
        EXPECT_EQ(std::string(decoded.begin(), decoded.end() - 1), bytes);
        EXPECT_EQ(decoded.back(), 0x5A);  // nothing written past `size`
    }
}

TEST(Convert, Hex2Bin) {
    EXPECT_EQ(hex2bin("NULL"), "");
    EXPECT_EQ(hex2bin(""), "");
    EXPECT_EQ(hex2bin(nullptr), "");
    EXPECT_EQ(hex2bin("414243"), "ABC");
    EXPECT_EQ(hex2bin("null").size(), 2u);  // the marker is case-sensitive
    EXPECT_EQ(hex2bin("abc"), std::string("\xAB\x0C", 2));
    EXPECT_EQ(hex2bin("4a4B"), "JK");
    EXPECT_EQ(hex2bin("zz41"), std::string("\0A", 2));  // an unreadable pair gives a 0 byte
}

TEST(Convert, FormatAnyLength) {
    EXPECT_EQ(format(nullptr), "");
    EXPECT_EQ(format(""), "");
    EXPECT_EQ(format("%d-%s", 5, "x"), "5-x");
    for (int length : {2047, 2048, 2049, 5000, 100000}) {
        const std::string expected = std::string(size_t(length) - 4, 'q') + "1234";
        EXPECT_EQ(format("%s%d", std::string(size_t(length) - 4, 'q').c_str(), 1234), expected)
            << length;
    }
    // A field wider than the first buffer.
    EXPECT_EQ(format("%3000d", 7).size(), 3000u);
}

}  // namespace
