// The code-signing functions on arbitrary bytes: the verifier and the
// signature reader in memory, and CheckFileTrust and FetchSignatureInfo on a
// file holding the bytes. The seeds in fuzz/corpus/pe_signature are signed
// fixtures (PE with and without an RFC 3161 or old-style time stamp, an ELF
// module signature), so mutations reach the PKCS #7 decoding, the hashes,
// the time stamps and the chain.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/authenticode.h"
#include "vidozir/trust.h"

namespace {

std::string TempFile() {
    const char* dir = getenv("TMPDIR");
    if (!dir || !*dir)
        dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/vidozir-fuzz-signature-" + std::to_string(getpid()) + ".exe";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The account goes nowhere; no system trust store is loaded for each
    // input (chains then end in "untrusted root", still fully walked).
    if (!freopen("/dev/null", "w", stdout))
        abort();
    setenv("SSL_CERT_FILE", "/dev/null", 1);
    setenv("SSL_CERT_DIR", "/nonexistent", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    namespace auth = vidozir::authenticode;
    auth::Verify(data, size);
    auth::Embedded embedded;
    if (auth::ReadEmbedded(data, size, embedded)) {
        for (const auth::Signer& signer : embedded.signers) {
            for (const auth::Attribute& attribute : signer.authAttrs) {
                for (const auth::Bytes& value : attribute.values) {
                    auth::OpusInfo opus;
                    auth::DecodeOpusInfo(value.data(), value.size(), opus);
                }
            }
        }
    }

    static const std::string path = TempFile();
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr)
        return 0;
    fwrite(data, 1, size, file);
    fclose(file);
    std::wstring wide(path.begin(), path.end());
    wchar_t out[1024] = {};
    CheckFileTrust(&wide[0]);
    FetchSignatureInfo(wide.c_str(), out, 1023);
    return 0;
}
