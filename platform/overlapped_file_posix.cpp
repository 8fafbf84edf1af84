// Overlapped I/O on file descriptors (see platform/overlapped_file_posix.h).
// Operations that cannot complete at once wait in their file's queues; one
// process-wide epoll thread finishes them when the descriptor is ready and
// posts the completion packets to the file's port.
#include "platform/overlapped_file_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <deque>
#include <thread>
#include <unordered_map>

namespace vidozir::platform {

namespace {

DWORD ErrorFromErrno(int error) {
    switch (error) {
        case EPIPE:
        case ECONNRESET:
            return ERROR_BROKEN_PIPE;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EACCES:
        case EPERM:
            return ERROR_ACCESS_DENIED;
        default:
            return ERROR_INVALID_PARAMETER;
    }
}

enum class Kind { kStream, kSocket, kRegular };

// A write to a pipe whose reader is gone raises SIGPIPE; the library must not
// end the process for it, so the signal is held back for this thread and any
// instance it caused is consumed before it is released.
ssize_t WriteQuietly(int fd, Kind kind, const void* data, size_t size) {
    if (kind == Kind::kSocket) {
        return ::send(fd, data, size, MSG_NOSIGNAL);
    }
    sigset_t pipeSet, old;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSet, &old);
    ssize_t done = ::write(fd, data, size);
    const int error = errno;
    if (done < 0 && error == EPIPE) {
        const timespec zero = {0, 0};
        while (sigtimedwait(&pipeSet, nullptr, &zero) == SIGPIPE) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = error;
    return done;
}

struct Operation {
    LPOVERLAPPED overlapped;
    char* buffer;
    DWORD size;
    DWORD done;
};

}  // namespace

class File;

namespace {

// The one epoll thread, started by the first operation that has to wait.
class Reactor {
public:
    static Reactor& Get() {
        static Reactor* reactor = new Reactor;  // lives until exit
        return *reactor;
    }

    uint64_t Add(const std::shared_ptr<File>& file) {
        std::lock_guard<std::mutex> lock(mutex_);
        const uint64_t id = ++lastId_;
        files_[id] = file;
        return id;
    }
    void Remove(uint64_t id, int fd) {
        ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
        std::lock_guard<std::mutex> lock(mutex_);
        files_.erase(id);
    }
    // Waits (once) for the events of `interest`, replacing an earlier wish.
    void Arm(uint64_t id, int fd, uint32_t interest, bool* added) {
        epoll_event event = {};
        event.events = interest | EPOLLONESHOT;
        event.data.u64 = id;
        if (!*added) {
            *added = ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) == 0;
        } else {
            ::epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &event);
        }
    }

private:
    Reactor() : epoll_(::epoll_create1(EPOLL_CLOEXEC)) {
        std::thread([this] { Loop(); }).detach();
    }
    void Loop();

    const int epoll_;
    std::mutex mutex_;
    uint64_t lastId_ = 0;
    std::unordered_map<uint64_t, std::weak_ptr<File>> files_;
};

}  // namespace

class File : public KernelObject, public std::enable_shared_from_this<File> {
public:
    File(int fd, Kind kind) : fd_(fd), kind_(kind) {}

    ~File() override {
        if (id_ != 0) {
            Reactor::Get().Remove(id_, fd_);
        }
        // Closing a handle aborts what is still pending on it.
        for (auto* queue : {&reads_, &writes_}) {
            for (const Operation& op : *queue) {
                CompleteLocked(op, ERROR_OPERATION_ABORTED);
            }
        }
        ::close(fd_);
    }

    bool Associate(std::shared_ptr<Port> port, ULONG_PTR key) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (port_) {
            return false;
        }
        port_ = std::move(port);
        key_ = key;
        return true;
    }

    BOOL Start(bool write, char* buffer, DWORD size, LPDWORD transferred, LPOVERLAPPED overlapped);
    BOOL Blocking(bool write, char* buffer, DWORD size, LPDWORD transferred);
    void OnReady();

private:
    // One attempt: bytes moved, or -1 with errno (EAGAIN: try again later).
    ssize_t Transfer(bool write, const Operation& op) {
        char* at = op.buffer + op.done;
        const size_t left = op.size - op.done;
        if (kind_ == Kind::kRegular) {
            const off_t offset = static_cast<off_t>(
                (static_cast<uint64_t>(op.overlapped->OffsetHigh) << 32 | op.overlapped->Offset) +
                op.done);
            return write ? ::pwrite(fd_, at, left, offset) : ::pread(fd_, at, left, offset);
        }
        return write ? WriteQuietly(fd_, kind_, at, left) : ::read(fd_, at, left);
    }

    // Advances one operation; true when it is finished (with *error set).
    bool Progress(bool write, Operation* op, DWORD* error) {
        for (;;) {
            ssize_t n = Transfer(write, *op);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    return false;
                }
                *error = ErrorFromErrno(errno);
                return true;
            }
            if (n == 0 && !write) {
                // End of data: a closed socket reads 0 bytes successfully, a
                // pipe reports its broken end, a file its end.
                *error = kind_ == Kind::kSocket   ? 0
                         : kind_ == Kind::kStream ? ERROR_BROKEN_PIPE
                                                  : ERROR_HANDLE_EOF;
                return true;
            }
            op->done += static_cast<DWORD>(n);
            // Reads finish with what arrived; writes when everything is out.
            if (!write || op->done == op->size) {
                *error = 0;
                return true;
            }
        }
    }

    void CompleteLocked(const Operation& op, DWORD error) {
        const DWORD bytes = error == 0 ? op.done : 0;
        op.overlapped->Internal = error;
        op.overlapped->InternalHigh = bytes;
        if (port_) {
            port_->Post(Packet{bytes, key_, op.overlapped, error});
        }
    }

    void ArmLocked() {
        uint32_t interest =
            (reads_.empty() ? 0u : uint32_t{EPOLLIN}) | (writes_.empty() ? 0u : uint32_t{EPOLLOUT});
        if (interest == 0) {
            return;
        }
        if (id_ == 0) {
            id_ = Reactor::Get().Add(shared_from_this());
        }
        Reactor::Get().Arm(id_, fd_, interest, &added_);
    }

    void DrainLocked(bool write) {
        std::deque<Operation>& queue = write ? writes_ : reads_;
        while (!queue.empty()) {
            DWORD error = 0;
            if (!Progress(write, &queue.front(), &error)) {
                return;
            }
            CompleteLocked(queue.front(), error);
            queue.pop_front();
        }
    }

    const int fd_;
    const Kind kind_;
    std::mutex mutex_;
    std::shared_ptr<Port> port_;
    ULONG_PTR key_ = 0;
    std::deque<Operation> reads_, writes_;
    uint64_t id_ = 0;
    bool added_ = false;
};

BOOL File::Start(bool write, char* buffer, DWORD size, LPDWORD transferred,
                 LPOVERLAPPED overlapped) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!port_) {
        // Overlapped I/O is completed only through a port here.
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Operation op{overlapped, buffer, size, 0};
    overlapped->Internal = ERROR_IO_PENDING;
    overlapped->InternalHigh = 0;
    std::deque<Operation>& queue = write ? writes_ : reads_;
    if (queue.empty() && kind_ != Kind::kRegular) {
        DWORD error = 0;
        if (Progress(write, &op, &error)) {
            if (error != 0) {
                SetLastError(error);  // failed at once: no packet follows
                return FALSE;
            }
            if (transferred != nullptr) {
                *transferred = op.done;
            }
            CompleteLocked(op, 0);
            return TRUE;
        }
    } else if (kind_ == Kind::kRegular) {
        DWORD error = 0;
        Progress(write, &op, &error);
        if (error != 0) {
            SetLastError(error);
            return FALSE;
        }
        if (transferred != nullptr) {
            *transferred = op.done;
        }
        CompleteLocked(op, 0);
        return TRUE;
    }
    queue.push_back(op);
    ArmLocked();
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

BOOL File::Blocking(bool write, char* buffer, DWORD size, LPDWORD transferred) {
    OVERLAPPED position = {};  // a synchronous file access starts at 0 here
    Operation op{&position, buffer, size, 0};
    DWORD error = 0;
    while (!Progress(write, &op, &error)) {
        pollfd wait = {fd_, static_cast<short>(write ? POLLOUT : POLLIN), 0};
        ::poll(&wait, 1, -1);
    }
    if (transferred != nullptr) {
        *transferred = op.done;
    }
    if (error != 0 && !(error == ERROR_HANDLE_EOF && !write)) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

void File::OnReady() {
    std::lock_guard<std::mutex> lock(mutex_);
    DrainLocked(false);
    DrainLocked(true);
    ArmLocked();
}

void Reactor::Loop() {
    epoll_event events[32];
    for (;;) {
        const int count = ::epoll_wait(epoll_, events, 32, -1);
        for (int i = 0; i < count; ++i) {
            const uint64_t id = events[i].data.u64;  // the event record is packed
            std::shared_ptr<File> file;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                auto it = files_.find(id);
                if (it != files_.end()) {
                    file = it->second.lock();
                }
            }
            if (file) {
                file->OnReady();
            }
        }
    }
}

BOOL StartIo(bool write, HANDLE handle, char* buffer, DWORD size, LPDWORD transferred,
             LPOVERLAPPED overlapped) {
    auto file = RequireHandle<File>(handle);
    if (!file) {
        return FALSE;
    }
    if (transferred != nullptr) {
        *transferred = 0;
    }
    if (overlapped == nullptr) {
        return file->Blocking(write, buffer, size, transferred);
    }
    return file->Start(write, buffer, size, transferred, overlapped);
}

std::shared_ptr<File> RequireFile(HANDLE handle) {
    return RequireHandle<File>(handle);
}

bool AssociateFile(File& file, std::shared_ptr<Port> port, ULONG_PTR key) {
    return file.Associate(std::move(port), key);
}

HANDLE FileHandleFromDescriptor(int fd) {
    struct stat info;
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    Kind kind = S_ISREG(info.st_mode)    ? Kind::kRegular
                : S_ISSOCK(info.st_mode) ? Kind::kSocket
                                         : Kind::kStream;
    if (kind != Kind::kRegular) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    return InsertHandle(std::make_shared<File>(fd, kind));
}

}  // namespace vidozir::platform
