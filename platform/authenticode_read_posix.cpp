// Reading what a file's signature holds, for the CryptoAPI queries: signers,
// certificates with their display names, and the publisher's program
// information. Nothing here judges trust.
#include <openssl/x509v3.h>

#include <cstring>

#include "platform/authenticode.h"
#include "platform/authenticode_internal.h"

namespace vidozir::authenticode {

using namespace detail;

namespace {

// DER of an OpenSSL object through its i2d function.
template <class T>
Bytes Der(const T* object, int (*encode)(const T*, unsigned char**)) {
    Bytes out;
    unsigned char* data = nullptr;
    const int length = object != nullptr ? encode(object, &data) : 0;
    if (length > 0)
        out.assign(data, data + length);
    OPENSSL_free(data);
    return out;
}

// The content octets of an INTEGER (sign byte included), as DER holds them.
Bytes SerialOctets(const ASN1_INTEGER* serial) {
    const Bytes der = Der(serial, i2d_ASN1_INTEGER);
    const uint8_t* p = der.data();
    Element element;
    if (!ReadElement(p, der.data() + der.size(), element))
        return {};
    return Bytes(element.content, element.content + element.size);
}

void ReadAlgorithm(const X509_ALGOR* algorithm, std::string& oid, Bytes& params) {
    if (algorithm == nullptr)
        return;
    const ASN1_OBJECT* object = nullptr;
    const void* value = nullptr;
    int type = 0;
    X509_ALGOR_get0(&object, &type, &value, algorithm);
    oid = OidText(object);
    if (algorithm->parameter != nullptr)
        params = Der(algorithm->parameter, i2d_ASN1_TYPE);
}

std::vector<Attribute> ReadAttributes(STACK_OF(X509_ATTRIBUTE) * attributes) {
    std::vector<Attribute> out;
    for (int i = 0; i < sk_X509_ATTRIBUTE_num(attributes); ++i) {
        X509_ATTRIBUTE* attribute = sk_X509_ATTRIBUTE_value(attributes, i);
        Attribute item;
        item.oid = OidText(X509_ATTRIBUTE_get0_object(attribute));
        for (int v = 0; v < X509_ATTRIBUTE_count(attribute); ++v)
            item.values.push_back(Der(X509_ATTRIBUTE_get0_type(attribute, v), i2d_ASN1_TYPE));
        out.push_back(std::move(item));
    }
    return out;
}

// UTF-16 of UTF-8 text (OpenSSL gives well-formed UTF-8).
std::u16string Utf16(const unsigned char* text, size_t size) {
    std::u16string out;
    for (size_t i = 0; i < size;) {
        const unsigned char lead = text[i];
        const size_t count = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        if (i + count > size)
            break;
        uint32_t code = count == 1 ? lead : lead & (0x7F >> count);
        for (size_t k = 1; k < count; ++k)
            code = code << 6 | (text[i + k] & 0x3F);
        i += count;
        if (code >= 0x10000) {
            out += char16_t(0xD800 + ((code - 0x10000) >> 10));
            out += char16_t(0xDC00 + (code & 0x3FF));
        } else {
            out += char16_t(code);
        }
    }
    return out;
}

std::u16string StringText(const ASN1_STRING* value) {
    unsigned char* utf8 = nullptr;
    const int length = ASN1_STRING_to_UTF8(&utf8, value);
    std::u16string out = length > 0 ? Utf16(utf8, size_t(length)) : std::u16string();
    OPENSSL_free(utf8);
    return out;
}

// The simple display name as Windows chooses it: the common name, else the
// organisational unit, the organisation, the e-mail attribute, else an
// e-mail address of the alternative name; empty when none.
std::u16string DisplayName(X509* cert, bool issuer) {
    const X509_NAME* name = issuer ? X509_get_issuer_name(cert) : X509_get_subject_name(cert);
    for (int nid : {NID_commonName, NID_organizationalUnitName, NID_organizationName,
                    NID_pkcs9_emailAddress}) {
        const int index = X509_NAME_get_index_by_NID(name, nid, -1);
        if (index >= 0)
            return StringText(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index)));
    }
    auto* alternatives = static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(
        cert, issuer ? NID_issuer_alt_name : NID_subject_alt_name, nullptr, nullptr));
    std::u16string out;
    for (int i = 0; i < sk_GENERAL_NAME_num(alternatives) && out.empty(); ++i) {
        const GENERAL_NAME* alternative = sk_GENERAL_NAME_value(alternatives, i);
        if (alternative->type == GEN_EMAIL)
            out = StringText(alternative->d.rfc822Name);
    }
    GENERAL_NAMES_free(alternatives);
    return out;
}

// 100-ns units since 1601 of a certificate time.
int64_t FileTimeOf(const ASN1_TIME* time) {
    struct tm parts;
    memset(&parts, 0, sizeof parts);
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1)
        return 0;
    return (int64_t(timegm(&parts)) + 11644473600LL) * 10000000LL;
}

Certificate ReadCertificate(X509* cert) {
    Certificate out;
    out.version = uint32_t(X509_get_version(cert));
    out.der = Der(cert, i2d_X509);
    out.issuer = Der(X509_get_issuer_name(cert), i2d_X509_NAME);
    out.subject = Der(X509_get_subject_name(cert), i2d_X509_NAME);
    out.serial = SerialOctets(X509_get0_serialNumber(cert));
    ReadAlgorithm(X509_get0_tbs_sigalg(cert), out.signatureOid, out.signatureParams);
    out.notBefore = FileTimeOf(X509_get0_notBefore(cert));
    out.notAfter = FileTimeOf(X509_get0_notAfter(cert));
    out.issuerName = DisplayName(cert, true);
    out.subjectName = DisplayName(cert, false);
    return out;
}

Signer ReadSigner(PKCS7_SIGNER_INFO* si) {
    Signer out;
    out.version = uint32_t(ASN1_INTEGER_get(si->version));
    if (si->issuer_and_serial != nullptr) {
        out.issuer = Der(si->issuer_and_serial->issuer, i2d_X509_NAME);
        out.serial = SerialOctets(si->issuer_and_serial->serial);
    }
    ReadAlgorithm(si->digest_alg, out.hashOid, out.hashParams);
    ReadAlgorithm(si->digest_enc_alg, out.encryptionOid, out.encryptionParams);
    if (si->enc_digest != nullptr)
        out.encryptedHash.assign(si->enc_digest->data,
                                 si->enc_digest->data + si->enc_digest->length);
    out.authAttrs = ReadAttributes(si->auth_attr);
    out.unauthAttrs = ReadAttributes(si->unauth_attr);
    return out;
}

// An SpcString: [0] BMPString or [1] IA5String, inside its explicit tag.
bool ReadSpcString(const Element& holder, std::u16string& out) {
    const uint8_t* p = holder.content;
    Element choice;
    if (!ReadElement(p, holder.content + holder.size, choice) ||
        choice.cls != V_ASN1_CONTEXT_SPECIFIC)
        return false;
    out.clear();
    if (choice.tag == 0) {
        for (size_t i = 0; i + 1 < choice.size; i += 2)
            out += char16_t(choice.content[i] << 8 | choice.content[i + 1]);
        return choice.size % 2 == 0;
    }
    if (choice.tag == 1) {
        out.assign(choice.content, choice.content + choice.size);
        return true;
    }
    return false;
}

// An SpcLink inside its explicit tag: [0] URL, [1] moniker, [2] file.
bool ReadLink(const Element& holder, Link& out) {
    const uint8_t* p = holder.content;
    Element choice;
    if (!ReadElement(p, holder.content + holder.size, choice) ||
        choice.cls != V_ASN1_CONTEXT_SPECIFIC)
        return false;
    out.choice = uint32_t(choice.tag) + 1;
    switch (choice.tag) {
        case 0:
            out.text.assign(choice.content, choice.content + choice.size);
            return true;
        case 1: {
            const uint8_t* q = choice.content;
            const uint8_t* end = choice.content + choice.size;
            Element classId, data;
            if (!ReadElement(q, end, classId) || !ReadElement(q, end, data) || classId.size != 16)
                return false;
            out.classId.assign(classId.content, classId.content + classId.size);
            out.serialized.assign(data.content, data.content + data.size);
            return true;
        }
        case 2:
            return ReadSpcString(choice, out.text);
        default:
            return false;
    }
}

}  // namespace

bool ReadEmbedded(const uint8_t* data, size_t size, Embedded& out) {
    const Layout layout = Locate(data, size);
    Pkcs7 p7(ParseSignedData(data, layout));
    if (!p7 || layout.damaged)
        return false;
    out = Embedded();
    STACK_OF(PKCS7_SIGNER_INFO)* signers = p7->d.sign->signer_info;
    for (int i = 0; i < sk_PKCS7_SIGNER_INFO_num(signers); ++i)
        out.signers.push_back(ReadSigner(sk_PKCS7_SIGNER_INFO_value(signers, i)));
    for (int i = 0; i < sk_X509_num(p7->d.sign->cert); ++i)
        out.certificates.push_back(ReadCertificate(sk_X509_value(p7->d.sign->cert, i)));
    // sign-file embeds no certificate: the signer's own comes from the
    // certificates the environment names, as the verifier finds it.
    if (layout.form == Layout::ModuleSigned) {
        Certs known = LoadCertificates("VIDOZIR_TRUST_ANCHORS");
        if (X509* cert = FindSigner(known.get(), sk_PKCS7_SIGNER_INFO_value(signers, 0)))
            out.certificates.push_back(ReadCertificate(cert));
    }
    return true;
}

bool DecodeOpusInfo(const uint8_t* data, size_t size, OpusInfo& out) {
    out = OpusInfo();
    const uint8_t* p = data;
    Element sequence;
    if (!ReadElement(p, data + size, sequence) || sequence.tag != V_ASN1_SEQUENCE ||
        !sequence.constructed)
        return false;
    const uint8_t* q = sequence.content;
    const uint8_t* end = sequence.content + sequence.size;
    while (q < end) {
        Element field;
        if (!ReadElement(q, end, field) || field.cls != V_ASN1_CONTEXT_SPECIFIC)
            return false;
        bool good = false;
        if (field.tag == 0)
            good = out.hasProgramName = ReadSpcString(field, out.programName);
        else if (field.tag == 1)
            good = out.hasMoreInfo = ReadLink(field, out.moreInfo);
        else if (field.tag == 2)
            good = out.hasPublisher = ReadLink(field, out.publisher);
        if (!good)
            return false;
    }
    return true;
}

}  // namespace vidozir::authenticode
