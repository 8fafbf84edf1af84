#include "platform/localmem.h"

#include <cstdlib>
#include <cstring>

#include "platform/kernel.h"

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
    if ((flags & ~LMEM_ZEROINIT) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);  // movable blocks are not offered
        return nullptr;
    }
    void* block = (flags & LMEM_ZEROINIT) ? std::calloc(1, bytes == 0 ? 1 : bytes)
                                          : std::malloc(bytes == 0 ? 1 : bytes);
    if (block == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return block;
}

HLOCAL LocalFree(HLOCAL block) {
    std::free(block);
    return nullptr;
}
