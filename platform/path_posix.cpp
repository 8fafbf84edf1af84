#include "platform/path_posix.h"

#include "platform/codepage.h"

namespace vidozir::platform {

bool NativePath(const wchar_t* path, std::string& native) {
    native.clear();
    if (!path)
        return false;
    if (path[0] == 0)
        return true;
    const int size = WideCharToMultiByte(CP_UTF8, 0, path, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return false;
    native.resize(size_t(size));
    WideCharToMultiByte(CP_UTF8, 0, path, -1, &native[0], size, nullptr, nullptr);
    native.resize(size_t(size) - 1);
    for (char& c : native) {
        if (c == '\\')
            c = '/';
    }
    return true;
}

std::wstring WindowsPath(const std::string& native) {
    std::wstring path;
    if (native.empty())
        return path;
    const int size = MultiByteToWideChar(CP_UTF8, 0, native.data(), int(native.size()), nullptr, 0);
    if (size <= 0)
        return path;
    path.resize(size_t(size));
    MultiByteToWideChar(CP_UTF8, 0, native.data(), int(native.size()), &path[0], size);
    for (wchar_t& c : path) {
        if (c == L'/')
            c = L'\\';
    }
    return path;
}

}  // namespace vidozir::platform
