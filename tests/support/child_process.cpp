#include "support/child_process.h"

#include <chrono>
#include <thread>

#include "support/test_support.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace vidozir_test {

#if defined(_WIN32)

namespace {
std::wstring Widen(const std::string& text) {
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1) {
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], n);
    }
    return wide;
}
// Arguments of the tests carry no quotes; quoting keeps spaces together.
std::wstring Quote(const std::string& text) {
    return L"\"" + Widen(text) + L"\"";
}
}  // namespace

void ChildProcess::Start(std::vector<std::string> words) {
    std::wstring command;
    for (const std::string& word : words) {
        command += (command.empty() ? L"" : L" ") + Quote(word);
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &info)) {
        CloseHandle(info.hThread);
        process_ = info.hProcess;
        pid_ = static_cast<long>(info.dwProcessId);
    }
}

ChildProcess::~ChildProcess() {
    if (process_ != nullptr) {
        if (!ended_) {
            TerminateProcess(process_, 1);
            WaitForSingleObject(process_, INFINITE);
        }
        CloseHandle(process_);
    }
}

bool ChildProcess::Started() const {
    return process_ != nullptr;
}

int ChildProcess::Wait(int timeoutMs) {
    if (ended_ || process_ == nullptr) {
        return exitCode_;
    }
    if (WaitForSingleObject(process_, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    ended_ = true;
    exitCode_ = static_cast<int>(code);
    return exitCode_;
}

#else

void ChildProcess::Start(std::vector<std::string> words) {
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(&word[0]);
    }
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawn(&pid, words[0].c_str(), nullptr, nullptr, argv.data(), environ) == 0) {
        pid_ = pid;
    }
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !ended_) {
        kill(static_cast<pid_t>(pid_), SIGKILL);
        waitpid(static_cast<pid_t>(pid_), nullptr, 0);
    }
}

bool ChildProcess::Started() const {
    return pid_ > 0;
}

int ChildProcess::Wait(int timeoutMs) {
    if (ended_ || pid_ <= 0) {
        return exitCode_;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        pid_t done = waitpid(static_cast<pid_t>(pid_), &status, WNOHANG);
        if (done == static_cast<pid_t>(pid_)) {
            ended_ = true;
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return exitCode_;
        }
        if (done < 0 || std::chrono::steady_clock::now() >= deadline) {
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

#endif

ChildProcess::ChildProcess(const std::string& mode, const std::vector<std::string>& args) {
    std::vector<std::string> words = {SelfPath(), "--child=" + mode};
    words.insert(words.end(), args.begin(), args.end());
    Start(words);
}

ChildProcess::ChildProcess(const std::vector<std::string>& words) {
    Start(words);
}

long ChildProcess::Id() const {
    return pid_ > 0 ? pid_ : 0;
}

}  // namespace vidozir_test
