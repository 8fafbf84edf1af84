// Windows-form paths (UTF-16, backslashes) at the boundary to the file system
// of non-Windows builds.
#pragma once

#include <string>

namespace vidozir::platform {

// UTF-8 path with slashes for the system calls; false when `path` is null.
bool NativePath(const wchar_t* path, std::string& native);

// The Windows form of a native path: UTF-16 units, backslashes.
std::wstring WindowsPath(const std::string& native);

}  // namespace vidozir::platform
