// Parsing, the packed ordering and the running client's version numbers.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "vidozir/version.h"

using namespace VidOzir;
using Version::ClientVersion;

namespace {

std::array<int, 4> Parts(const ClientVersion& v) {
    return {v.m_nPart1, v.m_nPart2, v.m_nPart3, v.m_nPart4};
}

ClientVersion V(int a, int b, int c, int d) {
    return ClientVersion({a, b, c, d});
}

TEST(ClientVersion, ConstructionAndAssignment) {
    EXPECT_EQ(Parts(ClientVersion({7, 8})), (std::array<int, 4>{7, 8, 0, 0}));
    ClientVersion target({});
    target = ClientVersion({1, 2, 3, 4, 5});
    EXPECT_EQ(Parts(target), (std::array<int, 4>{1, 2, 3, 4}));
}

TEST(ClientVersion, ParseTable) {
    const std::pair<const wchar_t*, std::array<int, 4>> good[] = {
        {L"1.2.3.4", {1, 2, 3, 4}},
        {L" 1.2.3.4beta", {1, 2, 3, 4}},
        {L"-1.2.3.4", {-1, 2, 3, 4}},
        {L"+1.\t2. 3.4", {1, 2, 3, 4}},
        {L"\v1.\f2.\r3.\n4", {1, 2, 3, 4}},  // every blank stoi skips
        {L"2147483647.-2147483648.007.1x", {2147483647, -2147483647 - 1, 7, 1}},
    };
    for (const auto& entry : good) {
        const auto version = Version::Parse(CLuStringW(entry.first));
        ASSERT_TRUE(version) << testing::PrintToString(std::wstring(entry.first));
        EXPECT_EQ(Parts(*version), entry.second);
    }
    const std::wstring bad[] = {
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
        L"1.2.3." + std::wstring(5000, L'9'),
        std::wstring(100000, L'.'),  // refused, not thrown
    };
    for (const std::wstring& text : bad)
        EXPECT_FALSE(Version::Parse(CLuStringW(text.c_str()))) << testing::PrintToString(text);
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
    EXPECT_TRUE(V(1, 0, 1, 0) < V(1, 0, 0, 10001));  // part 4 outweighs part 3
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
    EXPECT_EQ(DiskUtil::GetLocalVersion(), 10260345u);  // revision third, build fourth

    Version::InitVersion(CLuStringW(L"6"), 0, 255, 255, 4294967295u, 9, 0);
    EXPECT_EQ(Version::m_strExternalMajor, L"6");
    EXPECT_EQ(Version::GetInternalDefault(), 0u);
    EXPECT_EQ(DiskUtil::GetLocalVersion(), 2575589999u);  // wrapped in 32 bits
}

}  // namespace
