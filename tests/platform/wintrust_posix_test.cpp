// The WinTrust stand-in's digest memo: the catalog hash's pass leaves the
// signature's digest for the trust check that follows; a file changed in
// between is hashed again, never judged by the digest of its former content.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include "platform/win32.h"
#include "platform/wintrust.h"
#include "support/fixtures.h"
#include "support/test_support.h"

namespace {

std::string Fixture(const std::string& name) {
    const std::vector<unsigned char> bytes = vidozir_test::ReadFixture("trust_fixtures", name);
    return std::string(bytes.begin(), bytes.end());
}

TEST(WinTrust, AFileChangedAfterItsCatalogHashIsNotJudgedByTheOldDigest) {
    setenv("VIDOZIR_TRUST_ANCHORS",
           (vidozir_test::FixtureDir("trust_fixtures") + "/anchors.pem").c_str(), 1);
    const std::string copy = vidozir_test::MakeTempDir("wintrust") + "/changed.exe";
    std::ofstream(copy, std::ios::binary) << Fixture("signed.exe");
    // Files changed in the last seconds are never remembered.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    const std::wstring path(copy.begin(), copy.end());
    const auto check = [&](const std::function<void()>& between) {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        BYTE hash[100];
        DWORD hashSize = sizeof hash;
        EXPECT_TRUE(CryptCATAdminCalcHashFromFileHandle(file, &hashSize, hash, 0));
        CloseHandle(file);
        between();
        WINTRUST_FILE_INFO info = {sizeof info, path.c_str(), nullptr, nullptr};
        WINTRUST_DATA data = {};
        data.cbStruct = sizeof data;
        data.dwUnionChoice = WTD_CHOICE_FILE;
        data.pFile = &info;
        GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
        return WinVerifyTrustEx(nullptr, &action, &data);
    };
    EXPECT_EQ(check([] {}), 0);
    // One byte of code, the size kept.
    const std::string tampered = Fixture("tampered_code.exe");
    EXPECT_EQ(check([&] { std::ofstream(copy, std::ios::binary | std::ios::in) << tampered; }),
              TRUST_E_BAD_DIGEST);
}

}  // namespace
