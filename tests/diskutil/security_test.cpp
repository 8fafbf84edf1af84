// Privileges of the test process and the logon-session-only descriptor,
// read back through the system's descriptor-to-text conversion.
#include "diskutil_test.h"

#include <regex>
#include <thread>

#if !defined(_WIN32)
// Whether CAP_SYS_PTRACE is in the calling thread's effective set, or -1 when
// it is not permitted at all.
static int EffectivePtrace() {
    std::ifstream status("/proc/thread-self/status");
    unsigned long long sets[2] = {};  // permitted, effective
    for (std::string line; std::getline(status, line);) {
        for (int i = 0; i < 2; ++i)
            if (line.rfind(i == 0 ? "CapPrm:" : "CapEff:", 0) == 0)
                sets[i] = std::stoull(line.substr(7), nullptr, 16);
    }
    const unsigned long long bit = 1ull << 19;
    return (sets[0] & bit) == 0 ? -1 : (sets[1] & bit) != 0;
}
#endif

TEST(Security, PrivilegesAndTheLogonSessionOnlyDacl) {
    EXPECT_EQ(SetPrivilege(L"SeNoSuchPrivilege", 1), DWORD(ERROR_NO_SUCH_PRIVILEGE));
    EXPECT_EQ(SetPrivilege(L"SeChangeNotifyPrivilege", 0), 0u);  // held by every token
    // Not held by the test's token: the adjustment still succeeds.
    EXPECT_EQ(SetPrivilege(L"SeCreateTokenPrivilege", 1), 0u);
#if !defined(_WIN32)
    // On Linux SeDebugPrivilege is CAP_SYS_PTRACE of the calling thread: a
    // thread of its own keeps the rest of the test program as it was.
    std::thread([] {
        if (EffectivePtrace() < 0)
            return;  // not permitted: nothing to switch
        for (int enable : {0, 1}) {
            EXPECT_EQ(SetPrivilege(L"SeDebugPrivilege", enable), 0u);
            EXPECT_EQ(EffectivePtrace(), enable);
        }
    }).join();
#endif

    // The logon-session-only descriptor admits that session alone.
    SECURITY_DESCRIPTOR* descriptor = nullptr;
    ASSERT_EQ(GetLogonSessionOnlyDACL(&descriptor), 1);
    LPWSTR text = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
        descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr));
    const std::wstring sddl(text);
    LocalFree(text);
    std::wsmatch match;
    ASSERT_TRUE(
        std::regex_match(sddl, match, std::wregex(LR"(D:\(A;OICI;GA;;;(S-1-5-5-\d+-\d+)\))")))
        << sddl;
#if !defined(_WIN32)
    DWORD session = 0;
    ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
    EXPECT_EQ(match[1].str(), L"S-1-5-5-0-" + std::to_wstring(session));
#endif
    // Owned by the caller.
    EXPECT_EQ(LocalFree(descriptor), nullptr);
}
