// The Authenticode verifier of non-Windows builds, on OpenSSL. It judges the
// embedded signature of a file the way WinVerifyTrust judges a PE file:
//
// - a PE file's certificate table holds a WIN_CERTIFICATE with a PKCS #7
//   SignedData whose SpcIndirectDataContent carries the image hash (the file
//   without its checksum field, its security directory entry and the
//   certificate table);
// - any other file may end with a PKCS #7 signature appended in the kernel's
//   module-signature format ("~Module signature appended~", written by
//   sign-file); its signed content is everything before the signature.
//
// Certificates chain to OpenSSL's default verify paths (SSL_CERT_FILE and
// SSL_CERT_DIR apply) plus the PEM files named in VIDOZIR_TRUST_ANCHORS
// (':'-separated): self-signed certificates there are trust anchors, the
// others are known certificates for building chains, which is also where
// the signer of a module signature (sign-file embeds no certificate) is
// found. Certificates in the PEM files of VIDOZIR_TRUST_DISALLOWED are
// explicitly distrusted, like the Windows "Disallowed" store.
//
// Statuses, as WinVerifyTrust gives them for the same situations (checked
// in this order; the last error is the status unless noted):
//   no signature support (not PE, no module signature)
//                      TRUST_E_NOSIGNATURE, last error TRUST_E_SUBJECT_FORM_UNKNOWN
//   PE without certificate table  TRUST_E_NOSIGNATURE, last error TRUST_E_NOSIGNATURE
//   damaged certificate table     TRUST_E_NOSIGNATURE, last error TRUST_E_NOSIGNATURE
//   undecodable PKCS #7           CRYPT_E_ASN1_BADTAG
//   SignedData without signer or SpcIndirectDataContent
//                      TRUST_E_NOSIGNATURE, last error CRYPT_E_ASN1_BADTAG
//   unknown digest algorithm      NTE_BAD_ALGID
//   image hash differs (tampered) TRUST_E_BAD_DIGEST
//   signer certificate missing    TRUST_E_NO_SIGNER_CERT
//   signer's signature or signed attributes' digest wrong  TRUST_E_CERT_SIGNATURE
//                      (a changed ELF program shows so too: a module signature
//                      without signed attributes signs the file's digest itself)
//   time stamp present but invalid  TRUST_E_TIME_STAMP
//                      (an RFC 3161 token or a PKCS #9 counter-signature that
//                      covers the signer's signature value but whose own
//                      signature, certificate, chain or usage fails; one over
//                      another signature value is not this signer's time stamp
//                      and is passed over)
//   a chain certificate disallowed  TRUST_E_EXPLICIT_DISTRUST
//   not valid at the time stamp's time, or now without one  CERT_E_EXPIRED
//   a certificate's signature wrong TRUST_E_CERT_SIGNATURE
//   chain ends in an untrusted root CERT_E_UNTRUSTEDROOT
//   chain cannot be completed     CERT_E_CHAINING
//   signer lacks code signing in its extended key usage  CERT_E_WRONG_USAGE
//   accepted                      0
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vidozir::authenticode {

using Bytes = std::vector<uint8_t>;

// Where a file's signature lies.
struct Layout {
    enum Form { Unknown, Pe, ModuleSigned } form = Unknown;
    bool damaged = false;      // a PE certificate table that does not fit the file
    uint64_t checksum = 0;     // PE: offset of the checksum field
    uint64_t securityDir = 0;  // PE: offset of the security directory entry
    uint64_t table = 0;        // PE: certificate table; 0 when unsigned
    uint64_t tableSize = 0;
    uint64_t signature = 0;  // the PKCS #7 blob (PE: inside the table)
    uint64_t signatureSize = 0;
};

Layout Locate(const uint8_t* data, size_t size);

// Digests of a file's signed content, by OpenSSL digest NID: the
// Authenticode image hash of a PE file, the content before a module
// signature, the whole of any other file.
using Digests = std::map<int, Bytes>;

// The digest (OpenSSL NID) by which the signature judges the content: the
// image digest of a PE signature, the signer's digest of a module
// signature; NID_undef when the signature cannot be read.
int SignatureDigest(const uint8_t* data, const Layout& layout);

// The content digest with the digest of that NID; empty when unknown.
Bytes ContentDigest(const uint8_t* data, size_t size, const Layout& layout, int nid);

struct Verdict {
    int32_t status = 0;
    uint32_t lastError = 0;
};

// Judges the file's signature at the time of its time stamp, else now.
// Digests of the content found in `known` are taken as they are, not
// computed again: the caller vouches that they are of these bytes.
Verdict Verify(const uint8_t* data, size_t size, const Digests& known = Digests());

// What a signature holds, in the forms CryptoAPI reports them.
struct Attribute {
    std::string oid;
    std::vector<Bytes> values;  // each value's DER
};

struct Signer {
    uint32_t version = 0;
    Bytes issuer;  // DER of the issuer's name
    Bytes serial;  // the INTEGER's content octets, most significant first
    std::string hashOid, encryptionOid;
    Bytes hashParams, encryptionParams;
    Bytes encryptedHash;
    std::vector<Attribute> authAttrs, unauthAttrs;
};

struct Certificate {
    uint32_t version = 0;
    Bytes der, issuer, subject, serial;  // serial as in Signer
    std::string signatureOid;
    Bytes signatureParams;
    int64_t notBefore = 0, notAfter = 0;     // FILETIME units: 100 ns since 1601
    std::u16string issuerName, subjectName;  // simple display names
};

struct Embedded {
    std::vector<Signer> signers;
    std::vector<Certificate> certificates;  // of the signature, and a module signer's own
};

// False when the file holds no decodable signature.
bool ReadEmbedded(const uint8_t* data, size_t size, Embedded& out);

// The publisher information of an SpcSpOpusInfo attribute value.
struct Link {
    uint32_t choice = 0;        // 1 URL, 2 moniker, 3 file
    std::u16string text;        // URL or file name
    Bytes classId, serialized;  // moniker
};
struct OpusInfo {
    bool hasProgramName = false, hasMoreInfo = false, hasPublisher = false;
    std::u16string programName;
    Link moreInfo, publisher;
};
bool DecodeOpusInfo(const uint8_t* data, size_t size, OpusInfo& out);

}  // namespace vidozir::authenticode
