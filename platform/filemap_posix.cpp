// File-mapping sections and named mutexes for non-Windows builds (see
// platform/filemap.h).
#include "platform/filemap.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <atomic>
#include <cstdint>
#include <map>
#include <new>
#include <random>
#include <mutex>
#include <string>

#include "platform/handles_posix.h"

namespace vidozir::platform {

namespace {

const uint64_t kAllocationGranularity = 64 * 1024;  // Windows' granularity

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

DWORD ErrorFromErrno(int error) {
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

// One holder's grip on a shared memory object: an open descriptor with a
// shared flock on it. The flocks are the holder count that the system keeps
// for us, and a dead process's flocks go with it.
struct Hold {
    int fd = -1;
    std::string name;  // empty for an unnamed object
    bool existed = false;
    uint64_t size = 0;
};

// Opens (or, with create, creates with createSize bytes of zeros) the object
// called hold.name; returns ERROR_SUCCESS or the error. Takes the names lock.
// onCreate prepares the object (given its descriptor) when it is made afresh.
template <class OnCreate>
DWORD Acquire(Hold& hold, bool create, uint64_t createSize, OnCreate onCreate) {
    NamesLock lock;
    if (hold.name.empty()) {
        hold.fd = ::memfd_create("vidozir", MFD_CLOEXEC);
    } else {
        hold.fd = ::shm_open(hold.name.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0600);
    }
    if (hold.fd < 0) {
        return ErrorFromErrno(errno);
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
        return fail(ErrorFromErrno(errno));
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
            const DWORD error = ErrorFromErrno(errno);
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

class Section : public KernelObject {
public:
    ~Section() override { LetGo(hold_); }
    Hold hold_;
    bool writable_ = true;
};

// The lengths of the views, by address. A view needs neither the descriptor
// nor the name once it is mapped.
std::mutex g_viewsMutex;
std::map<uintptr_t, size_t>& Views() {
    static auto* views = new std::map<uintptr_t, size_t>;
    return *views;
}

// A mutex in shared memory: robust (an owner that dies leaves it to the next
// waiter, who gets EOWNERDEAD) and process-shared. Windows mutexes are
// re-entrant and refuse a release by another thread; the owner and the depth
// beside the pthread mutex give both without asking the pthread mutex to
// unlock what the caller does not hold.
struct SharedMutex {
    pthread_mutex_t mutex;
    std::atomic<uint64_t> owner;  // the owning thread's token, 0 when free
    uint32_t depth;               // acquisitions by the owner; owner-only
};

// A token for the calling thread, unique across processes: kernel thread ids
// are reused, and a dead owner's id must not pass for a new thread's.
uint64_t ThreadToken() {
    thread_local const uint64_t token = [] {
        std::random_device random;
        const uint64_t value = (static_cast<uint64_t>(random()) << 32) ^ random() ^
                               (static_cast<uint64_t>(GetCurrentThreadId()) << 16);
        return value != 0 ? value : 1;
    }();
    return token;
}

// One mapping of a named mutex per process, shared by all its handles here:
// every thread of the process then locks the same address, as the thread
// sanitizer needs to follow ownership.
struct MutexMapping {
    ~MutexMapping() {
        if (shared != nullptr) {
            ::munmap(shared, sizeof(SharedMutex));
        }
        LetGo(hold);
    }
    Hold hold;
    SharedMutex* shared = nullptr;
};

class NamedMutex : public SelfWaitable {
public:
    explicit NamedMutex(std::shared_ptr<MutexMapping> mapping)
        : mapping_(std::move(mapping)), shared_(mapping_->shared) {}

    DWORD Wait(DWORD milliseconds) override {
        const uint64_t self = ThreadToken();
        if (shared_->owner.load() == self) {
            ++shared_->depth;
            return WAIT_OBJECT_0;
        }
        pthread_mutex_t* mutex = &shared_->mutex;
        int rc;
        if (milliseconds == INFINITE) {
            rc = ::pthread_mutex_lock(mutex);
        } else if (milliseconds == 0) {
            rc = ::pthread_mutex_trylock(mutex);
        } else {
            // pthread_mutex_timedlock counts on the real-time clock; unlike
            // pthread_mutex_clocklock it is known to the thread sanitizer.
            timespec deadline;
            ::clock_gettime(CLOCK_REALTIME, &deadline);
            deadline.tv_sec += static_cast<time_t>(milliseconds / 1000);
            deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
            if (deadline.tv_nsec >= 1000000000L) {
                deadline.tv_sec += 1;
                deadline.tv_nsec -= 1000000000L;
            }
            rc = ::pthread_mutex_timedlock(mutex, &deadline);
        }
        switch (rc) {
            case 0:
                break;
            case EOWNERDEAD:
                // Acquired, as an abandoned Windows mutex is; marking it
                // consistent lets later owners lock it normally.
                ::pthread_mutex_consistent(mutex);
                break;
            case EBUSY:
            case ETIMEDOUT:
                return WAIT_TIMEOUT;
            default:
                SetLastError(ERROR_INVALID_HANDLE);
                return WAIT_FAILED;
        }
        shared_->owner.store(self);
        shared_->depth = 1;
        return rc == EOWNERDEAD ? WAIT_ABANDONED : WAIT_OBJECT_0;
    }

    bool Release() {
        if (shared_->owner.load() != ThreadToken()) {
            return false;
        }
        if (--shared_->depth == 0) {
            shared_->owner.store(0);
            ::pthread_mutex_unlock(&shared_->mutex);
        }
        return true;
    }

private:
    std::shared_ptr<MutexMapping> mapping_;
    SharedMutex* shared_;
};

SharedMutex* MapMutex(int fd) {
    void* memory = ::mmap(nullptr, sizeof(SharedMutex), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return memory == MAP_FAILED ? nullptr : static_cast<SharedMutex*>(memory);
}

bool InitMutex(int fd) {
    SharedMutex* shared = MapMutex(fd);
    if (shared == nullptr) {
        return false;
    }
    pthread_mutexattr_t attr;
    ::pthread_mutexattr_init(&attr);
    ::pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    ::pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    const int rc = ::pthread_mutex_init(&shared->mutex, &attr);
    ::pthread_mutexattr_destroy(&attr);
    new (&shared->owner) std::atomic<uint64_t>(0);  // fresh zeroed memory
    shared->depth = 0;
    ::munmap(shared, sizeof(SharedMutex));
    return rc == 0;
}

bool IsEmptyName(LPCWSTR name) {
    return name == nullptr || name[0] == 0;
}

}  // namespace

}  // namespace vidozir::platform

using namespace vidozir::platform;

HANDLE CreateFileMappingW(HANDLE file, LPSECURITY_ATTRIBUTES, DWORD protect, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, LPCWSTR name) {
    if (file != INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);  // sections over files are not used
        return nullptr;
    }
    const uint64_t size = (static_cast<uint64_t>(maximumSizeHigh) << 32) | maximumSizeLow;
    if (size == 0 || (protect != PAGE_READWRITE && protect != PAGE_READONLY)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto section = std::make_shared<Section>();
    section->writable_ = protect == PAGE_READWRITE;
    if (!IsEmptyName(name) && !ShmName(name, "map", &section->hold_.name)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    const DWORD error = Acquire(section->hold_, true, size, [](int) { return true; });
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return nullptr;
    }
    HANDLE handle = InsertHandle(section);
    SetLastError(section->hold_.existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

HANDLE OpenFileMappingW(DWORD access, BOOL, LPCWSTR name) {
    if (IsEmptyName(name)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto section = std::make_shared<Section>();
    section->writable_ = (access & FILE_MAP_WRITE) != 0;
    if (!ShmName(name, "map", &section->hold_.name)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    const DWORD error = Acquire(section->hold_, false, 0, [](int) { return true; });
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return InsertHandle(section);
}

LPVOID MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow,
                     SIZE_T bytes) {
    auto section = RequireHandle<Section>(mapping);
    if (!section) {
        return nullptr;
    }
    const bool write = (access & FILE_MAP_WRITE) != 0;
    if (write && !section->writable_) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    const uint64_t offset = (static_cast<uint64_t>(offsetHigh) << 32) | offsetLow;
    if (offset % kAllocationGranularity != 0) {
        SetLastError(ERROR_MAPPED_ALIGNMENT);
        return nullptr;
    }
    const uint64_t size = section->hold_.size;
    if (offset >= size || (bytes != 0 && bytes > size - offset)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    const size_t length = bytes != 0 ? bytes : static_cast<size_t>(size - offset);
    void* view = ::mmap(nullptr, length, write ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED,
                        section->hold_.fd, static_cast<off_t>(offset));
    if (view == MAP_FAILED) {
        SetLastError(ErrorFromErrno(errno));
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(g_viewsMutex);
    Views()[reinterpret_cast<uintptr_t>(view)] = length;
    return view;
}

BOOL UnmapViewOfFile(LPCVOID base) {
    std::lock_guard<std::mutex> lock(g_viewsMutex);
    auto it = Views().find(reinterpret_cast<uintptr_t>(base));
    if (it == Views().end()) {
        SetLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    ::munmap(const_cast<void*>(base), it->second);
    Views().erase(it);
    return TRUE;
}

namespace vidozir::platform {
namespace {

std::mutex g_mappingsMutex;
std::map<std::string, std::weak_ptr<MutexMapping>>& MutexMappings() {
    static auto* mappings = new std::map<std::string, std::weak_ptr<MutexMapping>>;
    return *mappings;
}

// The process's mapping of the mutex called shmName (empty: a new unnamed
// one); *existed tells whether the mutex was there before.
std::shared_ptr<MutexMapping> MapNamedMutex(const std::string& shmName, bool* existed,
                                            DWORD* error) {
    std::lock_guard<std::mutex> lock(g_mappingsMutex);
    if (!shmName.empty()) {
        if (auto known = MutexMappings()[shmName].lock()) {
            *existed = true;
            return known;
        }
    }
    auto mapping = std::make_shared<MutexMapping>();
    mapping->hold.name = shmName;
    *error = Acquire(mapping->hold, true, sizeof(SharedMutex), InitMutex);
    if (*error != ERROR_SUCCESS) {
        return nullptr;
    }
    mapping->shared = MapMutex(mapping->hold.fd);
    if (mapping->shared == nullptr) {
        *error = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    *existed = mapping->hold.existed;
    if (!shmName.empty()) {
        MutexMappings()[shmName] = mapping;
    }
    return mapping;
}

}  // namespace
}  // namespace vidozir::platform

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCWSTR name) {
    if (initialOwner) {
        SetLastError(ERROR_NOT_SUPPORTED);  // the library never asks for it
        return nullptr;
    }
    std::string shmName;
    if (!IsEmptyName(name) && !ShmName(name, "mutex", &shmName)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    bool existed = false;
    DWORD error = ERROR_SUCCESS;
    auto mapping = MapNamedMutex(shmName, &existed, &error);
    if (!mapping) {
        SetLastError(error);
        return nullptr;
    }
    HANDLE handle = InsertHandle(std::make_shared<NamedMutex>(std::move(mapping)));
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

BOOL ReleaseMutex(HANDLE handle) {
    auto mutex = RequireHandle<NamedMutex>(handle);
    if (!mutex) {
        return FALSE;
    }
    if (!mutex->Release()) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    return TRUE;
}
