// The trimming Split family, SplitString and SplitPath.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vidozir/diskutil.h"

using namespace VidOzir::DiskUtil;

namespace {

using Narrow = std::vector<std::string>;
using WideList = std::vector<CLuStringW>;

WideList Wides(std::initializer_list<const wchar_t*> texts) {
    WideList list;
    for (const wchar_t* text : texts)
        list.emplace_back(text);
    return list;
}

TEST(Split, CoreTrimsAndDropsEmptyPieces) {
    Narrow out;
    EXPECT_EQ(Split("a, b,,c ,", ",", out), 3);
    EXPECT_EQ(out, (Narrow{"a", "b", "c"}));

    out.clear();
    EXPECT_EQ(Split("", ",", out), 0);
    EXPECT_EQ(Split("  ", ",", out), 0);
    EXPECT_EQ(Split(" , ,, ", ",", out), 0);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(Split("x", ",", out), 1);
    EXPECT_EQ(out, (Narrow{"x"}));

    // Appends to what the list held; only spaces are trimmed.
    EXPECT_EQ(Split("1::2:: 3 ", "::", out), 3);
    EXPECT_EQ(Split("tab\t, \tlead", ",", out), 2);
    EXPECT_EQ(out, (Narrow{"x", "1", "2", "3", "tab\t", "\tlead"}));

    // A separator that does not occur leaves the text whole.
    out.clear();
    EXPECT_EQ(Split(" one two ", ";", out), 1);
    EXPECT_EQ(out, (Narrow{"one two"}));
}

TEST(Split, EmptySeparatorKeepsTheTextWhole) {
    Narrow out;
    EXPECT_EQ(Split(" a,b ", "", out), 1);
    EXPECT_EQ(out, (Narrow{"a,b"}));
    EXPECT_EQ(Split("   ", "", out), 0);
    std::vector<int> numbers;
    EXPECT_EQ(Split("12", "", numbers), 1);
    EXPECT_EQ(numbers, (std::vector<int>{12}));
}

TEST(Split, WideClearsAndWorksOnUtf8) {
    WideList out = Wides({L"stale"});
    EXPECT_EQ(Split(CLuStringW(L" , "), CLuStringW(L","), out), 0);
    EXPECT_TRUE(out.empty());

    out = Wides({L"stale"});
    EXPECT_EQ(Split(CLuStringW(L"\x00E9t\x00E9 \x2192 h\x00E9"
                               L"b\xD83D\xDE00 \x2192x"),
                    CLuStringW(L"\x2192"), out),
              3);
    EXPECT_EQ(out, Wides({L"\x00E9t\x00E9",
                          L"h\x00E9"
                          L"b\xD83D\xDE00",
                          L"x"}));
}

TEST(Split, Numbers) {
    std::vector<int> ints{99};
    EXPECT_EQ(Split("10, x, 7", ",", ints), 3);
    EXPECT_EQ(ints, (std::vector<int>{99, 10, 0, 7}));

    ints.clear();
    EXPECT_EQ(Split("-5;3abc;99999999999;-99999999999", ";", ints), 4);
    EXPECT_EQ(ints, (std::vector<int>{-5, 3, 2147483647, -2147483647 - 1}));

    std::vector<unsigned int> unsigneds{1};
    EXPECT_EQ(Split("-1, 42, 4294967296, nope, +8", ",", unsigneds), 5);
    EXPECT_EQ(unsigneds, (std::vector<unsigned int>{1, 4294967295u, 42, 4294967295u, 0, 8}));
}

struct PieceCase {
    const wchar_t *text, *separator;
    WideList pieces;
};

TEST(SplitString, KeepsEmptyPieces) {
    const PieceCase cases[] = {
        {L"a,,b", L",", Wides({L"a", L"", L"b"})},
        {L"a,", L",", Wides({L"a", L""})},
        {L",a", L",", Wides({L"", L"a"})},
        {L"a", L"a", Wides({L"", L""})},
        {L"1<>2<><>3", L"<>", Wides({L"1", L"2", L"", L"3"})},
    };
    for (const PieceCase& c : cases) {
        WideList out;
        SplitString(c.text, c.separator, out);
        EXPECT_EQ(out, c.pieces) << testing::PrintToString(std::wstring(c.text));
    }
    // Appends, unless the text or separator is empty: then it clears.
    WideList out = Wides({L"kept"});
    SplitString(L"x y", L";", out);
    EXPECT_EQ(out, Wides({L"kept", L"x y"}));
    SplitString(L"a,b", L"", out);
    EXPECT_TRUE(out.empty());
    out = Wides({L"stale"});
    SplitString(L"", L",", out);
    EXPECT_TRUE(out.empty());
}

TEST(SplitPath, StepsOneCharacterAfterEachMatch) {
    const PieceCase cases[] = {
        {L"a/b//c/", L"/", Wides({L"a", L"b", L"", L"c"})},
        {L"/a", L"/", Wides({L"", L"a"})},
        {L"abc", L"/", Wides({L"abc"})},
        {L"xabyabz", L"ab", Wides({L"x", L"by", L"bz"})},
        {L"a/b", L"", Wides({L"a/b"})},
    };
    for (const PieceCase& c : cases) {
        WideList out;
        SplitPath(c.text, out, c.separator);
        EXPECT_EQ(out, c.pieces) << testing::PrintToString(std::wstring(c.text));
    }
    // Nothing happens for an empty text or a null separator; the list is kept
    // and later pieces are appended.
    WideList out = Wides({L"kept"});
    SplitPath(L"", out, L"/");
    SplitPath(L"a/b", out, nullptr);
    SplitPath(L"C:\\dir\\file", out, L"\\");
    EXPECT_EQ(out, Wides({L"kept", L"C:", L"dir", L"file"}));
}

}  // namespace
