// Creating directories and asking about existence, on real folders in a
// temporary tree.
#include "diskutil_test.h"

#include <algorithm>

// 0 when a file in a folder its user may not read counts as existing for
// IsFileExist2 only; 3 when the system does not deny access at all.
static int CheckDenied(const CLuStringW& inside) {
    if (GetFileAttributesW(inside) != INVALID_FILE_ATTRIBUTES ||
        GetLastError() != ERROR_ACCESS_DENIED)
        return 3;
    return IsFileExist2(inside) == 1 && IsFileExist(inside, nullptr) == 0 ? 0 : 4;
}

class Directories : public testing::Test {
protected:
    void SetUp() override {
        native_ = vidozir_test::MakeTempDir("dirs");
        ASSERT_TRUE(std::ofstream(native_ + "/file.txt").good());
    }
    // The Windows form of a path in the test's folder, narrow and wide.
    std::string Narrow(const char* relative) const {
        std::string path = native_ + "\\" + relative;
        std::replace(path.begin(), path.end(), '/', '\\');
        return path;
    }
    CLuStringW At(const char* relative) const { return Wide(Narrow(relative)); }
    std::string native_;
};

TEST_F(Directories, CreatingAndExistence) {
    EXPECT_EQ(CreateAllDirectory(L""), 0);
    EXPECT_NE(CreateAllDirectory(At("a\\b\\c")), 0);
    EXPECT_NE(CreateAllDirectory(At("d\\e\\")), 0);  // a trailing backslash needs no last step
    EXPECT_TRUE(IsFolder(At("a\\b\\c")) && IsFolder(At("d\\e")));
    // Already there: the last creation fails with ERROR_ALREADY_EXISTS, which
    // counts as done, also where a file holds the name. A file on the way
    // stops the walk.
    EXPECT_EQ(CreateAllDirectory(At("a\\b\\c")), 1);
    EXPECT_EQ(CreateAllDirectory(At("file.txt")), 1);
    EXPECT_EQ(CreateAllDirectory(At("file.txt\\sub")), 0);

    // CreateDir needs an existing root.
    EXPECT_TRUE(CreateDir(Narrow("x\\y\\z")) && CreateDir(Narrow("t\\")));
    EXPECT_TRUE(IsFolder(At("x\\y\\z")) && IsFolder(At("t")));
    EXPECT_FALSE(CreateDir(Narrow("file.txt\\sub")));
    // Relative paths: the text up to the first backslash is the root.
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(native_);
    EXPECT_FALSE(CreateDir("data\\x"));
    EXPECT_FALSE(IsFileExist(L"data", nullptr));
    EXPECT_FALSE(CreateDir("nobackslash"));
    EXPECT_TRUE(CreateDir("file.txt"));  // exists, so no backslash is needed
    EXPECT_NE(CreateAllDirectory(L"data"), 0);
    EXPECT_TRUE(CreateDir("data\\x"));
    std::filesystem::current_path(previous);
    EXPECT_TRUE(IsFolder(At("data\\x")));

    // path, exists, isFolder (left alone when nothing is there), found by a
    // search (the platform's wildcards, tested there)
    const std::tuple<const char*, int, int, int> cases[] = {
        {"a", 1, 1, 1},     {"file.txt", 1, 0, 1}, {"missing", 0, 7, 0},
        {"*.txt", 0, 7, 1}, {"a\\?", 0, 7, 1},     {"*.doc", 0, 7, 0}};
    for (const auto& [path, exists, folder, found] : cases) {
        SCOPED_TRACE(path);
        int isFolder = 7;
        EXPECT_EQ(IsFileExist(At(path), &isFolder), exists);
        EXPECT_EQ(isFolder, folder);
        EXPECT_EQ(IsFileExist(At(path), nullptr), exists);
        EXPECT_EQ(IsFileExist2(At(path)), exists);
        EXPECT_EQ(IsFolder(At(path)), int(folder == 1));
        EXPECT_EQ(CheckDirectoryExist(At(path)), found);
    }
}

#if !defined(_WIN32)
// Runs as an unprivileged user: root reads every folder, so the check would
// prove nothing with CI's root account.
VIDOZIR_TEST_CHILD(check_denied) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
        return 2;
    return CheckDenied(vidozir_test::WindowsForm(args.at(0) + "/locked/file.txt").c_str());
}
#endif

TEST_F(Directories, AccessDeniedCountsAsExisting) {
    ASSERT_NE(CreateAllDirectory(At("locked")), 0);
    ASSERT_TRUE(std::ofstream(native_ + "/locked/file.txt").good());
#if defined(_WIN32)
    PSECURITY_DESCRIPTOR none = nullptr;  // an empty access list lets nobody in
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P", SDDL_REVISION_1, &none,
                                                                     nullptr));
    for (const char* path : {"locked", "locked\\file.txt"})
        ASSERT_TRUE(SetFileSecurityW(At(path), DACL_SECURITY_INFORMATION, none));
    LocalFree(none);
    const int result = CheckDenied(At("locked\\file.txt"));
    if (result == 3)
        VIDOZIR_SKIP_UNDER_WINE(
            "access lists are kept but not enforced (Unix permissions decide, and root passes "
            "them)");
    EXPECT_EQ(result, 0);
#else
    ASSERT_EQ(chmod(native_.c_str(), 0755), 0);
    ASSERT_EQ(chmod((native_ + "/locked").c_str(), 0), 0);
    vidozir_test::ChildProcess child("check_denied", {native_});
    ASSERT_TRUE(child.Started());
    EXPECT_EQ(child.Wait(30000), 0);
    chmod((native_ + "/locked").c_str(), 0700);
#endif
}
