// Parsing, the packed ordering and the running client's version numbers.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <tuple>

#include "vidozir/version.h"

using namespace VidOzir;
using Version::ClientVersion;

namespace {

std::array<int, 4> Parts(const ClientVersion& v) {
    return {v.m_nPart1, v.m_nPart2, v.m_nPart3, v.m_nPart4};
}

TEST(ClientVersion, ParseTable) {
    EXPECT_EQ(Parts(ClientVersion({7, 8})), (std::array<int, 4>{7, 8, 0, 0}));
    EXPECT_EQ(Parts(ClientVersion({1, 2, 3, 4, 5})), (std::array<int, 4>{1, 2, 3, 4}));
    const std::pair<const wchar_t*, std::array<int, 4>> good[] = {
        {L" 1.2.3.4beta", {1, 2, 3, 4}},
        {L"-1.+2.3.4", {-1, 2, 3, 4}},
        {L"\v1.\f2.\r3.\n4", {1, 2, 3, 4}},  // every blank stoi skips
        {L"\t2147483647.-2147483648.007.1x", {2147483647, -2147483647 - 1, 7, 1}},
    };
    for (const auto& entry : good) {
        ClientVersion version({0});
        version = *Version::Parse(CLuStringW(entry.first));  // null would crash
        EXPECT_EQ(Parts(version), entry.second) << entry.first;
    }
    // An Arabic-Indic digit is no decimal digit here; a long text is refused, not thrown.
    const std::wstring bad[] = {L"1.2.3." + std::wstring(5000, L'9'), std::wstring(100000, L'.')};
    for (const std::wstring& text : bad)
        EXPECT_FALSE(Version::Parse(CLuStringW(text.c_str()))) << text.size();
    for (const wchar_t* text : {L"", L"1.2.3", L"1.2.3.4.5", L"1..3.4", L"1.2.3.4.", L"a.2.3.4",
                                L"1.2.3.99999999999", L".1.2.3", L"1.2.3.-", L"2147483648.0.0.0",
                                L"1.2.3.-2147483649", L"1 .2.3.4.5", L"\x0661.2.3.4"})
        EXPECT_FALSE(Version::Parse(CLuStringW(text))) << text;
}

// ((p1 x 100 + p2) x 10 + p3) x 10000 + p4: the weights overlap, and the
// number wraps in 32 bits and compares signed.
TEST(ClientVersion, PackedOrdering) {
    const std::tuple<const wchar_t*, const wchar_t*, bool> cases[] = {
        {L"1.2.3.4", L"1.2.3.5", true},      {L"1.2.3.5", L"1.2.3.4", false},
        {L"1.99.9.9999", L"2.0.0.0", true},  {L"1.2.3.4", L"1.2.3.4", false},
        {L"1.0.10.0", L"1.1.0.0", false},    {L"1.1.0.0", L"1.0.10.0", false},
        {L"1.0.0.10000", L"1.0.1.0", false}, {L"1.100.0.0", L"2.0.0.0", false},
        {L"1.0.1.0", L"1.0.0.10001", true},  {L"215.0.0.0", L"214.0.0.0", true},
        {L"-1.0.0.0", L"0.0.0.0", true},     {L"429.49.6.7296", L"0.0.0.1", true}};
    for (const auto& [a, b, less] : cases) {
        EXPECT_EQ(*Version::Parse(a) < *Version::Parse(b), less) << a << " " << b;
        EXPECT_EQ(*Version::Parse(a) >= *Version::Parse(b), !less) << a << " " << b;
    }
}

TEST(ClientVersion, InitAndLocalVersion) {
    EXPECT_EQ(DiskUtil::GetLocalVersion(), 0u);  // nothing set yet in this program
    Version::InitVersion(CLuStringW(L"5"), 12, 1, 2, 345, 6, 77);
    EXPECT_EQ(Version::GetExternalMajor(), L"5");
    EXPECT_EQ(std::make_tuple(Version::GetExternalMinor(), Version::GetInternalMajor(),
                              Version::GetInternalMinor(), Version::GetInternalBuild(),
                              Version::GetInternalRevision(), Version::GetInternalDefault()),
              std::make_tuple(DWORD(12), BYTE(1), BYTE(2), DWORD(345), DWORD(6), DWORD(77)));
    EXPECT_EQ(DiskUtil::GetLocalVersion(), 10260345u);  // revision third, build fourth
    Version::InitVersion(CLuStringW(L"6"), 0, 255, 255, 4294967295u, 9, 0);
    EXPECT_EQ(DiskUtil::GetLocalVersion(), 2575589999u);  // wrapped in 32 bits
}

}  // namespace
