// CheckFileTrust and FetchSignatureInfo, written once against the WinTrust
// and CryptoAPI calls (the system's own on Windows, the Authenticode verifier
// of platform/ elsewhere). Every step prints the fixed English account the
// client's support staff know from the logs.
#include "vidozir/trust.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/win32.h"
#include "vidozir/lustring.h"

#if defined(_WIN32)
#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>
#include <mscat.h>
#else
#include "platform/wintrust.h"
#endif

namespace {

// Wide formatted text on standard output. The string class formats (its %s
// is UTF-16 on every platform); Windows writes the wide text through the C
// runtime, other platforms write UTF-8.
void Print(const wchar_t* format, ...) {
    CLuStringW text;
    va_list args;
    va_start(args, format);
    text.FormatV(format, args);
    va_end(args);
#if defined(_WIN32)
    fputws(text, stdout);
#else
    CLuStringA bytes;
    bytes.Format("%S", text.GetString());
    fwrite(bytes.GetString(), 1, size_t(bytes.GetLength()), stdout);
#endif
    fflush(stdout);
}

void ReportSystemError(DWORD code) {
    LPWSTR message = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPWSTR>(&message), 0, nullptr);
    if (length != 0 && message != nullptr)
        Print(L"%s.\n", message);
    else
        Print(L"Unknown Reason.\n");
    if (message != nullptr)
        LocalFree(message);
}

// A zero-filled block of `size` bytes, or null when memory is exhausted.
BYTE* ZeroBlock(size_t size) {
    BYTE* block = new (std::nothrow) BYTE[size];
    if (block != nullptr)
        memset(block, 0, size);
    return block;
}

const wchar_t* const kHexDigits = L"0123456789ABCDEF";

// Releases what CheckFileTrust obtained, in the order it is listed.
struct TrustResources {
    HCATADMIN admin = nullptr;
    HANDLE file = INVALID_HANDLE_VALUE;
    HCATINFO catalog = nullptr;
    wchar_t* memberTag = nullptr;

    ~TrustResources() {
        if (catalog != nullptr)
            CryptCATAdminReleaseCatalogContext(admin, catalog, 0);
        delete[] memberTag;
        if (admin != nullptr)
            CryptCATAdminReleaseContext(admin, 0);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
};

LONG VerifyTrust(TrustResources& held, wchar_t* path, DWORD hashSize, BYTE* hash) {
    WINTRUST_FILE_INFO fileInfo;
    memset(&fileInfo, 0, sizeof fileInfo);
    WINTRUST_CATALOG_INFO catalogInfo;
    memset(&catalogInfo, 0, sizeof catalogInfo);
    CATALOG_INFO catalogFile;
    memset(&catalogFile, 0, sizeof catalogFile);
    WINTRUST_DATA data;
    memset(&data, 0, sizeof data);
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.dwStateAction = WTD_STATEACTION_IGNORE;

    held.catalog = CryptCATAdminEnumCatalogFromHash(held.admin, hash, hashSize, 0, nullptr);
    if (held.catalog != nullptr) {
        catalogFile.cbStruct = sizeof catalogFile;
        CryptCATCatalogInfoFromContext(held.catalog, &catalogFile, 0);
        catalogInfo.cbStruct = sizeof catalogInfo;
        catalogInfo.pcwszCatalogFilePath = catalogFile.wszCatalogFile;
        catalogInfo.pcwszMemberTag = held.memberTag;
        catalogInfo.pcwszMemberFilePath = path;
        data.dwUnionChoice = WTD_CHOICE_CATALOG;
        data.pCatalog = &catalogInfo;
        data.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
        data.dwProvFlags = 0;
    } else {
        fileInfo.cbStruct = sizeof fileInfo;
        fileInfo.pcwszFilePath = path;
        data.dwUnionChoice = WTD_CHOICE_FILE;
        data.pFile = &fileInfo;
        data.fdwRevocationChecks = WTD_REVOKE_NONE;
        data.dwProvFlags = WTD_SAFER_FLAG;
    }
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    return WinVerifyTrustEx(nullptr, &action, &data);
}

int ReportTrustStatus(LONG status, const wchar_t* path) {
    const DWORD lastError = GetLastError();
    switch (status) {
        case 0:
            Print(L"The file \"%s\" is signed and the signature was verified.\n", path);
            return 1;
        case TRUST_E_NOSIGNATURE:
            if (lastError == DWORD(TRUST_E_NOSIGNATURE) ||
                lastError == DWORD(TRUST_E_SUBJECT_FORM_UNKNOWN) ||
                lastError == DWORD(TRUST_E_PROVIDER_UNKNOWN))
                Print(L"The file \"%s\" is not signed.\n", path);
            else
                Print(
                    L"An unknown error occurred trying to verify the signature of the \"%s\" "
                    L"file.\n",
                    path);
            return 0;
        case TRUST_E_EXPLICIT_DISTRUST:
            Print(L"The signature is present, but specifically disallowed.\n");
            return 0;
        case TRUST_E_SUBJECT_NOT_TRUSTED:
            Print(L"The signature is present, but not trusted.\n");
            return 0;
        case CRYPT_E_SECURITY_SETTINGS:
            Print(
                L"CRYPT_E_SECURITY_SETTINGS - The hash representing the subject or the publisher "
                L"wasn't explicitly trusted by the admin and admin policy has disabled user trust. "
                L"No signature, publisher or timestamp errors.\n");
            return 0;
        default:
            Print(L"Error is: 0x%x.\n", unsigned(status));
            return 0;
    }
}

// The program name and links of the signer's SpcSpOpusInfo attributes.
struct PublisherInfo {
    wchar_t* programName = nullptr;
    wchar_t* publisherLink = nullptr;
    wchar_t* moreInfoLink = nullptr;

    ~PublisherInfo() { Release(); }
    void Release() {
        delete[] programName;
        delete[] publisherLink;
        delete[] moreInfoLink;
        programName = publisherLink = moreInfoLink = nullptr;
    }
};

// Copies `text` into a zero-filled block of (length + 1) units; false when
// memory is exhausted. A null text leaves `target` as it is.
bool CopyText(const wchar_t* text, wchar_t*& target) {
    if (text == nullptr)
        return true;
    size_t length = 0;
    while (text[length] != 0)
        ++length;
    wchar_t* copy = new (std::nothrow) wchar_t[length + 1]();
    if (copy == nullptr)
        return false;
    memcpy(copy, text, length * sizeof(wchar_t));
    delete[] target;
    target = copy;
    return true;
}

const wchar_t* LinkText(const SPC_LINK* link) {
    if (link == nullptr)
        return nullptr;
    if (link->dwLinkChoice == SPC_URL_LINK_CHOICE)
        return link->pwszUrl;
    if (link->dwLinkChoice == SPC_FILE_LINK_CHOICE)
        return link->pwszFile;
    return nullptr;
}

bool ReadPublisherInfo(const CMSG_SIGNER_INFO* signer, PublisherInfo& info) {
    bool decoded = false;
    for (DWORD i = 0; i < signer->AuthAttrs.cAttr; ++i) {
        const CRYPT_ATTRIBUTE& attribute = signer->AuthAttrs.rgAttr[i];
        if (attribute.pszObjId == nullptr ||
            strcmp(attribute.pszObjId, SPC_SP_OPUS_INFO_OBJID) != 0 || attribute.cValue == 0)
            continue;
        const DWORD encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
        DWORD size = 0;
        if (!CryptDecodeObject(encoding, SPC_SP_OPUS_INFO_OBJID, attribute.rgValue[0].pbData,
                               attribute.rgValue[0].cbData, 0, nullptr, &size)) {
            Print(L"CryptDeoceObject failed with %x\n", unsigned(GetLastError()));
            break;
        }
        BYTE* block = ZeroBlock(size);
        if (block == nullptr) {
            Print(L"Unable to allocate memory for Publisher Info\n");
            break;
        }
        if (!CryptDecodeObject(encoding, SPC_SP_OPUS_INFO_OBJID, attribute.rgValue[0].pbData,
                               attribute.rgValue[0].cbData, 0, block, &size)) {
            Print(L"CryptDeoceObject failed with %x\n", unsigned(GetLastError()));
            delete[] block;
            break;
        }
        const auto* opus = reinterpret_cast<const SPC_SP_OPUS_INFO*>(block);
        const bool copied = CopyText(opus->pwszProgramName, info.programName) &&
                            CopyText(LinkText(opus->pPublisherInfo), info.publisherLink) &&
                            CopyText(LinkText(opus->pMoreInfo), info.moreInfoLink);
        delete[] block;
        if (!copied) {
            Print(L"Unable to allocate memory for Publisher Info\n");
            break;
        }
        decoded = true;
    }
    return decoded;
}

// The certificate's simple display name (the issuer's with `flags`
// CERT_NAME_ISSUER_FLAG) in a zero-filled block, or null after printing why.
wchar_t* CertificateName(PCCERT_CONTEXT certificate, DWORD flags, const wchar_t* allocFailure) {
    const DWORD length =
        CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, flags, nullptr, nullptr, 0);
    if (length == 0) {
        Print(L"CertGetNameString failed.\n");
        return nullptr;
    }
    wchar_t* name = new (std::nothrow) wchar_t[length]();
    if (name == nullptr) {
        Print(allocFailure);
        return nullptr;
    }
    if (CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, flags, nullptr, name,
                           length) == 0) {
        Print(L"CertGetNameString failed.\n");
        delete[] name;
        return nullptr;
    }
    return name;
}

void PrintTime(const wchar_t* format, const SYSTEMTIME& time) {
    Print(format, time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond);
}

void PrintFileTime(const wchar_t* format, const FILETIME& fileTime) {
    SYSTEMTIME time;
    memset(&time, 0, sizeof time);
    FileTimeToSystemTime(&fileTime, &time);
    PrintTime(format, time);
}

bool ReportCertificate(PCCERT_CONTEXT certificate, wchar_t* out, int outChars) {
    const CRYPT_INTEGER_BLOB& serial = certificate->pCertInfo->SerialNumber;
    Print(L"Serial Number:");
    for (DWORD i = serial.cbData; i > 0; --i)
        Print(L"%02X ", unsigned(serial.pbData[i - 1]));
    Print(L"\n");

    wchar_t* issuer = CertificateName(certificate, CERT_NAME_ISSUER_FLAG,
                                      L"Unable to Allocate memory for issuer name.\n");
    if (issuer == nullptr)
        return false;
    Print(L"Issuer Name: %s\n", issuer);
    delete[] issuer;

    wchar_t* subject =
        CertificateName(certificate, 0, L"Unable to allocate memory for subject name.\n");
    if (subject == nullptr)
        return false;
    // A name longer than the caller's buffer is cut to fit, still terminated,
    // instead of ending the process as the runtime's bounded copy would: the
    // callers compare the text with their publisher, so a cut name simply
    // does not match. A buffer of no units is left alone.
    if (out != nullptr && outChars > 0) {
        int i = 0;
        for (; i < outChars - 1 && subject[i] != 0; ++i)
            out[i] = subject[i];
        out[i] = 0;
    }
    Print(L"Subject Name: %s\n", subject);
    delete[] subject;

    PrintFileTime(L" Begin Time: %d-%d-%d %d:%d:%d\n", certificate->pCertInfo->NotBefore);
    PrintFileTime(L"   End Time: %d-%d-%d %d:%d:%d\n", certificate->pCertInfo->NotAfter);
    SYSTEMTIME now;
    GetSystemTime(&now);
    PrintTime(L"System Time: %d-%d-%d %d:%d:%d\n", now);
    return true;
}

// Releases what FetchSignatureInfo obtained, in the order it is listed.
struct SignatureResources {
    HCRYPTMSG message = nullptr;
    HCERTSTORE store = nullptr;
    PCCERT_CONTEXT certificate = nullptr;
    BYTE* signerInfo = nullptr;
    PublisherInfo publisher;

    ~SignatureResources() {
        publisher.Release();
        delete[] signerInfo;
        if (certificate != nullptr)
            CertFreeCertificateContext(certificate);
        if (store != nullptr)
            CertCloseStore(store, 0);
        if (message != nullptr)
            CryptMsgClose(message);
    }
};

}  // namespace

int CheckFileTrust(wchar_t* path) {
    TrustResources held;
    if (!CryptCATAdminAcquireContext(&held.admin, nullptr, 0)) {
        held.admin = nullptr;
        return 0;
    }
    held.file =
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (held.file == INVALID_HANDLE_VALUE)
        return 0;
    BYTE hash[100];
    DWORD hashSize = sizeof hash;
    if (!CryptCATAdminCalcHashFromFileHandle(held.file, &hashSize, hash, 0))
        return 0;
    held.memberTag = new wchar_t[hashSize * 2 + 1];
    for (DWORD i = 0; i < hashSize; ++i) {
        held.memberTag[2 * i] = kHexDigits[hash[i] >> 4];
        held.memberTag[2 * i + 1] = kHexDigits[hash[i] & 15];
    }
    held.memberTag[hashSize * 2] = 0;
    const LONG status = VerifyTrust(held, path, hashSize, hash);
    return ReportTrustStatus(status, path);
}

int FetchSignatureInfo(const wchar_t* path, wchar_t* out, int outChars) {
    wchar_t localPath[260] = {};
    for (int i = 0; i < 259 && path != nullptr && path[i] != 0; ++i)
        localPath[i] = path[i];

    SignatureResources held;
    DWORD encoding = 0, contentType = 0, formatType = 0;
    if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, localPath,
                          CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED, CERT_QUERY_FORMAT_FLAG_BINARY,
                          0, &encoding, &contentType, &formatType, &held.store, &held.message,
                          nullptr)) {
        const DWORD error = GetLastError();
        Print(L"CryptQueryObject failed:");
        ReportSystemError(error);
        return 0;
    }

    DWORD size = 0;
    if (!CryptMsgGetParam(held.message, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size)) {
        const DWORD error = GetLastError();
        Print(L"CryptMsgGetParam failed:");
        ReportSystemError(error);
        return 0;
    }
    held.signerInfo = ZeroBlock(size);
    if (held.signerInfo == nullptr) {
        Print(L"Unable to allocate memory for Signer Info.\n");
        return 0;
    }
    if (!CryptMsgGetParam(held.message, CMSG_SIGNER_INFO_PARAM, 0, held.signerInfo, &size)) {
        const DWORD error = GetLastError();
        Print(L"CryptMsgGetParam failed:");
        ReportSystemError(error);
        return 0;
    }
    const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(held.signerInfo);

    if (ReadPublisherInfo(signer, held.publisher)) {
        if (held.publisher.programName != nullptr)
            Print(L"Program Name : %s\n", held.publisher.programName);
        if (held.publisher.publisherLink != nullptr)
            Print(L"Publisher Link : %s\n", held.publisher.publisherLink);
        if (held.publisher.moreInfoLink != nullptr)
            Print(L"MoreInfo Link : %s\n", held.publisher.moreInfoLink);
    }
    Print(L"\n");

    CERT_INFO certInfo;
    memset(&certInfo, 0, sizeof certInfo);
    certInfo.Issuer = signer->Issuer;
    certInfo.SerialNumber = signer->SerialNumber;
    held.certificate =
        CertFindCertificateInStore(held.store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                   CERT_FIND_SUBJECT_CERT, &certInfo, nullptr);
    if (held.certificate == nullptr) {
        const DWORD error = GetLastError();
        Print(L"CertFindCertificateInStore failed:");
        ReportSystemError(error);
        return 0;
    }
    Print(L"Signer Certificate:\n");
    ReportCertificate(held.certificate, out, outChars);
    Print(L"\n");
    return 0;
}
