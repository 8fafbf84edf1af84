// The WinTrust, catalog and CryptoAPI entry points over the Authenticode
// verifier: files are mapped, judged or read by platform/authenticode, and
// the results handed back in the Windows records.
#include "platform/wintrust.h"

#include <fcntl.h>
#include <openssl/obj_mac.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/authenticode.h"
#include "platform/handles_posix.h"
#include "platform/kernel.h"
#include "platform/path_posix.h"

GUID WINTRUST_ACTION_GENERIC_VERIFY_V2_GUID = {
    0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};

namespace {

using vidozir::authenticode::Bytes;
namespace auth = vidozir::authenticode;

constexpr DWORD kErrorInvalidName = 123;
constexpr DWORD kErrorFilenameTooLong = 206;
constexpr DWORD kErrorNotFound = 1168;
constexpr LONG kCryptFileError = LONG(0x80092003);
constexpr LONG kCryptInvalidIndex = LONG(0x80093100);
constexpr LONG kInvalidArgument = LONG(0x80070057);

class FileObject final : public vidozir::platform::KernelObject {
public:
    explicit FileObject(int fd) : fd(fd) {}
    ~FileObject() override { close(fd); }
    const int fd;
};

DWORD OpenError(int error) {
    switch (error) {
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case ENAMETOOLONG:
            return kErrorFilenameTooLong;
        default:
            return ERROR_ACCESS_DENIED;  // EACCES, EPERM, a folder, ...
    }
}

// Opens a regular file for reading; -1 with the Windows error set otherwise.
int OpenForReading(LPCWSTR name) {
    std::string native;
    if (!vidozir::platform::NativePath(name, native) || native.empty()) {
        SetLastError(name == nullptr ? ERROR_INVALID_PARAMETER : ERROR_PATH_NOT_FOUND);
        return -1;
    }
    if (native.find('\0') != std::string::npos) {
        SetLastError(kErrorInvalidName);
        return -1;
    }
    const int fd = open(native.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        // A missing folder on the way is "path not found", as on Windows.
        const size_t slash = native.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : native.substr(0, slash + 1);
        struct stat info;
        SetLastError(errno == ENOENT && stat(folder.c_str(), &info) != 0 ? ERROR_PATH_NOT_FOUND
                                                                         : OpenError(errno));
        return -1;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return -1;
    }
    return fd;
}

// A read-only view of a whole file; `populate` reads it all in at once, for
// views that are read through rather than looked into.
class MappedFile {
public:
    explicit MappedFile(int fd, bool populate = true) {
        struct stat info;
        if (fd < 0)
            return;  // the open's error stands
        if (fstat(fd, &info) != 0) {
            SetLastError(DWORD(kCryptFileError));
            return;
        }
        m_size = size_t(info.st_size);
        m_ok = true;
        if (m_size == 0)
            return;
        void* view =
            mmap(nullptr, m_size, PROT_READ, MAP_PRIVATE | (populate ? MAP_POPULATE : 0), fd, 0);
        if (view == MAP_FAILED) {
            m_ok = false;
            SetLastError(DWORD(kCryptFileError));
            return;
        }
        m_data = static_cast<const uint8_t*>(view);
    }
    ~MappedFile() {
        if (m_data != nullptr)
            munmap(const_cast<uint8_t*>(m_data), m_size);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    bool ok() const { return m_ok; }
    const uint8_t* data() const { return m_data; }
    size_t size() const { return m_size; }

private:
    const uint8_t* m_data = nullptr;
    size_t m_size = 0;
    bool m_ok = false;
};

// Opens and maps a file by name.
struct NamedFile {
    explicit NamedFile(LPCWSTR name) : fd(OpenForReading(name)), view(fd) {}
    ~NamedFile() {
        if (fd >= 0)
            close(fd);
    }
    int fd;
    MappedFile view;
};

struct CatalogAdmin {
    int unused = 0;
};

// ---- digests carried from the catalog hash to the trust check --------------

// A trust check hashes the file for its catalog lookup, then has the
// signature judged, which needs the image digest with the signature's own
// algorithm: the catalog hash (see below). The catalog hash's pass leaves
// it here, for the file's identity; the judgement takes it (once) when the
// file it opens has the same identity. Any change to a file moves its change
// time, so a file changed in between is hashed again. A file changed in the
// last seconds is not remembered at all: a second change could fall in the
// same tick of the file system's clock (whole seconds on some), and look
// unchanged.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified = {}, changed = {};
};

bool Identify(int fd, FileIdentity& out) {
    struct stat info;
    if (fstat(fd, &info) != 0)
        return false;
    out = {info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
    return true;
}

bool SameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.device == b.device && a.inode == b.inode && a.size == b.size &&
           SameTime(a.modified, b.modified) && SameTime(a.changed, b.changed);
}

bool Settled(const FileIdentity& file) {
    constexpr time_t kSettleSeconds = 2;
    const time_t now = time(nullptr);
    return file.changed.tv_sec <= now && now - file.changed.tv_sec >= kSettleSeconds;
}

class DigestMemo {
public:
    void Remember(const FileIdentity& file, auth::Digests digests) {
        constexpr size_t kFiles = 16;  // checks in flight at once; older ones are hashed again
        std::lock_guard<std::mutex> hold(m_lock);
        Forget(file);
        if (m_files.size() == kFiles)
            m_files.erase(m_files.begin());
        m_files.emplace_back(file, std::move(digests));
    }
    auth::Digests Take(const FileIdentity& file) {
        std::lock_guard<std::mutex> hold(m_lock);
        auth::Digests out;
        for (auto& entry : m_files) {
            if (SameFile(entry.first, file))
                out = std::move(entry.second);
        }
        Forget(file);
        return out;
    }

private:
    void Forget(const FileIdentity& file) {
        for (auto at = m_files.begin(); at != m_files.end();) {
            at = at->first.device == file.device && at->first.inode == file.inode
                     ? m_files.erase(at)
                     : at + 1;
        }
    }
    std::mutex m_lock;
    std::vector<std::pair<FileIdentity, auth::Digests>> m_files;
};

DigestMemo& Memo() {
    static DigestMemo* memo = new DigestMemo;  // never destroyed: checks may run at exit
    return *memo;
}

// ---- records in one block --------------------------------------------------

// Lays records out in one caller-supplied block: a first pass without a
// block measures, a second fills. Each Take happens in the same order in
// both passes.
class Block {
public:
    explicit Block(BYTE* base) : m_base(base) {}
    size_t size() const { return m_size; }

    template <class T>
    T* Take(size_t count = 1) {
        m_size = (m_size + alignof(T) - 1) / alignof(T) * alignof(T);
        T* at = m_base != nullptr ? reinterpret_cast<T*>(m_base + m_size) : nullptr;
        m_size += sizeof(T) * count;
        return at;
    }
    // Stores element `index` of an array taken before (nothing while measuring).
    template <class T>
    void Put(T* array, size_t index, const T& value) {
        if (array != nullptr)
            array[index] = value;
    }
    CRYPT_INTEGER_BLOB Blob(const Bytes& bytes) {
        BYTE* at = Take<BYTE>(bytes.size());
        if (at != nullptr && !bytes.empty())
            memcpy(at, bytes.data(), bytes.size());
        return {DWORD(bytes.size()), bytes.empty() ? nullptr : at};
    }
    LPSTR Text(const std::string& text) {
        char* at = Take<char>(text.size() + 1);
        if (at != nullptr)
            memcpy(at, text.c_str(), text.size() + 1);
        return at;
    }
    LPWSTR Text(const std::u16string& text) {
        wchar_t* at = Take<wchar_t>(text.size() + 1);
        for (size_t i = 0; at != nullptr && i <= text.size(); ++i)
            at[i] = i < text.size() ? wchar_t(text[i]) : 0;
        return at;
    }

private:
    BYTE* m_base;
    size_t m_size = 0;
};

// Runs `fill` to measure, then into `data` when it is large enough; the
// CryptoAPI size protocol.
template <class Fill>
BOOL FillBlock(Fill fill, void* data, DWORD* dataSize) {
    if (dataSize == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Block measure(nullptr);
    fill(measure);
    const DWORD needed = DWORD(measure.size());
    if (data == nullptr) {
        *dataSize = needed;
        return TRUE;
    }
    if (*dataSize < needed) {
        *dataSize = needed;
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    Block block(static_cast<BYTE*>(data));
    fill(block);
    *dataSize = needed;
    return TRUE;
}

Bytes Reversed(Bytes bytes) {
    return Bytes(bytes.rbegin(), bytes.rend());
}

CRYPT_ALGORITHM_IDENTIFIER Algorithm(Block& block, const std::string& oid, const Bytes& params) {
    CRYPT_ALGORITHM_IDENTIFIER out;
    out.pszObjId = block.Text(oid);
    out.Parameters = block.Blob(params);
    return out;
}

CRYPT_ATTRIBUTES Attributes(Block& block, const std::vector<auth::Attribute>& attributes) {
    CRYPT_ATTRIBUTES out;
    out.cAttr = DWORD(attributes.size());
    out.rgAttr = block.Take<CRYPT_ATTRIBUTE>(attributes.size());
    for (size_t i = 0; i < attributes.size(); ++i) {
        CRYPT_ATTRIBUTE attribute;
        attribute.pszObjId = block.Text(attributes[i].oid);
        attribute.cValue = DWORD(attributes[i].values.size());
        attribute.rgValue = block.Take<CRYPT_ATTR_BLOB>(attributes[i].values.size());
        for (size_t v = 0; v < attributes[i].values.size(); ++v)
            block.Put(attribute.rgValue, v, block.Blob(attributes[i].values[v]));
        block.Put(out.rgAttr, i, attribute);
    }
    return out;
}

void FillSigner(Block& block, const auth::Signer& signer) {
    CMSG_SIGNER_INFO* at = block.Take<CMSG_SIGNER_INFO>();
    CMSG_SIGNER_INFO info;
    info.dwVersion = signer.version;
    info.Issuer = block.Blob(signer.issuer);
    info.SerialNumber = block.Blob(Reversed(signer.serial));
    info.HashAlgorithm = Algorithm(block, signer.hashOid, signer.hashParams);
    info.HashEncryptionAlgorithm = Algorithm(block, signer.encryptionOid, signer.encryptionParams);
    info.EncryptedHash = block.Blob(signer.encryptedHash);
    info.AuthAttrs = Attributes(block, signer.authAttrs);
    info.UnauthAttrs = Attributes(block, signer.unauthAttrs);
    block.Put(at, 0, info);
}

SPC_LINK* FillLink(Block& block, bool present, const auth::Link& link) {
    if (!present)
        return nullptr;
    SPC_LINK* at = block.Take<SPC_LINK>();
    SPC_LINK value;
    memset(&value, 0, sizeof value);
    value.dwLinkChoice = link.choice;
    if (link.choice == SPC_MONIKER_LINK_CHOICE) {
        memcpy(value.Moniker.ClassId, link.classId.data(), sizeof value.Moniker.ClassId);
        value.Moniker.SerializedData = block.Blob(link.serialized);
    } else {
        value.pwszUrl = block.Text(link.text);  // the file name shares the slot
    }
    block.Put(at, 0, value);
    return at;
}

void FillOpusInfo(Block& block, const auth::OpusInfo& opus) {
    SPC_SP_OPUS_INFO* at = block.Take<SPC_SP_OPUS_INFO>();
    SPC_SP_OPUS_INFO info;
    info.pwszProgramName = opus.hasProgramName ? block.Text(opus.programName) : nullptr;
    info.pMoreInfo = FillLink(block, opus.hasMoreInfo, opus.moreInfo);
    info.pPublisherInfo = FillLink(block, opus.hasPublisher, opus.publisher);
    block.Put(at, 0, info);
}

// ---- messages, stores and certificate contexts ---------------------------

struct SignedMessage {
    std::vector<auth::Signer> signers;
};

struct CertStore {
    std::vector<auth::Certificate> certificates;
};

// The context record comes first, so the context handed out leads back to
// its holder.
struct CertHolder {
    CERT_CONTEXT context;
    CERT_INFO info;
    auth::Certificate* certificate;
    Bytes* serial;  // least significant byte first
};

const CertHolder* HolderOf(PCCERT_CONTEXT context) {
    return reinterpret_cast<const CertHolder*>(context);
}

// Integers compare by value: sign-byte zeros in front do not count.
Bytes Magnitude(const BYTE* data, size_t size, bool littleEndian) {
    Bytes out(data, data + size);
    if (littleEndian)
        out = Reversed(out);
    size_t zeros = 0;
    while (zeros < out.size() && out[zeros] == 0)
        ++zeros;
    return Bytes(out.begin() + long(zeros), out.end());
}

bool SameBytes(const CRYPT_INTEGER_BLOB& blob, const Bytes& bytes) {
    return blob.cbData == bytes.size() &&
           (bytes.empty() || memcmp(blob.pbData, bytes.data(), bytes.size()) == 0);
}

FILETIME ToFileTime(int64_t value) {
    return {DWORD(uint64_t(value) & 0xFFFFFFFFu), DWORD(uint64_t(value) >> 32)};
}

// Windows message texts, for the codes the trust check can report.
const struct {
    DWORD code;
    const char* text;
} kMessages[] = {
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
    {ERROR_ACCESS_DENIED, "Access is denied."},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command."},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
    {kErrorInvalidName, "The filename, directory name, or volume label syntax is incorrect."},
    {kErrorFilenameTooLong, "The filename or extension is too long."},
    {ERROR_MORE_DATA, "More data is available."},
    {kErrorNotFound, "Element not found."},
    {DWORD(CRYPT_E_NOT_FOUND), "Cannot find object or property."},
    {DWORD(CRYPT_E_NO_MATCH), "Cannot find the requested object."},
    {DWORD(kCryptFileError), "An error occurred while reading or writing to a file."},
    {DWORD(kCryptInvalidIndex), "The index value is not valid."},
    {DWORD(CRYPT_E_ASN1_BADTAG), "ASN1 bad tag value met."},
    {DWORD(TRUST_E_NOSIGNATURE), "No signature was present in the subject."},
};

}  // namespace

// ---- files --------------------------------------------------------------

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD, HANDLE) {
    if (access != GENERIC_READ || disposition != OPEN_EXISTING) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return INVALID_HANDLE_VALUE;
    }
    const int fd = OpenForReading(name);
    if (fd < 0)
        return INVALID_HANDLE_VALUE;
    return vidozir::platform::InsertHandle(std::make_shared<FileObject>(fd));
}

// ---- WinVerifyTrust and catalogs -------------------------------------------

LONG WinVerifyTrustEx(HWND, GUID* action, WINTRUST_DATA* data) {
    if (action == nullptr ||
        memcmp(action, &WINTRUST_ACTION_GENERIC_VERIFY_V2_GUID, sizeof(GUID)) != 0) {
        SetLastError(DWORD(TRUST_E_PROVIDER_UNKNOWN));
        return TRUST_E_PROVIDER_UNKNOWN;
    }
    if (data == nullptr || data->cbStruct < sizeof(WINTRUST_DATA)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return kInvalidArgument;
    }
    if (data->dwUnionChoice != WTD_CHOICE_FILE || data->pFile == nullptr) {
        // No catalog database here, so there is no catalog signature to judge.
        SetLastError(DWORD(TRUST_E_NOSIGNATURE));
        return TRUST_E_NOSIGNATURE;
    }
    int fd = -1;
    if (data->pFile->hFile != nullptr && data->pFile->hFile != INVALID_HANDLE_VALUE) {
        const auto object = vidozir::platform::RequireHandle<FileObject>(data->pFile->hFile);
        fd = object ? dup(object->fd) : -1;
    } else {
        fd = OpenForReading(data->pFile->pcwszFilePath);
    }
    if (fd < 0)
        return TRUST_E_NOSIGNATURE;  // no subject to find a signature in; the last error says why
    FileIdentity file;
    const auth::Digests known = Identify(fd, file) ? Memo().Take(file) : auth::Digests();
    // With the digest known, only the headers and the signature are read.
    MappedFile view(fd, known.empty());
    close(fd);
    if (!view.ok())
        return TRUST_E_NOSIGNATURE;
    const auth::Verdict verdict = auth::Verify(view.data(), view.size(), known);
    SetLastError(verdict.lastError);
    return verdict.status;
}

BOOL CryptCATAdminAcquireContext(HCATADMIN* admin, const GUID*, DWORD) {
    if (admin == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *admin = new CatalogAdmin;
    return TRUE;
}

BOOL CryptCATAdminReleaseContext(HCATADMIN admin, DWORD) {
    if (admin == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    delete static_cast<CatalogAdmin*>(admin);
    return TRUE;
}

// The catalog hash is the Authenticode image hash (the content hash of a
// file that is not PE). Windows's hash is SHA-1, as its first catalogs list
// files; here, with no catalog database, the hash of a signed file is the
// one its signature names (SHA-256 mostly, what later catalogs list), so
// that one pass over the file serves both this step and the judgement of
// the signature, which takes it from the memo above.
BOOL CryptCATAdminCalcHashFromFileHandle(HANDLE file, DWORD* hashSize, BYTE* hash, DWORD) {
    const auto object = vidozir::platform::RequireHandle<FileObject>(file);
    if (!object || hashSize == nullptr)
        return FALSE;
    FileIdentity before, after;
    const bool identified = Identify(object->fd, before);
    MappedFile view(object->fd);
    if (!view.ok())
        return FALSE;
    const auth::Layout layout = auth::Locate(view.data(), view.size());
    int nid = auth::SignatureDigest(view.data(), layout);
    if (nid == NID_undef)
        nid = NID_sha1;
    Bytes digest = auth::ContentDigest(view.data(), view.size(), layout, nid);
    if (digest.empty()) {
        SetLastError(DWORD(kCryptFileError));
        return FALSE;
    }
    if (hash == nullptr || *hashSize < digest.size()) {
        *hashSize = DWORD(digest.size());
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(hash, digest.data(), digest.size());
    *hashSize = DWORD(digest.size());
    if (identified && Identify(object->fd, after) && SameFile(before, after) && Settled(before))
        Memo().Remember(before, {{nid, std::move(digest)}});
    return TRUE;
}

HCATINFO CryptCATAdminEnumCatalogFromHash(HCATADMIN, BYTE*, DWORD, DWORD, HCATINFO*) {
    SetLastError(kErrorNotFound);  // no catalog database on this platform
    return nullptr;
}

BOOL CryptCATCatalogInfoFromContext(HCATINFO, CATALOG_INFO*, DWORD) {
    SetLastError(ERROR_INVALID_PARAMETER);  // there are no catalog contexts
    return FALSE;
}

BOOL CryptCATAdminReleaseCatalogContext(HCATADMIN, HCATINFO catalog, DWORD) {
    if (catalog != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

// ---- signed messages and certificates ---------------------------------------

BOOL CryptQueryObject(DWORD objectType, const void* object, DWORD expectedContentTypeFlags,
                      DWORD expectedFormatTypeFlags, DWORD, DWORD* encoding, DWORD* contentType,
                      DWORD* formatType, HCERTSTORE* store, HCRYPTMSG* message,
                      const void** context) {
    if (objectType != CERT_QUERY_OBJECT_FILE || object == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if ((expectedContentTypeFlags & CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED) == 0 ||
        (expectedFormatTypeFlags & CERT_QUERY_FORMAT_FLAG_BINARY) == 0) {
        SetLastError(DWORD(CRYPT_E_NO_MATCH));
        return FALSE;
    }
    NamedFile file(static_cast<LPCWSTR>(object));
    if (file.fd < 0 || !file.view.ok())
        return FALSE;
    auth::Embedded embedded;
    if (!auth::ReadEmbedded(file.view.data(), file.view.size(), embedded)) {
        SetLastError(DWORD(CRYPT_E_NO_MATCH));
        return FALSE;
    }
    if (encoding != nullptr)
        *encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    if (contentType != nullptr)
        *contentType = CERT_QUERY_CONTENT_PKCS7_SIGNED_EMBED;
    if (formatType != nullptr)
        *formatType = CERT_QUERY_FORMAT_BINARY;
    if (context != nullptr)
        *context = nullptr;
    if (store != nullptr)
        *store = new CertStore{std::move(embedded.certificates)};
    if (message != nullptr)
        *message = new SignedMessage{std::move(embedded.signers)};
    return TRUE;
}

BOOL CryptMsgGetParam(HCRYPTMSG message, DWORD paramType, DWORD index, void* data,
                      DWORD* dataSize) {
    const auto* signed_ = static_cast<const SignedMessage*>(message);
    if (signed_ == nullptr || paramType != CMSG_SIGNER_INFO_PARAM) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (index >= signed_->signers.size()) {
        SetLastError(DWORD(kCryptInvalidIndex));
        return FALSE;
    }
    const auth::Signer& signer = signed_->signers[index];
    return FillBlock([&](Block& block) { FillSigner(block, signer); }, data, dataSize);
}

BOOL CryptMsgClose(HCRYPTMSG message) {
    delete static_cast<SignedMessage*>(message);
    return TRUE;
}

BOOL CryptDecodeObject(DWORD, LPCSTR structType, const BYTE* encoded, DWORD encodedSize, DWORD,
                       void* structInfo, DWORD* structInfoSize) {
    // Windows finds no decoder for a type it does not know.
    if (structType == nullptr || reinterpret_cast<uintptr_t>(structType) <= 0xFFFF ||
        strcmp(structType, SPC_SP_OPUS_INFO_OBJID) != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    auth::OpusInfo opus;
    if (encoded == nullptr || !auth::DecodeOpusInfo(encoded, encodedSize, opus)) {
        SetLastError(DWORD(CRYPT_E_ASN1_BADTAG));
        return FALSE;
    }
    return FillBlock([&](Block& block) { FillOpusInfo(block, opus); }, structInfo, structInfoSize);
}

PCCERT_CONTEXT CertFindCertificateInStore(HCERTSTORE store, DWORD, DWORD, DWORD findType,
                                          const void* findPara, PCCERT_CONTEXT previous) {
    const auto* certStore = static_cast<const CertStore*>(store);
    const auto* wanted = static_cast<const CERT_INFO*>(findPara);
    if (certStore == nullptr || findType != CERT_FIND_SUBJECT_CERT || wanted == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // Searching on from `previous` starts after its certificate (and frees it).
    size_t start = 0;
    if (previous != nullptr) {
        const auth::Certificate* last = HolderOf(previous)->certificate;
        for (size_t i = 0; i < certStore->certificates.size(); ++i) {
            if (certStore->certificates[i].der == last->der)
                start = i + 1;
        }
        CertFreeCertificateContext(previous);
    }
    const Bytes serial = Magnitude(wanted->SerialNumber.pbData, wanted->SerialNumber.cbData, true);
    for (size_t i = start; i < certStore->certificates.size(); ++i) {
        const auth::Certificate& candidate = certStore->certificates[i];
        if (!SameBytes(wanted->Issuer, candidate.issuer) ||
            Magnitude(candidate.serial.data(), candidate.serial.size(), false) != serial)
            continue;
        auto* holder = new CertHolder;
        memset(holder, 0, sizeof *holder);
        holder->certificate = new auth::Certificate(candidate);
        holder->serial = new Bytes(Reversed(candidate.serial));
        const auth::Certificate& own = *holder->certificate;
        CERT_INFO& info = holder->info;
        info.dwVersion = own.version;
        info.SerialNumber = {DWORD(holder->serial->size()), holder->serial->data()};
        info.SignatureAlgorithm.pszObjId = const_cast<char*>(own.signatureOid.c_str());
        info.SignatureAlgorithm.Parameters = {DWORD(own.signatureParams.size()),
                                              const_cast<BYTE*>(own.signatureParams.data())};
        info.Issuer = {DWORD(own.issuer.size()), const_cast<BYTE*>(own.issuer.data())};
        info.Subject = {DWORD(own.subject.size()), const_cast<BYTE*>(own.subject.data())};
        info.NotBefore = ToFileTime(own.notBefore);
        info.NotAfter = ToFileTime(own.notAfter);
        holder->context.dwCertEncodingType = X509_ASN_ENCODING;
        holder->context.pbCertEncoded = const_cast<BYTE*>(own.der.data());
        holder->context.cbCertEncoded = DWORD(own.der.size());
        holder->context.pCertInfo = &holder->info;
        holder->context.hCertStore = store;
        return &holder->context;
    }
    SetLastError(DWORD(CRYPT_E_NOT_FOUND));
    return nullptr;
}

BOOL CertFreeCertificateContext(PCCERT_CONTEXT context) {
    if (context != nullptr) {
        const CertHolder* holder = HolderOf(context);
        delete holder->certificate;
        delete holder->serial;
        delete holder;
    }
    return TRUE;
}

BOOL CertCloseStore(HCERTSTORE store, DWORD) {
    delete static_cast<CertStore*>(store);
    return TRUE;
}

DWORD CertGetNameStringW(PCCERT_CONTEXT context, DWORD type, DWORD flags, void*, LPWSTR name,
                         DWORD nameSize) {
    std::u16string text;
    if (context != nullptr && type == CERT_NAME_SIMPLE_DISPLAY_TYPE) {
        const auth::Certificate* certificate = HolderOf(context)->certificate;
        text = (flags & CERT_NAME_ISSUER_FLAG) != 0 ? certificate->issuerName
                                                    : certificate->subjectName;
    }
    if (name == nullptr || nameSize == 0)
        return DWORD(text.size() + 1);
    // Cut to fit, terminated, as Windows does.
    const size_t count = text.size() < nameSize - 1 ? text.size() : nameSize - 1;
    for (size_t i = 0; i < count; ++i)
        name[i] = wchar_t(text[i]);
    name[count] = 0;
    return DWORD(count + 1);
}

// ---- times and system messages ------------------------------------------------

BOOL FileTimeToSystemTime(const FILETIME* fileTime, LPSYSTEMTIME systemTime) {
    if (fileTime == nullptr || systemTime == nullptr ||
        (fileTime->dwHighDateTime & 0x80000000u) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const uint64_t ticks = uint64_t(fileTime->dwHighDateTime) << 32 | fileTime->dwLowDateTime;
    const int64_t seconds = int64_t(ticks / 10000000u) - 11644473600LL;
    const time_t when = time_t(seconds);
    struct tm parts;
    if (gmtime_r(&when, &parts) == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    systemTime->wYear = WORD(parts.tm_year + 1900);
    systemTime->wMonth = WORD(parts.tm_mon + 1);
    systemTime->wDayOfWeek = WORD(parts.tm_wday);
    systemTime->wDay = WORD(parts.tm_mday);
    systemTime->wHour = WORD(parts.tm_hour);
    systemTime->wMinute = WORD(parts.tm_min);
    systemTime->wSecond = WORD(parts.tm_sec);
    systemTime->wMilliseconds = WORD(ticks / 10000u % 1000u);
    return TRUE;
}

void GetSystemTime(LPSYSTEMTIME systemTime) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    FileTimeToSystemTime(&now, systemTime);
}

DWORD FormatMessageW(DWORD flags, LPCVOID, DWORD messageId, DWORD, LPWSTR buffer, DWORD, va_list*) {
    const DWORD needed = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER;
    if ((flags & needed) != needed || buffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    for (const auto& message : kMessages) {
        if (message.code != messageId)
            continue;
        // System texts end with a line break, as Windows's message tables do.
        const std::string text = std::string(message.text) + "\r\n";
        // A local block, so the caller's LocalFree releases it.
        auto* copy =
            static_cast<wchar_t*>(LocalAlloc(LMEM_FIXED, (text.size() + 1) * sizeof(wchar_t)));
        if (copy == nullptr) {
            return 0;  // LocalAlloc set ERROR_NOT_ENOUGH_MEMORY
        }
        for (size_t i = 0; i <= text.size(); ++i)
            copy[i] = wchar_t(static_cast<unsigned char>(text[i]));
        *reinterpret_cast<LPWSTR*>(buffer) = copy;
        return DWORD(text.size());
    }
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
}
