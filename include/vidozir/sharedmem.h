// CSharedMemory: a named section of memory shared between processes, with a
// named mutex ("<name>lock") that serialises the processes' access to it.
#pragma once

#include "vidozir/export.h"
#include "vidozir/lustring.h"
#include "vidozir_wintypes.h"

namespace VidOzir {

class VIDOZIR_API CSharedMemory {
public:
    CSharedMemory();
    ~CSharedMemory();
    // Not copyable: a copy would either release the same handles twice or,
    // with duplicated handles, hold a second view and a mutex handle whose
    // ownership belongs to the thread, not the object. Open the name again
    // in a second object instead.
    CSharedMemory(const CSharedMemory&) = delete;
    CSharedMemory& operator=(const CSharedMemory&) = delete;

    int Create(const CLuStringW& name, int failIfExists, int size);
    int Open(const CLuStringW& name);
    // size 0 maps the whole section; offset must be a multiple of the
    // system's allocation granularity (64 KiB).
    int Map(int size, int offset);
    int UnMap();
    void* Memory() { return m_pView; }
    int GetSize() { return m_nSize; }
    void Close();

    void Lock();
    void Unlock();

private:
    CLuStringW m_strName;
    HANDLE m_hMapping;
    void* m_pView;
    int m_nSize;
    HANDLE m_hMutex;
};

}  // namespace VidOzir
