// The trust check and the signature report over the code-signing fixtures
// (see make_trust_fixtures.py): verdicts, the exact printed account, and the
// subject name left for the caller. Under Wine the test CA goes into the
// prefix's root store first.
#include "system_test.h"

#include <algorithm>
#include <iterator>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <regex>

#include "support/fixtures.h"
#include "vidozir/trust.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

namespace {

const char kFolder[] = "trust_fixtures";
// The Windows-form path of a fixture.
CLuStringW FixturePath(const std::string& name) {
    return vidozir_test::FixturePath(kFolder, name);
}

// What `work` writes to standard output, without carriage returns (Windows
// writes a system message's "\r\n", and its text-mode stdout adds more).
std::string Capture(const std::function<void()>& work) {
    testing::internal::CaptureStdout();
#if defined(_WIN32)
    _setmode(1, _O_TEXT);  // the descriptor took the capturing file's binary mode
#endif
    work();
    fflush(stdout);
    std::string text = testing::internal::GetCapturedStdout();
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

class TrustTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::string dir = vidozir_test::FixtureDir(kFolder);
#if defined(_WIN32)
        // The test CA becomes a trusted root of the prefix (Wine) or machine,
        // the distrusted signer goes to the Disallowed store.
        vidozir_test::AddCertificateToStore(L"Root", dir + "/ca.pem");
        vidozir_test::AddCertificateToStore(L"Disallowed", dir + "/distrusted.pem");
#else
        setenv("VIDOZIR_TRUST_ANCHORS", (dir + "/anchors.pem").c_str(), 1);
        setenv("VIDOZIR_TRUST_DISALLOWED", (dir + "/disallowed.pem").c_str(), 1);
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
    const char* wineDifference;  // why Wine's WinTrust answers otherwise, or null
};

const TrustCase kTrustCases[] = {
    {"signed.exe", 1, kVerified, nullptr},
    {"signed_sha1_32.exe", 1, kVerified, nullptr},
    {"signed_ts.exe", 1, kVerified, nullptr},
    {"signed_plain.exe", 1, kVerified, nullptr},
    {"orgonly.exe", 1, kVerified, nullptr},
    {"expired_ts.exe", 1, kVerified, nullptr},
    {"expired_legacy_ts.exe", 1, kVerified, nullptr},
    {"unsigned.exe", 0, kNotSigned, nullptr},
    {"text.txt", 0, kNotSigned, kWineForm},
    {"missing.exe", 0, "", nullptr},
    {"tampered_code.exe", 0, "Error is: 0x80096010.\n", nullptr},
    {"tampered_signature.exe", 0, "Error is: 0x80096004.\n", nullptr},
    {"damaged_table.exe", 0, kNotSigned, nullptr},
    {"garbled_signature.exe", 0, "Error is: 0x8009310b.\n", nullptr},
    {"nousage.exe", 0, "Error is: 0x800b0110.\n", kWineChain},
    {"untrusted.exe", 0, "Error is: 0x800b0109.\n", kWineChain},
    {"expired.exe", 0, "Error is: 0x800b0101.\n", kWineChain},
    {"badstamp.exe", 0, "Error is: 0x80096005.\n", kWineChain},
    {"legacy_rogue_ts.exe", 0, "Error is: 0x80096005.\n", kWineChain},
    // A counter-signature over another signature value is not this one's.
    {"legacy_other_digest.exe", 0, "Error is: 0x800b0101.\n", kWineChain},
    {"distrusted.exe", 0, "The signature is present, but specifically disallowed.\n", kWineChain},
#if !defined(_WIN32)
    // Linux programs: an appended module signature, judged by the same rules.
    {"signed.elf", 1, kVerified, nullptr},
    {"tampered.elf", 0, "Error is: 0x80096004.\n", nullptr},
    {"program.elf", 0, kNotSigned, nullptr},
#endif
};

// The functions keep no shared state: every file is first checked at once,
// a thread each, the report made too; then each alone for its account.
TEST_F(TrustTest, CheckFileTrustGivesTheVerdictAndAccountOfEachSituation) {
    std::vector<int> atOnce(std::size(kTrustCases), -1);
    std::vector<std::thread> threads;
    Capture([&] {
        for (size_t i = 0; i < atOnce.size(); ++i) {
            threads.emplace_back([&, i] {
                CLuStringW path = FixturePath(kTrustCases[i].file);
                wchar_t out[64];
                atOnce[i] = CheckFileTrust(path.GetBuffer());
                FetchSignatureInfo(path, out, 64);
            });
        }
        for (std::thread& thread : threads)
            thread.join();
    });
    for (const TrustCase& c : kTrustCases) {
        SCOPED_TRACE(c.file);
        if (c.wineDifference != nullptr && vidozir_test::IsWine()) {
            std::printf("[  WINE    ] %s skipped: %s\n", c.file, c.wineDifference);
            continue;
        }
        EXPECT_EQ(atOnce[size_t(&c - kTrustCases)], c.result);
        CLuStringW path = FixturePath(c.file);
        int result = -1;
        const std::string printed = Capture([&] { result = CheckFileTrust(path.GetBuffer()); });
        EXPECT_EQ(result, c.result);
        std::string expected = c.printed;
        const size_t at = expected.find("%s");
        if (at != std::string::npos)
            expected.replace(at, 2,
                             std::string(path.GetString(), path.GetString() + path.GetLength()));
        EXPECT_EQ(printed, expected);
    }
}

struct ReportCase {
    const char* file;
    const char* printed;         // up to the certificate's end time, or the whole account
    const char* subject;         // null: out stays untouched
    const char* wineDifference;  // under Wine only the certificate, or the failed call, is compared
    int outChars;                // the caller's buffer
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
const char kNotFound[] = "CryptQueryObject failed:Cannot find the requested object.\n.\n";

// A subject longer than the caller's buffer is cut to fit and terminated; a
// buffer of no units is not written at all.
const ReportCase kReportCases[] = {
    {"signed.exe",
     "Program Name : Vidozir Fixture\nMoreInfo Link : https://example.invalid/vidozir\n\n",
     "Corvane Test Signer", kWineOpus, 1023},
    {"signed_ts.exe", "Program Name : Vidozir Stamped\n\n", "Corvane Test Signer", kWineOpus, 64},
    {"signed_plain.exe", "\n", "Corvane Test Signer", nullptr, 20},
    {"signed_plain.exe", "\n", "Corvane Test Signer", nullptr, 8},
    {"signed_plain.exe", "\n", "Corvane Test Signer", nullptr, 0},
    {"expired_ts.exe",
     "\nSigner Certificate:\nSerial Number:11 \nIssuer Name: Vidozir Test Root\n"
     "Subject Name: Vidozir Expired Signer\n Begin Time: 2020-1-1 0:0:0\n   End Time: 2020-12-31 "
     "23:59:59\n",
     "Vidozir Expired Signer", nullptr, 1023},
    {"orgonly.exe",
     "\nSigner Certificate:\nSerial Number:13 \nIssuer Name: Vidozir Test Root\n"
     "Subject Name: Vidozir Builds\n Begin Time: 2020-1-1 0:0:0\n   End Time: 2039-12-31 "
     "23:59:59\n",
     "Vidozir Builds", nullptr, 1023},
    {"unsigned.exe", kNotFound, nullptr, kWineMessages, 1023},
    {"missing.exe", "CryptQueryObject failed:The system cannot find the file specified.\n.\n",
     nullptr, kWineMessages, 1023},
#if !defined(_WIN32)
    {"signed.elf", "\n", "Corvane Test Signer", nullptr, 1023},
    {"program.elf", kNotFound, nullptr, kWineMessages, 1023},
#endif
};

TEST_F(TrustTest, FetchSignatureInfoReportsTheSignerAndLeavesItsSubject) {
    const std::regex systemTime(
        "System Time: \\d{4}-\\d{1,2}-\\d{1,2} \\d{1,2}:\\d{1,2}:\\d{1,2}\n\n");
    for (const ReportCase& c : kReportCases) {
        SCOPED_TRACE(std::string(c.file) + " into " + std::to_string(c.outChars));
        wchar_t out[1024];
        std::fill(std::begin(out), std::end(out), L'#');
        const CLuStringW path = FixturePath(c.file);
        int result = -1;
        std::string printed = Capture([&] { result = FetchSignatureInfo(path, out, c.outChars); });
        EXPECT_EQ(result, 0);
        // What `out` must hold: the subject cut to the buffer and ended; the rest untouched.
        const std::string written = c.subject && c.outChars > 0
                                        ? std::string(c.subject, 0, size_t(c.outChars - 1)) + '\0'
                                        : "";
        EXPECT_EQ(std::wstring(out, written.size()), std::wstring(written.begin(), written.end()));
        EXPECT_EQ(out[written.size()], L'#');
        const bool wine = c.wineDifference != nullptr && vidozir_test::IsWine();
        std::string expected = c.printed;
        if (c.subject == nullptr) {
            const size_t reason = wine ? expected.find(':') + 1 : expected.size();
            EXPECT_EQ(printed.substr(0, reason), expected.substr(0, reason));
            continue;
        }
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
    }
}

}  // namespace
