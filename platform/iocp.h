// I/O completion ports and overlapped file I/O for non-Windows builds: a port
// queues completion packets; file handles (pipes, sockets, regular files)
// associated with a port complete their overlapped ReadFile/WriteFile to it
// with the handle's key. Completions are only ever taken off the port by its
// reader; nothing is delivered by callback.
#pragma once

#include "vidozir_wintypes.h"

#define ERROR_HANDLE_EOF 38L
#define ERROR_BROKEN_PIPE 109L
#define ERROR_OPERATION_ABORTED 995L
#define ERROR_IO_PENDING 997L

HANDLE CreateIoCompletionPort(HANDLE file, HANDLE existingPort, ULONG_PTR key,
                              DWORD concurrentThreads);
BOOL PostQueuedCompletionStatus(HANDLE port, DWORD bytes, ULONG_PTR key, LPOVERLAPPED overlapped);
BOOL GetQueuedCompletionStatus(HANDLE port, LPDWORD bytes, PULONG_PTR key, LPOVERLAPPED* overlapped,
                               DWORD milliseconds);

// With an OVERLAPPED the handle must be associated with a port: the call
// returns TRUE when it completed at once or FALSE with ERROR_IO_PENDING, and in
// both cases a packet follows on the port; any other failure queues nothing.
// Without one the call blocks until it is done.
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
              LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
               LPOVERLAPPED overlapped);

namespace vidozir::platform {
// Wraps an open file descriptor (pipe, socket or regular file) in a file
// handle that owns it; CloseHandle closes the descriptor and aborts the
// operations still pending on it (ERROR_OPERATION_ABORTED).
HANDLE FileHandleFromDescriptor(int fd);
}  // namespace vidozir::platform
