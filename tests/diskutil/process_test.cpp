// Finding and ending processes by name over real helper processes: copies of
// one small waiting program, signed by the test CA's "Corvane Test Signer",
// by a trusted signer without that word, or not at all (see
// make_process_fixtures.py). Each run copies them under a name of its own, so
// runs of other builds on the machine are left alone.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "support/child_process.h"
#include "support/fixtures.h"
#include "support/test_support.h"
#include "vidozir/diskutil.h"
#include "vidozir/trust.h"

#if defined(_WIN32)
#include <psapi.h>
#else
#include <sys/stat.h>
#endif

using namespace VidOzir::DiskUtil;
using vidozir_test::ChildProcess;

namespace {

class ProcessTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::string trust = vidozir_test::FixtureDir("trust_fixtures") + "/";
#if defined(_WIN32)
        vidozir_test::AddCertificateToStore(L"Root", trust + "ca.pem");
#else
        // Module signatures carry no certificates: both signers are known here.
        setenv("VIDOZIR_TRUST_ANCHORS", (trust + "anchors.pem:" + trust + "orgonly.pem").c_str(),
               1);
#endif
        const std::string dir = vidozir_test::MakeTempDir("process");
        name_ = "VzHelper" + std::to_string(GetCurrentProcessId()) + ".exe";
        for (const char* kind : {"corvane", "other", "unsigned"}) {
            const std::string folder = dir + "/" + kind;
            std::system(("mkdir \"" + folder + "\"").c_str());
            std::ifstream in(
                vidozir_test::FixtureDir("process_fixtures") + "/" + kind + "/VzHelper.exe",
                std::ios::binary);
            std::ofstream out(folder + "/" + name_, std::ios::binary);
            out << in.rdbuf();
            ASSERT_TRUE(in.good() && out.good()) << folder;
            paths_[kind] = folder + "/" + name_;
        }
#if !defined(_WIN32)
        for (auto& entry : paths_)
            chmod(entry.second.c_str(), 0755);
#endif
    }

    // Starts a helper of `kind`; the process list shows it once this returns.
    ChildProcess& Start(const std::string& kind) {
        helpers_.push_back(std::make_unique<ChildProcess>(std::vector<std::string>{paths_[kind]}));
        EXPECT_TRUE(helpers_.back()->Started()) << paths_[kind];
        return *helpers_.back();
    }
    static bool Alive(ChildProcess& helper) {
        return helper.Wait(0) == -1;
    }
    static CLuStringW Name(bool upper) {
        std::wstring wide(name_.begin(), name_.end());
        for (wchar_t& c : wide)
            c = upper && c >= L'a' && c <= L'z' ? wchar_t(c - 32) : c;
        return CLuStringW(wide.c_str());
    }

    static std::string name_;
    static std::map<std::string, std::string> paths_;
    std::vector<std::unique_ptr<ChildProcess>> helpers_;
};
std::string ProcessTest::name_;
std::map<std::string, std::string> ProcessTest::paths_;

// One set of helpers serves finding, the handle and the ending, in that order.
TEST_F(ProcessTest, FindHandleAndKillOnlyTheMakersProcesses) {
    EXPECT_EQ(GetProcessId(Name(false)), 0u);
    ChildProcess& unsigned_ = Start("unsigned");
    EXPECT_EQ(GetProcessId(Name(true)), DWORD(unsigned_.Id()));
    // Its own name never finds the calling process.
    std::string self = vidozir_test::SelfPath();
    self = self.substr(self.find_last_of("/\\") + 1);
    EXPECT_NE(GetProcessId(CLuStringW(std::wstring(self.begin(), self.end()).c_str())),
              GetCurrentProcessId());

    ChildProcess& other = Start("other");
    // The other signer is trusted: only its name keeps it out.
    std::wstring otherPath(paths_["other"].begin(), paths_["other"].end());
    EXPECT_EQ(CheckFileTrust(&otherPath[0]), 1);
    EXPECT_EQ(GetProcessHandle(Name(false)), nullptr);
    ChildProcess& first = Start("corvane");
    HANDLE handle = GetProcessHandle(Name(true));
    ASSERT_NE(handle, nullptr);
    wchar_t image[260] = {};
    ASSERT_GT(GetModuleFileNameExW(handle, nullptr, image, 260), 0u);
    EXPECT_NE(std::wstring(image).find(L"corvane"), std::wstring::npos);
    EXPECT_TRUE(Alive(first));
    EXPECT_TRUE(CloseHandle(handle));

    ChildProcess& second = Start("corvane");
    const auto start = std::chrono::steady_clock::now();
    KillProcess(Name(false));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(100));  // one pause after each
    EXPECT_NE(first.Wait(5000), -1);
    EXPECT_NE(second.Wait(5000), -1);
    EXPECT_TRUE(Alive(other));
    EXPECT_TRUE(Alive(unsigned_));

    const auto again = std::chrono::steady_clock::now();
    KillProcess(Name(false));  // none left: no pause
    EXPECT_LT(std::chrono::steady_clock::now() - again, std::chrono::seconds(3));
    EXPECT_TRUE(Alive(other));
}

}  // namespace
