// The overlapped file engine of the non-Windows platform layer: file handles
// over descriptors (pipes, sockets, regular files) whose overlapped reads and
// writes complete to the completion port the handle is associated with, with
// the handle's key. Completions are only ever taken off the port by its
// reader; nothing is delivered by callback.
#pragma once

#include <memory>

#include "platform/completion_port_posix.h"
#include "platform/iocp.h"

namespace vidozir::platform {

class File;

// The file of a handle, or null with ERROR_INVALID_HANDLE set.
std::shared_ptr<File> RequireFile(HANDLE handle);
// Associates a file with a port for its whole life; false when it already
// belongs to one.
bool AssociateFile(File& file, std::shared_ptr<Port> port, ULONG_PTR key);
// ReadFile (write false) and WriteFile (write true), as platform/iocp.h
// describes them.
BOOL StartIo(bool write, HANDLE handle, char* buffer, DWORD size, LPDWORD transferred,
             LPOVERLAPPED overlapped);

}  // namespace vidozir::platform
