#include "support/recording_opener.h"

#if !defined(_WIN32)
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "support/test_support.h"

namespace vidozir_test {

RecordingOpener::RecordingOpener() {
    const std::string dir = MakeTempDir("opener");
    record_ = dir + "/calls";
    const std::string script = dir + "/xdg-open";
    std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" << record_ << "'\n";
    chmod(script.c_str(), 0755);
    const char* path = std::getenv("PATH");
    savedPath_ = path != nullptr ? path : "";
    setenv("PATH", (dir + ":" + savedPath_).c_str(), 1);
}

RecordingOpener::~RecordingOpener() {
    setenv("PATH", savedPath_.c_str(), 1);
}

std::vector<std::string> RecordingOpener::Calls(size_t lines, int timeoutMs) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<std::string> calls;
    do {
        calls.clear();
        std::ifstream file(record_);
        for (std::string line; std::getline(file, line);)
            calls.push_back(line);
        if (calls.size() >= lines)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < deadline);
    return calls;
}

}  // namespace vidozir_test
#endif
