// Privileges of the test process and the logon-session-only descriptor,
// read back through the system's descriptor-to-text conversion.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>

#include "platform/win32.h"
#include "vidozir/diskutil.h"

#if !defined(_WIN32)
#include <fstream>
#endif

using namespace VidOzir::DiskUtil;

namespace {

std::string Narrow(const wchar_t* text) {
    std::string out;
    for (; *text != 0; ++text)
        out += char(*text);
    return out;
}

TEST(SetPrivilege, ReportsTheLookupErrorAndSucceedsOtherwise) {
    EXPECT_EQ(SetPrivilege(L"SeNoSuchPrivilege", 1), DWORD(ERROR_NO_SUCH_PRIVILEGE));
    EXPECT_EQ(SetPrivilege(L"", 0), DWORD(ERROR_NO_SUCH_PRIVILEGE));
    // Held by every token; names ignore case.
    EXPECT_EQ(SetPrivilege(L"SeChangeNotifyPrivilege", 1), 0u);
    EXPECT_EQ(SetPrivilege(L"sechangenotifyprivilege", 1), 0u);
    // Not held by the test's token: the adjustment still succeeds.
    EXPECT_EQ(SetPrivilege(L"SeCreateTokenPrivilege", 1), 0u);
}

#if !defined(_WIN32)
// The privilege's capability in the calling thread's effective set, or -1
// when the capability is not permitted at all.
int EffectivePtrace() {
    std::ifstream status("/proc/thread-self/status");
    unsigned long long permitted = 0, effective = 0;
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("CapPrm:", 0) == 0)
            permitted = std::stoull(line.substr(7), nullptr, 16);
        if (line.rfind("CapEff:", 0) == 0)
            effective = std::stoull(line.substr(7), nullptr, 16);
    }
    const unsigned long long bit = 1ull << 19;  // CAP_SYS_PTRACE
    return (permitted & bit) == 0 ? -1 : (effective & bit) != 0;
}

TEST(SetPrivilege, LinuxCapabilityFollowsThePrivilege) {
    // Capabilities are per thread on Linux: a thread of its own keeps the
    // rest of the test program as it was.
    std::thread([] {
        if (EffectivePtrace() < 0)
            return;  // not permitted: nothing to switch
        EXPECT_EQ(SetPrivilege(L"SeDebugPrivilege", 0), 0u);
        EXPECT_EQ(EffectivePtrace(), 0);
        EXPECT_EQ(SetPrivilege(L"SeDebugPrivilege", 1), 0u);
        EXPECT_EQ(EffectivePtrace(), 1);
    }).join();
}
#endif

TEST(LogonSessionDacl, AdmitsOnlyTheLogonSession) {
    SECURITY_DESCRIPTOR* descriptor = nullptr;
    ASSERT_EQ(GetLogonSessionOnlyDACL(&descriptor), 1);
    ASSERT_NE(descriptor, nullptr);
    LPWSTR text = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
        descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr));
    const std::string sddl = Narrow(text);
    LocalFree(text);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(sddl, match, std::regex(R"(D:\(A;OICI;GA;;;(S-1-5-5-\d+-\d+)\))")))
        << sddl;
#if !defined(_WIN32)
    DWORD session = 0;
    ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
    EXPECT_EQ(match[1].str(), "S-1-5-5-0-" + std::to_string(session));
#endif
    // Self-relative and owned by the caller.
    EXPECT_NE(descriptor->Control & 0x8000, 0);
    EXPECT_EQ(LocalFree(descriptor), nullptr);
}

}  // namespace
