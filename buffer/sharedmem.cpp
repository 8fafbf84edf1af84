#include "vidozir/sharedmem.h"

#include "platform/win32.h"

namespace VidOzir {

CSharedMemory::CSharedMemory()
    : m_hMapping(nullptr), m_pView(nullptr), m_nSize(0), m_hMutex(nullptr) {}

CSharedMemory::~CSharedMemory() {
    Close();
    if (m_hMutex != nullptr) {
        CloseHandle(m_hMutex);
    }
}

int CSharedMemory::Create(const CLuStringW& name, int failIfExists, int size) {
    m_strName = name;
    m_hMapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                    static_cast<DWORD>(size), m_strName.GetString());
    if (m_hMapping == nullptr) {
        return 0;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS && failIfExists != 0) {
        CloseHandle(m_hMapping);
        m_hMapping = nullptr;
        return 0;
    }
    m_nSize = size;
    return 1;
}

int CSharedMemory::Open(const CLuStringW& name) {
    m_strName = name;
    m_hMapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, m_strName.GetString());
    return m_hMapping != nullptr ? 1 : 0;
}

int CSharedMemory::Map(int size, int offset) {
    if (m_hMapping == nullptr) {
        return 0;
    }
    m_pView = MapViewOfFile(m_hMapping, FILE_MAP_ALL_ACCESS, 0, static_cast<DWORD>(offset),
                            static_cast<SIZE_T>(static_cast<unsigned int>(size)));
    return m_pView != nullptr ? 1 : 0;
}

int CSharedMemory::UnMap() {
    if (m_pView == nullptr) {
        return 0;
    }
    UnmapViewOfFile(m_pView);
    m_pView = nullptr;
    return 1;
}

void CSharedMemory::Close() {
    UnMap();
    if (m_hMapping != nullptr) {
        CloseHandle(m_hMapping);
        m_hMapping = nullptr;
    }
}

void CSharedMemory::Lock() {
    if (m_hMutex == nullptr) {
        CLuStringW mutexName(m_strName);
        mutexName += L"lock";
        m_hMutex = CreateMutexW(nullptr, FALSE, mutexName.GetString());
        // Without a mutex the caller goes on without exclusion; the next
        // Lock tries to create it again.
        if (m_hMutex == nullptr) {
            return;
        }
    }
    // WAIT_ABANDONED (the previous owner died holding it) also means that this
    // thread now owns the mutex; the section's data may be half-written, which
    // is for its users to judge.
    WaitForSingleObject(m_hMutex, INFINITE);
}

void CSharedMemory::Unlock() {
    if (m_hMutex != nullptr) {
        ReleaseMutex(m_hMutex);
    }
}

}  // namespace VidOzir
