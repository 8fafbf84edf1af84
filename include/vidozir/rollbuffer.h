// CRollBuffer: a double-ended queue of bytes in one circular heap block.
// Content position p lives at block index (head + p) mod capacity; a stretch
// of content is one span of the block, or two when it wraps round its end.
#pragma once

#include "vidozir/export.h"

namespace VidOzir {

class VIDOZIR_API CRollBuffer {
public:
    // The first push allocates a block of this size (or 1.5 times the size
    // needed, when larger). A capacity of 0 is taken from the first push.
    explicit CRollBuffer(unsigned int capacity);
    ~CRollBuffer();
    // Copies are deep: each object owns its own block (the same capacity, head
    // and content), so both may be destroyed safely.
    CRollBuffer(const CRollBuffer& other);
    CRollBuffer& operator=(const CRollBuffer& other);

    void Release();
    void Clear();
    unsigned int GetDataSize() const { return m_nDataSize; }

    void PushBack(unsigned char* data, unsigned int n);
    void PushFront(unsigned char* data, unsigned int n);
    int RemoveBack(unsigned int n);
    int RemoveFront(unsigned int n);

    // A position at or past the content size gives 0.
    unsigned char operator[](unsigned int pos) const;
    bool GetDataCopy(unsigned int pos, unsigned char* dst, unsigned int& n);
    bool GetRowPtr(unsigned int pos, unsigned int len, unsigned char*& first,
                   unsigned int& firstLen, unsigned char*& second, unsigned int& secondLen);
    bool InSingleBuffer(unsigned int pos, unsigned int len);

private:
    unsigned int GetRowIndex(unsigned int pos) const;
    void GrowBuffer(unsigned int needed);
    // Grows the block when n more bytes do not fit; returns the new size.
    unsigned int MakeRoom(unsigned int n);

    unsigned char* m_pBuffer;
    unsigned int m_nCapacity;
    unsigned int m_nHead;
    unsigned int m_nDataSize;
};

}  // namespace VidOzir
