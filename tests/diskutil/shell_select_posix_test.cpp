// "Open folder and select" on Linux: the call reaches a recording file manager
// on a private session bus; when no file manager answers, or nothing named
// exists, the folder goes to a recording `xdg-open` instead.
#include "diskutil_test.h"

#include "support/private_bus_posix.h"

TEST(OpenFolderAndSelect, FileManagerGetsTheItemsThatExistElseTheFolderOpens) {
    vidozir_test::PrivateBus bus;
    ASSERT_FALSE(bus.Address().empty()) << "dbus-daemon did not start";
    vidozir_test::RecordingOpener opener;
    const std::string dir = vidozir_test::MakeTempDir("select");
    std::ofstream(dir + "/a.txt") << "a";
    std::ofstream(dir + "/my file%.txt") << "b";
    std::vector<std::vector<std::string>> calls;
    {
        vidozir_test::FileManager manager(bus.Address());
        ASSERT_TRUE(manager.Ready());
        // Each name is joined to the folder as it stands, from its last
        // backslash on: "a.txt" names "<dir>a.txt", which is not there.
        std::list<std::wstring> files = {L"a.txt", L"C:\\elsewhere\\my file%.txt", L"gone.txt"};
        OpenFolderAndSelectFiles(Wide(dir), files);
        OpenFolderAndSelectFile(Wide(dir + "\\a.txt"));
        OpenFolderAndSelectFile(Wide(dir + "\\gone.txt"));  // nothing left to select
        calls = manager.Calls();
    }
    OpenFolderAndSelectFile(Wide(dir + "/a.txt"));  // nobody owns the file manager's name now
    EXPECT_EQ(calls, (std::vector<std::vector<std::string>>{
                         {"file://" + dir + "/my%20file%25.txt", "startup="},
                         {"file://" + dir + "/a.txt", "startup="}}));
    EXPECT_EQ(opener.Calls(2, 10000), (std::vector<std::string>{dir + "/", dir + "/"}));
}
