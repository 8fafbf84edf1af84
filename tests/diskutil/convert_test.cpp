// Text encodings, numbers, hexadecimal text, format and IPv4 text.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "vidozir/diskutil.h"

using namespace VidOzir::DiskUtil;

namespace {

CLuStringW Wide(const std::u16string& units) {
    CLuStringW text;
    for (char16_t unit : units)
        text.AppendChar(wchar_t(unit));
    return text;
}

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
    const CLuStringW bad =
        Utf8ToWS(CLuStringA("a\xFF"
                            "b"));
    EXPECT_EQ(bad,
              L"a\xFFFD"
              L"b");
    EXPECT_EQ(AnsiFromUnicode(CLuStringW(L"Version 1.2 (x86)")), "Version 1.2 (x86)");
    EXPECT_EQ(AnsiToUnicode(CLuStringA("plain text")), L"plain text");
    EXPECT_TRUE(AnsiFromUnicode(CLuStringW()).IsEmpty());
}

TEST(Convert, EmbeddedNullEndsTheConversion) {
    const CLuStringW text(L"ab\0cd", 5);
    ASSERT_EQ(text.GetLength(), 5);
    EXPECT_EQ(Utf8FromWS(text), "ab");
    const CLuStringA narrow("ab\0cd", 5);
    EXPECT_EQ(Utf8ToWS(narrow), L"ab");
    EXPECT_EQ(AnsiFromUnicode(text), "ab");
}

TEST(Convert, RandomUtf16RoundTripsThroughUtf8) {
    std::mt19937 random(20261205);
    for (int round = 0; round < 400; ++round) {
        std::u16string units;
        const int length = int(random() % 40);
        for (int i = 0; i < length; ++i) {
            switch (random() % 6) {
                case 0:
                    units += char16_t(0xD800 + random() % 0x400);
                    break;  // lead
                case 1:
                    units += char16_t(0xDC00 + random() % 0x400);
                    break;  // trail
                case 2:
                    units += char16_t(random() % 0x80);
                    break;  // ASCII, maybe 0
                case 3:
                    units += char16_t(0xE000 + random() % 0x2000);
                    break;
                default:
                    units += char16_t(1 + random() % 0xD7FF);
                    break;
            }
        }
        const CLuStringW back = Utf8ToWS(Utf8FromWS(Wide(units)));
        ASSERT_EQ(Units(back), Expected(units)) << "round " << round;
    }
}

TEST(Convert, NumbersToText) {
    EXPECT_EQ(IntToStringA(-5), "-5");
    EXPECT_EQ(IntToStringA(2147483647), "2147483647");
    EXPECT_EQ(DWordToStringW(4294967295ul), L"4294967295");
    EXPECT_EQ(DWordToStringW(0), L"0");
    EXPECT_EQ(Int64ToStringW(-1), L"18446744073709551615");
    EXPECT_EQ(Int64ToStringW(1234567890123LL), L"1234567890123");
}

TEST(Convert, TextToNumbers) {
    EXPECT_EQ(StringToInt(CLuStringW(L"42abc")), 42);
    EXPECT_EQ(StringToIntW(CLuStringW(L"-17")), -17);
    EXPECT_EQ(StringToInt(CLuStringW(L"abc")), 0);
    EXPECT_EQ(StringToInt(CLuStringW(L"0x10")), 0);
    EXPECT_EQ(StringToInt(CLuStringW(L"")), 0);
    EXPECT_EQ(StringToIntA(CLuStringA("123 456")), 123);
    EXPECT_EQ(StringToIntA(CLuStringA("-9x")), -9);

    unsigned long dword = 7;
    EXPECT_EQ(StringToDWordW(CLuStringW(L"abc"), dword), 1);
    EXPECT_EQ(dword, 0ul);
    EXPECT_EQ(StringToDWordW(CLuStringW(L"-1"), dword), 1);
    EXPECT_EQ(dword, 4294967295ul);
    EXPECT_EQ(StringToDWordW(CLuStringW(L"300"), dword), 1);
    EXPECT_EQ(dword, 300ul);

    long long big = 0;
    EXPECT_NE(StringToInt64W(CLuStringW(L"9007199254740993"), big), 0);
    EXPECT_EQ(big, 9007199254740993LL);
    EXPECT_NE(StringToInt64A(CLuStringA("-42"), big), 0);
    EXPECT_EQ(big, -42);
    EXPECT_NE(StringToInt64W(CLuStringW(L"  12"), big), 0);  // leading blanks are skipped
    EXPECT_EQ(big, 12);
    EXPECT_EQ(StringToInt64W(CLuStringW(L"abc"), big), 0);
    EXPECT_EQ(StringToInt64A(CLuStringA(""), big), 0);
    EXPECT_NE(StringToInt64W(CLuStringW(L"0x10"), big), 0);  // decimal only
    EXPECT_EQ(big, 0);
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
    EXPECT_EQ(StringToByte(CLuStringW(L" 0a1B "), out, 2), 1);
    EXPECT_EQ(out[0], 0x0A);
    EXPECT_EQ(out[1], 0x1B);

    unsigned char untouched[2] = {0xEE, 0xEE};
    EXPECT_EQ(StringToByte(CLuStringW(L"0a1"), untouched, 2), 0);
    EXPECT_EQ(StringToByte(CLuStringW(L"0G12"), untouched, 2), 0);
    EXPECT_EQ(untouched[0], 0xEE);
    EXPECT_EQ(untouched[1], 0xEE);

    unsigned char partial[2] = {0xEE, 0xEE};
    EXPECT_EQ(StringToByte(CLuStringW(L"0A1G"), partial, 2), 0);
    EXPECT_EQ(partial[0], 0x0A);
    EXPECT_EQ(partial[1], 0xEE);

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

TEST(Convert, IPToString) {
    EXPECT_EQ(IPToString(0x0100007Fu), L"127.0.0.1");
    EXPECT_EQ(IPToString(0xFFFFFFFFu), L"255.255.255.255");
    EXPECT_EQ(IPToString(0), L"0.0.0.0");
    EXPECT_EQ(IPToString(0x0A01A8C0u), L"192.168.1.10");
}

}  // namespace
