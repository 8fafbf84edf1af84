// Handing paths to the shell: on Linux documents and folders reach a recording
// `xdg-open` of the test's own. Windows has no such witness here (the shell
// would start a program), so there the test is left out.
#include "diskutil_test.h"

#if !defined(_WIN32)

// RunProgram leaves a missing file alone (tested first); OnFileInDefault hands
// it on, and the shell, failing to find it, opens nothing either. An empty
// selection opens nothing.
TEST(Shell, OnlyExistingDocumentsReachTheOpener) {
    vidozir_test::RecordingOpener opener;
    const std::string dir = vidozir_test::MakeTempDir("shell");
    std::ofstream(dir + "/notes.txt") << "text";
    std::list<std::wstring> none;
    RunProgram(Wide(dir + "/missing.txt"));
    OpenFolderAndSelectFiles(Wide(dir + "/"), none);
    OnFileInDefault(Wide(dir + "\\missing.txt"));
    RunProgram(Wide(dir + "/notes.txt"));
    OnFileInDefault(Wide(dir + "\\notes.txt"));
    opener.Calls(2, 10000);
    EXPECT_EQ(opener.Calls(3, 500),  // and nothing more
              (std::vector<std::string>{dir + "/notes.txt", dir + "/notes.txt"}));
}

#endif
