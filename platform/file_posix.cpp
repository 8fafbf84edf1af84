#include "platform/file.h"

#include <cerrno>
#include <string>

#include "platform/path_posix.h"

FILE* _wfopen(const wchar_t* name, const wchar_t* mode) {
    std::string native;
    if (!vidozir::platform::NativePath(name, native) || native.empty()) {
        errno = ENOENT;
        return nullptr;
    }
    // Modes are ASCII ("rb", "wb", "a+", ...).
    std::string narrowMode;
    for (const wchar_t* p = mode; p && *p; ++p) {
        if (*p > 0x7F) {
            errno = EINVAL;
            return nullptr;
        }
        narrowMode += static_cast<char>(*p);
    }
    if (narrowMode.empty()) {
        errno = EINVAL;
        return nullptr;
    }
    return std::fopen(native.c_str(), narrowMode.c_str());
}
