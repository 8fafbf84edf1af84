// A second copy of the running test program, started in one of its child
// modes (see VIDOZIR_TEST_CHILD), for tests that need two real processes.
#pragma once

#include <string>
#include <vector>

namespace vidozir_test {

class ChildProcess {
public:
    // Starts SelfPath() with `--child=<mode> args...`; Started() tells whether
    // that worked.
    ChildProcess(const std::string& mode, const std::vector<std::string>& args);
    // Starts another program: `words` is its path followed by its arguments.
    explicit ChildProcess(const std::vector<std::string>& words);
    // A child still running is killed.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const;
    // The child's exit code, or -1 when it has not ended within timeoutMs (it
    // keeps running) or could not be waited for.
    int Wait(int timeoutMs);

    long Id() const;  // the process id, 0 when not started

private:
    void Start(std::vector<std::string> words);

    void* process_ = nullptr;  // the process handle on Windows
    long pid_ = -1;            // the process id
    bool ended_ = false;
    int exitCode_ = -1;
};

}  // namespace vidozir_test
