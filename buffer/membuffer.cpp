#include "vidozir/membuffer.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

namespace VidOzir {

const int CMemBuffer::ms_allocUnit = 64;

namespace {

// Sizes are computed in 64 bits so that a huge count (a damaged length, a
// caller's mistake) cannot wrap round and pass a bound test.
long long AlignWide(long long value, long long unit) {
    return value + ((unit - value % unit) % unit);
}

long long Step(long long size) {
    if (size == 0) {
        return CMemBuffer::ms_allocUnit;
    }
    return size < 1024 ? 2 * size : 3 * size / 2;
}

// When the heap cannot give the block, the buffer keeps its old block, content
// and cursor, and the write raises std::bad_alloc, like every other
// allocation of the library; a write is never silently dropped.
unsigned char* Reallocate(unsigned char* block, long long size) {
    if (size > INT_MAX) {
        throw std::bad_alloc();
    }
    void* grown = std::realloc(block, static_cast<size_t>(size));
    if (grown == nullptr) {
        throw std::bad_alloc();
    }
    return static_cast<unsigned char*>(grown);
}

}  // namespace

inline void CMemBuffer::RoomFor(int n) {
    if (GetCursorPos() + ((static_cast<long long>(n) + 3) & ~3LL) > m_nSize) {
        Grow(n);
    }
}

inline void CMemBuffer::Skip(int n) {
    m_pCursor += (static_cast<long long>(n) + 3) & ~3LL;
}

CMemBuffer::CMemBuffer() : m_pBuffer(nullptr), m_pCursor(nullptr), m_nSize(0) {
    m_pBuffer = Reallocate(nullptr, ms_allocUnit);
    m_pCursor = m_pBuffer;
    m_nSize = ms_allocUnit;
}

CMemBuffer::CMemBuffer(const unsigned char* data, int len)
    : m_pBuffer(nullptr), m_pCursor(nullptr), m_nSize(0) {
    if (data == nullptr || len < 0) {
        len = 0;
    }
    const long long size = std::max<long long>(AlignWide(len, 4), ms_allocUnit);
    m_pBuffer = Reallocate(nullptr, size);
    if (len > 0) {
        std::memcpy(m_pBuffer, data, static_cast<size_t>(len));
    }
    m_pCursor = m_pBuffer;
    m_nSize = static_cast<int>(size);
}

CMemBuffer::CMemBuffer(const CMemBuffer& other)
    : m_pBuffer(nullptr), m_pCursor(nullptr), m_nSize(0) {
    *this = other;  // the block keeps other's size, also one not a multiple of 4
}

CMemBuffer& CMemBuffer::operator=(const CMemBuffer& other) {
    // The new block is filled before the old one goes, so assigning a buffer
    // to itself keeps its bytes.
    const int size = std::max(other.m_nSize, ms_allocUnit);
    unsigned char* block = Reallocate(nullptr, size);
    std::memcpy(block, other.m_pBuffer, static_cast<size_t>(other.m_nSize));
    std::free(m_pBuffer);
    m_pBuffer = block;
    m_pCursor = block;
    m_nSize = size;
    return *this;
}

CMemBuffer::~CMemBuffer() {
    std::free(m_pBuffer);
}

int CMemBuffer::Align(int value, int unit) {
    return static_cast<int>(AlignWide(value, unit));
}

void CMemBuffer::Seek(int origin, int count) {
    const long long offset = GetCursorPos();
    long long target;
    if (origin == 1) {
        target = offset - count;
    } else if (origin == 0) {
        // Origin 0 counts from the start of the block, like SeekToBegin
        // followed by a forward move, and the bound test uses that same
        // position: the cursor lands exactly where asked, or at the end.
        target = count;
    } else {
        return;
    }
    // Neither origin moves the cursor before the start or past the end (a
    // negative count with origin 1 would otherwise move it forward without
    // bound).
    if (target < 0) {
        target = 0;
    } else if (target > m_nSize) {
        target = m_nSize;
    }
    m_pCursor = m_pBuffer + target;
}

void CMemBuffer::Resize(int n) {
    const long long offset = GetCursorPos();
    const long long size = std::max<long long>(n, std::min<long long>(Step(m_nSize), INT_MAX));
    m_pBuffer = Reallocate(m_pBuffer, size);
    m_nSize = static_cast<int>(size);
    m_pCursor = m_pBuffer + offset;
}

void CMemBuffer::Grow(int n) {
    const long long offset = GetCursorPos();
    const long long needed = offset + AlignWide(n, 4);
    if (needed <= m_nSize) {
        return;
    }
    // A step past the int range is cut back; the needed size itself is not.
    const long long step = std::min<long long>(Step(m_nSize), INT_MAX & ~3);
    const long long size = std::max(AlignWide(needed, 4), step);
    m_pBuffer = Reallocate(m_pBuffer, size);
    m_nSize = static_cast<int>(size);
    m_pCursor = m_pBuffer + offset;
}

void CMemBuffer::SetBytes(const unsigned char* src, int n) {
    if (src == nullptr || n <= 0) {
        return;
    }
    RoomFor(n);
    std::memcpy(m_pCursor, src, static_cast<size_t>(n));
    Skip(n);
}

void CMemBuffer::GetBytes(unsigned char* dst, int n) {
    if (dst == nullptr || n <= 0) {
        return;
    }
    if (static_cast<long long>(GetCursorPos()) + n > m_nSize) {
        return;
    }
    std::memcpy(dst, m_pCursor, static_cast<size_t>(n));
    Skip(n);
}

void CMemBuffer::PutLength(int32_t length) {
    RoomFor(4);
    std::memcpy(m_pCursor, &length, 4);
    m_pCursor += 4;
}

// A damaged piece (a negative length, or a body that would pass the end)
// reads as an empty string and leaves the cursor just after its length: the
// reader sees the short record, and the cursor never leaves the block.
long long CMemBuffer::TakeBody(int unitSize) {
    if (static_cast<long long>(GetCursorPos()) + 4 > m_nSize) {
        return 0;
    }
    int32_t length;
    std::memcpy(&length, m_pCursor, 4);
    m_pCursor += 4;
    const long long bytes = static_cast<long long>(length) * unitSize;
    if (bytes <= 0 || GetCursorPos() + bytes > m_nSize) {
        return 0;
    }
    return bytes;
}

template <>
void CMemBuffer::SetBytes<std::string>(const std::string& value) {
    if (value.size() > static_cast<size_t>(INT_MAX)) {
        throw std::bad_alloc();  // cannot be described by the 32-bit length
    }
    const int32_t length = static_cast<int32_t>(value.size());
    PutLength(length);
    if (length == 0) {
        return;
    }
    RoomFor(length);
    std::memcpy(m_pCursor, value.data(), static_cast<size_t>(length));
    Skip(length);
}

template <>
void CMemBuffer::GetBytes<std::string>(std::string& value) {
    value.clear();
    const long long bytes = TakeBody(1);
    if (bytes == 0) {
        return;
    }
    value.assign(reinterpret_cast<const char*>(m_pCursor), static_cast<size_t>(bytes));
    Skip(static_cast<int>(bytes));
}

template <>
void CMemBuffer::SetBytes<CLuStringW>(const CLuStringW& value) {
    const int32_t length = value.GetLength();
    PutLength(length);
    const wchar_t* units = value.GetString();
    if (length == 0 || units == nullptr) {
        return;
    }
    if (length > INT_MAX / 2) {
        throw std::bad_alloc();
    }
    const int bytes = 2 * length;
    RoomFor(bytes);
    // Unit by unit, 2 bytes each, whatever the width of wchar_t (on Linux
    // each element holds one UTF-16 unit).
    for (int32_t i = 0; i < length; ++i) {
        const uint16_t unit = static_cast<uint16_t>(units[i]);
        std::memcpy(m_pCursor + 2 * i, &unit, 2);
    }
    Skip(bytes);
}

template <>
void CMemBuffer::GetBytes<CLuStringW>(CLuStringW& value) {
    value.Empty();
    const long long bytes = TakeBody(2);
    if (bytes == 0) {
        return;
    }
    const int length = static_cast<int>(bytes / 2);
    // Every unit, zeros included: a piece of L units reads back as L units.
    wchar_t* units = value.GetBuffer(length);
    for (int32_t i = 0; i < length; ++i) {
        uint16_t unit;
        std::memcpy(&unit, m_pCursor + 2 * i, 2);
        units[i] = static_cast<wchar_t>(unit);
    }
    value.ReleaseBuffer(length);
    Skip(static_cast<int>(bytes));
}

}  // namespace VidOzir
