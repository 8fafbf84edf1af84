// The version-information functions on the library's own PE reader.
#include "platform/version.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/kernel.h"
#include "platform/path_posix.h"
#include "platform/pe_resource.h"

namespace {

class File {
public:
    explicit File(LPCWSTR name) {
        std::string native;
        if (!vidozir::platform::NativePath(name, native) || native.empty()) {
            m_error = ERROR_INVALID_PARAMETER;
            return;
        }
        m_fd = open(native.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat info;
        if (m_fd < 0 || fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            m_error = m_fd < 0 && errno == ENOENT   ? ERROR_FILE_NOT_FOUND
                      : m_fd < 0 && errno == EACCES ? ERROR_ACCESS_DENIED
                                                    : ERROR_RESOURCE_DATA_NOT_FOUND;
            return;
        }
        m_size = uint64_t(info.st_size);
    }
    ~File() {
        if (m_fd >= 0)
            close(m_fd);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Finds the version block; false with the last error set otherwise.
    bool FindVersion(uint64_t& offset, uint32_t& length) {
        if (m_error != 0) {
            SetLastError(m_error);
            return false;
        }
        const vidozir::pe::ReadAt read = [this](uint64_t at, void* buffer, size_t size) {
            return ReadAt(at, buffer, size);
        };
        switch (vidozir::pe::FindVersionResource(read, m_size, offset, length)) {
            case vidozir::pe::FindResult::Found:
                return true;
            case vidozir::pe::FindResult::NotPe:
                SetLastError(ERROR_BAD_FORMAT);
                return false;
            default:
                SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
                return false;
        }
    }

    bool ReadAt(uint64_t offset, void* buffer, size_t size) const {
        auto* out = static_cast<unsigned char*>(buffer);
        while (size > 0) {
            const ssize_t got = pread(m_fd, out, size, off_t(offset));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            out += got;
            offset += uint64_t(got);
            size -= size_t(got);
        }
        return true;
    }

private:
    int m_fd = -1;
    uint64_t m_size = 0;
    DWORD m_error = 0;
};

}  // namespace

DWORD GetFileVersionInfoSizeW(LPCWSTR fileName, LPDWORD handle) {
    if (handle)
        *handle = 0;
    File file(fileName);
    uint64_t offset = 0;
    uint32_t length = 0;
    // Twice the block, as the system also asks for more than the block: a
    // caller that reads a binary value as text (its length then counts bytes,
    // read as 16-bit units) still stays inside the buffer, whose second half
    // is zeros.
    return file.FindVersion(offset, length) ? 2 * length : 0;
}

BOOL GetFileVersionInfoW(LPCWSTR fileName, DWORD, DWORD length, LPVOID data) {
    if (!data || length < 12) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    File file(fileName);
    uint64_t offset = 0;
    uint32_t size = 0;
    if (!file.FindVersion(offset, size))
        return FALSE;
    // At most half the buffer holds the block; the rest is zeros (see above).
    const uint32_t copied = size < length / 2 ? size : length / 2;
    auto* block = static_cast<unsigned char*>(data);
    std::memset(block, 0, length);
    if (copied < 6 || !file.ReadAt(offset, block, copied)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    // VerQueryValueW knows the block only by its root length: keep that
    // inside what was copied, whatever the file claims.
    const uint32_t rootLength = uint32_t(block[0] | (block[1] << 8));
    if (rootLength > copied) {
        block[0] = static_cast<unsigned char>(copied & 0xFF);
        block[1] = static_cast<unsigned char>(copied >> 8);
    }
    return TRUE;
}

BOOL VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, UINT* length) {
    if (!block || !subBlock || !buffer || !length) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto* bytes = static_cast<const unsigned char*>(block);
    const size_t size = size_t(bytes[0] | (bytes[1] << 8));
    const void* value = nullptr;
    unsigned valueLength = 0;
    if (!vidozir::pe::QueryVersionValue(bytes, size, subBlock, value, valueLength)) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return FALSE;
    }
    *buffer = const_cast<void*>(value);
    *length = valueLength;
    return TRUE;
}
