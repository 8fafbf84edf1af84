// The trust check and the signature report over the code-signing fixtures
// (see make_trust_fixtures.py): verdicts, the exact printed account, and the
// subject name left for the caller. On Linux osslsigncode's own verification
// is an independent oracle of the same verdicts; under Wine the test CA goes
// into the prefix's root store first.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/fixtures.h"
#include "support/test_support.h"
#include "vidozir/diskutil.h"
#include "vidozir/trust.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <wincrypt.h>
#define dup _dup
#define dup2 _dup2
#define fileno _fileno
#else
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "platform/wintrust.h"
#endif

namespace {

const char kFolder[] = "trust_fixtures";
std::string FixtureDir() {
    return vidozir_test::FixtureDir(kFolder);
}
std::string ReadText(const std::string& name) {
    const std::vector<unsigned char> bytes = vidozir_test::ReadFixture(kFolder, name);
    return std::string(bytes.begin(), bytes.end());
}
// The Windows-form path of a fixture, and the same path as printed text.
CLuStringW FixturePath(const std::string& name) {
    return vidozir_test::FixturePath(kFolder, name);
}
std::string Printed(const CLuStringW& path) {
    std::string text;
    for (int i = 0; i < path.GetLength(); ++i)
        text += char(path[i]);
    return text;
}

// What `work` writes to standard output, without carriage returns (Windows
// writes a system message's "\r\n", and its text-mode stdout adds more).
std::string Capture(const std::function<void()>& work) {
    fflush(stdout);
    FILE* sink = tmpfile();
    const int saved = dup(1);
    dup2(fileno(sink), 1);
#if defined(_WIN32)
    _setmode(1, _O_TEXT);  // the descriptor took the temporary file's binary mode
#endif
    work();
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::string text;
    rewind(sink);
    for (int c; (c = fgetc(sink)) != EOF;) {
        if (c != '\r')
            text += char(c);
    }
    fclose(sink);
    return text;
}

class TrustTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
#if defined(_WIN32)
        // The test CA becomes a trusted root of the prefix (Wine) or machine,
        // the distrusted signer goes to the Disallowed store.
        vidozir_test::AddCertificateToStore(L"Root", FixtureDir() + "/ca.pem");
        vidozir_test::AddCertificateToStore(L"Disallowed", FixtureDir() + "/distrusted.pem");
#else
        setenv("VIDOZIR_TRUST_ANCHORS", (FixtureDir() + "/anchors.pem").c_str(), 1);
        setenv("VIDOZIR_TRUST_DISALLOWED", (FixtureDir() + "/disallowed.pem").c_str(), 1);
#endif
    }
};

// The Windows statuses of each situation; "%s" stands for the path.
const char kVerified[] = "The file \"%s\" is signed and the signature was verified.\n";
const char kNotSigned[] = "The file \"%s\" is not signed.\n";

// What Wine's WinTrust does otherwise than Windows.
const char kWineChain[] =
    "Wine's WinVerifyTrust does not judge the signer's certificate chain: it accepts an "
    "untrusted root, an expired certificate, a missing code-signing usage, a failed time stamp "
    "and a certificate of the Disallowed store";
const char kWineForm[] =
    "Wine returns TRUST_E_SUBJECT_FORM_UNKNOWN as the status for a file form without signature "
    "support, Windows TRUST_E_NOSIGNATURE with that code as the last error";

struct TrustCase {
    const char* file;
    int result;
    const char* printed;
    const char* wineDifference;    // why Wine's WinTrust answers otherwise, or null
    const char* oracleDifference;  // why osslsigncode answers otherwise, or null
};

const TrustCase kTrustCases[] = {
    {"signed.exe", 1, kVerified, nullptr, nullptr},
    {"signed_sha1_32.exe", 1, kVerified, nullptr, nullptr},
    {"signed_ts.exe", 1, kVerified, nullptr, nullptr},
    {"signed_plain.exe", 1, kVerified, nullptr, nullptr},
    {"orgonly.exe", 1, kVerified, nullptr, nullptr},
    {"expired_ts.exe", 1, kVerified, nullptr, nullptr},
    {"expired_legacy_ts.exe", 1, kVerified, nullptr, nullptr},
    {"unsigned.exe", 0, kNotSigned, nullptr, nullptr},
    {"text.txt", 0, kNotSigned, kWineForm, nullptr},
    {"missing.exe", 0, "", nullptr, nullptr},
    {"tampered_code.exe", 0, "Error is: 0x80096010.\n", nullptr, nullptr},
    {"tampered_signature.exe", 0, "Error is: 0x80096004.\n", nullptr, nullptr},
    {"damaged_table.exe", 0, kNotSigned, nullptr, nullptr},
    {"garbled_signature.exe", 0, "Error is: 0x8009310b.\n", nullptr, nullptr},
    {"nousage.exe", 0, "Error is: 0x800b0110.\n", kWineChain, nullptr},
    {"untrusted.exe", 0, "Error is: 0x800b0109.\n", kWineChain, nullptr},
    {"expired.exe", 0, "Error is: 0x800b0101.\n", kWineChain, nullptr},
    {"badstamp.exe", 0, "Error is: 0x80096005.\n", kWineChain,
     "osslsigncode judges at the current time when the time stamp fails"},
    {"legacy_rogue_ts.exe", 0, "Error is: 0x80096005.\n", kWineChain, nullptr},
    // A counter-signature over another signature value is not this one's.
    {"legacy_other_digest.exe", 0, "Error is: 0x800b0101.\n", kWineChain, nullptr},
    {"distrusted.exe", 0, "The signature is present, but specifically disallowed.\n", kWineChain,
     "osslsigncode knows no disallowed set"},
#if !defined(_WIN32)
    // Linux programs: an appended module signature, judged by the same rules.
    {"signed.elf", 1, kVerified, nullptr, nullptr},
    {"tampered.elf", 0, "Error is: 0x80096004.\n", nullptr, nullptr},
    {"program.elf", 0, kNotSigned, nullptr, nullptr},
#endif
};

std::string Expand(const char* format, const CLuStringW& path) {
    std::string text(format);
    const size_t at = text.find("%s");
    return at == std::string::npos ? text : text.replace(at, 2, Printed(path));
}

TEST_F(TrustTest, CheckFileTrustGivesTheVerdictAndAccountOfEachSituation) {
    for (const TrustCase& c : kTrustCases) {
        SCOPED_TRACE(c.file);
        if (c.wineDifference != nullptr && vidozir_test::IsWine()) {
            std::printf("[  WINE    ] %s skipped: %s\n", c.file, c.wineDifference);
            continue;
        }
        CLuStringW path = FixturePath(c.file);
        int result = -1;
        const std::string printed = Capture([&] { result = CheckFileTrust(path.GetBuffer()); });
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(printed, Expand(c.printed, path));
    }
}

#if !defined(_WIN32)
// osslsigncode judges the same PE fixtures with the same CA, except where
// its policy differs from Windows (the table names why).
TEST_F(TrustTest, OsslsigncodeAgreesOnEveryPeVerdict) {
    const std::string ca = FixtureDir() + "/ca.pem";
    for (const TrustCase& c : kTrustCases) {
        const std::string file = c.file;
        if (file.size() < 4 || file.compare(file.size() - 4, 4, ".exe") != 0 ||
            file == "missing.exe" || c.oracleDifference != nullptr)
            continue;
        SCOPED_TRACE(file);
        const std::string command = std::string(VIDOZIR_OSSLSIGNCODE) + " verify -CAfile " + ca +
                                    " -TSA-CAfile " + ca + " -in " + FixtureDir() + "/" + file +
                                    " >/dev/null 2>&1";
        const int status = system(command.c_str());
        EXPECT_EQ(WIFEXITED(status) && WEXITSTATUS(status) == 0, c.result == 1);
    }
}
#endif

#if !defined(_WIN32)
// The catalog hash's pass leaves the signature's digest for the trust
// check that follows; a file changed in between is hashed again, never
// judged by the digest of its former content.
TEST_F(TrustTest, AFileChangedAfterItsCatalogHashIsNotJudgedByTheOldDigest) {
    const std::string copy = testing::TempDir() + "vidozir_changed.exe";
    std::ofstream(copy, std::ios::binary) << ReadText("signed.exe");
    // Files changed in the last seconds are never remembered.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    CLuStringW path = VidOzir::DiskUtil::Utf8ToWS(CLuStringA(copy.c_str()));
    const auto check = [&](const std::function<void()>& between) {
        HANDLE file =
            CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        BYTE hash[100];
        DWORD hashSize = sizeof hash;
        EXPECT_TRUE(CryptCATAdminCalcHashFromFileHandle(file, &hashSize, hash, 0));
        CloseHandle(file);
        between();
        WINTRUST_FILE_INFO info = {sizeof info, path, nullptr, nullptr};
        WINTRUST_DATA data = {};
        data.cbStruct = sizeof data;
        data.dwUnionChoice = WTD_CHOICE_FILE;
        data.pFile = &info;
        GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
        return WinVerifyTrustEx(nullptr, &action, &data);
    };
    EXPECT_EQ(check([] {}), 0);
    // One byte of code, the size kept.
    const std::string tampered = ReadText("tampered_code.exe");
    EXPECT_EQ(check([&] { std::ofstream(copy, std::ios::binary | std::ios::in) << tampered; }),
              TRUST_E_BAD_DIGEST);
    remove(copy.c_str());
}
#endif

struct ReportCase {
    const char* file;
    const char* printed;         // up to the certificate's end time, or the whole account
    const char* subject;         // null: out stays untouched
    const char* wineDifference;  // under Wine only the certificate, or the failed call, is compared
};

const char kWineOpus[] =
    "Wine's CryptDecodeObject reads the ASCII form of an SpcString as UTF-16, so the program "
    "name osslsigncode writes comes out garbled";
const char kWineMessages[] =
    "Wine's message table has no texts for the CryptoAPI codes and words others differently, "
    "and its CryptQueryObject reports CRYPT_E_NO_MATCH for a missing file";

const char kSignerLines[] =
    "Signer Certificate:\nSerial Number:03 02 01 \nIssuer Name: Vidozir Test Root\n"
    "Subject Name: Corvane Test Signer\n Begin Time: 2020-1-1 0:0:0\n   End Time: 2039-12-31 "
    "23:59:59\n";

const ReportCase kReportCases[] = {
    {"signed.exe",
     "Program Name : Vidozir Fixture\nMoreInfo Link : https://example.invalid/vidozir\n\n",
     "Corvane Test Signer", kWineOpus},
    {"signed_ts.exe", "Program Name : Vidozir Stamped\n\n", "Corvane Test Signer", kWineOpus},
    {"signed_plain.exe", "\n", "Corvane Test Signer", nullptr},
    {"expired_ts.exe",
     "\nSigner Certificate:\nSerial Number:11 \nIssuer Name: Vidozir Test Root\n"
     "Subject Name: Vidozir Expired Signer\n Begin Time: 2020-1-1 0:0:0\n   End Time: 2020-12-31 "
     "23:59:59\n",
     "Vidozir Expired Signer", nullptr},
    {"orgonly.exe",
     "\nSigner Certificate:\nSerial Number:13 \nIssuer Name: Vidozir Test Root\n"
     "Subject Name: Vidozir Builds\n Begin Time: 2020-1-1 0:0:0\n   End Time: 2039-12-31 "
     "23:59:59\n",
     "Vidozir Builds", nullptr},
    {"unsigned.exe", "CryptQueryObject failed:Cannot find the requested object.\n.\n", nullptr,
     kWineMessages},
    {"text.txt", "CryptQueryObject failed:Cannot find the requested object.\n.\n", nullptr,
     kWineMessages},
    {"missing.exe", "CryptQueryObject failed:The system cannot find the file specified.\n.\n",
     nullptr, kWineMessages},
#if !defined(_WIN32)
    {"signed.elf", "\n", "Corvane Test Signer", nullptr},
    {"program.elf", "CryptQueryObject failed:Cannot find the requested object.\n.\n", nullptr,
     kWineMessages},
#endif
};

TEST_F(TrustTest, FetchSignatureInfoReportsTheSignerAndLeavesItsSubject) {
    const std::regex systemTime(
        "System Time: \\d{4}-\\d{1,2}-\\d{1,2} \\d{1,2}:\\d{1,2}:\\d{1,2}\n\n");
    for (const ReportCase& c : kReportCases) {
        SCOPED_TRACE(c.file);
        wchar_t out[1024];
        for (wchar_t& unit : out)
            unit = L'#';
        const CLuStringW path = FixturePath(c.file);
        int result = -1;
        std::string printed = Capture([&] { result = FetchSignatureInfo(path, out, 1023); });
        EXPECT_EQ(result, 0);
        const bool wine = c.wineDifference != nullptr && vidozir_test::IsWine();
        if (c.subject == nullptr) {
            const std::string expected = c.printed;
            const size_t reason = wine ? expected.find(':') + 1 : expected.size();
            EXPECT_EQ(printed.substr(0, reason), expected.substr(0, reason));
            EXPECT_EQ(out[0], L'#');
            continue;
        }
        std::string expected = c.printed;
        if (expected.find("Signer Certificate:") == std::string::npos)
            expected += kSignerLines;
        if (wine) {
            // Only the certificate's report, which follows the publisher's.
            std::printf("[  WINE    ] %s: publisher lines skipped: %s\n", c.file, c.wineDifference);
            expected = expected.substr(expected.find("Signer Certificate:"));
            const size_t at = printed.find("Signer Certificate:");
            ASSERT_NE(at, std::string::npos);
            printed = printed.substr(at);
        }
        ASSERT_GE(printed.size(), expected.size());
        EXPECT_EQ(printed.substr(0, expected.size()), expected);
        EXPECT_TRUE(std::regex_match(printed.substr(expected.size()), systemTime)) << printed;
        EXPECT_EQ(CLuStringW(out), CLuStringW(VidOzir::DiskUtil::Utf8ToWS(c.subject)));
        EXPECT_EQ(out[1023], L'#');
    }
}

// The functions keep no shared state: several threads check files at once.
TEST_F(TrustTest, ChecksRunOnSeveralThreadsAtOnce) {
    const char* const files[] = {"signed.exe", "signed_ts.exe", "unsigned.exe",
                                 "tampered_code.exe"};
    int results[4][8] = {};
    Capture([&] {
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&, t] {
                CLuStringW path = FixturePath(files[t]);
                wchar_t out[64] = {};
                for (int i = 0; i < 8; ++i) {
                    results[t][i] = CheckFileTrust(path.GetBuffer());
                    FetchSignatureInfo(path, out, 64);
                }
            });
        }
        for (std::thread& thread : threads)
            thread.join();
    });
    for (int t = 0; t < 4; ++t) {
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(results[t][i], t < 2 ? 1 : 0) << files[t];
    }
}

// A subject longer than the caller's buffer is cut to fit and terminated;
// a buffer of no units is not written at all.
TEST_F(TrustTest, FetchSignatureInfoCutsALongSubjectToTheBuffer) {
    const CLuStringW path = FixturePath("signed.exe");
    wchar_t out[16];
    for (wchar_t& unit : out)
        unit = L'#';
    Capture([&] { FetchSignatureInfo(path, out, 8); });
    EXPECT_EQ(CLuStringW(out), CLuStringW(L"Corvane"));
    EXPECT_EQ(out[8], L'#');
    out[0] = L'#';
    Capture([&] { FetchSignatureInfo(path, out, 0); });
    EXPECT_EQ(out[0], L'#');
}

}  // namespace
