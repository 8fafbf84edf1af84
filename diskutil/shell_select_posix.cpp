// Selecting items through the desktop's file manager.
#include <sys/stat.h>

#include <cwchar>

#include "diskutil/shell_select.h"
#include "platform/filemanager.h"
#include "platform/path_posix.h"
#include "platform/win32.h"

namespace VidOzir {
namespace DiskUtil {

void SelectInFolder(const wchar_t* folder, const std::vector<std::wstring>& names) {
    std::vector<std::string> uris;
    for (const std::wstring& name : names) {
        std::wstring path = std::wstring(folder) + name;
        path.resize(path.size() < MAX_PATH - 1 ? path.size() : MAX_PATH - 1);
        std::string native;
        struct stat info;
        // As on Windows, a name that names nothing is left out of the selection.
        if (vidozir::platform::NativePath(path.c_str(), native) &&
            stat(native.c_str(), &info) == 0) {
            uris.push_back(vidozir::platform::FileUri(native));
        }
    }
    // No file manager on the bus, or nothing left to select: the folder is
    // opened by the desktop's default handler instead.
    if (uris.empty() || !vidozir::platform::ShowItemsInFileManager(uris)) {
        ShellExecuteW(nullptr, L"open", folder, nullptr, nullptr, SW_SHOW);
    }
}

}  // namespace DiskUtil
}  // namespace VidOzir
