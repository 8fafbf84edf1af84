// The named shared object engine (see platform/shared_section_posix.h).
#include "platform/shared_section_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

namespace vidozir::platform {

// Windows' object names map onto POSIX shared memory names. "Local\" is the
// default namespace and is dropped, so "Local\X" and "X" meet; a session's
// objects are this user's, so the user id is part of the name. "Global\"
// names are machine-wide. Characters other than letters, digits, '-' and '_'
// are written as %XXXX (the UTF-16 unit), which keeps the mapping one-to-one
// and the names case-sensitive; names too long for the system keep their
// start and end a hash of the whole. Returns false for a backslash after the
// namespace: Windows reads it as a missing object directory.
bool ShmName(LPCWSTR name, const char* kind, std::string* out) {
    static const wchar_t kLocal[] = L"Local\\";
    static const wchar_t kGlobal[] = L"Global\\";
    auto startsWith = [name](const wchar_t* prefix) {
        size_t i = 0;
        for (; prefix[i] != 0; ++i) {
            if (name[i] != prefix[i]) {
                return false;
            }
        }
        return true;
    };
    std::string scope = "u" + std::to_string(::getuid());
    if (startsWith(kLocal)) {
        name += 6;
    } else if (startsWith(kGlobal)) {
        name += 7;
        scope = "g";
    }
    std::string encoded;
    static const char kHex[] = "0123456789ABCDEF";
    for (const wchar_t* p = name; *p != 0; ++p) {
        const uint32_t unit = static_cast<uint32_t>(*p) & 0xFFFF;
        if (unit == '\\') {
            return false;
        }
        const bool plain = (unit >= 'a' && unit <= 'z') || (unit >= 'A' && unit <= 'Z') ||
                           (unit >= '0' && unit <= '9') || unit == '-' || unit == '_';
        if (plain) {
            encoded += static_cast<char>(unit);
        } else {
            encoded += '%';
            for (int shift = 12; shift >= 0; shift -= 4) {
                encoded += kHex[(unit >> shift) & 0xF];
            }
        }
    }
    if (encoded.size() > 200) {
        uint64_t hash = 14695981039346656037ull;  // FNV-1a
        for (unsigned char c : encoded) {
            hash = (hash ^ c) * 1099511628211ull;
        }
        std::string tail;
        for (int shift = 60; shift >= 0; shift -= 4) {
            tail += kHex[(hash >> shift) & 0xF];
        }
        encoded = encoded.substr(0, 180) + "~" + tail;
    }
    *out = std::string("/vidozir.") + kind + "." + scope + "." + encoded;
    return true;
}

DWORD SharedObjectError(int error) {
    switch (error) {
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case EACCES:
        case EPERM:
            return ERROR_ACCESS_DENIED;
        case ENOMEM:
        case ENOSPC:
        case EFBIG:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            return ERROR_INVALID_PARAMETER;
    }
}

namespace {

void RetryFlock(int fd, int operation) {
    while (::flock(fd, operation) != 0 && errno == EINTR) {
    }
}

// Creations, opens and last closes of named objects are serialised across
// processes by an exclusive flock on one small shared object (a fresh
// descriptor each time, so threads of one process exclude each other too),
// so an object is never seen half made, nor removed while being opened.
class NamesLock {
public:
    NamesLock() : guard_(ProcessMutex()) {
        fd_ = ::shm_open("/vidozir.names", O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ >= 0) {
            RetryFlock(fd_, LOCK_EX);
        }
    }
    ~NamesLock() {
        if (fd_ >= 0) {
            ::close(fd_);  // releases the flock
        }
    }
    NamesLock(const NamesLock&) = delete;
    NamesLock& operator=(const NamesLock&) = delete;

private:
    static std::mutex& ProcessMutex() {
        static std::mutex* mutex = new std::mutex;
        return *mutex;
    }
    std::lock_guard<std::mutex> guard_;
    int fd_;
};

}  // namespace

// Opens (or, with create, creates with createSize bytes of zeros) the object
// called hold.name; returns ERROR_SUCCESS or the error. Takes the names lock.
// onCreate prepares the object (given its descriptor) when it is made afresh.
DWORD Acquire(Hold& hold, bool create, uint64_t createSize, bool (*onCreate)(int)) {
    NamesLock lock;
    if (hold.name.empty()) {
        hold.fd = ::memfd_create("vidozir", MFD_CLOEXEC);
    } else {
        hold.fd = ::shm_open(hold.name.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0600);
    }
    if (hold.fd < 0) {
        return SharedObjectError(errno);
    }
    auto fail = [&hold](DWORD error) {
        ::close(hold.fd);
        hold.fd = -1;
        return error;
    };
    // An exclusive flock is granted only when no holder is left: the object
    // is new, or its holders all died.
    const bool held = ::flock(hold.fd, LOCK_EX | LOCK_NB) != 0;
    struct stat st;
    if (::fstat(hold.fd, &st) != 0) {
        return fail(SharedObjectError(errno));
    }
    if (held && st.st_size > 0) {
        hold.existed = true;
        hold.size = static_cast<uint64_t>(st.st_size);
    } else {
        if (!create) {
            ::shm_unlink(hold.name.c_str());  // left behind by dead holders
            return fail(ERROR_FILE_NOT_FOUND);
        }
        if (::ftruncate(hold.fd, 0) != 0 ||
            ::ftruncate(hold.fd, static_cast<off_t>(createSize)) != 0 || !onCreate(hold.fd)) {
            const DWORD error = SharedObjectError(errno);
            if (!hold.name.empty()) {
                ::shm_unlink(hold.name.c_str());
            }
            return fail(error);
        }
        hold.existed = false;
        hold.size = createSize;
    }
    RetryFlock(hold.fd, LOCK_SH);
    return ERROR_SUCCESS;
}

// Lets go of a hold; the last holder of a name removes it.
void LetGo(Hold& hold) {
    if (hold.fd < 0) {
        return;
    }
    NamesLock lock;
    // Unlocked explicitly: a view maps the same open file, which would keep
    // its flock after the descriptor is closed.
    RetryFlock(hold.fd, LOCK_UN);
    ::close(hold.fd);
    hold.fd = -1;
    if (hold.name.empty()) {
        return;
    }
    int fd = ::shm_open(hold.name.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd >= 0) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            ::shm_unlink(hold.name.c_str());
        }
        ::close(fd);
    }
}
}  // namespace vidozir::platform
