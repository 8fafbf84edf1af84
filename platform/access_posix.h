// Access rights granted to a handle when it was opened (process and token
// handles), checked by the calls that need them.
#pragma once

#include <memory>

#include "platform/handles_posix.h"

namespace vidozir::platform {

class GrantedAccess {
public:
    explicit GrantedAccess(DWORD access) : access_(access) {}
    bool Allows(DWORD needed) const { return (access_ & needed) == needed; }

private:
    DWORD access_;
};

// The object of kind T (a GrantedAccess) behind `handle`, or null with
// ERROR_INVALID_HANDLE, or ERROR_ACCESS_DENIED when `needed` was not granted.
template <class T>
std::shared_ptr<T> RequireAccess(HANDLE handle, DWORD needed) {
    auto object = RequireHandle<T>(handle);
    if (object && !object->Allows(needed)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return object;
}

}  // namespace vidozir::platform
