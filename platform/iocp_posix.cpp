// I/O completion ports and overlapped I/O for non-Windows builds (see
// platform/iocp.h): the Win32 calls over the completion port and overlapped
// file engines.
#include "platform/iocp.h"

#include "platform/completion_port_posix.h"
#include "platform/overlapped_file_posix.h"

using namespace vidozir::platform;

HANDLE CreateIoCompletionPort(HANDLE file, HANDLE existingPort, ULONG_PTR key, DWORD) {
    std::shared_ptr<Port> port;
    HANDLE portHandle = existingPort;
    if (existingPort != nullptr) {
        port = RequireHandle<Port>(existingPort);
        if (!port) {
            return nullptr;
        }
    }
    if (file == INVALID_HANDLE_VALUE) {
        if (port) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        return InsertHandle(std::make_shared<Port>());
    }
    auto target = RequireFile(file);
    if (!target) {
        return nullptr;
    }
    if (!port) {
        port = std::make_shared<Port>();
        portHandle = InsertHandle(port);
    }
    if (!AssociateFile(*target, port, key)) {
        // A handle belongs to one port for its whole life.
        SetLastError(ERROR_INVALID_PARAMETER);
        if (existingPort == nullptr) {
            CloseHandle(portHandle);
        }
        return nullptr;
    }
    return portHandle;
}

namespace {

// The ports this thread posted to and took packets from last: an I/O pump's
// posting threads post its wake-ups, and it polls its port between every two
// tasks. A port holds nothing but memory (its packets).
thread_local LastUsed<Port> t_lastPosted;
thread_local LastUsed<Port> t_lastPolled;

}  // namespace

BOOL PostQueuedCompletionStatus(HANDLE handle, DWORD bytes, ULONG_PTR key,
                                LPOVERLAPPED overlapped) {
    Port* port = t_lastPosted.Find(handle);
    if (port == nullptr) {
        return FALSE;
    }
    port->Post(Packet{bytes, key, overlapped, 0});
    return TRUE;
}

BOOL GetQueuedCompletionStatus(HANDLE handle, LPDWORD bytes, PULONG_PTR key,
                               LPOVERLAPPED* overlapped, DWORD milliseconds) {
    *overlapped = nullptr;
    // Held by t_lastPolled for the whole call: nothing here polls another port.
    Port* port = t_lastPolled.Find(handle);
    if (port == nullptr) {
        return FALSE;
    }
    Packet packet;
    if ((milliseconds == 0 && port->LooksEmpty()) || !port->Get(&packet, milliseconds)) {
        SetLastError(WAIT_TIMEOUT);
        return FALSE;
    }
    *bytes = packet.bytes;
    *key = packet.key;
    *overlapped = packet.overlapped;
    if (packet.error != 0) {
        SetLastError(packet.error);
        return FALSE;
    }
    return TRUE;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
              LPOVERLAPPED overlapped) {
    return StartIo(false, file, static_cast<char*>(buffer), bytesToRead, bytesRead, overlapped);
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
               LPOVERLAPPED overlapped) {
    // Writes only read the buffer; the shared operation record is not const.
    return StartIo(true, file, static_cast<char*>(const_cast<void*>(buffer)), bytesToWrite,
                   bytesWritten, overlapped);
}
