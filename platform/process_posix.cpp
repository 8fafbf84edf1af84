#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/codepage.h"
#include "platform/access_posix.h"
#include "platform/handles_posix.h"
#include "platform/waits_posix.h"
#include "platform/kernel.h"
#include "platform/path_posix.h"
#include "platform/procfs_posix.h"

namespace {

using vidozir::platform::Waitable;

// Through syscall(): the C library of the build machine may lack wrappers.
int PidfdOpen(pid_t pid) {
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}
int PidfdSignal(int pidfd, int signal) {
    return static_cast<int>(syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0));
}

// A process handle: a pidfd watched by a thread of the handle's own, which
// marks the object signalled when the process ends (and, for a child of this
// layer, reaps it).
class Process final : public Waitable, public vidozir::platform::GrantedAccess {
public:
    Process(pid_t pid, int pidfd, DWORD access, bool child)
        : GrantedAccess(access), pid_(pid), pidfd_(pidfd), stop_(eventfd(0, EFD_CLOEXEC)) {
        watcher_ = std::thread([this, child] { Watch(child); });
    }
    ~Process() override {
        uint64_t one = 1;
        if (write(stop_, &one, sizeof(one)) < 0) {
            // eventfd writes of 1 only fail on overflow, which one write cannot reach
        }
        watcher_.join();
        close(stop_);
        close(pidfd_);
    }
    bool IsSignaledLocked() const override { return exited_; }
    pid_t Pid() const { return pid_; }
    int Pidfd() const { return pidfd_; }

private:
    void Watch(bool child) {
        pollfd fds[2] = {{pidfd_, POLLIN, 0}, {stop_, POLLIN, 0}};
        while (poll(fds, 2, -1) < 0 && errno == EINTR) {
        }
        if ((fds[0].revents & POLLIN) == 0) {
            if (child) {
                // The handle is gone before the child: reap it when it ends.
                std::thread([pid = pid_] { waitpid(pid, nullptr, 0); }).detach();
            }
            return;
        }
        if (child) {
            waitpid(pid_, nullptr, 0);
        }
        std::lock_guard<std::mutex> lock(Mutex());
        exited_ = true;
        NotifyLocked();
    }

    pid_t pid_;
    int pidfd_;
    int stop_;
    bool exited_ = false;  // guarded by Mutex()
    std::thread watcher_;
};

std::string ProcPath(pid_t pid, const char* file) {
    return "/proc/" + std::to_string(pid) + "/" + file;
}

// The image path of a process, without the " (deleted)" of a replaced file.
bool ImagePath(pid_t pid, std::string* path) {
    char buffer[4096];
    ssize_t n = readlink(ProcPath(pid, "exe").c_str(), buffer, sizeof(buffer));
    if (n <= 0 || n == static_cast<ssize_t>(sizeof(buffer))) {
        return false;
    }
    path->assign(buffer, static_cast<size_t>(n));
    const std::string deleted = " (deleted)";
    if (path->size() > deleted.size() &&
        path->compare(path->size() - deleted.size(), deleted.size(), deleted) == 0) {
        path->resize(path->size() - deleted.size());
    }
    return true;
}

std::wstring Utf16(const std::string& utf8) {
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(n > 0 ? static_cast<size_t>(n) : 0u, L'\0');
    if (n > 0) {
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n);
    }
    return wide;
}

void CopyTruncated(const std::wstring& text, LPWSTR out, size_t size) {
    size_t n = text.size() < size ? text.size() : size - 1;
    std::copy(text.begin(), text.begin() + static_cast<long>(n), out);
    out[n] = 0;
}

// One snapshot entry from /proc/<pid>/stat and the image's file name.
bool ReadEntry(pid_t pid, PROCESSENTRY32W* entry) {
    std::string text;
    if (!vidozir::platform::ReadProcFile(ProcPath(pid, "stat"), &text, 1023)) {
        return false;
    }
    char* stat = &text[0];
    const ssize_t n = static_cast<ssize_t>(text.size());
    // "pid (comm) state ppid ...": the name may hold spaces and parentheses,
    // so it ends at the last ')'.
    char* open = std::strchr(stat, '(');
    char* close = std::strrchr(stat, ')');
    if (open == nullptr || close == nullptr || close < open) {
        return false;
    }
    std::vector<std::string> fields;
    for (char* at = close + 2; at < stat + n;) {
        char* end = std::strchr(at, ' ');
        end = end != nullptr ? end : stat + n;
        fields.emplace_back(at, end);
        at = end + 1;
    }
    std::string name(open + 1, close);
    std::string image;
    if (ImagePath(pid, &image)) {
        name = image.substr(image.rfind('/') + 1);
    }
    *entry = PROCESSENTRY32W{};
    entry->dwSize = sizeof(PROCESSENTRY32W);
    entry->th32ProcessID = static_cast<DWORD>(pid);
    entry->th32ParentProcessID =
        fields.size() > 1 ? std::strtoul(fields[1].c_str(), nullptr, 10) : 0;
    entry->cntThreads = fields.size() > 17 ? std::strtoul(fields[17].c_str(), nullptr, 10) : 0;
    CopyTruncated(Utf16(name), entry->szExeFile, 260);
    return true;
}

class Snapshot final : public vidozir::platform::KernelObject {
public:
    std::vector<PROCESSENTRY32W> entries;
    size_t next = 0;
};

BOOL NextEntry(HANDLE handle, LPPROCESSENTRY32W entry, bool first) {
    auto snapshot = vidozir::platform::RequireHandle<Snapshot>(handle);
    if (!snapshot) {
        return FALSE;
    }
    if (entry == nullptr || entry->dwSize < sizeof(PROCESSENTRY32W)) {
        SetLastError(ERROR_BAD_LENGTH);
        return FALSE;
    }
    size_t index = first ? 0 : snapshot->next;
    if (index >= snapshot->entries.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    *entry = snapshot->entries[index];
    snapshot->next = index + 1;
    return TRUE;
}

}  // namespace

HANDLE GetCurrentProcess() {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
}

BOOL IsWow64Process(HANDLE process, PBOOL wow64) {
    if (process != GetCurrentProcess() || wow64 == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    utsname system;
    if (uname(&system) != 0) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    const bool wideKernel = std::strstr(system.machine, "64") != nullptr;
    *wow64 = sizeof(void*) == 4 && wideKernel ? TRUE : FALSE;
    return TRUE;
}

HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD /*processId*/) {
    if (flags != TH32CS_SNAPPROCESS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    auto snapshot = std::make_shared<Snapshot>();
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    while (dirent* item = readdir(proc)) {
        char* end = nullptr;
        long pid = std::strtol(item->d_name, &end, 10);
        PROCESSENTRY32W entry;
        // A process that ends while the list is read is left out.
        if (*end == 0 && pid > 0 && ReadEntry(static_cast<pid_t>(pid), &entry)) {
            snapshot->entries.push_back(entry);
        }
    }
    closedir(proc);
    HANDLE handle = vidozir::platform::InsertHandle(snapshot);
    return handle != nullptr ? handle : INVALID_HANDLE_VALUE;
}

BOOL Process32FirstW(HANDLE snapshot, LPPROCESSENTRY32W entry) {
    return NextEntry(snapshot, entry, true);
}

BOOL Process32NextW(HANDLE snapshot, LPPROCESSENTRY32W entry) {
    return NextEntry(snapshot, entry, false);
}

HANDLE OpenProcess(DWORD access, BOOL /*inheritHandle*/, DWORD processId) {
    pid_t pid = static_cast<pid_t>(processId);
    int pidfd = pid > 0 ? PidfdOpen(pid) : -1;
    if (pidfd < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string image;
    bool mayEnd = (access & PROCESS_TERMINATE) == 0 || PidfdSignal(pidfd, 0) == 0;
    bool mayRead =
        (access & (PROCESS_VM_READ | PROCESS_QUERY_INFORMATION)) == 0 || ImagePath(pid, &image);
    if (!mayEnd || !mayRead) {
        close(pidfd);
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return vidozir::platform::InsertHandle(std::make_shared<Process>(pid, pidfd, access, false));
}

BOOL TerminateProcess(HANDLE handle, UINT /*exitCode*/) {
    if (handle == GetCurrentProcess()) {
        _exit(0);  // not called by the library; kept to the Windows meaning
    }
    auto process = vidozir::platform::RequireAccess<Process>(handle, PROCESS_TERMINATE);
    if (!process) {
        return FALSE;
    }
    if (PidfdSignal(process->Pidfd(), SIGKILL) != 0 && errno != ESRCH) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}

DWORD GetModuleFileNameExW(HANDLE handle, HMODULE module, LPWSTR name, DWORD size) {
    pid_t pid = getpid();
    if (handle != GetCurrentProcess()) {
        auto process = vidozir::platform::RequireAccess<Process>(
            handle, PROCESS_QUERY_INFORMATION | PROCESS_VM_READ);
        if (!process) {
            return 0;
        }
        pid = process->Pid();
    }
    std::string image;
    if (module != nullptr || name == nullptr || size == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!ImagePath(pid, &image)) {
        SetLastError(ERROR_ACCESS_DENIED);  // ended, or not ours to read
        return 0;
    }
    const std::wstring path = vidozir::platform::WindowsPath(image);
    CopyTruncated(path, name, size);
    return static_cast<DWORD>(path.size() < size ? path.size() : size - 1);
}

namespace vidozir::platform {

HANDLE ChildProcessHandle(int pid) {
    int pidfd = PidfdOpen(pid);
    if (pidfd < 0) {
        std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
        return nullptr;
    }
    return InsertHandle(std::make_shared<Process>(pid, pidfd, PROCESS_ALL_ACCESS, true));
}

}  // namespace vidozir::platform
