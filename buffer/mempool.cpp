#include <cstring>

#include "vidozir/membuffer.h"

namespace VidOzir {

void* CMemPool::MallocBuffer(unsigned int n) {
    return new unsigned char[n];
}

void* CMemPool::MallocZeroBuffer(unsigned int n) {
    void* block = new unsigned char[n];
    std::memset(block, 0, n);
    return block;
}

void CMemPool::ReleaseBuffer() {}

}  // namespace VidOzir
