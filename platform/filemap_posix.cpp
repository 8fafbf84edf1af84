// File-mapping sections and named mutexes for non-Windows builds (see
// platform/filemap.h), on the named shared object engine
// (platform/shared_section_posix.h).
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

#include "platform/shared_section_posix.h"
#include "platform/waits_posix.h"

namespace vidozir::platform {

namespace {

const uint64_t kAllocationGranularity = 64 * 1024;  // Windows' granularity

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
    // Set while a thread of this process owns the mutex: the kernel hands an
    // owner's robust mutex on to the next waiter when the owner dies only if
    // the mutex is still mapped then, and on Windows closing the last handle
    // does not end an ownership either. Written by the owner alone.
    std::shared_ptr<MutexMapping> mappedWhileOwned;
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
        // A free or abandoned mutex is settled by the try alone, without the
        // clock; the thread sanitizer also takes an owner-died result of a
        // try for an acquisition, which it does not for a timed lock.
        int rc = ::pthread_mutex_trylock(mutex);
        if (rc == EBUSY && milliseconds == INFINITE) {
            rc = ::pthread_mutex_lock(mutex);
        } else if (rc == EBUSY && milliseconds != 0) {
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
        mapping_->mappedWhileOwned = mapping_;
        return rc == EOWNERDEAD ? WAIT_ABANDONED : WAIT_OBJECT_0;
    }

    bool Release() {
        if (shared_->owner.load() != ThreadToken()) {
            return false;
        }
        if (--shared_->depth == 0) {
            mapping_->mappedWhileOwned.reset();  // this handle keeps it mapped
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
    // A view that starts at or past the end is a bad parameter; one that
    // starts inside but runs past the end is refused access, as the system
    // answers both.
    if (offset >= size) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (bytes != 0 && bytes > size - offset) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    const size_t length = bytes != 0 ? bytes : static_cast<size_t>(size - offset);
    void* view = ::mmap(nullptr, length, write ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED,
                        section->hold_.fd, static_cast<off_t>(offset));
    if (view == MAP_FAILED) {
        SetLastError(SharedObjectError(errno));
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
