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

BOOL PostQueuedCompletionStatus(HANDLE handle, DWORD bytes, ULONG_PTR key,
                                LPOVERLAPPED overlapped) {
    // Under the handle's slot lock, without a reference: a post touches only
    // the slot and the port.
    HandlePeek peek(handle);
    Port* port = peek.As<Port>();
    if (port == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    port->Post(Packet{bytes, key, overlapped, 0});
    return TRUE;
}

namespace {

// The port this thread took packets from last, with a reference and the
// handle's slot: an I/O pump polls its port between every two tasks, and a
// poll through this reference costs a few plain reads, where a look-up
// through the handle table costs two atomic writes to the handle's slot. A
// closed port stays alive here until the thread uses another port or ends,
// as it does while a file associated with it is open.
struct LastPort {
    HANDLE handle = nullptr;
    const HandleSlot* slot = nullptr;
    std::shared_ptr<Port> port;
};
thread_local LastPort t_lastPort;

Port* FindPort(HANDLE handle) {
    LastPort& last = t_lastPort;
    if (last.handle == handle && last.port && SlotHolds(last.slot, last.port.get())) {
        return last.port.get();
    }
    auto port = RequireHandle<Port>(handle);
    if (!port) {
        return nullptr;
    }
    last.handle = handle;
    last.slot = FindHandleSlot(handle);
    last.port = std::move(port);
    return last.port.get();
}

}  // namespace

BOOL GetQueuedCompletionStatus(HANDLE handle, LPDWORD bytes, PULONG_PTR key,
                               LPOVERLAPPED* overlapped, DWORD milliseconds) {
    *overlapped = nullptr;
    // Held by t_lastPort for the whole call: nothing here uses another port.
    Port* port = FindPort(handle);
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
