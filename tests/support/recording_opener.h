// Linux: an `xdg-open` of the test's own, put first on PATH, that appends
// each call's arguments to a record file instead of opening anything.
#pragma once

#include <string>
#include <vector>

namespace vidozir_test {

class RecordingOpener {
public:
    RecordingOpener();   // installs it (PATH is changed for the whole process)
    ~RecordingOpener();  // restores PATH

    // The arguments of every call so far, one per line, after waiting up to
    // `timeoutMs` for at least `lines` of them (the calls run asynchronously).
    std::vector<std::string> Calls(size_t lines, int timeoutMs) const;

private:
    std::string record_;
    std::string savedPath_;
};

}  // namespace vidozir_test
