// CMemBuffer: a growable heap block with one read/write cursor, used to build
// and read back records of 4-byte-aligned pieces (raw runs, length-prefixed
// narrow and wide strings). CMemPool: raw heap blocks for the client's modules.
//
// Record format (little-endian, as the processor stores it):
//   raw run        n bytes, padded to a multiple of 4
//   narrow string  int32 length L in bytes, L bytes, padding
//   wide string    int32 length L in UTF-16 units, 2*L bytes, padding
// Wide strings are UTF-16 on every platform, so records travel between builds.
#pragma once

#include <cstdint>
#include <string>

#include "vidozir/export.h"
#include "vidozir/lustring.h"

namespace VidOzir {

class VIDOZIR_API CMemBuffer {
public:
    // The smallest block any constructor makes, and the first growth step.
    static const int ms_allocUnit;

    CMemBuffer();
    CMemBuffer(const unsigned char* data, int len);
    CMemBuffer(const CMemBuffer& other);
    CMemBuffer& operator=(const CMemBuffer& other);
    ~CMemBuffer();

    int GetSize() const { return m_nSize; }
    int GetCursorPos() const { return static_cast<int>(m_pCursor - m_pBuffer); }
    const unsigned char* GetRawData() const { return m_pBuffer; }

    void SeekToBegin() { m_pCursor = m_pBuffer; }
    void SeekToEnd() { m_pCursor = m_pBuffer + m_nSize; }
    // origin 1: back by count (stops at the start); origin 0: to the offset
    // count from the start (stops at the end); other origins do nothing.
    void Seek(int origin, int count);
    void Resize(int n);

    void SetBytes(const unsigned char* src, int n);
    void GetBytes(unsigned char* dst, int n);
    // String pieces; provided for std::string (narrow) and CLuStringW (wide).
    template <class T>
    void SetBytes(const T& value);
    template <class T>
    void GetBytes(T& value);

protected:
    void Grow(int n);
    void SeekNext(int n) { m_pCursor += Align(n, 4); }
    static int Align(int value, int unit);

private:
    // Inline forms of Grow's bound test and of SeekNext for counts >= 0, so
    // that a piece that fits costs no call.
    void RoomFor(int n);
    void Skip(int n);
    // A string piece's length prefix: written, or read with the byte count of
    // the body that follows it (0 for an empty or damaged piece).
    void PutLength(int32_t length);
    long long TakeBody(int unitSize);

    unsigned char* m_pBuffer;
    unsigned char* m_pCursor;
    int m_nSize;
};

template <>
VIDOZIR_API void CMemBuffer::SetBytes<std::string>(const std::string& value);
template <>
VIDOZIR_API void CMemBuffer::GetBytes<std::string>(std::string& value);
template <>
VIDOZIR_API void CMemBuffer::SetBytes<CLuStringW>(const CLuStringW& value);
template <>
VIDOZIR_API void CMemBuffer::GetBytes<CLuStringW>(CLuStringW& value);

// Stateless: blocks come from the global array allocator and go back with
// delete[] by the caller.
class VIDOZIR_API CMemPool {
public:
    CMemPool() = default;
    CMemPool(const CMemPool&) = default;
    CMemPool& operator=(const CMemPool&) { return *this; }
    CMemPool& operator=(CMemPool&&) { return *this; }

    static void* MallocBuffer(unsigned int n);
    static void* MallocZeroBuffer(unsigned int n);
    static void ReleaseBuffer();
};

}  // namespace VidOzir
