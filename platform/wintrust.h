// WinTrust, catalog and CryptoAPI calls for non-Windows builds: the subset the
// trust check uses, on the Authenticode verifier of platform/authenticode.h.
// Structures keep the Windows field names and order for the fields the
// library reads; texts are UTF-16 units in wchar_t as everywhere.
#pragma once

#include <stdarg.h>

#include "vidozir_wintypes.h"
#include "platform/localmem.h"

// ---- files and local memory ----------------------------------------------

#define GENERIC_READ 0x80000000u
#define FILE_SHARE_READ 0x00000001u
#define OPEN_EXISTING 3u

// Opens an existing file for reading only (the one use the library has).
HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES attributes,
                   DWORD disposition, DWORD flags, HANDLE templateFile);

// LocalFree of the blocks handed out here is the one of localmem.h.

// ---- status and error codes ----------------------------------------------

#define ERROR_MORE_DATA 234L
#define ERROR_MR_MID_NOT_FOUND 317L

#define TRUST_E_PROVIDER_UNKNOWN ((LONG)0x800B0001)
#define TRUST_E_SUBJECT_FORM_UNKNOWN ((LONG)0x800B0003)
#define TRUST_E_SUBJECT_NOT_TRUSTED ((LONG)0x800B0004)
#define TRUST_E_NOSIGNATURE ((LONG)0x800B0100)
#define CERT_E_EXPIRED ((LONG)0x800B0101)
#define CERT_E_UNTRUSTEDROOT ((LONG)0x800B0109)
#define CERT_E_CHAINING ((LONG)0x800B010A)
#define CERT_E_WRONG_USAGE ((LONG)0x800B0110)
#define TRUST_E_EXPLICIT_DISTRUST ((LONG)0x800B0111)
#define TRUST_E_CERT_SIGNATURE ((LONG)0x80096004)
#define TRUST_E_TIME_STAMP ((LONG)0x80096005)
#define TRUST_E_BAD_DIGEST ((LONG)0x80096010)
#define NTE_BAD_ALGID ((LONG)0x80090008)
#define CRYPT_E_NOT_FOUND ((LONG)0x80092004)
#define CRYPT_E_NO_MATCH ((LONG)0x80092009)
#define CRYPT_E_SECURITY_SETTINGS ((LONG)0x80092026)
#define CRYPT_E_ASN1_BADTAG ((LONG)0x8009310B)

// ---- WinVerifyTrust and catalogs -------------------------------------------

typedef struct _GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
} GUID;

// The one action the library asks for: {00AAC56B-CD44-11d0-8CC2-00C04FC295EE}.
extern GUID WINTRUST_ACTION_GENERIC_VERIFY_V2_GUID;
#define WINTRUST_ACTION_GENERIC_VERIFY_V2 WINTRUST_ACTION_GENERIC_VERIFY_V2_GUID

typedef HANDLE HCATADMIN;
typedef HANDLE HCATINFO;

typedef struct WINTRUST_FILE_INFO_ {
    DWORD cbStruct;
    LPCWSTR pcwszFilePath;
    HANDLE hFile;
    GUID* pgKnownSubject;
} WINTRUST_FILE_INFO;

typedef struct WINTRUST_CATALOG_INFO_ {
    DWORD cbStruct;
    DWORD dwCatalogVersion;
    LPCWSTR pcwszCatalogFilePath;
    LPCWSTR pcwszMemberTag;
    LPCWSTR pcwszMemberFilePath;
    HANDLE hMemberFile;
    BYTE* pbCalculatedFileHash;
    DWORD cbCalculatedFileHash;
    void* pcCatalogContext;
    HCATADMIN hCatAdmin;
} WINTRUST_CATALOG_INFO;

#define WTD_UI_NONE 2u
#define WTD_REVOKE_NONE 0u
#define WTD_REVOKE_WHOLECHAIN 1u
#define WTD_CHOICE_FILE 1u
#define WTD_CHOICE_CATALOG 2u
#define WTD_STATEACTION_IGNORE 0u
#define WTD_SAFER_FLAG 0x100u

typedef struct _WINTRUST_DATA {
    DWORD cbStruct;
    LPVOID pPolicyCallbackData;
    LPVOID pSIPClientData;
    DWORD dwUIChoice;
    DWORD fdwRevocationChecks;
    DWORD dwUnionChoice;
    union {
        WINTRUST_FILE_INFO* pFile;
        WINTRUST_CATALOG_INFO* pCatalog;
    };
    DWORD dwStateAction;
    HANDLE hWVTStateData;
    WCHAR* pwszURLReference;
    DWORD dwProvFlags;
    DWORD dwUIContext;
} WINTRUST_DATA;

typedef struct CATALOG_INFO_ {
    DWORD cbStruct;
    WCHAR wszCatalogFile[260];
} CATALOG_INFO;

// Verifies the embedded signature of a file (WTD_CHOICE_FILE). Linux keeps
// no catalog database, so a catalog request has nothing to judge and answers
// TRUST_E_NOSIGNATURE. The statuses for each situation are listed in
// platform/authenticode.h.
LONG WinVerifyTrustEx(HWND window, GUID* action, WINTRUST_DATA* data);

// A real context (released by CryptCATAdminReleaseContext); the catalog
// lookup over it never finds a catalog here.
BOOL CryptCATAdminAcquireContext(HCATADMIN* admin, const GUID* subsystem, DWORD flags);
BOOL CryptCATAdminReleaseContext(HCATADMIN admin, DWORD flags);
// The SHA-1 hash a catalog lists a file by: the Authenticode image hash of a
// PE file, the hash of the whole content of any other file.
BOOL CryptCATAdminCalcHashFromFileHandle(HANDLE file, DWORD* hashSize, BYTE* hash, DWORD flags);
HCATINFO CryptCATAdminEnumCatalogFromHash(HCATADMIN admin, BYTE* hash, DWORD hashSize, DWORD flags,
                                          HCATINFO* previous);
BOOL CryptCATCatalogInfoFromContext(HCATINFO catalog, CATALOG_INFO* info, DWORD flags);
BOOL CryptCATAdminReleaseCatalogContext(HCATADMIN admin, HCATINFO catalog, DWORD flags);

// ---- signed messages and certificates ---------------------------------------

typedef void* HCERTSTORE;
typedef void* HCRYPTMSG;

typedef struct _CRYPTOAPI_BLOB {
    DWORD cbData;
    BYTE* pbData;
} CRYPT_INTEGER_BLOB, CRYPT_DATA_BLOB, CERT_NAME_BLOB, CRYPT_ATTR_BLOB, CRYPT_OBJID_BLOB;

typedef struct _CRYPT_ALGORITHM_IDENTIFIER {
    LPSTR pszObjId;
    CRYPT_OBJID_BLOB Parameters;
} CRYPT_ALGORITHM_IDENTIFIER;

typedef struct _CRYPT_ATTRIBUTE {
    LPSTR pszObjId;
    DWORD cValue;
    CRYPT_ATTR_BLOB* rgValue;
} CRYPT_ATTRIBUTE;

typedef struct _CRYPT_ATTRIBUTES {
    DWORD cAttr;
    CRYPT_ATTRIBUTE* rgAttr;
} CRYPT_ATTRIBUTES;

// Serial numbers are stored least significant byte first, as on Windows.
typedef struct _CMSG_SIGNER_INFO {
    DWORD dwVersion;
    CERT_NAME_BLOB Issuer;
    CRYPT_INTEGER_BLOB SerialNumber;
    CRYPT_ALGORITHM_IDENTIFIER HashAlgorithm;
    CRYPT_ALGORITHM_IDENTIFIER HashEncryptionAlgorithm;
    CRYPT_DATA_BLOB EncryptedHash;
    CRYPT_ATTRIBUTES AuthAttrs;
    CRYPT_ATTRIBUTES UnauthAttrs;
} CMSG_SIGNER_INFO, *PCMSG_SIGNER_INFO;

// The leading fields of the Windows record: those the library reads.
typedef struct _CERT_INFO {
    DWORD dwVersion;
    CRYPT_INTEGER_BLOB SerialNumber;
    CRYPT_ALGORITHM_IDENTIFIER SignatureAlgorithm;
    CERT_NAME_BLOB Issuer;
    FILETIME NotBefore;
    FILETIME NotAfter;
    CERT_NAME_BLOB Subject;
} CERT_INFO, *PCERT_INFO;

typedef struct _CERT_CONTEXT {
    DWORD dwCertEncodingType;
    BYTE* pbCertEncoded;
    DWORD cbCertEncoded;
    PCERT_INFO pCertInfo;
    HCERTSTORE hCertStore;
} CERT_CONTEXT, *PCERT_CONTEXT;
typedef const CERT_CONTEXT* PCCERT_CONTEXT;

#define SPC_URL_LINK_CHOICE 1u
#define SPC_MONIKER_LINK_CHOICE 2u
#define SPC_FILE_LINK_CHOICE 3u

typedef struct SPC_SERIALIZED_OBJECT_ {
    BYTE ClassId[16];
    CRYPT_DATA_BLOB SerializedData;
} SPC_SERIALIZED_OBJECT;

typedef struct SPC_LINK_ {
    DWORD dwLinkChoice;
    union {
        LPWSTR pwszUrl;
        SPC_SERIALIZED_OBJECT Moniker;
        LPWSTR pwszFile;
    };
} SPC_LINK;

typedef struct SPC_SP_OPUS_INFO_ {
    LPCWSTR pwszProgramName;
    SPC_LINK* pMoreInfo;
    SPC_LINK* pPublisherInfo;
} SPC_SP_OPUS_INFO, *PSPC_SP_OPUS_INFO;

#define SPC_SP_OPUS_INFO_OBJID "1.3.6.1.4.1.311.2.1.12"

#define X509_ASN_ENCODING 0x00000001u
#define PKCS_7_ASN_ENCODING 0x00010000u

#define CERT_QUERY_OBJECT_FILE 1u
#define CERT_QUERY_CONTENT_PKCS7_SIGNED_EMBED 10u
#define CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED (1u << CERT_QUERY_CONTENT_PKCS7_SIGNED_EMBED)
#define CERT_QUERY_FORMAT_BINARY 1u
#define CERT_QUERY_FORMAT_FLAG_BINARY (1u << CERT_QUERY_FORMAT_BINARY)

#define CMSG_SIGNER_INFO_PARAM 6u
#define CERT_FIND_SUBJECT_CERT 0x000B0000u
#define CERT_NAME_SIMPLE_DISPLAY_TYPE 4u
#define CERT_NAME_ISSUER_FLAG 0x1u

// Finds the embedded PKCS #7 signature of a file: a PE file's certificate
// table, or a module signature appended to any file. Only that query is
// supported; anything else fails with CRYPT_E_NO_MATCH.
BOOL CryptQueryObject(DWORD objectType, const void* object, DWORD expectedContentTypeFlags,
                      DWORD expectedFormatTypeFlags, DWORD flags, DWORD* encoding,
                      DWORD* contentType, DWORD* formatType, HCERTSTORE* store, HCRYPTMSG* message,
                      const void** context);
// CMSG_SIGNER_INFO_PARAM only: a CMSG_SIGNER_INFO with everything it points to
// in one block. A null `data` asks for the size.
BOOL CryptMsgGetParam(HCRYPTMSG message, DWORD paramType, DWORD index, void* data, DWORD* dataSize);
BOOL CryptMsgClose(HCRYPTMSG message);
// SPC_SP_OPUS_INFO_OBJID only, into one block as CryptMsgGetParam does.
BOOL CryptDecodeObject(DWORD encoding, LPCSTR structType, const BYTE* encoded, DWORD encodedSize,
                       DWORD flags, void* structInfo, DWORD* structInfoSize);
// CERT_FIND_SUBJECT_CERT only (issuer and serial number of a CERT_INFO).
PCCERT_CONTEXT CertFindCertificateInStore(HCERTSTORE store, DWORD encoding, DWORD findFlags,
                                          DWORD findType, const void* findPara,
                                          PCCERT_CONTEXT previous);
BOOL CertFreeCertificateContext(PCCERT_CONTEXT context);
BOOL CertCloseStore(HCERTSTORE store, DWORD flags);
// CERT_NAME_SIMPLE_DISPLAY_TYPE only. Returns the units written or needed,
// terminator included (1 for an empty name).
DWORD CertGetNameStringW(PCCERT_CONTEXT context, DWORD type, DWORD flags, void* typePara,
                         LPWSTR name, DWORD nameSize);

// ---- times and system messages ------------------------------------------------

BOOL FileTimeToSystemTime(const FILETIME* fileTime, LPSYSTEMTIME systemTime);
void GetSystemTime(LPSYSTEMTIME systemTime);

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100u
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u

// FROM_SYSTEM with ALLOCATE_BUFFER only: the Windows text of the codes the
// trust check and the verifier report (freed with LocalFree); other codes
// fail with ERROR_MR_MID_NOT_FOUND.
DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer,
                     DWORD size, va_list* arguments);
