#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "platform/win32.h"
#include "support/test_support.h"
#include "vidozir/diskutil.h"

#if defined(_WIN32)
#include <wincrypt.h>
#endif

namespace vidozir_test {

std::string FixtureDir(const std::string& folder) {
    const std::string self = SelfPath();
    return self.substr(0, self.find_last_of("/\\") + 1) + folder;
}

std::vector<unsigned char> ReadFixture(const std::string& folder, const std::string& name) {
    std::ifstream file(FixtureDir(folder) + "/" + name, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(file),
                                      std::istreambuf_iterator<char>());
}

CLuStringW FixturePath(const std::string& folder, const std::string& name) {
    const CLuStringA narrow((FixtureDir(folder) + "\\" + name).c_str());
#if defined(_WIN32)
    CLuStringW path = VidOzir::DiskUtil::AnsiToUnicode(narrow);
#else
    CLuStringW path = VidOzir::DiskUtil::Utf8ToWS(narrow);
#endif
    path.Replace(L'/', L'\\');
    return path;
}

#if defined(_WIN32)
void AddCertificateToStore(const wchar_t* storeName, const std::string& pemPath) {
    std::ifstream file(pemPath, std::ios::binary);
    const std::string pem((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    DWORD size = 0;
    ASSERT_TRUE(CryptStringToBinaryA(pem.c_str(), DWORD(pem.size()), CRYPT_STRING_BASE64HEADER,
                                     nullptr, &size, nullptr, nullptr))
        << pemPath;
    std::string der(size, '\0');
    ASSERT_TRUE(CryptStringToBinaryA(pem.c_str(), DWORD(pem.size()), CRYPT_STRING_BASE64HEADER,
                                     reinterpret_cast<BYTE*>(&der[0]), &size, nullptr, nullptr));
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, storeName);
    ASSERT_NE(store, nullptr);
    EXPECT_TRUE(CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING,
                                                 reinterpret_cast<const BYTE*>(der.data()), size,
                                                 CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
    CertCloseStore(store, 0);
}
#endif

}  // namespace vidozir_test
