#include "platform/shellexec.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/kernel.h"
#include "platform/path_posix.h"
#include "platform/process.h"

extern char** environ;

namespace {

std::string Utf8(const wchar_t* text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? static_cast<size_t>(n) : 1u, '\0');
    if (n > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
    }
    out.resize(out.size() - 1);
    return out;
}

// Splits parameters as Windows programs split their command line: blanks
// separate words outside quotes; 2n backslashes before a quote are n
// backslashes and the quote opens or closes, 2n+1 give n and a literal quote.
std::vector<std::string> SplitParameters(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\\') {
            size_t end = text.find_first_not_of('\\', i);
            end = end == std::string::npos ? text.size() : end;
            const size_t run = end - i;
            const bool beforeQuote = end < text.size() && text[end] == '"';
            word.append(beforeQuote ? run / 2 : run, '\\');
            if (beforeQuote && run % 2 == 1) {
                word += '"';  // an escaped quote, taken here
                i = end;
            } else {
                i = end - 1;  // a quote after an even run is read next
            }
            inWord = true;
        } else if (c == '"') {
            if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
                word += '"';  // "" inside quotes is one quote
                ++i;
            } else {
                quoted = !quoted;
            }
            inWord = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (inWord) {
                words.push_back(word);
            }
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) {
        words.push_back(word);
    }
    return words;
}

// A URL has a scheme of two or more letters; "C:" is a drive.
bool IsUrl(const std::string& text) {
    size_t colon = text.find(':');
    if (colon == std::string::npos || colon < 2) {
        return false;
    }
    for (size_t i = 0; i < colon; ++i) {
        char c = text[i];
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') {
            return false;
        }
    }
    return std::isalpha(static_cast<unsigned char>(text[0])) != 0;
}

// A program to start directly: an ELF image or a "#!" script we may run.
bool IsProgram(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        access(path.c_str(), X_OK) != 0) {
        return false;
    }
    char head[4] = {};
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ssize_t n = fd >= 0 ? read(fd, head, sizeof(head)) : -1;
    if (fd >= 0) {
        close(fd);
    }
    return (n == 4 && std::memcmp(head,
                                  "\x7f"
                                  "ELF",
                                  4) == 0) ||
           (n >= 2 && head[0] == '#' && head[1] == '!');
}

// A bare program name is looked for along PATH, as the shell does.
std::string FindOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (name.find('/') != std::string::npos || path == nullptr) {
        return std::string();
    }
    std::string list = path;
    for (size_t at = 0; at <= list.size();) {
        size_t end = list.find(':', at);
        end = end == std::string::npos ? list.size() : end;
        std::string candidate = list.substr(at, end - at) + "/" + name;
        if (end > at && IsProgram(candidate)) {
            return candidate;
        }
        at = end + 1;
    }
    return std::string();
}

DWORD MissingPathError(const std::string& native) {
    size_t slash = native.find_last_of('/');
    struct stat info;
    bool folderThere = slash == std::string::npos || slash == 0 ||
                       (stat(native.substr(0, slash).c_str(), &info) == 0 && S_ISDIR(info.st_mode));
    return folderThere ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

// Starts `words[0]` with the arguments after it in `directory` (empty: ours).
bool Spawn(const std::vector<std::string>& words, const std::string& directory, pid_t* pid) {
    std::vector<char*> argv;
    for (const std::string& word : words) {
        argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!directory.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    }
    int error = posix_spawnp(pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        SetLastError(error == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
    }
    return error == 0;
}

}  // namespace

BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info) {
    if (info == nullptr || info->cbSize != sizeof(SHELLEXECUTEINFOW) || info->lpFile == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    info->hProcess = nullptr;
    if (info->lpVerb != nullptr && std::wstring(info->lpVerb) != L"open") {
        SetLastError(ERROR_NO_ASSOCIATION);  // no other verb is known here
        return FALSE;
    }
    const std::string file = Utf8(info->lpFile);
    std::string directory;
    if (info->lpDirectory != nullptr && *info->lpDirectory != 0) {
        vidozir::platform::NativePath(info->lpDirectory, directory);
    }
    std::string native;
    std::vector<std::string> words;
    if (IsUrl(file)) {
        words = {"xdg-open", file};
    } else {
        vidozir::platform::NativePath(info->lpFile, native);
        struct stat status;
        std::string program = IsProgram(native) ? native : FindOnPath(native);
        if (!program.empty()) {
            words = {program};
            if (info->lpParameters != nullptr) {
                for (std::string& word : SplitParameters(Utf8(info->lpParameters))) {
                    words.push_back(word);
                }
            }
        } else if (stat(native.c_str(), &status) == 0) {
            words = {"xdg-open", native};
        } else {
            SetLastError(MissingPathError(native));
            return FALSE;
        }
    }
    pid_t pid = 0;
    if (!Spawn(words, directory, &pid)) {
        return FALSE;
    }
    // A handle watches every child until it ends, so none is left unreaped.
    HANDLE process = vidozir::platform::ChildProcessHandle(pid);
    const bool keep = words[0] != "xdg-open" && (info->fMask & SEE_MASK_NOCLOSEPROCESS) != 0;
    if (keep) {
        info->hProcess = process;
    } else if (process != nullptr) {
        CloseHandle(process);
    }
    info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<intptr_t>(42));
    return TRUE;
}

HINSTANCE ShellExecuteW(HWND window, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters,
                        LPCWSTR directory, int show) {
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.hwnd = window;
    info.lpVerb = verb;
    info.lpFile = file;
    info.lpParameters = parameters;
    info.lpDirectory = directory;
    info.nShow = show;
    if (ShellExecuteExW(&info)) {
        return info.hInstApp;
    }
    // The old call's error values are the small error codes themselves.
    DWORD error = GetLastError();
    return reinterpret_cast<HINSTANCE>(static_cast<intptr_t>(error <= 32 ? error : SE_ERR_FNF));
}
