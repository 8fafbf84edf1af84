// Paths as text: splitting, joining, relations, file-name checks, shortening.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "diskutil/shortening_promise.h"
#include "vidozir/diskutil.h"

using namespace VidOzir::DiskUtil;

namespace {

std::wstring W(const CLuStringW& text) {
    return std::wstring(text.GetString(), size_t(text.GetLength()));
}

struct SplitCase {
    const wchar_t* path;
    const wchar_t* name;  // GetFileName
    const wchar_t* dir;   // GetFilePath
    const wchar_t* head;  // GetFilePathAndNameWithoutSlash
    const wchar_t* tail;
    const wchar_t* ext;     // GetFileExt
    const wchar_t* parent;  // GetParentDir
};

TEST(PathText, TakingPathsApart) {
    const SplitCase cases[] = {
        {L"C:\\a\\b.txt", L"b.txt", L"C:\\a", L"C:\\a\\", L"b.txt", L"txt", L"C:\\a\\"},
        {L"C:\\a/b.txt", L"b.txt", L"C:", L"C:\\a/", L"b.txt", L"txt", L"C:\\"},
        {L"b.txt", L"b.txt", L"", L"b.txt", L"b.txt", L"txt", L""},
        {L"C:\\a\\", L"", L"C:\\a", L"C:\\a\\", L"", L"C:\\a\\", L"C:\\a\\"},
        {L"C:\\b.txt", L"b.txt", L"C:", L"C:\\", L"b.txt", L"txt", L"C:\\"},
        {L"\\b", L"b", L"", L"\\", L"b", L"\\b", L"\\"},
        {L"a/b", L"b", L"", L"a/", L"b", L"a/b", L""},
        {L"C:\\a\\\\b", L"b", L"C:\\a", L"C:\\a\\\\", L"b", L"C:\\a\\\\b", L"C:\\a\\\\"},
        {L"a.tar.gz", L"a.tar.gz", L"", L"a.tar.gz", L"a.tar.gz", L"gz", L""},
        {L"C:\\x.y\\z", L"z", L"C:\\x.y", L"C:\\x.y\\", L"z", L"y\\z", L"C:\\x.y\\"},
        {L"README", L"README", L"", L"README", L"README", L"README", L""},
        {L"", L"", L"", L"", L"", L"", L""},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.path)));
        CLuStringW name(L"stale"), alias(L"stale"), dir(L"stale"), head, tail;
        GetFileName(c.path, name);
        GetFileNameWithoutSlash(c.path, alias);
        GetFilePath(c.path, dir);
        GetFilePathAndNameWithoutSlash(c.path, head, tail);
        EXPECT_EQ(W(name), c.name);
        EXPECT_EQ(W(alias), c.name);
        EXPECT_EQ(W(dir), c.dir);
        EXPECT_EQ(W(head), c.head);
        EXPECT_EQ(W(tail), c.tail);
        EXPECT_EQ(W(GetFileExt(c.path)), c.ext);
        EXPECT_EQ(W(GetParentDir(c.path)), c.parent);
    }
    // The parent passes through UTF-8, so it ends at the first null; other
    // characters, also beyond U+FFFF, come back as they were.
    const wchar_t withNull[] = {L'C', L':', L'\\', L'a', 0, L'\\', L'b'};
    EXPECT_EQ(W(GetParentDir(CLuStringW(withNull, 7))), L"C:\\");
    EXPECT_EQ(W(GetParentDir(L"C:\\\xD83D\xDE00\\\x00E9.txt")), L"C:\\\xD83D\xDE00\\");
}

TEST(PathText, PathLevel) {
    const struct {
        const wchar_t* path;
        const wchar_t* sep;
        int level;
    } cases[] = {
        {L"a\\b\\c", L"\\", 2},
        {L"a\\b\\", L"\\", 1},
        {L"\\a", L"\\", 1},
        {L"a", L"\\", 0},
        {L"", L"\\", 0},
        {L"a\\b", nullptr, 0},
        {L"a\\b", L"", 0},
        {L"\\\\", L"\\", 1},
        {L"a::b::", L"::", 1},
        // The search resumes one character after each match, so overlapping
        // occurrences count.
        {L"a:::b", L"::", 2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetPathLevel(c.path, c.sep), c.level)
            << testing::PrintToString(std::wstring(c.path));
}

TEST(PathText, Relations) {
    const struct {
        const wchar_t* parent;
        const wchar_t* child;
        int isChild;
        int isChildOrSame;
    } cases[] = {
        {L"C:\\a", L"C:\\A\\b", 1, 1},
        {L"C:\\a", L"C:\\a\\", 0, 1},
        {L"C:\\a", L"C:\\ab", 0, 0},
        {L"C:\\", L"C:\\ab", 0, 0},
        {L"C:\\a", L"c:\\A", 0, 1},
        {L"C:\\a", L"C:", 0, 0},
        {L"", L"anything", 1, 1},
        {L"", L"", 1, 1},
        {L"C:\\a", L"D:\\a\\b", 0, 0},
        {L"C:\\\x00C9", L"C:\\\x00E9\\x", 0, 0},  // ASCII folding only
        {L"C:\\a", L"C:\\a\\\\", 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.parent) + L" | " + c.child));
        EXPECT_EQ(IsChildPath(c.parent, c.child) != 0, c.isChild != 0);
        EXPECT_EQ(IsChild_or_SamePath(c.parent, c.child) != 0, c.isChildOrSame != 0);
    }
}

TEST(PathText, FileNameChecks) {
    for (const wchar_t* device :
         {L"CON", L"con", L"Prn", L"AUX", L"clock$", L"NUL", L"COM0", L"com9", L"LPT0", L"lpt5"})
        EXPECT_TRUE(IsDeviceFileName(device)) << testing::PrintToString(std::wstring(device));
    for (const wchar_t* other : {L"CON.txt", L"COM10", L"COM", L"LPTX", L" CON", L"", L"COMa"})
        EXPECT_FALSE(IsDeviceFileName(other)) << testing::PrintToString(std::wstring(other));

    const struct {
        const wchar_t* name;
        int charValid;
        int nonEmpty;
    } names[] = {
        {L".", 0, 1},          {L"..", 0, 1},         {L"name.", 0, 1},
        {L"a:b", 0, 1},        {L"a\rb", 0, 1},       {L"a\nb", 0, 1},
        {L"name\n", 0, 1},     {L" .profile ", 1, 1}, {L"..a", 1, 1},
        {L"report.txt", 1, 1}, {L"", 0, 0},           {L" \t ", 0, 0},
        {L"a|b", 0, 1},        {L"a\"b", 0, 1},       {L"<a>", 0, 1},
        {L"a*", 0, 1},         {L"a?", 0, 1},         {L"a/b", 0, 1},
        {L"a\\b", 0, 1},       {L" . ", 0, 1},        {L"\x00E9t\x00E9", 1, 1},
    };
    for (const auto& n : names) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(n.name)));
        EXPECT_EQ(IsFileNameCharValid(n.name) != 0, n.charValid != 0);
        EXPECT_EQ(IsFileNameLengthValid(n.name, 0) != 0, n.nonEmpty != 0);
        EXPECT_EQ(IsFileNameValid(n.name, 0) != 0, n.charValid && n.nonEmpty);
    }

    // Equal counts as too long; blanks around the name do not count.
    EXPECT_TRUE(IsFileNameTooLong(L"abc", 3));
    EXPECT_FALSE(IsFileNameTooLong(L"abc", 4));
    EXPECT_FALSE(IsFileNameTooLong(L" abc  ", 4));
    EXPECT_TRUE(IsFileNameTooLong(L"", 0));
    // A positive limit binds the length checks the same way.
    EXPECT_TRUE(IsFileNameLengthValid(L" abc ", 4));
    EXPECT_FALSE(IsFileNameLengthValid(L"abcd", 4));
    EXPECT_FALSE(IsFileNameValid(L"abcd", 4));
    EXPECT_TRUE(IsFileNameValid(L"abcd", -1));
}

TEST(PathText, ShorteningExamples) {
    const struct {
        const wchar_t* path;
        int maxLen;
        const wchar_t* shown;
    } cases[] = {
        {L"C:\\Users\\alice\\Documents\\report.txt", 30, L"C:\\Users\\a...uments\\report.txt"},
        {L"C:\\Users\\alice\\Documents\\report.txt", 20, L"C:\\Us...s\\report.txt"},
        {L"C:\\Users\\alice\\Documents\\report.txt", 35,
         L"C:\\Users\\alice\\Documents\\report.txt"},
        {L"C:\\Users\\alice\\Documents\\report.txt", 17, L"C:\\...\\report.txt"},  // no room
        {L"C:\\Users\\alice\\Documents\\report.txt", 18, L"C:\\U...\\report.txt"},
        {L"C:\\Users\\alice\\Documents\\report.txt", 16, L"C:\\...nts\\re...t"},  // squeezed name
        {L"C:\\Users\\alice\\Documents\\report.txt", 13, L"C:\\...nts\\..."},
        {L"abcdefghij", 7, L"ab...ij"},
        {L"abcdefghij", 8, L"abc...ij"},
        {L"abcdefghij", 3, L"..."},
        {L"x/y/abcdef", 8, L"abcdef"},
        {L"", 0, L""},
    };
    for (const auto& c : cases) {
        CLuStringW path(c.path);
        ResizeFormatFileName(path, c.maxLen);
        EXPECT_EQ(W(path), c.shown)
            << testing::PrintToString(std::wstring(c.path)) << " to " << c.maxLen;
    }
}

// Generated paths of separators, dots, blanks, letters and a surrogate pair.
CLuStringW RandomPath(std::mt19937& random) {
    static const wchar_t kUnits[] = {L'\\', L'\\', L'/',      L'.', L' ', L'a', L'b',
                                     L'C',  L':',  L'\x00E9', L'x', L'y', L'z', L'q'};
    const int length = int(random() % 40);
    CLuStringW path;
    for (int i = 0; i < length; ++i) {
        if (random() % 30 == 0) {
            path += L'\xD83D';
            path += L'\xDE00';
        } else {
            path += kUnits[random() % (sizeof kUnits / sizeof kUnits[0])];
        }
    }
    return path;
}

TEST(PathText, GeneratedPathsKeepTheirPromises) {
    std::mt19937 random(16);
    for (int round = 0; round < 4000; ++round) {
        const CLuStringW path = RandomPath(random);
        SCOPED_TRACE(testing::PrintToString(W(path)));
        CLuStringW name, head, tail;
        GetFileName(path, name);
        GetFilePathAndNameWithoutSlash(path, head, tail);
        if (tail != path || head != path)
            EXPECT_EQ(W(head + tail), W(path));  // split then join gives the path back
        EXPECT_EQ(W(tail), W(name));
        const CLuStringW parent = GetParentDir(path);
        EXPECT_EQ(W(parent + path.Mid(parent.GetLength())), W(path));
        EXPECT_EQ(path.Mid(parent.GetLength()).Find(L'\\'), -1);

        const int maxLen = int(random() % 45);
        CLuStringW shown(path);
        ResizeFormatFileName(shown, maxLen);
        if (path.GetLength() <= maxLen) {
            EXPECT_EQ(W(shown), W(path));
            continue;
        }
        if (ShorteningPromisesLength(path, maxLen))
            EXPECT_EQ(shown.GetLength(), maxLen) << W(shown).size() << " for " << maxLen;
        const int room = maxLen - name.GetLength() - 7;
        if (path.Find(L'\\') >= 0 && room >= 0)
            EXPECT_EQ(W(shown.Right(name.GetLength() + 1)), L"\\" + W(name));
    }
}

// The joining rules themselves are the platform's (its table is with the
// platform tests); here only what CombinePath adds to them.
TEST(PathText, CombinePath) {
    CLuStringW out(L"stale");
    CombinePath(L"C:\\a\\b", L"..\\c.txt", out);
    EXPECT_EQ(W(out), L"C:\\a\\c.txt");
    CombinePath(nullptr, nullptr, out);  // failure leaves the empty string
    EXPECT_TRUE(out.IsEmpty());
    out = L"stale";
    CombinePath(L"C:\\a", std::wstring(300, L'n').c_str(), out);
    EXPECT_TRUE(out.IsEmpty());
}

}  // namespace
