// Text encodings, numbers, hexadecimal text, format and IPv4 text.
#include "diskutil_test.h"

// The code pages' rules are the platform's (tested there). Every conversion
// ends at the first null and replaces its destination.
TEST(Convert, Utf8AndAnsiText) {
    const CLuStringW text(L"a\x00E9\x20AC\xD83D\xDE00z\0tail", 12);
    const CLuStringA utf8 = Utf8FromWS(text);
    EXPECT_EQ(std::string(utf8.GetString(), size_t(utf8.GetLength())),
              "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z");
    EXPECT_EQ(W(Utf8ToWS(utf8)), W(text.Left(6)));
    EXPECT_EQ(W(Utf8ToWS(CLuStringA("ab\0cd", 5))), L"ab");
    CLuStringA narrow("old");
    WCharToMByte(CLuStringW(L"new"), narrow);
    CLuStringW wide(L"old");
    MByteToWChar(CLuStringA(""), wide);
    EXPECT_TRUE(narrow == "new" && wide.IsEmpty());
    EXPECT_EQ(AnsiFromUnicode(CLuStringW(L"Version 1.2 (x86)\0x", 19)), "Version 1.2 (x86)");
    EXPECT_EQ(W(AnsiToUnicode(CLuStringA("plain text"))), L"plain text");
}

// The reading rules are the platform's (tested there). The library adds the
// DWORD pattern of a negative number and the read flag of the 64-bit readers.
TEST(Convert, NumbersAddressesAndFormat) {
    EXPECT_EQ(IntToStringA(-5), "-5");
    EXPECT_EQ(W(DWordToStringW(4294967295ul)), L"4294967295");
    EXPECT_EQ(W(Int64ToStringW(-1)), L"18446744073709551615");
    EXPECT_EQ(W(IPToString(0x0100007Fu)), L"127.0.0.1");
    EXPECT_EQ(W(IPToString(0xFFFFFFFFu)), L"255.255.255.255");
    EXPECT_EQ(StringToIntW(CLuStringW(L"-17")), -17);
    EXPECT_EQ(StringToIntA(CLuStringA("123 456")), 123);
    unsigned long dword = 7;
    EXPECT_EQ(StringToDWordW(L"-1", dword), 1);
    EXPECT_EQ(dword, 4294967295ul);
    EXPECT_EQ(StringToDWordW(L"abc", dword), 1);
    EXPECT_EQ(dword, 0ul);
    const std::tuple<const char*, int, long long> int64s[] = {
        {"-42", 1, -42}, {"abc", 0, 0}, {"9007199254740993", 1, 9007199254740993LL}};
    for (const auto& [text, ok, value] : int64s) {
        long long wide = 5, narrow = 5;
        EXPECT_EQ(StringToInt64W(Wide(text), wide) != 0, ok != 0) << text;
        EXPECT_EQ(StringToInt64A(text, narrow) != 0, ok != 0) << text;
        if (ok)
            EXPECT_TRUE(wide == value && narrow == value) << text;
    }
    // Formatting: any length, past the first buffer of 2048.
    EXPECT_EQ(format(nullptr) + format(""), "");
    for (int length : {2047, 2048, 2049, 100000}) {
        const std::string text(size_t(length) - 4, 'q');
        EXPECT_EQ(format("%s%d", text.c_str(), 1234), text + "1234") << length;
    }
}

TEST(Convert, HexText) {
    const unsigned char bytes[] = {0x0A, 0xFF, 0x00};
    EXPECT_EQ(W(ByteToString(bytes, 3)), L"0aff00");
    EXPECT_EQ(W(Encode16(bytes, 3)), L"0AFF00");
    EXPECT_EQ(bin2hex(reinterpret_cast<const char*>(bytes), 3), "0aff00");
    EXPECT_EQ(bin2hex(nullptr, 3), "");
    std::string inPlace(reinterpret_cast<const char*>(bytes), 3);
    Encode16(inPlace);
    EXPECT_EQ(inPlace, "0AFF00");
    EXPECT_TRUE(ByteToString(bytes, -3).IsEmpty() && Encode16(bytes, 0).IsEmpty());
    // Nothing to read leaves the output alone; a negative count empties it.
    CLuStringW out(L"kept");
    EXPECT_EQ(ByteToString(nullptr, 2, out) + ByteToString(bytes, 0, out), 0);
    EXPECT_EQ(W(out), L"kept");
    EXPECT_EQ(ByteToString(bytes, 2, out), 1);
    EXPECT_EQ(W(out), L"0aff");
    EXPECT_EQ(ByteToString(bytes, -1, out), 1);
    EXPECT_TRUE(out.IsEmpty());

    // Every byte value comes back from both forms; StringToByte writes
    // exactly `size` bytes.
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += char(i);
    EXPECT_EQ(hex2bin(bin2hex(all).c_str()), all);
    std::string decoded(257, 'Z');
    EXPECT_EQ(
        StringToByte(Encode16(all.data(), 256), reinterpret_cast<unsigned char*>(&decoded[0]), 256),
        1);
    EXPECT_EQ(decoded, all + "Z");

    // text, result, the two bytes after it (0xEE where nothing was written)
    const std::tuple<const wchar_t*, int, int, int> toBytes[] = {{L"0a1", 0, 0xEE, 0xEE},
                                                                 {L"0G12", 0, 0xEE, 0xEE},
                                                                 {L"0A1G", 0, 0x0A, 0xEE},
                                                                 {L" 0a1B ", 1, 0x0A, 0x1B},
                                                                 {L"\x0660\x0661", 0, 0xEE, 0xEE}};
    for (const auto& [text, result, first, second] : toBytes) {
        unsigned char two[2] = {0xEE, 0xEE};
        EXPECT_EQ(StringToByte(text, two, 2), result) << text;
        EXPECT_TRUE(two[0] == first && two[1] == second) << text;
    }
    EXPECT_EQ(StringToByte(CLuStringW(L""), nullptr, 0), 1);

    // The marker "NULL" is case-sensitive; an unreadable pair gives a 0 byte.
    EXPECT_EQ(hex2bin(nullptr), "");
    const std::pair<const char*, std::string> toBinary[] = {
        {"NULL", ""},        {"", ""},       {"null", std::string(2, '\0')},
        {"abc", "\xAB\x0C"}, {"4a4B", "JK"}, {"zz41", std::string("\0A", 2)}};
    for (const auto& [text, binary] : toBinary)
        EXPECT_EQ(hex2bin(text), binary) << text;
}
