// Pieces the verifier and the signature reader share: OpenSSL ownership, DER
// elements, the signed data of a file and the certificates named by the
// environment.
#pragma once

#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

#include "platform/authenticode.h"

namespace vidozir::authenticode::detail {

template <class T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
template <class T, void (*Free)(T*)>
using Owned = std::unique_ptr<T, Deleter<T, Free>>;
using Pkcs7 = Owned<PKCS7, PKCS7_free>;
void FreeCerts(STACK_OF(X509) * certs);
using Certs = Owned<STACK_OF(X509), FreeCerts>;

std::string OidText(const ASN1_OBJECT* object);

// One DER element: its tag, class and content. ReadElement steps `p` past it;
// false when it is malformed or runs past `end` (indefinite lengths included).
struct Element {
    int tag = 0, cls = 0;
    bool constructed = false;
    const uint8_t* content = nullptr;
    size_t size = 0;
};
bool ReadElement(const uint8_t*& p, const uint8_t* end, Element& out);

// The file's SignedData with at least one signer, or null.
PKCS7* ParseSignedData(const uint8_t* data, const Layout& layout);

// The signer's certificate among `certs`, by issuer and serial number.
X509* FindSigner(STACK_OF(X509) * certs, PKCS7_SIGNER_INFO* si);

// The certificates of the PEM files in the ':'-separated list of the
// environment variable.
Certs LoadCertificates(const char* variable);

}  // namespace vidozir::authenticode::detail
