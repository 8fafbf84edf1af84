// Launching through the shell: null and missing files, and the waits on a
// long-running child (a copy of this test program in a sleeping mode that
// leaves its process id in a file, so the test can end it).
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "platform/win32.h"
#include "support/test_support.h"
#include "vidozir/exechelper.h"

#if !defined(_WIN32)
#include <signal.h>
#include "support/recording_opener.h"
#endif

namespace {

VIDOZIR_TEST_CHILD(sleeper) {
    std::ofstream(args.at(0)) << GetCurrentProcessId() << "\n";
    std::this_thread::sleep_for(std::chrono::seconds(60));
    return 0;
}

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

class ExecHelperTest : public ::testing::Test {
protected:
    // Waits for the sleeper's id and ends it.
    void TearDown() override {
        for (const std::string& file : pidFiles_) {
            unsigned long pid = 0;
            for (int i = 0; i < 500 && pid == 0; ++i) {
                std::ifstream(file) >> pid;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
#if defined(_WIN32)
            HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, DWORD(pid));
            if (process != nullptr) {
                TerminateProcess(process, 0);
                CloseHandle(process);
            }
#else
            if (pid != 0)
                kill(pid_t(pid), SIGKILL);
#endif
        }
    }
    std::wstring SleeperParameters() {
        pidFiles_.push_back(vidozir_test::MakeTempDir("exec") + "/pid");
        return Wide("--child=sleeper \"" + pidFiles_.back() + "\"");
    }
    static long long Millis(std::chrono::steady_clock::time_point since) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - since)
            .count();
    }
    const std::wstring self_ = Wide(vidozir_test::SelfPath());
    std::vector<std::string> pidFiles_;
};

TEST_F(ExecHelperTest, NullAndMissingFilesFail) {
    EXPECT_FALSE(CExecHelper::Exec(nullptr, nullptr, SW_HIDE));
    EXPECT_FALSE(CExecHelper::Exec(nullptr, nullptr, SW_HIDE, nullptr, 1000));
    EXPECT_FALSE(CExecHelper::Exec(nullptr));  // modern systems reject a null path
    const std::wstring missing = Wide(vidozir_test::MakeTempDir("exec") + "/missing.exe");
    EXPECT_FALSE(CExecHelper::Exec(missing.c_str(), nullptr, SW_HIDE));
    EXPECT_FALSE(CExecHelper::Exec(missing.c_str()));
}

// A time-out of 0 does not wait; otherwise the wait ends at the time-out, when
// the child ends, or when the stop event is set.
TEST_F(ExecHelperTest, WaitEndsAtTheTimeoutOrTheStopEvent) {
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(CExecHelper::Exec(self_.c_str(), SleeperParameters().c_str(), SW_HIDE, stop, 0));
    EXPECT_LT(Millis(start), 3000);
    start = std::chrono::steady_clock::now();
    EXPECT_TRUE(
        CExecHelper::Exec(self_.c_str(), SleeperParameters().c_str(), SW_HIDE, nullptr, 5000));
    EXPECT_GE(Millis(start), 4990);
    EXPECT_LT(Millis(start), 30000);

    // A child that ends by itself ends the wait.
    start = std::chrono::steady_clock::now();
    EXPECT_TRUE(CExecHelper::Exec(self_.c_str(), L"--gtest_filter=None", SW_HIDE, nullptr, 60000));
    EXPECT_LT(Millis(start), 20000);

    std::thread signaller([stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        SetEvent(stop);
    });
    start = std::chrono::steady_clock::now();
    EXPECT_TRUE(
        CExecHelper::Exec(self_.c_str(), SleeperParameters().c_str(), SW_HIDE, stop, 60000));
    EXPECT_GE(Millis(start), 290);
    EXPECT_LT(Millis(start), 10000);  // long before the child's minute or the time-out
    signaller.join();
    CloseHandle(stop);
}

#if !defined(_WIN32)
TEST_F(ExecHelperTest, PathsGoToTheDesktopOpener) {
    vidozir_test::RecordingOpener opener;
    const std::string folder = vidozir_test::MakeTempDir("exec");
    EXPECT_TRUE(CExecHelper::Exec(Wide(folder).c_str()));
    EXPECT_TRUE(CExecHelper::Exec(L"https://example.invalid/a?b=c", nullptr, SW_SHOW));
    const auto calls = opener.Calls(2, 10000);
    ASSERT_EQ(calls.size(), 2u);
    // The two launches run side by side: either may record first.
    EXPECT_TRUE((calls[0] == folder && calls[1] == "https://example.invalid/a?b=c") ||
                (calls[1] == folder && calls[0] == "https://example.invalid/a?b=c"));
}
#endif

}  // namespace
