// Finding and ending processes by name over real helper processes: copies of
// one small waiting program, signed by the test CA's "Corvane Test Signer",
// by a trusted signer without that word, or not at all (see
// make_process_fixtures.py). Each run copies them under a name of its own, so
// runs of other builds on the machine are left alone.
#include "diskutil_test.h"

#include <chrono>
#include <map>
#include <memory>

#include "support/fixtures.h"
#include "vidozir/trust.h"

#if defined(_WIN32)
#include <psapi.h>
#endif

using vidozir_test::ChildProcess;

// One set of helpers serves finding, the handle and the ending, in that order.
TEST(Processes, FindHandleAndKillOnlyTheMakersProcesses) {
    const std::string trust = vidozir_test::FixtureDir("trust_fixtures") + "/";
#if defined(_WIN32)
    vidozir_test::AddCertificateToStore(L"Root", trust + "ca.pem");
#else
    // Module signatures carry no certificates: both signers are known here.
    setenv("VIDOZIR_TRUST_ANCHORS", (trust + "anchors.pem:" + trust + "orgonly.pem").c_str(), 1);
#endif
    const std::string dir = vidozir_test::MakeTempDir("process");
    const std::string name = "VzHelper" + std::to_string(GetCurrentProcessId()) + ".exe";
    std::map<std::string, std::string> paths;
    for (const char* kind : {"corvane", "other", "unsigned"}) {
        std::filesystem::create_directory(dir + "/" + kind);
        paths[kind] = dir + "/" + kind + "/" + name;
        std::filesystem::copy_file(
            vidozir_test::FixtureDir("process_fixtures") + "/" + kind + "/VzHelper.exe",
            paths[kind]);
    }
    // A started helper is in the process list; the ones left are ended at the end.
    std::vector<std::unique_ptr<ChildProcess>> helpers;
    auto start = [&](const char* kind) -> ChildProcess& {
        helpers.push_back(std::make_unique<ChildProcess>(std::vector<std::string>{paths[kind]}));
        EXPECT_TRUE(helpers.back()->Started()) << paths[kind];
        return *helpers.back();
    };
    auto alive = [](ChildProcess& helper) { return helper.Wait(0) == -1; };
    CLuStringW lower = Wide(name), upper = Wide(name);
    upper.MakeUpper();

    EXPECT_EQ(GetProcessId(lower), 0u);
    ChildProcess& unsigned_ = start("unsigned");
    EXPECT_EQ(GetProcessId(upper), DWORD(unsigned_.Id()));
    // Its own name never finds the calling process.
    const std::string self = vidozir_test::SelfPath();
    EXPECT_NE(GetProcessId(Wide(self.substr(self.find_last_of("/\\") + 1))), GetCurrentProcessId());

    ChildProcess& other = start("other");
    // The other signer is trusted: only its name keeps it out.
    EXPECT_EQ(CheckFileTrust(Wide(paths["other"]).GetBuffer()), 1);
    EXPECT_EQ(GetProcessHandle(lower), nullptr);
    ChildProcess& first = start("corvane");
    HANDLE handle = GetProcessHandle(upper);
    ASSERT_NE(handle, nullptr);
    wchar_t image[260] = {};
    ASSERT_GT(GetModuleFileNameExW(handle, nullptr, image, 260), 0u);
    EXPECT_NE(std::wstring(image).find(L"corvane"), std::wstring::npos);
    EXPECT_TRUE(alive(first));
    EXPECT_TRUE(CloseHandle(handle));

    ChildProcess& second = start("corvane");
    const auto began = std::chrono::steady_clock::now();
    KillProcess(lower);
    EXPECT_GE(std::chrono::steady_clock::now() - began,
              std::chrono::milliseconds(100));  // one pause after each
    EXPECT_NE(first.Wait(5000), -1);
    EXPECT_NE(second.Wait(5000), -1);
    EXPECT_TRUE(alive(other) && alive(unsigned_));
}
