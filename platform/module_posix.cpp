// Module handles and file names from the dynamic loader's own records.
#include "platform/module.h"

#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/path_posix.h"
#include "platform/win32.h"

namespace {

struct ModuleLookup {
    uintptr_t base = 0;  // the handle asked about
    int index = 0;       // the loader lists the executable first
    bool found = false;
    bool executable = false;
    std::string name;
};

// The start of the lowest loaded segment, which is where dladdr's base
// address (and so a handle) points.
uintptr_t ImageStart(const struct dl_phdr_info* info) {
    uintptr_t lowest = UINTPTR_MAX;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        if (info->dlpi_phdr[i].p_type == PT_LOAD && info->dlpi_phdr[i].p_vaddr < lowest)
            lowest = info->dlpi_phdr[i].p_vaddr;
    }
    const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    return lowest == UINTPTR_MAX ? 0 : info->dlpi_addr + (lowest & ~(page - 1));
}

int VisitModule(struct dl_phdr_info* info, size_t, void* data) {
    auto* lookup = static_cast<ModuleLookup*>(data);
    const int index = lookup->index++;
    if (ImageStart(info) != lookup->base)
        return 0;
    lookup->found = true;
    lookup->executable = index == 0;
    lookup->name = info->dlpi_name ? info->dlpi_name : "";
    return 1;
}

// The absolute native file of a module, or false when it has none.
bool ModuleFile(HMODULE module, std::string& file) {
    char buffer[PATH_MAX];
    bool executable = module == nullptr || module == GetModuleHandleW(nullptr);
    if (!executable) {
        ModuleLookup lookup;
        lookup.base = reinterpret_cast<uintptr_t>(module);
        dl_iterate_phdr(VisitModule, &lookup);
        if (!lookup.found)
            return false;
        executable = lookup.executable;
        if (!executable) {
            if (!realpath(lookup.name.c_str(), buffer))
                return false;
            file = buffer;
            return true;
        }
    }
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length <= 0 || size_t(length) >= sizeof buffer)
        return false;
    file.assign(buffer, size_t(length));
    return true;
}

}  // namespace

BOOL GetModuleHandleExW(DWORD flags, LPCWSTR name, HMODULE* module) {
    if (!module) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *module = nullptr;
    if (!(flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS)) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    Dl_info info;
    if (!dladdr(name, &info) || !info.dli_fbase) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    *module = static_cast<HMODULE>(info.dli_fbase);
    return TRUE;
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR name, DWORD size) {
    std::string file;
    if (!ModuleFile(module, file)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    const std::wstring windows = vidozir::platform::WindowsPath(file);
    if (!name || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (windows.size() >= size) {
        windows.copy(name, size - 1);
        name[size - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    windows.copy(name, windows.size());
    name[windows.size()] = 0;
    return DWORD(windows.size());
}
