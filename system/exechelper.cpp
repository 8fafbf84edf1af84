// Process launch through the shell.
#include "vidozir/exechelper.h"

#include "platform/win32.h"

namespace {

// Launches `file` and, when asked, waits on the new process (and the stop
// event); the process handle is closed after the wait.
bool Launch(const wchar_t* file, const wchar_t* parameters, unsigned int show, HANDLE stopEvent,
            DWORD timeout) {
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.hwnd = nullptr;
    info.lpVerb = L"open";
    info.lpFile = file;
    info.lpParameters = parameters;
    info.lpDirectory = nullptr;
    info.nShow = static_cast<int>(show);
    if (!ShellExecuteExW(&info)) {
        return false;
    }
    // A launch handed to a running program gives no process: nothing to wait on.
    if (timeout != 0 && info.hProcess != nullptr) {
        if (stopEvent != nullptr) {
            HANDLE handles[2] = {info.hProcess, stopEvent};
            WaitForMultipleObjects(2, handles, FALSE, timeout);
        } else {
            WaitForSingleObject(info.hProcess, timeout);
        }
    }
    if (info.hProcess != nullptr) {
        CloseHandle(info.hProcess);
    }
    return true;
}

}  // namespace

bool CExecHelper::Exec(const wchar_t* file, const wchar_t* parameters, unsigned int show) {
    return file != nullptr && Launch(file, parameters, show, nullptr, 0);
}

bool CExecHelper::Exec(const wchar_t* file, const wchar_t* parameters, unsigned int show,
                       void* stopEvent, unsigned long timeout) {
    return file != nullptr && Launch(file, parameters, show, static_cast<HANDLE>(stopEvent),
                                     static_cast<DWORD>(timeout));
}

bool CExecHelper::Exec(const wchar_t* path) {
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    if (GetVersionExW(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
        version.dwMajorVersion >= 6) {
        return path != nullptr && Launch(path, nullptr, SW_SHOW, nullptr, 0);
    }
    return Launch(L"explorer.exe", path, SW_SHOW, nullptr, 0);
}
