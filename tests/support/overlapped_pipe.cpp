#include "support/overlapped_pipe.h"

#include <atomic>
#include <string>

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace vidozir_test {

bool MakeOverlappedPipe(bool serverReads, PipeEnds* ends) {
#if defined(_WIN32)
    (void)serverReads;
    static std::atomic<int> counter{0};
    const std::wstring name = L"\\\\.\\pipe\\vidozir-test-" +
                              std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(++counter);
    ends->server = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                    PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 65536,
                                    65536, 0, nullptr);
    if (ends->server == INVALID_HANDLE_VALUE) {
        ends->server = nullptr;
        return false;
    }
    ends->client = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    if (ends->client == INVALID_HANDLE_VALUE) {
        CloseHandle(ends->server);
        ends->server = ends->client = nullptr;
        return false;
    }
    OVERLAPPED connect = {};
    connect.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!ConnectNamedPipe(ends->server, &connect)) {
        const DWORD error = GetLastError();
        if (error == ERROR_IO_PENDING) {
            DWORD unused = 0;
            GetOverlappedResult(ends->server, &connect, &unused, TRUE);
        }
    }
    CloseHandle(connect.hEvent);
    return true;
#else
    int fds[2];
    if (::pipe(fds) != 0) {
        return false;
    }
    ends->server = vidozir::platform::FileHandleFromDescriptor(serverReads ? fds[0] : fds[1]);
    ends->client = vidozir::platform::FileHandleFromDescriptor(serverReads ? fds[1] : fds[0]);
    return ends->server != nullptr && ends->client != nullptr;
#endif
}

}  // namespace vidozir_test
