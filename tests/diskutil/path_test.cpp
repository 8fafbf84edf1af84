// Paths as text: splitting, joining, relations, file-name checks, shortening.
#include "diskutil_test.h"

TEST(PathText, TakingPathsApart) {
    // path, name, folder (GetFilePath), head and tail of the split that keeps
    // the separator, extension, parent
    const wchar_t* const cases[][7] = {
        {L"C:\\a\\b.txt", L"b.txt", L"C:\\a", L"C:\\a\\", L"b.txt", L"txt", L"C:\\a\\"},
        {L"C:\\a/b.txt", L"b.txt", L"C:", L"C:\\a/", L"b.txt", L"txt", L"C:\\"},
        {L"b.tar.gz", L"b.tar.gz", L"", L"b.tar.gz", L"b.tar.gz", L"gz", L""},
        {L"C:\\a\\", L"", L"C:\\a", L"C:\\a\\", L"", L"C:\\a\\", L"C:\\a\\"},
        {L"C:\\x.y\\\\\\b", L"b", L"C:\\x.y", L"C:\\x.y\\\\\\", L"b", L"y\\\\\\b",
         L"C:\\x.y\\\\\\"},
        {L"", L"", L"", L"", L"", L"", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0]);
        CLuStringW name(L"stale"), alias(L"stale"), dir(L"stale"), head, tail;
        GetFileName(c[0], name);
        GetFileNameWithoutSlash(c[0], alias);
        GetFilePath(c[0], dir);
        GetFilePathAndNameWithoutSlash(c[0], head, tail);
        const CLuStringW got[] = {name, dir, head, tail, GetFileExt(c[0]), GetParentDir(c[0])};
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(W(got[i]), c[i + 1]) << "column " << i + 1;
        EXPECT_EQ(W(alias), c[1]);
    }
    // The parent passes through UTF-8, so it ends at the first null; other
    // characters, also beyond U+FFFF, come back as they were.
    const wchar_t withNull[] = {L'C', L':', L'\\', L'a', 0, L'\\', L'b'};
    EXPECT_EQ(W(GetParentDir(CLuStringW(withNull, 7))), L"C:\\");
    EXPECT_EQ(W(GetParentDir(L"C:\\\xD83D\xDE00\\\x00E9.txt")), L"C:\\\xD83D\xDE00\\");
    // The joining rules are the platform's (tested there); CombinePath adds
    // only the empty result on failure.
    CLuStringW out(L"stale");
    CombinePath(L"C:\\a\\b", L"..\\c.txt", out);
    EXPECT_EQ(W(out), L"C:\\a\\c.txt");
    CombinePath(nullptr, nullptr, out);
    EXPECT_EQ(W(out), L"");
}

TEST(PathText, LevelsAndRelations) {
    // A trailing separator does not count; the search resumes one character
    // after each match, so overlapping ones do.
    const std::tuple<const wchar_t*, const wchar_t*, int> levels[] = {
        {L"\\a\\b", L"\\", 2}, {L"a::b::", L"::", 1}, {L"a:::b", L"::", 2},
        {L"a\\b", nullptr, 0}, {L"a\\b", L"", 0},     {L"\\", L"\\", 0}};
    for (const auto& [path, separator, level] : levels)
        EXPECT_EQ(GetPathLevel(path, separator), level) << path;

    // A child needs a backslash and one more character; only A-Z fold.
    const std::tuple<const wchar_t*, const wchar_t*, bool, bool> cases[] = {
        {L"C:\\a", L"C:\\A\\b", 1, 1},  {L"C:\\a", L"C:\\a\\", 0, 1},
        {L"C:\\a", L"C:\\a\\\\", 1, 1}, {L"C:\\a", L"C:\\ab", 0, 0},
        {L"C:\\z", L"c:\\Z", 0, 1},     {L"C:\\a", L"C:", 0, 0},
        {L"C:\\", L"C:\\ab", 0, 0},     {L"C:\\\x00C9", L"C:\\\x00E9\\x", 0, 0}};
    for (const auto& [parent, child, isChild, childOrSame] : cases) {
        EXPECT_EQ(IsChildPath(parent, child) != 0, isChild) << parent << " " << child;
        EXPECT_EQ(IsChild_or_SamePath(parent, child) != 0, childOrSame) << parent << " " << child;
    }
    EXPECT_TRUE(IsChildPath(L"", L"x") && IsChild_or_SamePath(L"", L"x"));
}

TEST(PathText, FileNameChecksAndShortening) {
    for (const wchar_t* device :
         {L"con", L"Prn", L"AUX", L"clock$", L"NUL", L"COM0", L"com9", L"LPT0"})
        EXPECT_TRUE(IsDeviceFileName(device)) << device;
    for (const wchar_t* other : {L"CON.txt", L" CON", L"COM10", L"COM", L"COMa"})
        EXPECT_FALSE(IsDeviceFileName(other)) << other;

    for (wchar_t c : std::wstring(L"\\/:*?\"<>|\r\n")) {
        const wchar_t name[] = {L'a', c, L'b', 0};
        EXPECT_FALSE(IsFileNameCharValid(name)) << int(c);
    }
    // Blanks around a name do not count, except that CR and LF are refused
    // there too; equal to the limit is too long, and a limit of 0 or less
    // leaves only the emptiness check.
    const std::tuple<const wchar_t*, int, bool, bool, bool> names[] = {
        {L"name.", 0, 0, 1, 1}, {L" . ", 0, 0, 1, 1},    {L" name\n", 0, 0, 1, 1},
        {L"", 0, 0, 0, 1},      {L" \t ", 0, 0, 0, 1},   {L" .profile ", 9, 1, 1, 0},
        {L"abc", 3, 1, 0, 1},   {L" abc  ", 4, 1, 1, 0}, {L"r\x00E9port.txt", -1, 1, 1, 1},
    };
    for (const auto& [name, limit, chars, length, tooLong] : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(IsFileNameCharValid(name) != 0, chars);
        EXPECT_EQ(IsFileNameLengthValid(name, limit) != 0, length);
        EXPECT_EQ(IsFileNameValid(name, limit) != 0, chars && length);
        EXPECT_EQ(IsFileNameTooLong(name, limit) != 0, tooLong);
    }
    const wchar_t kReport[] = L"C:\\Users\\alice\\Documents\\report.txt";
    // At 17 there is no room for folder text; at 16 the name is squeezed too.
    const std::tuple<const wchar_t*, int, const wchar_t*> cases[] = {
        {kReport, 35, kReport},
        {kReport, 30, L"C:\\Users\\a...uments\\report.txt"},
        {kReport, 17, L"C:\\...\\report.txt"},
        {kReport, 16, L"C:\\...nts\\re...t"},
        {kReport, 13, L"C:\\...nts\\..."},
        {L"abcdefghij", 7, L"ab...ij"},
        {L"x/y/abcdef", 8, L"abcdef"}};
    for (const auto& [original, maxLen, shown] : cases) {
        CLuStringW path(original);
        ResizeFormatFileName(path, maxLen);
        EXPECT_EQ(W(path), shown) << original << " to " << maxLen;
    }
}
