#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "vidozir/lustring.h"

namespace {

TEST(LuStringW, ConstructionAndNullInputs) {
    CLuStringW empty;
    EXPECT_TRUE(empty.IsEmpty());
    EXPECT_NE(empty.GetString(), nullptr);
    EXPECT_EQ(empty.GetString()[0], L'\0');

    CLuStringW fromNull(static_cast<const wchar_t*>(nullptr));
    CLuStringW fromZero(0);
    EXPECT_EQ(fromNull.GetLength(), 0);
    EXPECT_EQ(fromZero.GetLength(), 0);

    CLuStringW text(L"hello");
    EXPECT_EQ(text.GetLength(), 5);
    EXPECT_EQ(text, L"hello");
    EXPECT_EQ(CLuStringW(L"hello", 3), L"hel");
}

TEST(LuStringW, EmbeddedZerosAndSurrogatesCountAsUnits) {
    const wchar_t raw[] = {L'a', 0, L'b'};
    CLuStringW s(raw, 3);
    EXPECT_EQ(s.GetLength(), 3);
    EXPECT_EQ(s.GetAt(1), L'\0');
    EXPECT_EQ(s.GetAt(2), L'b');
    EXPECT_FALSE(s == L"a");  // compares the whole length, not up to the zero
    CLuStringW appended(L"x");
    appended.Append(raw, 3);  // the counted append keeps the zero too
    EXPECT_EQ(appended.GetLength(), 4);
    EXPECT_EQ(appended, CLuStringW(L"x") + s);

    // U+1F600 is two UTF-16 units on every platform.
    CLuStringW emoji(L"x\xD83D\xDE00y");
    EXPECT_EQ(emoji.GetLength(), 4);
    EXPECT_EQ(emoji.Find(L'\xDE00'), 2);
    EXPECT_EQ(emoji.Mid(1, 2), CLuStringW(L"\xD83D\xDE00"));
}

TEST(LuStringW, CopiesAreIndependent) {
    CLuStringW a(L"shared?");
    CLuStringW b = a;
    b.GetBuffer()[0] = L'S';
    b.ReleaseBuffer();
    b += L"!";
    EXPECT_EQ(a, L"shared?");
    EXPECT_EQ(b, L"Shared?!");

    CLuStringW moved = std::move(b);
    EXPECT_EQ(moved, L"Shared?!");
    EXPECT_TRUE(b.IsEmpty());  // NOLINT(bugprone-use-after-move): moved-from state is defined
    a = a;                     // self-assignment keeps the value
    EXPECT_EQ(a, L"shared?");
    a = a.GetString() + 1;  // assignment from a piece of itself
    EXPECT_EQ(a, L"hared?");
}

TEST(LuStringW, CopiesCrossThreads) {
    CLuStringW base(L"payload");
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([copy = base, i]() mutable {
            for (int n = 0; n < 1000; ++n) {
                copy.AppendFormat(L"%d", i);
            }
            EXPECT_EQ(copy.GetLength(), 7 + 1000);
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(base, L"payload");
}

TEST(LuStringW, BufferAndCapacity) {
    CLuStringW s;
    EXPECT_EQ(s.GetAllocLength(), 0);
    wchar_t* p = s.GetBuffer(10);
    EXPECT_GE(s.GetAllocLength(), 10);
    for (int i = 0; i < 10; ++i) {
        p[i] = static_cast<wchar_t>(L'0' + i);
    }
    p[10] = 0;
    s.ReleaseBuffer(-1);
    EXPECT_EQ(s, L"0123456789");
    p = s.GetBuffer(10);
    p[4] = 0;
    s.ReleaseBuffer(-1);
    EXPECT_EQ(s.GetLength(), 4);
    s.GetBuffer(10);
    s.ReleaseBuffer(7);
    EXPECT_EQ(s.GetLength(), 7);
    EXPECT_EQ(s.GetString()[7], L'\0');
    s.ReleaseBuffer(s.GetAllocLength() + 5);  // never past the buffer
    EXPECT_EQ(s.GetLength(), s.GetAllocLength());

    // Growth keeps appends linear: capacity grows geometrically.
    CLuStringW grow;
    int reallocations = 0;
    int last = grow.GetAllocLength();
    for (int i = 0; i < 100000; ++i) {
        grow += L'x';
        if (grow.GetAllocLength() != last) {
            ++reallocations;
            last = grow.GetAllocLength();
        }
    }
    EXPECT_EQ(grow.GetLength(), 100000);
    EXPECT_LT(reallocations, 40);
}

TEST(LuStringW, EditingInPlace) {
    CLuStringW s(L"a/b/c");
    EXPECT_EQ(s.Replace(L'/', L'\\'), 2);
    EXPECT_EQ(s, L"a\\b\\c");
    EXPECT_EQ(s.Insert(0, L'['), 6);
    EXPECT_EQ(s.Insert(100, L"]"), 7);
    EXPECT_EQ(s, L"[a\\b\\c]");
    EXPECT_EQ(s.Insert(2, L"--"), 9);
    EXPECT_EQ(s, L"[a--\\b\\c]");
    EXPECT_EQ(s.Delete(2, 2), 7);
    EXPECT_EQ(s, L"[a\\b\\c]");
    EXPECT_EQ(s.FindOneOf(L"\\c"), 2);
    EXPECT_EQ(s.FindOneOf(L"xyz"), -1);
}

// White space goes at either end alone; what is not white space stays.
TEST(LuStringW, TrimEitherEnd) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L" \t\r\n text \x3000", L"text"},
        {L"text \xA0\x2028", L"text"},
        {L"\x85\x1680x", L"x"},
        {L"   ", L""},
        {L"a \x2009b", L"a \x2009b"},
        {L"\x200Bz\x200B", L"\x200Bz\x200B"}};
    for (const auto& [in, out] : cases) {
        CLuStringW s(in);
        EXPECT_EQ(std::wstring(s.Trim()), out);
    }
}

TEST(LuStringW, ComparisonAndCase) {
    CLuStringW s(L"Hello");
    EXPECT_EQ(s.CompareNoCase(L"hELLO"), 0);
    EXPECT_NE(s.CompareNoCase(L"hELL"), 0);
    EXPECT_LT(CLuStringW(L"abc").CompareNoCase(L"ABD"), 0);
    EXPECT_EQ(CLuStringW(L"\x00C9t\x00C9").CompareNoCase(L"\x00E9T\x00E9"), 0);
    EXPECT_EQ(CLuStringW(L"\x0414\x0430").CompareNoCase(L"\x0434\x0410"), 0);
    EXPECT_TRUE(s != L"hello");
    EXPECT_TRUE(CLuStringW(L"x") == L'x');
    EXPECT_FALSE(CLuStringW(L"xy") == L'x');
    EXPECT_TRUE(L'x' != CLuStringW(L"y"));
    CLuStringW mixed(
        L"Stra\x00DF"
        L"e \x0110\x0400\x040F\x0410");
    EXPECT_EQ(CLuStringW(mixed).MakeUpper(), CLuStringW(L"STRA\x00DF"
                                                        L"E \x0110\x0400\x040F\x0410"));
    EXPECT_EQ(CLuStringW(mixed).MakeLower(), CLuStringW(L"stra\x00DF"
                                                        L"e \x0111\x0450\x045F\x0430"));
}

TEST(LuStringW, Concatenation) {
    CLuStringW a(L"ab");
    CLuStringW b(L"cd");
    EXPECT_EQ(a + b, L"abcd");
    EXPECT_EQ(a + L"x", L"abx");
    EXPECT_EQ(L"x" + a, L"xab");
    EXPECT_EQ(a + L'!', L"ab!");
    EXPECT_EQ(L'!' + a, L"!ab");
    CLuStringW c;
    c.Append(L"12345", 3);
    c.Append(L"z");
    c.Append(a);
    c += a;
    EXPECT_EQ(c, L"123zabab");
    c += c;  // appending itself
    EXPECT_EQ(c, L"123zabab123zabab");
}

TEST(LuStringA, Operations) {
    CLuStringA s("  mixed Case \n");
    EXPECT_EQ(s.Trim().GetLength(), 10);
    EXPECT_EQ(s.MakeUpper(), "MIXED CASE");
    CLuStringA copy = s;
    copy += '!';
    EXPECT_EQ(s, "MIXED CASE");
    EXPECT_EQ(copy, "MIXED CASE!");
    EXPECT_EQ(copy.GetAt(0), 'M');
    CLuStringA none(nullptr);
    EXPECT_TRUE(none.IsEmpty());
    EXPECT_STREQ(static_cast<const char*>(none), "");
    char* p = none.GetBuffer(3);
    p[0] = 'o';
    p[1] = 'k';
    p[2] = 0;
    none.ReleaseBuffer();
    EXPECT_EQ(none, "ok");
}

}  // namespace

namespace {

int Index(size_t found) {
    return found == std::wstring::npos ? -1 : static_cast<int>(found);
}

// Pieces, searches and edits agree with std::wstring at every position,
// including the ones just outside the text.
TEST(LuStringW, PositionsAgreeWithStdWstring) {
    for (const std::wstring t : {L"", L"a", L"a.b.a", L"..x"}) {
        const CLuStringW s(t.c_str());
        const int n = static_cast<int>(t.size());
        auto at = [n](int i) { return static_cast<size_t>(std::min(std::max(i, 0), n)); };
        EXPECT_EQ(s.ReverseFind(L'a'), Index(t.rfind(L'a'))) << "ReverseFind";
        for (int i = -1; i <= n + 1; ++i) {
            SCOPED_TRACE(std::to_string(i) + " in \"" + std::string(t.begin(), t.end()) + "\"");
            const size_t k = static_cast<size_t>(std::max(i, 0));
            EXPECT_EQ(std::wstring(s.Left(i)), t.substr(0, k));
            EXPECT_EQ(std::wstring(s.Right(i)), t.substr(t.size() - std::min(k, t.size())));
            EXPECT_EQ(s.Find(L'a', i), Index(t.find(L'a', k)));
            EXPECT_EQ(std::wstring(s.Mid(i)), at(i) < t.size() ? t.substr(at(i)) : L"");
            for (const wchar_t* text : {L".a", L""}) {
                EXPECT_EQ(s.Find(text, i), i < 0 || i > n ? -1 : Index(t.find(text, k)));
            }
            CLuStringW inserted(s);
            inserted.Insert(i, L"XY");
            EXPECT_EQ(std::wstring(inserted), std::wstring(t).insert(at(i), L"XY"));
            for (int count = -1; count <= n + 1; ++count) {
                const size_t c = static_cast<size_t>(std::max(count, 0));
                EXPECT_EQ(std::wstring(s.Mid(i, count)),
                          at(i) < t.size() ? t.substr(at(i), c) : L"");
                CLuStringW deleted(s);
                EXPECT_EQ(deleted.Delete(i, count),
                          static_cast<int>(std::wstring(t).erase(at(i), c).size()));
                EXPECT_EQ(std::wstring(deleted), std::wstring(t).erase(at(i), c));
            }
        }
    }
}

// Each pair maps both ways at the edges of its range; the last row has no case.
TEST(LuStringW, CaseAtTheEdgesOfEachRange) {
    const std::pair<const wchar_t*, const wchar_t*> pairs[] = {
        {L"AZ\x00C0\x00D6\x00D8\x00DE", L"az\x00E0\x00F6\x00F8\x00FE"},
        {L"\x0100\x0136\x0139\x0147\x014A\x0176\x0178\x0179\x017D",
         L"\x0101\x0137\x013A\x0148\x014B\x0177\x00FF\x017A\x017E"},
        {L"\x0391\x03A1\x03A3\x03AB", L"\x03B1\x03C1\x03C3\x03CB"},
        {L"\x0400\x040F\x0410\x042F", L"\x0450\x045F\x0430\x044F"},
        {L"@[`{\x00D7\x00F7\x00DF\x0130\x0131\x0138\x0149\x017F\x03A2",
         L"@[`{\x00D7\x00F7\x00DF\x0130\x0131\x0138\x0149\x017F\x03A2"}};
    for (const auto& [upper, lower] : pairs) {
        EXPECT_EQ(std::wstring(CLuStringW(upper).MakeLower()), lower);
        EXPECT_EQ(std::wstring(CLuStringW(lower).MakeUpper()), upper);
        EXPECT_EQ(CLuStringW(upper).CompareNoCase(lower), 0);
    }
    // A shorter text sorts first, with or without case.
    const wchar_t* const ordered[] = {L"", L"a", L"ab", L"abc", L"b"};
    for (int i = 0; i < 5; ++i) {
        for (int j = 0; j < 5; ++j) {
            const int expected = i < j ? -1 : i > j ? 1 : 0;
            EXPECT_EQ(CLuStringW(ordered[i]).Compare(ordered[j]), expected) << i << j;
            EXPECT_EQ(CLuStringW(ordered[i]).MakeUpper().CompareNoCase(ordered[j]), expected);
        }
    }
}

}  // namespace
