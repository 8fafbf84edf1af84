// Parsing, the packed ordering and the running client's version numbers.
#include <gtest/gtest.h>

#include "vidozir/version.h"

using namespace VidOzir;
using Version::ClientVersion;

namespace {

ClientVersion V(int a, int b, int c, int d) {
    return ClientVersion({a, b, c, d});
}

TEST(ClientVersion, ConstructionAndAssignment) {
    const ClientVersion partial({7, 8});
    EXPECT_EQ(partial.m_nPart1, 7);
    EXPECT_EQ(partial.m_nPart2, 8);
    EXPECT_EQ(partial.m_nPart3, 0);
    EXPECT_EQ(partial.m_nPart4, 0);
    const ClientVersion extra({1, 2, 3, 4, 5});
    EXPECT_EQ(extra.m_nPart4, 4);

    ClientVersion target({});
    target = extra;
    EXPECT_EQ(target.m_nPart1, 1);
    EXPECT_EQ(target.m_nPart4, 4);
    target = ClientVersion({9, 9, 9, 9});
    EXPECT_EQ(target.m_nPart3, 9);
}

TEST(ClientVersion, ParseTable) {
    struct Good {
        const wchar_t* text;
        int parts[4];
    };
    const Good good[] = {
        {L"1.2.3.4", {1, 2, 3, 4}},
        {L" 1.2.3.4beta", {1, 2, 3, 4}},
        {L"-1.2.3.4", {-1, 2, 3, 4}},
        {L"+1.\t2. 3.4", {1, 2, 3, 4}},
        {L"0.0.0.0", {0, 0, 0, 0}},
        {L"2147483647.-2147483648.007.1x", {2147483647, -2147483647 - 1, 7, 1}},
        {L"10.0.19041.1", {10, 0, 19041, 1}},
    };
    for (const Good& entry : good) {
        const auto version = Version::Parse(CLuStringW(entry.text));
        ASSERT_TRUE(version) << "text: " << testing::PrintToString(std::wstring(entry.text));
        EXPECT_EQ(version->m_nPart1, entry.parts[0]);
        EXPECT_EQ(version->m_nPart2, entry.parts[1]);
        EXPECT_EQ(version->m_nPart3, entry.parts[2]);
        EXPECT_EQ(version->m_nPart4, entry.parts[3]);
    }

    const wchar_t* bad[] = {
        L"",
        L"1.2.3",
        L"1.2.3.4.5",
        L"1..3.4",
        L"1.2.3.4.",
        L"a.2.3.4",
        L"1.2.3.99999999999",
        L".1.2.3",
        L"1.2.3.-",
        L"2147483648.0.0.0",
        L"1.2.3.-2147483649",
        L"1 .2.3.4.5",
        L"\x0661.2.3.4",  // an Arabic-Indic digit is no decimal digit here
        L"1.2.3.4.5.6.7.8.9.10.11.12",
    };
    for (const wchar_t* text : bad)
        EXPECT_FALSE(Version::Parse(CLuStringW(text)))
            << "text: " << testing::PrintToString(std::wstring(text));

    // A very long number and a very long text are refused, not thrown.
    EXPECT_FALSE(
        Version::Parse(CLuStringW(L"1.2.3.") + CLuStringW(std::wstring(5000, L'9').c_str())));
    EXPECT_FALSE(Version::Parse(CLuStringW(std::wstring(100000, L'.').c_str())));
}

TEST(ClientVersion, PackedOrdering) {
    EXPECT_TRUE(V(1, 2, 3, 4) < V(1, 2, 3, 5));
    EXPECT_FALSE(V(1, 2, 3, 5) < V(1, 2, 3, 4));
    EXPECT_TRUE(V(2, 0, 0, 0) >= V(1, 99, 9, 9999));
    EXPECT_TRUE(V(1, 2, 3, 4) >= V(1, 2, 3, 4));

    // Weights overlap: these pack to the same number.
    EXPECT_FALSE(V(1, 0, 10, 0) < V(1, 1, 0, 0));
    EXPECT_FALSE(V(1, 1, 0, 0) < V(1, 0, 10, 0));
    EXPECT_TRUE(V(1, 0, 10, 0) >= V(1, 1, 0, 0));
    EXPECT_FALSE(V(1, 0, 0, 10000) < V(1, 0, 1, 0));
    EXPECT_FALSE(V(1, 100, 0, 0) < V(2, 0, 0, 0));
    // A larger part 4 outweighs part 3 entirely.
    EXPECT_TRUE(V(1, 0, 1, 0) < V(1, 0, 0, 10001));

    // Packing wraps in 32 bits and compares signed: 215.0.0.0 is past 2^31.
    EXPECT_TRUE(V(215, 0, 0, 0) < V(214, 0, 0, 0));
    EXPECT_TRUE(V(-1, 0, 0, 0) < V(0, 0, 0, 0));
    EXPECT_TRUE(V(429, 49, 6, 7296) < V(0, 0, 0, 1));  // 2^32 wraps to 0
}

TEST(ClientVersion, InitAndGetters) {
    EXPECT_EQ(DiskUtil::GetLocalVersion(), 0u);  // nothing set yet in this program
    EXPECT_TRUE(Version::GetExternalMajor().IsEmpty());

    Version::InitVersion(CLuStringW(L"5"), 12, 1, 2, 345, 6, 77);
    EXPECT_EQ(Version::GetExternalMajor(), L"5");
    EXPECT_EQ(Version::GetExternalMinor(), 12u);
    EXPECT_EQ(Version::GetInternalMajor(), 1);
    EXPECT_EQ(Version::GetInternalMinor(), 2);
    EXPECT_EQ(Version::GetInternalBuild(), 345u);
    EXPECT_EQ(Version::GetInternalRevision(), 6u);
    EXPECT_EQ(Version::GetInternalDefault(), 77u);
    EXPECT_EQ(Version::m_nIntervalDefault, 77u);
    EXPECT_EQ(Version::m_strExternalMajor, L"5");
    EXPECT_EQ(DiskUtil::GetLocalVersion(), 10260345u);

    Version::InitVersion(CLuStringW(L"6"), 0, 255, 255, 4294967295u, 9, 0);
    EXPECT_EQ(Version::GetExternalMajor(), L"6");
    EXPECT_EQ(Version::GetInternalDefault(), 0u);
    EXPECT_EQ(DiskUtil::GetLocalVersion(),
              uint32_t(((255u * 100 + 255) * 10 + 9) * 10000u + 4294967295u));
}

}  // namespace
