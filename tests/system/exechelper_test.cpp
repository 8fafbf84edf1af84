// Launching through the shell: null and missing files, and the waits on a
// long-running child (a copy of this test program in a sleeping mode that
// ends once the test leaves its stop file).
#include "system_test.h"

#include <chrono>
#include <fstream>

#include "vidozir/exechelper.h"

#if !defined(_WIN32)
#include "support/recording_opener.h"
#endif

namespace {

VIDOZIR_TEST_CHILD(sleeper) {
    for (int i = 0; i < 600 && !std::ifstream(args.at(0)); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return 0;
}

class ExecHelperTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (const std::string& file : stopFiles_)
            std::ofstream{file};
    }
    CLuStringW Sleeper() {
        stopFiles_.push_back(vidozir_test::MakeTempDir("exec") + "/stop");
        return Wide("--child=sleeper \"" + stopFiles_.back() + "\"");
    }
    std::vector<std::string> stopFiles_;
};

TEST_F(ExecHelperTest, NullAndMissingFilesFail) {
    EXPECT_FALSE(CExecHelper::Exec(nullptr, nullptr, SW_HIDE));
    EXPECT_FALSE(CExecHelper::Exec(nullptr, nullptr, SW_HIDE, nullptr, 1000));
    EXPECT_FALSE(CExecHelper::Exec(nullptr));  // modern systems reject a null path
    const CLuStringW missing = Wide(vidozir_test::MakeTempDir("exec") + "/missing.exe");
    EXPECT_FALSE(CExecHelper::Exec(missing, nullptr, SW_HIDE));
    EXPECT_FALSE(CExecHelper::Exec(missing));
}

// A time-out of 0 does not wait; otherwise the wait ends at the time-out, when
// the child ends, or when the stop event is set (300 ms after the launch).
TEST_F(ExecHelperTest, WaitEndsAtTheTimeoutTheChildsEndOrTheStopEvent) {
    const CLuStringW self = Wide(vidozir_test::SelfPath());
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // launch a sleeper, set the stop event 300 ms after, time-out, at least, below (ms)
    const std::tuple<bool, bool, DWORD, long long, long long> cases[] = {
        {true, false, 0, 0, 3000},         // an unset stop event, no wait
        {true, false, 5000, 4990, 30000},  // no stop event: the time-out
        {false, false, 60000, 0, 20000},   // a child that ends by itself
        {true, true, 60000, 290, 10000},   // long before the child's minute or the time-out
    };
    for (const auto& [sleeper, stopped, timeout, atLeast, below] : cases) {
        std::thread signaller([stop, set = stopped] {
            if (set) {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                SetEvent(stop);
            }
        });
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(CExecHelper::Exec(self,
                                      sleeper ? Sleeper().GetString() : L"--gtest_filter=None",
                                      SW_HIDE, timeout == 5000 ? nullptr : stop, timeout));
        const long long took = std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - start)
                                   .count();
        EXPECT_GE(took, atLeast) << timeout;
        EXPECT_LT(took, below) << timeout;
        signaller.join();
    }
    CloseHandle(stop);
}

#if !defined(_WIN32)
TEST_F(ExecHelperTest, PathsGoToTheDesktopOpener) {
    vidozir_test::RecordingOpener opener;
    const std::string folder = vidozir_test::MakeTempDir("exec");
    EXPECT_TRUE(CExecHelper::Exec(Wide(folder)));
    EXPECT_TRUE(CExecHelper::Exec(L"https://example.invalid/a?b=c", nullptr, SW_SHOW));
    const auto calls = opener.Calls(2, 10000);
    ASSERT_EQ(calls.size(), 2u);
    // The two launches run side by side: either may record first.
    EXPECT_TRUE((calls[0] == folder && calls[1] == "https://example.invalid/a?b=c") ||
                (calls[1] == folder && calls[0] == "https://example.invalid/a?b=c"));
}
#endif

}  // namespace
