// Handing paths to the shell. On Linux documents and folders reach a
// recording `xdg-open` of the test's own.
#include <gtest/gtest.h>

#include <fstream>
#include <list>
#include <string>

#include "platform/win32.h"
#include "support/test_support.h"
#include "support/text.h"
#include "vidozir/diskutil.h"

#if !defined(_WIN32)
#include "support/recording_opener.h"
#endif

using namespace VidOzir::DiskUtil;

namespace {

using vidozir_test::Wide;

TEST(Shell, NothingToOpenDoesNothing) {
#if !defined(_WIN32)
    vidozir_test::RecordingOpener opener;
#endif
    const std::string dir = vidozir_test::MakeTempDir("shell");
    RunProgram(Wide(dir + "/missing.txt"));
    std::list<std::wstring> none;
    OpenFolderAndSelectFiles(Wide(dir + "/"), none);
#if !defined(_WIN32)
    EXPECT_TRUE(opener.Calls(1, 500).empty());
#endif
}

#if !defined(_WIN32)
TEST(Shell, DocumentsGoToTheDesktopOpener) {
    vidozir_test::RecordingOpener opener;
    const std::string dir = vidozir_test::MakeTempDir("shell");
    std::ofstream(dir + "/notes.txt") << "text";
    RunProgram(Wide(dir + "/notes.txt"));
    ASSERT_EQ(opener.Calls(1, 10000), std::vector<std::string>{dir + "/notes.txt"});
    // Not tested first: a missing document is not handed on either, as the
    // shell fails to find it.
    OnFileInDefault(Wide(dir + "\\missing.txt"));
    OnFileInDefault(Wide(dir + "\\notes.txt"));
    EXPECT_EQ(opener.Calls(2, 10000),
              (std::vector<std::string>{dir + "/notes.txt", dir + "/notes.txt"}));
}
#endif

}  // namespace
