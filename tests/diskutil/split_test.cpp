// The trimming Split family, SplitString and SplitPath.
#include "diskutil_test.h"

using Narrow = std::vector<std::string>;
using WideList = std::vector<CLuStringW>;

// Each row starts from a list holding "kept": the narrow Split appends, and
// counts only the pieces it added.
TEST(Split, TrimsSpacesDropsEmptyPiecesAndReadsNumbers) {
    const std::tuple<const char*, const char*, Narrow> cases[] = {
        {"a, b,,c ,", ",", {"kept", "a", "b", "c"}},
        {" , ,, ", ",", {"kept"}},
        {"1::2:: 3 ", "::", {"kept", "1", "2", "3"}},
        {"tab\t, \tlead", ",", {"kept", "tab\t", "\tlead"}},  // only spaces are trimmed
        {" one two ", ";", {"kept", "one two"}},
        {" a,b ", "", {"kept", "a,b"}},  // an empty separator cuts nothing
        {"   ", "", {"kept"}},
    };
    for (const auto& [text, separator, pieces] : cases) {
        Narrow out{"kept"};
        EXPECT_EQ(Split(text, separator, out), int(pieces.size()) - 1) << text;
        EXPECT_EQ(out, pieces) << text;
    }
    // The wide Split clears the list first and cuts the UTF-8 form.
    WideList out{L"stale"};
    EXPECT_EQ(Split(CLuStringW(L" , "), CLuStringW(L","), out), 0);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(
        Split(CLuStringW(L"\x00E9t\x00E9 \x2192 \xD83D\xDE00 \x2192x"), CLuStringW(L"\x2192"), out),
        3);
    EXPECT_EQ(out, (WideList{L"\x00E9t\x00E9", L"\xD83D\xDE00", L"x"}));
    // Numbers clamp to their type's range; a minus sign negates an unsigned one.
    std::vector<int> ints{99};
    EXPECT_EQ(Split("10, x, 7", ",", ints), 3);
    EXPECT_EQ(Split("-5;3abc;99999999999;-99999999999", ";", ints), 4);
    EXPECT_EQ(Split("12", "", ints), 1);
    EXPECT_EQ(ints, (std::vector<int>{99, 10, 0, 7, -5, 3, 2147483647, -2147483647 - 1, 12}));
    std::vector<unsigned int> unsigneds{1};
    EXPECT_EQ(Split("-1, 42, 4294967296, nope, +8", ",", unsigneds), 5);
    EXPECT_EQ(unsigneds, (std::vector<unsigned int>{1, 4294967295u, 42, 4294967295u, 0, 8}));
}

// Both keep empty pieces and append. SplitString joins the separator to the
// text first and clears the list for an empty text or separator; SplitPath
// steps one character past each match, and does nothing for an empty text or
// a null separator.
TEST(SplitString, AndSplitPath) {
    const std::tuple<bool, const wchar_t*, const wchar_t*, WideList> cases[] = {
        {false, L"a,,b", L",", {L"kept", L"a", L"", L"b"}},
        {false, L"a,", L",", {L"kept", L"a", L""}},
        {false, L",a", L",", {L"kept", L"", L"a"}},
        {false, L"a", L"a", {L"kept", L"", L""}},
        {false, L"1<>2<><>3", L"<>", {L"kept", L"1", L"2", L"", L"3"}},
        {false, L"x y", L";", {L"kept", L"x y"}},
        {false, L"a,b", L"", {}},
        {false, L"", L",", {}},
        {true, L"a/b//c/", L"/", {L"kept", L"a", L"b", L"", L"c"}},
        {true, L"/a", L"/", {L"kept", L"", L"a"}},
        {true, L"xabyabz", L"ab", {L"kept", L"x", L"by", L"bz"}},
        {true, L"a/b", L"", {L"kept", L"a/b"}},
        {true, L"", L"/", {L"kept"}},
        {true, L"a/b", nullptr, {L"kept"}},
    };
    for (const auto& [path, text, separator, pieces] : cases) {
        WideList out{L"kept"};
        if (path)
            SplitPath(text, out, separator);
        else
            SplitString(text, separator, out);
        EXPECT_EQ(out, pieces) << testing::PrintToString(std::wstring(text)) << " " << path;
    }
}
