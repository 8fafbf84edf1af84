// Selecting items in a shell folder window.
#include <vector>

#include "diskutil/shell_select.h"
#include "platform/win32.h"

namespace VidOzir {
namespace DiskUtil {

void SelectInFolder(const wchar_t* folder, const std::vector<std::wstring>& names) {
    IShellFolder* desktop = nullptr;
    if (FAILED(SHGetDesktopFolder(&desktop)) || desktop == nullptr) {
        return;
    }
    PIDLIST_ABSOLUTE folderId = ILCreateFromPathW(folder);
    if (folderId != nullptr) {
        std::vector<PIDLIST_RELATIVE> items;
        for (const std::wstring& name : names) {
            wchar_t path[MAX_PATH] = {};
            _snwprintf(path, MAX_PATH - 1, L"%s%s", folder, name.c_str());
            PIDLIST_RELATIVE item = nullptr;
            ULONG eaten = 0;
            // A name that does not parse is left out of the selection.
            if (SUCCEEDED(
                    desktop->ParseDisplayName(nullptr, nullptr, path, &eaten, &item, nullptr)) &&
                item != nullptr) {
                items.push_back(item);
            }
        }
        HRESULT com = CoInitialize(nullptr);
        std::vector<LPCITEMIDLIST> selection(items.begin(), items.end());
        SHOpenFolderAndSelectItems(folderId, static_cast<UINT>(selection.size()),
                                   selection.empty() ? nullptr : selection.data(), 0);
        if (SUCCEEDED(com)) {
            CoUninitialize();
        }
        // The identifiers made here are ours to free once the shell has them.
        for (PIDLIST_RELATIVE item : items) {
            CoTaskMemFree(item);
        }
        ILFree(folderId);
    }
    desktop->Release();
}

}  // namespace DiskUtil
}  // namespace VidOzir
