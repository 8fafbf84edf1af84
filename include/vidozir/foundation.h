// Time values, the recursive lock and its scoped holder, the kernel event,
// and the intrusive doubly linked lists of the platform's LIST_ENTRY layout.
#pragma once

#include "vidozir/export.h"
#include "vidozir/lustring.h"
#include "vidozir_wincalls.h"
#include "vidozir_wintypes.h"

namespace VidOzir {

// A point in time (microseconds since 1601-01-01 UTC, the FILETIME epoch) or a
// span; 0 is the null time. Arithmetic takes `int` milliseconds.
class VIDOZIR_API Time {
public:
    Time(long long microseconds = 0) : m_nValue(microseconds) {}
    Time& operator=(const Time& other) = default;
    Time(const Time& other) = default;

    static Time Now();
    void FromFileTime(FILETIME fileTime);
    FILETIME ToFileTime() const;
    long long ToUtcTime() const;
    void FromUtcTime(long long utcMilliseconds);
    // Milliseconds since 1970, like ToUtcTime (not the stored microseconds).
    operator long long() const { return ToUtcTime(); }
    int IsNull() const { return m_nValue == 0 ? 1 : 0; }

    Time operator+(int milliseconds) const;
    Time operator-(int milliseconds) const;
    Time& operator+=(int milliseconds);
    Time& operator-=(int milliseconds);
    int operator-(const Time& other) const;

    int operator==(const Time& other) const { return m_nValue == other.m_nValue ? 1 : 0; }
    int operator!=(const Time& other) const { return m_nValue != other.m_nValue ? 1 : 0; }
    int operator<(const Time& other) const { return m_nValue < other.m_nValue ? 1 : 0; }
    int operator<=(const Time& other) const { return m_nValue <= other.m_nValue ? 1 : 0; }
    int operator>(const Time& other) const { return m_nValue > other.m_nValue ? 1 : 0; }
    int operator>=(const Time& other) const { return m_nValue >= other.m_nValue ? 1 : 0; }

    // The stored microseconds, for callers that need the raw count.
    long long GetValue() const { return m_nValue; }

private:
    static const long long ms_millisecondsPerSecond;
    static const long long ms_microsecondsPerMillisecond;
    static const long long ms_microsecondsPerSecond;
    static const long long ms_microsecondsOffset;

    long long m_nValue;
};

// A critical section: re-entrant for the thread that holds it. Not copyable:
// two objects owning one operating-system lock would delete it twice.
class VIDOZIR_API CLock {
public:
    CLock();
    ~CLock();
    CLock(const CLock&) = delete;
    CLock& operator=(const CLock&) = delete;
    void Lock();
    void Unlock();

private:
    CRITICAL_SECTION m_cs;
};

class VIDOZIR_API CAutoLock {
public:
    explicit CAutoLock(CLock& lock) : m_lock(lock) { m_lock.Lock(); }
    ~CAutoLock() { m_lock.Unlock(); }
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;

private:
    CLock& m_lock;
};

// An unnamed kernel event. Not copyable, for the same reason as CLock. A
// failed creation leaves a null handle on which every wait returns 0.
class VIDOZIR_API CWaitableEvent {
public:
    explicit CWaitableEvent(int manualReset = 0, int initiallySignaled = 0);
    ~CWaitableEvent();
    CWaitableEvent(const CWaitableEvent&) = delete;
    CWaitableEvent& operator=(const CWaitableEvent&) = delete;

    void* GetHandle() const { return m_hEvent; }
    void Signal();
    void Reset();
    int Wait();
    int TimedWait(int milliseconds);

private:
    HANDLE m_hEvent;
};

namespace ListEntry {
VIDOZIR_API void InitializeListHead(_LIST_ENTRY* head);
VIDOZIR_API void InsertHeadList(_LIST_ENTRY* head, _LIST_ENTRY* entry);
VIDOZIR_API void InsertTailList(_LIST_ENTRY* head, _LIST_ENTRY* entry);
VIDOZIR_API int IsListEmpty(const _LIST_ENTRY* head);
VIDOZIR_API int RemoveEntryList(_LIST_ENTRY* entry);
VIDOZIR_API _LIST_ENTRY* RemoveHeadList(_LIST_ENTRY* head);
VIDOZIR_API _LIST_ENTRY* RemoveTailList(_LIST_ENTRY* head);
}  // namespace ListEntry

}  // namespace VidOzir
