// The named shared object engine of the non-Windows platform layer: POSIX
// shared memory objects named after Windows' object names, held the way
// Windows holds named objects. A named object lives while some process holds
// it: every holder keeps a shared flock on it, the last holder to let go
// removes the name, and a name whose holders all died is taken as free.
// Sections and named mutexes (platform/filemap_posix.cpp) are built on it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/kernel.h"

namespace vidozir::platform {

// The shared memory name of a Windows object name of a kind ("map",
// "mutex"); false for a name Windows would refuse.
bool ShmName(LPCWSTR name, const char* kind, std::string* out);

// The Win32 error of a failed shared memory call.
DWORD SharedObjectError(int error);

// One holder's grip on a shared memory object: an open descriptor with a
// shared flock on it. The flocks are the holder count that the system keeps
// for us, and a dead process's flocks go with it.
struct Hold {
    int fd = -1;
    std::string name;  // empty for an unnamed object
    bool existed = false;
    uint64_t size = 0;
};

// Opens (or, with create, creates with createSize bytes of zeros) the object
// called hold.name, an unnamed one when the name is empty; returns
// ERROR_SUCCESS or the error. onCreate prepares the object (given its
// descriptor) when it is made afresh.
DWORD Acquire(Hold& hold, bool create, uint64_t createSize, bool (*onCreate)(int));
// Lets go of a hold; the last holder of a name removes it.
void LetGo(Hold& hold);

}  // namespace vidozir::platform
