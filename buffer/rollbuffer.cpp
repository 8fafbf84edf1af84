#include "vidozir/rollbuffer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

namespace VidOzir {

CRollBuffer::CRollBuffer(unsigned int capacity)
    : m_pBuffer(nullptr), m_nCapacity(capacity), m_nHead(0), m_nDataSize(0) {}

CRollBuffer::~CRollBuffer() {
    delete[] m_pBuffer;
}

CRollBuffer::CRollBuffer(const CRollBuffer& other)
    : m_pBuffer(nullptr),
      m_nCapacity(other.m_nCapacity),
      m_nHead(other.m_nHead),
      m_nDataSize(other.m_nDataSize) {
    if (other.m_pBuffer != nullptr) {
        m_pBuffer = new unsigned char[m_nCapacity];
        std::memcpy(m_pBuffer, other.m_pBuffer, m_nCapacity);
    }
}

CRollBuffer& CRollBuffer::operator=(const CRollBuffer& other) {
    if (this != &other) {
        CRollBuffer copy(other);  // may throw; this object is untouched then
        std::swap(m_pBuffer, copy.m_pBuffer);
        m_nCapacity = copy.m_nCapacity;
        m_nHead = copy.m_nHead;
        m_nDataSize = copy.m_nDataSize;
    }
    return *this;
}

void CRollBuffer::Release() {
    m_nHead = 0;
    m_nDataSize = 0;
    delete[] m_pBuffer;
    m_pBuffer = nullptr;
}

void CRollBuffer::Clear() {
    m_nHead = 0;
    m_nDataSize = 0;
}

unsigned int CRollBuffer::GetRowIndex(unsigned int pos) const {
    // Before any block exists (capacity possibly 0) every position maps to 0.
    if (m_nCapacity == 0) {
        return 0;
    }
    return static_cast<unsigned int>((static_cast<uint64_t>(m_nHead) + pos) % m_nCapacity);
}

void CRollBuffer::GrowBuffer(unsigned int needed) {
    // 1.5 times the need; where that passes the 32-bit range the block is
    // made as large as the range allows instead of wrapping round to a block
    // smaller than the need.
    const uint64_t wide = 3ull * needed / 2;
    const unsigned int larger = wide > UINT32_MAX ? UINT32_MAX : static_cast<unsigned int>(wide);
    if (m_pBuffer == nullptr) {
        if (m_nCapacity < needed) {
            m_nCapacity = larger;
        }
        m_pBuffer = new unsigned char[m_nCapacity];
        return;
    }
    if (needed <= m_nCapacity) {
        return;
    }
    unsigned char* block = new unsigned char[larger];
    if (m_nDataSize > 0) {
        const unsigned int first = std::min(m_nDataSize, m_nCapacity - m_nHead);
        std::memcpy(block, m_pBuffer + m_nHead, first);
        std::memcpy(block + first, m_pBuffer, m_nDataSize - first);
        m_nHead = 0;
    }
    delete[] m_pBuffer;
    m_pBuffer = block;
    m_nCapacity = larger;
}

// More than the 32-bit counts can describe is treated as exhausted memory.
unsigned int CRollBuffer::MakeRoom(unsigned int n) {
    const uint64_t needed = static_cast<uint64_t>(m_nDataSize) + n;
    if (needed > UINT32_MAX) {
        throw std::bad_alloc();
    }
    if (m_pBuffer == nullptr || needed > m_nCapacity) {
        GrowBuffer(static_cast<unsigned int>(needed));
    }
    return static_cast<unsigned int>(needed);
}

// A push of zero bytes does nothing at all, also before the first block
// exists: it neither allocates nor fixes a capacity of 0.
void CRollBuffer::PushBack(unsigned char* data, unsigned int n) {
    if (n == 0) {
        return;
    }
    const unsigned int needed = MakeRoom(n);
    const unsigned int tail = GetRowIndex(m_nDataSize);
    const unsigned int k = std::min(n, m_nCapacity - tail);
    std::memcpy(m_pBuffer + tail, data, k);
    std::memcpy(m_pBuffer, data + k, n - k);
    m_nDataSize = needed;
}

void CRollBuffer::PushFront(unsigned char* data, unsigned int n) {
    if (n == 0) {
        return;
    }
    const unsigned int needed = MakeRoom(n);
    const unsigned int k = std::min(n, m_nHead);
    const unsigned int r = n - k;
    unsigned int head = m_nHead - k;
    std::memcpy(m_pBuffer + head, data + r, k);
    if (r > 0) {
        head = m_nCapacity - r;
        std::memcpy(m_pBuffer + head, data, r);
    }
    m_nHead = head;
    m_nDataSize = needed;
}

int CRollBuffer::RemoveBack(unsigned int n) {
    if (n == 0 || n > m_nDataSize) {
        return 0;
    }
    m_nDataSize -= n;
    return 1;
}

int CRollBuffer::RemoveFront(unsigned int n) {
    if (n == 0 || n > m_nDataSize) {
        return 0;
    }
    m_nHead = GetRowIndex(n);
    m_nDataSize -= n;
    return 1;
}

unsigned char CRollBuffer::operator[](unsigned int pos) const {
    return pos < m_nDataSize ? m_pBuffer[GetRowIndex(pos)] : 0;
}

bool CRollBuffer::GetDataCopy(unsigned int pos, unsigned char* dst, unsigned int& n) {
    unsigned char* first;
    unsigned char* second;
    unsigned int firstLen, secondLen;
    if (!GetRowPtr(pos, n, first, firstLen, second, secondLen)) {
        return false;
    }
    n = firstLen + secondLen;
    if (n > 0) {
        std::memcpy(dst, first, firstLen);
        if (secondLen > 0) {
            std::memcpy(dst + firstLen, second, secondLen);
        }
    }
    return true;
}

bool CRollBuffer::GetRowPtr(unsigned int pos, unsigned int len, unsigned char*& first,
                            unsigned int& firstLen, unsigned char*& second,
                            unsigned int& secondLen) {
    first = nullptr;
    second = nullptr;
    firstLen = 0;
    secondLen = 0;
    if (pos >= m_nDataSize) {
        return false;
    }
    const unsigned int n = std::min(len, m_nDataSize - pos);
    const unsigned int start = GetRowIndex(pos);
    first = m_pBuffer + start;
    if (n == 0) {
        return true;
    }
    // The stretch wraps (or ends exactly at the block's end) when it does not
    // fit before the end; that is the test start < end of the circular
    // indexes, made without forming the possibly wrapping end index.
    if (n < m_nCapacity - start) {
        firstLen = n;
        return true;
    }
    firstLen = m_nCapacity - start;
    second = m_pBuffer;
    secondLen = n - firstLen;
    return true;
}

bool CRollBuffer::InSingleBuffer(unsigned int pos, unsigned int len) {
    if (static_cast<uint64_t>(pos) + len > m_nDataSize) {
        return false;
    }
    return static_cast<uint64_t>(m_nHead) + pos + len <= m_nCapacity;
}

}  // namespace VidOzir
