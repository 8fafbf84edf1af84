// The Authenticode verifier on OpenSSL: locating a file's signature, the
// image hash, the signer, the time stamp and the chain.
#include "platform/authenticode.h"

#include "platform/authenticode_internal.h"
#include "platform/pe_resource.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>

#include <sys/stat.h>

namespace vidozir::authenticode {

using namespace detail;

namespace detail {

void FreeCerts(STACK_OF(X509) * certs) {
    sk_X509_pop_free(certs, X509_free);
}

std::string OidText(const ASN1_OBJECT* object) {
    char text[128];
    const int length = OBJ_obj2txt(text, sizeof text, object, 1);
    return length > 0 && size_t(length) < sizeof text ? std::string(text, size_t(length))
                                                      : std::string();
}

bool ReadElement(const uint8_t*& p, const uint8_t* end, Element& out) {
    if (p >= end)
        return false;
    const unsigned char* at = p;
    long length = 0;
    const int flags = ASN1_get_object(&at, &length, &out.tag, &out.cls, long(end - p));
    if ((flags & 0x80) != 0 || (flags & 0x01) != 0 || size_t(length) > size_t(end - at))
        return false;
    out.constructed = (flags & V_ASN1_CONSTRUCTED) != 0;
    out.content = at;
    out.size = size_t(length);
    p = at + length;
    return true;
}

PKCS7* ParseSignedData(const uint8_t* data, const Layout& layout) {
    if (layout.signatureSize == 0)
        return nullptr;
    const unsigned char* p = data + layout.signature;
    PKCS7* p7 = d2i_PKCS7(nullptr, &p, long(layout.signatureSize));
    if (p7 != nullptr && (!PKCS7_type_is_signed(p7) || p7->d.sign == nullptr ||
                          sk_PKCS7_SIGNER_INFO_num(p7->d.sign->signer_info) < 1)) {
        PKCS7_free(p7);
        p7 = nullptr;
    }
    return p7;
}

// The signer's certificate among `certs`, by issuer and serial number.
X509* FindSigner(STACK_OF(X509) * certs, PKCS7_SIGNER_INFO* si) {
    if (certs == nullptr || si->issuer_and_serial == nullptr)
        return nullptr;
    return X509_find_by_issuer_and_serial(certs, si->issuer_and_serial->issuer,
                                          si->issuer_and_serial->serial);
}

void ReadPemFile(const std::string& path, STACK_OF(X509) * into) {
    FILE* file = path.empty() ? nullptr : fopen(path.c_str(), "r");
    if (file == nullptr)
        return;
    while (X509* cert = PEM_read_X509(file, nullptr, nullptr, nullptr)) {
        if (!sk_X509_push(into, cert))
            X509_free(cert);
    }
    fclose(file);
    ERR_clear_error();
}

Certs LoadCertificates(const char* variable) {
    Certs certs(sk_X509_new_null());
    const char* list = getenv(variable);
    if (list == nullptr || certs == nullptr)
        return certs;
    const std::string paths(list);
    for (size_t begin = 0; begin <= paths.size();) {
        size_t end = paths.find(':', begin);
        if (end == std::string::npos)
            end = paths.size();
        ReadPemFile(paths.substr(begin, end - begin), certs.get());
        begin = end + 1;
    }
    return certs;
}

}  // namespace detail

namespace {

// Windows statuses (see the table in the header).
constexpr int32_t kNoSignature = int32_t(0x800B0100);
constexpr int32_t kSubjectFormUnknown = int32_t(0x800B0003);
constexpr int32_t kBadTag = int32_t(0x8009310B);
constexpr int32_t kBadAlgorithm = int32_t(0x80090008);
constexpr int32_t kBadDigest = int32_t(0x80096010);
constexpr int32_t kNoSignerCert = int32_t(0x800B0007);
constexpr int32_t kTimeStamp = int32_t(0x80096005);
constexpr int32_t kExplicitDistrust = int32_t(0x800B0111);
constexpr int32_t kExpired = int32_t(0x800B0101);
constexpr int32_t kCertSignature = int32_t(0x80096004);
constexpr int32_t kUntrustedRoot = int32_t(0x800B0109);
constexpr int32_t kChaining = int32_t(0x800B010A);
constexpr int32_t kWrongUsage = int32_t(0x800B0110);

const char kIndirectDataOid[] = "1.3.6.1.4.1.311.2.1.4";
const char kRfc3161Oid[] = "1.3.6.1.4.1.311.3.3.1";
const char kCounterSignatureOid[] = "1.2.840.113549.1.9.6";
const char kCodeSigningOid[] = "1.3.6.1.5.5.7.3.3";
const char kTimeStampingOid[] = "1.3.6.1.5.5.7.3.8";
const char kModuleMagic[] = "~Module signature appended~\n";
constexpr size_t kModuleMagicSize = sizeof kModuleMagic - 1;
constexpr size_t kModuleInfoSize = 12;  // struct module_signature
constexpr uint8_t kModuleIdPkcs7 = 2;

Verdict Fail(int32_t status) {
    return {status, uint32_t(status)};
}
Verdict NoSignature(int32_t lastError) {
    return {kNoSignature, uint32_t(lastError)};
}

uint32_t Le16(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8;
}
uint32_t Le32(const uint8_t* p) {
    return Le16(p) | Le16(p + 2) << 16;
}

using Store = Owned<X509_STORE, X509_STORE_free>;
using StoreCtx = Owned<X509_STORE_CTX, X509_STORE_CTX_free>;
using MdCtx = Owned<EVP_MD_CTX, EVP_MD_CTX_free>;
using PkeyCtx = Owned<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;
using TstInfo = Owned<TS_TST_INFO, TS_TST_INFO_free>;
using SignerInfo = Owned<PKCS7_SIGNER_INFO, PKCS7_SIGNER_INFO_free>;
// ---- locating the signature ----------------------------------------------

void LocatePe(const uint8_t* data, size_t size, Layout& layout) {
    pe::Headers headers;
    const pe::ReadAt read = [&](uint64_t offset, void* buffer, size_t length) {
        memcpy(buffer, data + offset, length);  // ReadHeaders keeps inside the file
        return true;
    };
    // The security directory is entry 4 of the data directories.
    if (!pe::ReadHeaders(read, size, headers) || headers.directoryCount < 5 ||
        headers.directories + 5 * 8 > size)
        return;
    layout.form = Layout::Pe;
    layout.checksum = headers.optional + 64;
    layout.securityDir = headers.directories + 4 * 8;
    const uint64_t table = Le32(data + layout.securityDir);
    const uint64_t tableSize = Le32(data + layout.securityDir + 4);
    if (table == 0 || tableSize == 0)
        return;
    if (table < layout.securityDir + 8 || table + tableSize > size || tableSize < 8) {
        layout.damaged = true;
        return;
    }
    layout.table = table;
    layout.tableSize = tableSize;
    // The first WIN_CERTIFICATE: revision 2.0, PKCS #7 SignedData.
    const uint32_t length = Le32(data + table);
    if (length < 8 || length > tableSize || Le16(data + table + 4) != 0x0200 ||
        Le16(data + table + 6) != 0x0002) {
        layout.damaged = true;
        return;
    }
    layout.signature = table + 8;
    layout.signatureSize = length - 8;
}

void LocateModuleSignature(const uint8_t* data, size_t size, Layout& layout) {
    if (size < kModuleMagicSize + kModuleInfoSize ||
        memcmp(data + size - kModuleMagicSize, kModuleMagic, kModuleMagicSize) != 0)
        return;
    const uint8_t* info = data + size - kModuleMagicSize - kModuleInfoSize;
    const uint64_t length =
        uint64_t(info[8]) << 24 | uint64_t(info[9]) << 16 | uint64_t(info[10]) << 8 | info[11];
    const uint64_t before = size - kModuleMagicSize - kModuleInfoSize;
    if (info[2] != kModuleIdPkcs7 || length == 0 || length > before)
        return;
    layout.form = Layout::ModuleSigned;
    layout.signature = before - length;
    layout.signatureSize = length;
}

// The byte ranges a digest covers.
struct Range {
    uint64_t begin, end;
};
std::vector<Range> SignedRanges(size_t size, const Layout& layout) {
    if (layout.form == Layout::ModuleSigned)
        return {{0, layout.signature}};
    if (layout.form != Layout::Pe)
        return {{0, size}};
    // Data after the certificate table stays in the hash, so nothing can be
    // appended to a signed file unnoticed.
    const uint64_t tableEnd = layout.table != 0 ? layout.table + layout.tableSize : size;
    const uint64_t tableBegin = layout.table != 0 ? layout.table : size;
    return {{0, layout.checksum},
            {layout.checksum + 4, layout.securityDir},
            {layout.securityDir + 8, tableBegin},
            {tableEnd, size}};
}

bool Digest(const uint8_t* data, size_t size, const Layout& layout, const EVP_MD* md, Bytes& out) {
    MdCtx ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1)
        return false;
    for (const Range& range : SignedRanges(size, layout)) {
        if (range.end > range.begin &&
            EVP_DigestUpdate(ctx.get(), data + range.begin, range.end - range.begin) != 1)
            return false;
    }
    unsigned length = 0;
    out.resize(EVP_MAX_MD_SIZE);
    if (EVP_DigestFinal_ex(ctx.get(), out.data(), &length) != 1)
        return false;
    out.resize(length);
    return true;
}

// The content digest with `md`: from `known` when there, else computed.
bool KnownOrDigest(const uint8_t* data, size_t size, const Layout& layout, const EVP_MD* md,
                   const Digests& known, Bytes& out) {
    const auto found = known.find(EVP_MD_get_type(md));
    if (found != known.end()) {
        out = found->second;
        return true;
    }
    return Digest(data, size, layout, md, out);
}

bool DigestBytes(const uint8_t* data, size_t size, const EVP_MD* md, Bytes& out) {
    Layout whole;
    return Digest(data, size, whole, md, out);
}

// ---- the signature -------------------------------------------------------

// The inner content of a SignedData whose content is not plain data: the
// content octets of its single element (the outer tag and length excluded,
// as Authenticode and RFC 3161 digest it).
bool InnerContent(PKCS7* p7, const uint8_t*& content, size_t& size) {
    PKCS7* inner = p7->d.sign->contents;
    if (inner == nullptr || inner->d.ptr == nullptr)
        return false;
    const ASN1_STRING* value = nullptr;
    if (PKCS7_type_is_other(inner) && inner->d.other != nullptr &&
        inner->d.other->type == V_ASN1_SEQUENCE) {
        value = inner->d.other->value.sequence;
        const uint8_t* p = value->data;
        Element element;
        if (!ReadElement(p, value->data + value->length, element))
            return false;
        content = element.content;
        size = element.size;
        return true;
    }
    if (PKCS7_type_is_other(inner) && inner->d.other != nullptr &&
        inner->d.other->type == V_ASN1_OCTET_STRING)
        value = inner->d.other->value.octet_string;
    else if (PKCS7_type_is_data(inner))
        value = inner->d.data;
    if (value == nullptr)
        return false;
    content = value->data;
    size = size_t(value->length);
    return true;
}

// Checks a signer over content of which `digest` is the hash with the
// signer's digest algorithm: the signed attributes' message digest and the
// signature over them, or the signature over the digest when there are none.
int32_t VerifySigner(PKCS7_SIGNER_INFO* si, X509* cert, const Bytes& digest, const EVP_MD* md) {
    EVP_PKEY* key = X509_get0_pubkey(cert);
    if (key == nullptr)
        return kCertSignature;
    const ASN1_OCTET_STRING* signature = si->enc_digest;
    STACK_OF(X509_ATTRIBUTE)* attrs = si->auth_attr;
    if (sk_X509_ATTRIBUTE_num(attrs) > 0) {
        const ASN1_OCTET_STRING* messageDigest = PKCS7_digest_from_attributes(attrs);
        if (messageDigest == nullptr || size_t(messageDigest->length) != digest.size() ||
            memcmp(messageDigest->data, digest.data(), digest.size()) != 0)
            return kCertSignature;
        unsigned char* encoded = nullptr;
        const int length = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(attrs), &encoded,
                                         ASN1_ITEM_rptr(PKCS7_ATTR_VERIFY));
        if (length <= 0)
            return kCertSignature;
        MdCtx ctx(EVP_MD_CTX_new());
        const bool good = ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, md, nullptr, key) == 1 &&
                          EVP_DigestVerify(ctx.get(), signature->data, size_t(signature->length),
                                           encoded, size_t(length)) == 1;
        OPENSSL_free(encoded);
        return good ? 0 : kCertSignature;
    }
    PkeyCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
    const bool good = ctx && EVP_PKEY_verify_init(ctx.get()) == 1 &&
                      EVP_PKEY_CTX_set_signature_md(ctx.get(), md) == 1 &&
                      EVP_PKEY_verify(ctx.get(), signature->data, size_t(signature->length),
                                      digest.data(), digest.size()) == 1;
    return good ? 0 : kCertSignature;
}

const EVP_MD* SignerDigest(PKCS7_SIGNER_INFO* si) {
    return si->digest_alg != nullptr ? EVP_get_digestbyobj(si->digest_alg->algorithm) : nullptr;
}

// ---- trust settings --------------------------------------------------------

bool SelfSigned(X509* cert) {
    return X509_check_issued(cert, cert) == X509_V_OK;
}

// The certificates of the system's CA file (OpenSSL's default, or
// SSL_CERT_FILE), read once for each version of the file: parsing the
// bundle costs far more than checking a signature. Never changed once read;
// each check's store takes references to them.
std::shared_ptr<const Certs> SystemCertificates() {
    static std::mutex lock;
    static std::string cachedPath;
    static struct stat cachedInfo;
    static std::shared_ptr<const Certs> cached;
    const char* named = getenv(X509_get_default_cert_file_env());
    const std::string path = named != nullptr ? named : X509_get_default_cert_file();
    struct stat info;
    memset(&info, 0, sizeof info);
    const bool exists = stat(path.c_str(), &info) == 0;
    std::lock_guard<std::mutex> hold(lock);
    if (cached && path == cachedPath && info.st_size == cachedInfo.st_size &&
        info.st_mtim.tv_sec == cachedInfo.st_mtim.tv_sec &&
        info.st_mtim.tv_nsec == cachedInfo.st_mtim.tv_nsec && info.st_ino == cachedInfo.st_ino)
        return cached;
    auto certs = std::make_shared<Certs>(sk_X509_new_null());
    if (exists && *certs)
        ReadPemFile(path, certs->get());
    cached = certs;
    cachedPath = path;
    cachedInfo = info;
    return cached;
}

struct TrustSettings {
    Store store{X509_STORE_new()};
    Certs known;  // certificates for chains that are not anchors
    Certs disallowed;

    TrustSettings()
        : known(sk_X509_new_null()), disallowed(LoadCertificates("VIDOZIR_TRUST_DISALLOWED")) {
        if (!store)
            return;
        // OpenSSL's default paths: the CA file (read once, above) and the
        // hashed folder (SSL_CERT_DIR), which is searched only for the
        // issuers a chain needs.
        X509_LOOKUP* folder = X509_STORE_add_lookup(store.get(), X509_LOOKUP_hash_dir());
        const char* named = getenv(X509_get_default_cert_dir_env());
        if (folder != nullptr)
            X509_LOOKUP_add_dir(folder, named != nullptr ? named : X509_get_default_cert_dir(),
                                X509_FILETYPE_PEM);
        const std::shared_ptr<const Certs> system = SystemCertificates();
        for (int i = 0; i < sk_X509_num(system->get()); ++i)
            X509_STORE_add_cert(store.get(), sk_X509_value(system->get(), i));
        Certs extra = LoadCertificates("VIDOZIR_TRUST_ANCHORS");
        for (int i = 0; i < sk_X509_num(extra.get()); ++i) {
            X509* cert = sk_X509_value(extra.get(), i);
            if (SelfSigned(cert))
                X509_STORE_add_cert(store.get(), cert);
            else if (X509_up_ref(cert) && !sk_X509_push(known.get(), cert))
                X509_free(cert);
        }
        ERR_clear_error();
    }

    bool IsDisallowed(X509* cert) const {
        for (int i = 0; i < sk_X509_num(disallowed.get()); ++i) {
            if (X509_cmp(cert, sk_X509_value(disallowed.get(), i)) == 0)
                return true;
        }
        return false;
    }
};

bool HasUsage(X509* cert, const char* oid) {
    auto* usages = static_cast<EXTENDED_KEY_USAGE*>(
        X509_get_ext_d2i(cert, NID_ext_key_usage, nullptr, nullptr));
    if (usages == nullptr)
        return true;  // no extended key usage: every usage, as on Windows
    bool found = false;
    for (int i = 0; i < sk_ASN1_OBJECT_num(usages); ++i) {
        const std::string text = OidText(sk_ASN1_OBJECT_value(usages, i));
        found = found || text == oid || text == "2.5.29.37.0";  // anyExtendedKeyUsage
    }
    EXTENDED_KEY_USAGE_free(usages);
    return found;
}

// Chain errors seen while building, all of them, so the status can follow
// the Windows order rather than OpenSSL's.
struct ChainErrors {
    bool expired = false, signature = false, untrustedRoot = false, chaining = false;
};

int CollectErrors(int ok, X509_STORE_CTX* ctx) {
    if (ok)
        return ok;
    auto* errors = static_cast<ChainErrors*>(X509_STORE_CTX_get_app_data(ctx));
    switch (X509_STORE_CTX_get_error(ctx)) {
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID:
            errors->expired = true;
            break;
        case X509_V_ERR_CERT_SIGNATURE_FAILURE:
            errors->signature = true;
            break;
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
            errors->untrustedRoot = true;
            break;
        default:
            errors->chaining = true;
            break;
    }
    return 1;
}

// Judges `cert`'s chain at `when` for the extended key usage `usage`.
int32_t CheckChain(const TrustSettings& trust, X509* cert, STACK_OF(X509) * untrusted, time_t when,
                   const char* usage) {
    Certs pool(sk_X509_new_null());
    for (STACK_OF(X509) * from : {untrusted, trust.known.get()}) {
        for (int i = 0; i < sk_X509_num(from); ++i) {
            X509* c = sk_X509_value(from, i);
            if (X509_up_ref(c) && !sk_X509_push(pool.get(), c))
                X509_free(c);
        }
    }
    StoreCtx ctx(X509_STORE_CTX_new());
    if (!ctx || !trust.store ||
        X509_STORE_CTX_init(ctx.get(), trust.store.get(), cert, pool.get()) != 1)
        return kChaining;
    ChainErrors errors;
    X509_STORE_CTX_set_app_data(ctx.get(), &errors);
    X509_STORE_CTX_set_verify_cb(ctx.get(), CollectErrors);
    X509_VERIFY_PARAM_set_time(X509_STORE_CTX_get0_param(ctx.get()), when);
    const bool built = X509_verify_cert(ctx.get()) == 1;
    ERR_clear_error();
    bool distrusted = trust.IsDisallowed(cert);
    STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(ctx.get());
    for (int i = 0; i < sk_X509_num(chain); ++i)
        distrusted = distrusted || trust.IsDisallowed(sk_X509_value(chain, i));
    if (distrusted)
        return kExplicitDistrust;
    if (errors.expired)
        return kExpired;
    if (errors.signature)
        return kCertSignature;
    if (errors.untrustedRoot)
        return kUntrustedRoot;
    if (errors.chaining || !built)
        return kChaining;
    if (!HasUsage(cert, usage))
        return kWrongUsage;
    return 0;
}

time_t ToUnixTime(const ASN1_TIME* time) {
    struct tm parts;
    memset(&parts, 0, sizeof parts);
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1)
        return 0;
    return timegm(&parts);
}

// What a time stamp says of the signer: nothing (none, or one over another
// signature value: not this signer's), valid at `when`, or invalid.
struct Stamp {
    enum State { None, Valid, Invalid } state = None;
    time_t when = 0;
};

bool SameBytes(const ASN1_OCTET_STRING* value, const Bytes& bytes) {
    return value != nullptr && size_t(value->length) == bytes.size() &&
           memcmp(value->data, bytes.data(), bytes.size()) == 0;
}

// The time-stamping signer's part, the same for both kinds of stamp: its
// certificate among `certs`, its signature over content whose digest (with
// its own algorithm) is `digest`, and its chain at `when` for time stamping.
Stamp JudgeStamp(const TrustSettings& trust, PKCS7_SIGNER_INFO* tsaSigner, STACK_OF(X509) * certs,
                 const Bytes& digest, const EVP_MD* md, time_t when) {
    X509* tsa = FindSigner(certs, tsaSigner);
    if (when <= 0 || tsa == nullptr || VerifySigner(tsaSigner, tsa, digest, md) != 0 ||
        CheckChain(trust, tsa, certs, when, kTimeStampingOid) != 0)
        return {Stamp::Invalid, 0};
    return {Stamp::Valid, when};
}

// An RFC 3161 token: a SignedData whose TSTInfo imprints the hash of the
// signer's signature value, signed by the authority.
Stamp Rfc3161Stamp(const TrustSettings& trust, PKCS7_SIGNER_INFO* signer, const ASN1_TYPE* value) {
    if (value == nullptr || value->type != V_ASN1_SEQUENCE)
        return {Stamp::Invalid, 0};
    const unsigned char* p = value->value.sequence->data;
    Pkcs7 token(d2i_PKCS7(nullptr, &p, value->value.sequence->length));
    if (!token || !PKCS7_type_is_signed(token.get()) ||
        sk_PKCS7_SIGNER_INFO_num(token->d.sign->signer_info) != 1)
        return {Stamp::Invalid, 0};
    TstInfo info(PKCS7_to_TS_TST_INFO(token.get()));
    PKCS7_SIGNER_INFO* tsaSigner = sk_PKCS7_SIGNER_INFO_value(token->d.sign->signer_info, 0);
    const EVP_MD* md = SignerDigest(tsaSigner);
    const uint8_t* content = nullptr;
    size_t contentSize = 0;
    Bytes expected, digest;
    if (!info || md == nullptr || !InnerContent(token.get(), content, contentSize) ||
        !DigestBytes(content, contentSize, md, digest))
        return {Stamp::Invalid, 0};
    TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(info.get());
    const EVP_MD* imprintMd = EVP_get_digestbyobj(TS_MSG_IMPRINT_get_algo(imprint)->algorithm);
    if (imprintMd == nullptr ||
        !DigestBytes(signer->enc_digest->data, size_t(signer->enc_digest->length), imprintMd,
                     expected))
        return {Stamp::Invalid, 0};
    if (!SameBytes(TS_MSG_IMPRINT_get_msg(imprint), expected))
        return {};
    return JudgeStamp(trust, tsaSigner, token->d.sign->cert, digest, md,
                      ToUnixTime(TS_TST_INFO_get_time(info.get())));
}

// An Authenticode counter-signature (PKCS #9): a SignerInfo whose signed
// attributes hold the signing time and the digest of the signer's signature
// value; the authority's certificates travel with the signature's own.
Stamp CounterSignature(const TrustSettings& trust, PKCS7_SIGNER_INFO* signer,
                       const ASN1_TYPE* value, STACK_OF(X509) * certs) {
    if (value == nullptr || value->type != V_ASN1_SEQUENCE)
        return {Stamp::Invalid, 0};
    const unsigned char* p = value->value.sequence->data;
    SignerInfo counter(d2i_PKCS7_SIGNER_INFO(nullptr, &p, value->value.sequence->length));
    const EVP_MD* md = counter ? SignerDigest(counter.get()) : nullptr;
    Bytes digest;
    if (md == nullptr ||
        !DigestBytes(signer->enc_digest->data, size_t(signer->enc_digest->length), md, digest))
        return {Stamp::Invalid, 0};
    if (!SameBytes(PKCS7_digest_from_attributes(counter->auth_attr), digest))
        return {};
    const ASN1_TYPE* signingTime = PKCS7_get_signed_attribute(counter.get(), NID_pkcs9_signingTime);
    const bool isTime = signingTime != nullptr && (signingTime->type == V_ASN1_UTCTIME ||
                                                   signingTime->type == V_ASN1_GENERALIZEDTIME);
    return JudgeStamp(trust, counter.get(), certs, digest, md,
                      isTime ? ToUnixTime(signingTime->value.utctime) : 0);
}

// The signer's time stamp: the first of its unsigned attributes that is
// one over its signature value decides.
Stamp SignerStamp(const TrustSettings& trust, PKCS7_SIGNER_INFO* signer, STACK_OF(X509) * certs) {
    for (int i = 0; i < sk_X509_ATTRIBUTE_num(signer->unauth_attr); ++i) {
        X509_ATTRIBUTE* attribute = sk_X509_ATTRIBUTE_value(signer->unauth_attr, i);
        const std::string oid = OidText(X509_ATTRIBUTE_get0_object(attribute));
        const ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(attribute, 0);
        Stamp stamp;
        if (oid == kRfc3161Oid)
            stamp = Rfc3161Stamp(trust, signer, value);
        else if (oid == kCounterSignatureOid)
            stamp = CounterSignature(trust, signer, value, certs);
        if (stamp.state != Stamp::None)
            return stamp;
    }
    return {};
}

// The SpcIndirectDataContent's digest algorithm and image digest.
bool IndirectDigest(const uint8_t* content, size_t size, const EVP_MD*& md, Bytes& digest) {
    // SEQUENCE { SpcAttributeTypeAndOptionalValue, DigestInfo }: the first
    // element is skipped, the second decoded.
    const uint8_t* p = content;
    const uint8_t* end = content + size;
    Element first;
    if (!ReadElement(p, end, first))
        return false;
    X509_SIG* info = d2i_X509_SIG(nullptr, &p, long(end - p));
    if (info == nullptr)
        return false;
    const X509_ALGOR* algorithm = nullptr;
    const ASN1_OCTET_STRING* value = nullptr;
    X509_SIG_get0(info, &algorithm, &value);
    md = EVP_get_digestbyobj(algorithm->algorithm);
    digest.assign(value->data, value->data + value->length);
    X509_SIG_free(info);
    return true;
}

// What a signature's content is judged by. A PE signature's signer signs
// its SpcIndirectDataContent (`indirect`), which names the image digest's
// algorithm and value (`expected`); a module signature is detached and its
// signer signs the content itself, with the signer's digest.
struct SignedContent {
    const EVP_MD* md = nullptr;
    Bytes expected;
    const uint8_t* indirect = nullptr;
    size_t indirectSize = 0;
};

bool ReadSignedContent(PKCS7* p7, const Layout& layout, SignedContent& out) {
    PKCS7* contents = p7->d.sign->contents;
    if (layout.form != Layout::Pe) {
        out.md = SignerDigest(sk_PKCS7_SIGNER_INFO_value(p7->d.sign->signer_info, 0));
        return contents != nullptr && contents->d.ptr == nullptr;
    }
    return contents != nullptr && OidText(contents->type) == kIndirectDataOid &&
           InnerContent(p7, out.indirect, out.indirectSize) &&
           IndirectDigest(out.indirect, out.indirectSize, out.md, out.expected);
}

}  // namespace

Layout Locate(const uint8_t* data, size_t size) {
    Layout layout;
    LocatePe(data, size, layout);
    if (layout.form == Layout::Unknown)
        LocateModuleSignature(data, size, layout);
    return layout;
}

int SignatureDigest(const uint8_t* data, const Layout& layout) {
    Pkcs7 p7(layout.damaged ? nullptr : ParseSignedData(data, layout));
    SignedContent content;
    if (!p7 || !ReadSignedContent(p7.get(), layout, content) || content.md == nullptr)
        return NID_undef;
    return EVP_MD_get_type(content.md);
}

Bytes ContentDigest(const uint8_t* data, size_t size, const Layout& layout, int nid) {
    Bytes out;
    const EVP_MD* md = EVP_get_digestbynid(nid);
    if (md == nullptr || !Digest(data, size, layout, md, out))
        out.clear();
    return out;
}

Verdict Verify(const uint8_t* data, size_t size, const Digests& known) {
    const Layout layout = Locate(data, size);
    if (layout.form == Layout::Unknown)
        return NoSignature(kSubjectFormUnknown);
    if (layout.damaged)
        return NoSignature(kNoSignature);
    if (layout.signatureSize == 0)
        return NoSignature(kNoSignature);
    Pkcs7 p7(ParseSignedData(data, layout));
    if (!p7)
        return Fail(kBadTag);
    PKCS7_SIGNER_INFO* signer = sk_PKCS7_SIGNER_INFO_value(p7->d.sign->signer_info, 0);
    const EVP_MD* md = SignerDigest(signer);
    if (md == nullptr)
        return Fail(kBadAlgorithm);

    SignedContent content;
    if (!ReadSignedContent(p7.get(), layout, content))
        return NoSignature(kBadTag);
    if (content.md == nullptr)
        return Fail(kBadAlgorithm);
    Bytes digest, signedDigest;
    const bool hashed = KnownOrDigest(data, size, layout, content.md, known, digest);
    if (layout.form == Layout::Pe) {
        if (!hashed || digest != content.expected)
            return Fail(kBadDigest);
        if (!DigestBytes(content.indirect, content.indirectSize, md, signedDigest))
            return Fail(kBadAlgorithm);
    } else if (hashed) {
        signedDigest = std::move(digest);  // the signer signed the file itself
    } else {
        return NoSignature(kBadTag);
    }

    TrustSettings trust;
    X509* cert = FindSigner(p7->d.sign->cert, signer);
    if (cert == nullptr)
        cert = FindSigner(trust.known.get(), signer);
    if (cert == nullptr)
        return Fail(kNoSignerCert);
    if (const int32_t status = VerifySigner(signer, cert, signedDigest, md))
        return Fail(status);
    const Stamp stamp = SignerStamp(trust, signer, p7->d.sign->cert);
    if (stamp.state == Stamp::Invalid)
        return Fail(kTimeStamp);
    const time_t when = stamp.state == Stamp::Valid ? stamp.when : time(nullptr);
    if (const int32_t status = CheckChain(trust, cert, p7->d.sign->cert, when, kCodeSigningOid))
        return Fail(status);
    return {0, 0};
}

}  // namespace vidozir::authenticode
