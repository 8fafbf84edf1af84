#include "platform/session.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/codepage.h"
#include "platform/kernel.h"
#include "platform/localmem.h"
#include "platform/procfs_posix.h"
#include "platform/sysinfo.h"

namespace {

constexpr uint32_t kUnset = 0xFFFFFFFFu;  // the kernel's "no audit login"

// The first number of a small /proc file, or kUnset.
uint32_t ReadNumber(const std::string& path, const char* after = nullptr) {
    std::string text;
    if (!vidozir::platform::ReadProcFile(path, &text)) {
        return kUnset;
    }
    const char* at = text.c_str();
    if (after != nullptr) {
        at = std::strstr(text.c_str(), after);
        if (at == nullptr) {
            return kUnset;
        }
        at += std::strlen(after);
    }
    char* end = nullptr;
    unsigned long value = std::strtoul(at, &end, 10);
    return end != at && value <= kUnset ? static_cast<uint32_t>(value) : kUnset;
}

std::string Proc(pid_t pid, const char* file) {
    return "/proc/" + std::to_string(pid) + "/" + file;
}

// A session and whether it is an audit login session.
bool SessionOf(pid_t pid, uint32_t* session, bool* audit) {
    if (pid <= 0 || (kill(pid, 0) != 0 && errno == ESRCH)) {
        return false;
    }
    uint32_t id = ReadNumber(Proc(pid, "sessionid"));
    *audit = id != kUnset;
    if (!*audit) {
        pid_t posix = getsid(pid);
        if (posix < 0) {
            return false;
        }
        id = static_cast<uint32_t>(posix);
    }
    *session = id;
    return true;
}

// The user logged on to a session this process belongs to.
uid_t OwnSessionUser(uint32_t session, bool audit) {
    if (audit) {
        uint32_t login = ReadNumber("/proc/self/loginuid");
        return login != kUnset ? login : getuid();
    }
    uint32_t leader = ReadNumber(Proc(static_cast<pid_t>(session), "status"), "Uid:");
    return leader != kUnset ? leader : getuid();
}

// The session of this process and its user, looked up again only when the
// process's POSIX session changes: an audit session is fixed once the process
// has one, and so is its login uid.
struct KnownSession {
    pid_t posix = -1;
    uint32_t session = 0;
    uid_t user = 0;
};
std::mutex g_sessionLock;
KnownSession g_known;

bool OwnSession(uint32_t* session, uid_t* user) {
    pid_t posix = getsid(0);
    std::lock_guard<std::mutex> hold(g_sessionLock);
    if (posix != g_known.posix || posix < 0) {
        bool audit = false;
        g_known.posix = -1;
        if (!SessionOf(static_cast<pid_t>(GetCurrentProcessId()), &g_known.session, &audit)) {
            return false;
        }
        g_known.user = OwnSessionUser(g_known.session, audit);
        g_known.posix = posix;
    }
    *session = g_known.session;
    if (user != nullptr) {
        *user = g_known.user;
    }
    return true;
}

// The user of the session this process was last found in, when that is
// `session`: its user cannot change while the session lasts, so the question
// that follows ProcessIdToSessionId needs no new look at the process.
bool KnownSessionUser(uint32_t session, uid_t* uid) {
    std::lock_guard<std::mutex> hold(g_sessionLock);
    if (g_known.posix < 0 || session != g_known.session) {
        return false;
    }
    *uid = g_known.user;
    return true;
}

// The user logged on to `session`; false when no process belongs to it.
bool SessionUser(uint32_t session, uid_t* uid) {
    if (session != WTS_CURRENT_SESSION && KnownSessionUser(session, uid)) {
        return true;
    }
    uint32_t own = 0;
    if (OwnSession(&own, uid) && (session == WTS_CURRENT_SESSION || session == own)) {
        return true;
    }
    if (session == WTS_CURRENT_SESSION) {
        return false;
    }
    // Another session: any process of an audit session names its user, else
    // the session is a POSIX one whose leader does.
    if (DIR* proc = opendir("/proc")) {
        while (dirent* entry = readdir(proc)) {
            char* end = nullptr;
            long pid = std::strtol(entry->d_name, &end, 10);
            if (*end == 0 && pid > 0 &&
                ReadNumber(Proc(static_cast<pid_t>(pid), "sessionid")) == session) {
                uint32_t login = ReadNumber(Proc(static_cast<pid_t>(pid), "loginuid"));
                closedir(proc);
                *uid = login;
                return login != kUnset;
            }
        }
        closedir(proc);
    }
    if (getsid(static_cast<pid_t>(session)) != static_cast<pid_t>(session)) {
        return false;
    }
    uint32_t leader = ReadNumber(Proc(static_cast<pid_t>(session), "status"), "Uid:");
    *uid = leader;
    return leader != kUnset;
}

// A wide text in a LocalAlloc block, as the session and SID calls return it.
LPWSTR Copy(const std::wstring& text) {
    auto* block = static_cast<LPWSTR>(LocalAlloc(LMEM_FIXED, (text.size() + 1) * sizeof(wchar_t)));
    if (block != nullptr) {
        std::copy(text.begin(), text.end(), block);
        block[text.size()] = 0;
    }
    return block;
}

bool IsAscii(const std::string& text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

// User names are mostly ASCII, which needs no converter.
std::wstring Wide(const std::string& utf8) {
    if (IsAscii(utf8)) {
        return std::wstring(utf8.begin(), utf8.end());
    }
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring wide(n > 0 ? static_cast<size_t>(n) : 1u, L'\0');
    if (n > 0) {
        MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], n);
    }
    wide.resize(wide.size() - 1);
    return wide;
}

std::string Utf8(const std::wstring& wide) {
    bool ascii = true;
    for (wchar_t unit : wide) {
        ascii = ascii && unit >= 0 && unit < 0x80;
    }
    if (ascii) {
        return std::string(wide.begin(), wide.end());
    }
    int n = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(n > 0 ? static_cast<size_t>(n) : 1u, '\0');
    if (n > 0) {
        WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &utf8[0], n, nullptr, nullptr);
    }
    utf8.resize(utf8.size() - 1);
    return utf8;
}

std::wstring ComputerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(name, &size) ? std::wstring(name, size) : std::wstring();
}

bool SameIgnoringAsciiCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        wchar_t x = a[i] >= L'a' && a[i] <= L'z' ? a[i] - 32 : a[i];
        wchar_t y = b[i] >= L'a' && b[i] <= L'z' ? b[i] - 32 : b[i];
        if (x != y) {
            return false;
        }
    }
    return true;
}

// The last user looked up, kept while the user database file is unchanged:
// the session's user is asked for at every registry call of the helper. The
// file is looked at again at most once a second, so a renamed user is seen
// within a second, as an account cache of Windows is also late.
struct KnownUser {
    timespec changed = {};
    ino_t file = 0;
    uid_t uid = 0;
    std::string name;
    int64_t checkedAt = 0;  // coarse monotonic milliseconds; 0: never
};
constexpr int64_t kPasswdRecheckMs = 1000;

int64_t CoarseMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);  // read from memory, no system call
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000 + 1;
}
std::mutex g_userLock;
KnownUser g_user;

bool PasswdState(KnownUser* state) {
    struct stat info;
    if (stat("/etc/passwd", &info) != 0) {
        return false;
    }
    state->changed = info.st_mtim;
    state->file = info.st_ino;
    return true;
}

bool Same(const KnownUser& a, const KnownUser& b) {
    return a.file == b.file && a.changed.tv_sec == b.changed.tv_sec &&
           a.changed.tv_nsec == b.changed.tv_nsec;
}

// Looks a user up by name (`byName`) or by uid, through the cache.
bool FindUser(bool byName, std::string* name, uid_t* uid) {
    int64_t at = CoarseMs();
    {
        std::lock_guard<std::mutex> hold(g_userLock);
        if (g_user.checkedAt != 0 && at - g_user.checkedAt < kPasswdRecheckMs &&
            (byName ? g_user.name == *name : g_user.uid == *uid)) {
            *uid = g_user.uid;
            *name = g_user.name;
            return true;
        }
    }
    KnownUser now;
    bool cacheable = PasswdState(&now);
    {
        std::lock_guard<std::mutex> hold(g_userLock);
        if (cacheable && Same(now, g_user) && !g_user.name.empty() &&
            (byName ? g_user.name == *name : g_user.uid == *uid)) {
            g_user.checkedAt = at;
            *name = g_user.name;
            *uid = g_user.uid;
            return true;
        }
    }
    passwd entry;
    passwd* found = nullptr;
    char buffer[4096];
    int error = byName ? getpwnam_r(name->c_str(), &entry, buffer, sizeof(buffer), &found)
                       : getpwuid_r(*uid, &entry, buffer, sizeof(buffer), &found);
    if (error != 0 || found == nullptr) {
        return false;
    }
    *name = found->pw_name;
    *uid = found->pw_uid;
    if (cacheable) {
        std::lock_guard<std::mutex> hold(g_userLock);
        now.name = *name;
        now.uid = *uid;
        now.checkedAt = at;
        g_user = now;
    }
    return true;
}

// The uid of a user name, or of a decimal uid that the database does not name.
bool UidOf(const std::string& name, uid_t* uid) {
    std::string known = name;
    if (FindUser(true, &known, uid)) {
        return true;
    }
    if (name.empty() || name.size() > 10 || name.find_first_not_of("0123456789") != name.npos) {
        return false;
    }
    unsigned long value = std::strtoul(name.c_str(), nullptr, 10);
    *uid = static_cast<uid_t>(value);
    return value < kUnset;
}

void AppendDecimal(std::wstring* out, uint64_t value) {
    wchar_t digits[20];
    int count = 0;
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0) {
        out->push_back(digits[--count]);
    }
}

// The binary SID S-1-22-1-<uid>: revision, two sub-authorities, authority 22.
constexpr DWORD kSidSize = 16;
void WriteSid(uid_t uid, BYTE* sid) {
    const BYTE head[8] = {1, 2, 0, 0, 0, 0, 0, 22};
    std::memcpy(sid, head, sizeof(head));
    const uint32_t subs[2] = {1, static_cast<uint32_t>(uid)};
    std::memcpy(sid + 8, subs, sizeof(subs));  // little-endian, as Windows keeps them
}

}  // namespace

BOOL ProcessIdToSessionId(DWORD processId, DWORD* sessionId) {
    uint32_t session = 0;
    bool audit = false;
    bool found = processId == GetCurrentProcessId()
                     ? OwnSession(&session, nullptr)
                     : SessionOf(static_cast<pid_t>(processId), &session, &audit);
    if (sessionId == nullptr || !found) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *sessionId = session;
    return TRUE;
}

BOOL WTSQuerySessionInformationW(HANDLE server, DWORD sessionId, WTS_INFO_CLASS infoClass,
                                 LPWSTR* buffer, DWORD* bytes) {
    if (server != WTS_CURRENT_SERVER_HANDLE || buffer == nullptr || bytes == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::wstring text;
    if (infoClass == WTSDomainName) {
        text = ComputerName();
    } else if (infoClass == WTSUserName) {
        uid_t uid = 0;
        if (!SessionUser(sessionId, &uid)) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return FALSE;
        }
        std::string name;
        text = FindUser(false, &name, &uid) ? Wide(name) : std::to_wstring(uid);
    } else {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    *buffer = Copy(text);
    if (*buffer == nullptr) {
        return FALSE;
    }
    // Counted in UTF-16 units of 2 bytes, as on Windows.
    *bytes = static_cast<DWORD>((text.size() + 1) * 2);
    return TRUE;
}

void WTSFreeMemory(void* memory) {
    LocalFree(memory);
}

BOOL LookupAccountNameW(LPCWSTR systemName, LPCWSTR accountName, PSID sid, LPDWORD sidSize,
                        LPWSTR domain, LPDWORD domainSize, PSID_NAME_USE use) {
    if (accountName == nullptr || sidSize == nullptr || domainSize == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::wstring computer = ComputerName();
    if (systemName != nullptr && *systemName != 0 && !SameIgnoringAsciiCase(systemName, computer)) {
        SetLastError(ERROR_NOT_SUPPORTED);  // remote systems are not asked
        return FALSE;
    }
    std::wstring account(accountName);
    size_t slash = account.find(L'\\');
    std::wstring user = slash == account.npos ? account : account.substr(slash + 1);
    uid_t uid = 0;
    if ((slash != account.npos && slash != 0 &&
         !SameIgnoringAsciiCase(account.substr(0, slash), computer)) ||
        !UidOf(Utf8(user), &uid)) {
        SetLastError(ERROR_NONE_MAPPED);
        return FALSE;
    }
    if (sid == nullptr || *sidSize < kSidSize || domain == nullptr ||
        *domainSize < computer.size() + 1) {
        *sidSize = kSidSize;
        *domainSize = static_cast<DWORD>(computer.size() + 1);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    WriteSid(uid, static_cast<BYTE*>(sid));
    *sidSize = kSidSize;
    std::copy(computer.begin(), computer.end(), domain);
    domain[computer.size()] = 0;
    *domainSize = static_cast<DWORD>(computer.size());
    if (use != nullptr) {
        *use = SidTypeUser;
    }
    return TRUE;
}

BOOL ConvertSidToStringSidW(PSID sid, LPWSTR* text) {
    if (sid == nullptr || text == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    if (bytes[0] != 1 || bytes[1] > 15) {
        SetLastError(ERROR_INVALID_SID);
        return FALSE;
    }
    uint64_t authority = 0;
    for (int i = 2; i < 8; ++i) {
        authority = authority << 8 | bytes[i];
    }
    std::wstring out = L"S-1-";
    if (authority >> 32) {
        // Authorities beyond 32 bits are written in hexadecimal, as Windows does.
        char number[32];
        std::snprintf(number, sizeof(number), "0x%012llX",
                      static_cast<unsigned long long>(authority));
        out.append(number, number + std::strlen(number));
    } else {
        AppendDecimal(&out, authority);
    }
    for (int i = 0; i < bytes[1]; ++i) {
        uint32_t sub = 0;
        std::memcpy(&sub, bytes + 8 + 4 * i, 4);
        out += L'-';
        AppendDecimal(&out, sub);
    }
    *text = Copy(out);
    return *text != nullptr;
}
