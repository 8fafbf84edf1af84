// Small files of /proc, read in one go.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <string>

namespace vidozir::platform {

// The file's first `limit` bytes; false when it cannot be read or is empty.
inline bool ReadProcFile(const std::string& path, std::string* text, size_t limit = 2047) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    text->resize(limit);
    ssize_t n = read(fd, &(*text)[0], limit);
    close(fd);
    text->resize(n > 0 ? static_cast<size_t>(n) : 0u);
    return n > 0;
}

}  // namespace vidozir::platform
