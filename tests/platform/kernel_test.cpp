// The kernel semantics the library relies on. Runs against the real Win32
// calls on Windows and against platform/ elsewhere, so the stand-ins are held
// to the system's behaviour.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/win32.h"
#include "support/filetime.h"
#include "support/one_at_a_time.h"
#include "support/test_support.h"

namespace {

TEST(Kernel, WaitOnSeveralHandles) {
    HANDLE events[3];
    for (auto& e : events) {
        e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        ASSERT_NE(e, nullptr);
    }
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_TIMEOUT);
    SetEvent(events[2]);
    SetEvent(events[1]);
    // The lowest signalled index wins and only that one is consumed.
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 2);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_TIMEOUT);

    SetEvent(events[0]);
    SetEvent(events[1]);
    EXPECT_EQ(WaitForMultipleObjects(3, events, TRUE, 0), WAIT_TIMEOUT);  // not all yet
    EXPECT_EQ(WaitForSingleObject(events[0], 0), WAIT_OBJECT_0);  // wait-all consumed nothing
    EXPECT_EQ(WaitForSingleObject(events[0], 0), WAIT_TIMEOUT);   // but a wait for one did
    SetEvent(events[0]);
    SetEvent(events[2]);
    EXPECT_EQ(WaitForMultipleObjects(3, events, TRUE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_TIMEOUT);

    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        SetEvent(events[2]);
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 10000), WAIT_OBJECT_0 + 2);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    setter.join();
    for (auto e : events) {
        EXPECT_TRUE(CloseHandle(e));
    }

    // A wait takes up to MAXIMUM_WAIT_OBJECTS handles, and not one more.
    HANDLE many[MAXIMUM_WAIT_OBJECTS + 1];
    for (auto& e : many) {
        e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    }
    SetEvent(many[MAXIMUM_WAIT_OBJECTS - 1]);
    EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS, many, FALSE, 0),
              WAIT_OBJECT_0 + MAXIMUM_WAIT_OBJECTS - 1);
    SetLastError(0);
    EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS + 1, many, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    for (auto e : many) {
        CloseHandle(e);
    }
}

TEST(Kernel, ManualResetReleasesEveryWaiter) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> released{0};
    std::thread a([&] { released += WaitForSingleObject(event, 5000) == WAIT_OBJECT_0; });
    std::thread b([&] { released += WaitForSingleObject(event, 5000) == WAIT_OBJECT_0; });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    SetEvent(event);
    a.join();
    b.join();
    EXPECT_EQ(released.load(), 2);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);  // still set
    EXPECT_TRUE(ResetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);
}

// Each set of an auto-reset event releases exactly one waiter, even as the
// waiters' limits run out: two wait on the event alone, one together with an
// event never set.
TEST(Kernel, AutoResetReleasesOneWaiterPerSet) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE idle = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    const HANDLE both[2] = {idle, event};
    const auto result = vidozir_test::GiveOneAtATime(
        2000, 3, [&] { SetEvent(event); },
        [&](int taker) {
            return taker < 2 ? WaitForSingleObject(event, 1) == WAIT_OBJECT_0
                             : WaitForMultipleObjects(2, both, FALSE, 1) == WAIT_OBJECT_0 + 1;
        });
    EXPECT_EQ(result.stalledAt, 0);
    EXPECT_EQ(result.taken, 2000);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);
    CloseHandle(idle);
}

DWORD WINAPI ThreadBody(LPVOID parameter) {
    auto* seen = static_cast<std::atomic<DWORD>*>(parameter);
    seen->store(GetCurrentThreadId());
    Sleep(20);
    return 17;
}

TEST(Kernel, ThreadsAreWaitableAndNumbered) {
    std::atomic<DWORD> seen{0};
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, ThreadBody, &seen, 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(GetThreadId(thread), id);
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(seen.load(), id);
    EXPECT_NE(id, GetCurrentThreadId());
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 17u);
    // A finished thread stays signalled.
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(thread));
}

// The owner enters again, also by TryEnter; another thread only once it left.
TEST(Kernel, CriticalSectionsAreRecursiveAndExclusive) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EXPECT_TRUE(TryEnterCriticalSection(&cs));
    auto tryFromAnotherThread = [&] {
        BOOL entered = FALSE;
        std::thread([&] {
            entered = TryEnterCriticalSection(&cs);
            if (entered) {
                LeaveCriticalSection(&cs);
            }
        }).join();
        return entered;
    };
    LeaveCriticalSection(&cs);
    EXPECT_FALSE(tryFromAnotherThread());  // still held once
    LeaveCriticalSection(&cs);
    EXPECT_TRUE(tryFromAnotherThread());
    DeleteCriticalSection(&cs);
}

TEST(Kernel, ThreadLocalSlotsAndInterlocked) {
    DWORD slot = TlsAlloc();
    ASSERT_NE(slot, TLS_OUT_OF_INDEXES);
    int mine = 1;
    int theirs = 2;
    TlsSetValue(slot, &mine);
    std::thread other([&] {
        EXPECT_EQ(TlsGetValue(slot), nullptr);
        TlsSetValue(slot, &theirs);
        EXPECT_EQ(TlsGetValue(slot), &theirs);
    });
    other.join();
    EXPECT_EQ(TlsGetValue(slot), &mine);
    EXPECT_TRUE(TlsFree(slot));

    volatile LONG value = 0;
    EXPECT_EQ(InterlockedIncrement(&value), 1);
    EXPECT_EQ(InterlockedExchange(&value, 10), 1);
    EXPECT_EQ(InterlockedCompareExchange(&value, 20, 9), 10);  // no match: unchanged
    EXPECT_EQ(InterlockedCompareExchange(&value, 20, 10), 10);
    EXPECT_EQ(InterlockedDecrement(&value), 19);

    int a = 1;
    int b = 2;
    void* volatile pointer = &a;
    EXPECT_EQ(InterlockedCompareExchangePointer(&pointer, &b, nullptr), &a);  // no match
    EXPECT_EQ(InterlockedExchangePointer(&pointer, &b), &a);
    EXPECT_EQ(InterlockedCompareExchangePointer(&pointer, nullptr, &b), &b);
    EXPECT_EQ(pointer, nullptr);
}

TEST(Kernel, BadHandlesFailCleanly) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    EXPECT_TRUE(SetEvent(event));  // the thread's last event set and waited on
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(event));
    SetLastError(0);
    EXPECT_FALSE(SetEvent(event));  // closed: the handle no longer names it
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(CloseHandle(event));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
    HANDLE next = CreateEventW(nullptr, FALSE, FALSE, nullptr);  // may reuse the closed value
    EXPECT_TRUE(SetEvent(next));
    EXPECT_EQ(WaitForSingleObject(next, 0), WAIT_OBJECT_0);
    CloseHandle(next);
}

TEST(Kernel, WaitForAllRefusesAHandleTwice) {
    VIDOZIR_SKIP_UNDER_WINE("WaitForMultipleObjects accepts one handle twice in a wait for all");
    HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    const HANDLE twice[2] = {event, event};
    SetLastError(0);
    EXPECT_EQ(WaitForMultipleObjects(2, twice, TRUE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(WaitForMultipleObjects(2, twice, FALSE, 0), WAIT_OBJECT_0);  // a wait for one may
    CloseHandle(event);
}

// Pairs of threads pass a token back and forth through two auto-reset events,
// all pairs at once, each wait also watching an event that is never set: a
// wake-up lost anywhere stalls its pair until the time-out.
TEST(Kernel, ConcurrentPingPongsLoseNoWakeUp) {
    const int kPairs = 4, kRounds = 2000;
    HANDLE idle = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::atomic<int> stalls{0};
    std::vector<std::thread> threads;
    std::vector<HANDLE> events;
    for (int p = 0; p < kPairs; ++p) {
        HANDLE ping = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        HANDLE pong = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        events.insert(events.end(), {ping, pong});
        for (bool first : {true, false}) {
            threads.emplace_back([=, &stalls] {
                const HANDLE mine[2] = {idle, first ? pong : ping};
                for (int round = 0; round < kRounds; ++round) {
                    if (first) {
                        SetEvent(ping);
                    }
                    if (WaitForMultipleObjects(2, mine, FALSE, 10000) != WAIT_OBJECT_0 + 1) {
                        ++stalls;
                        return;
                    }
                    if (!first) {
                        SetEvent(pong);
                    }
                }
            });
        }
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(stalls.load(), 0);
    for (HANDLE e : events) {
        CloseHandle(e);
    }
    CloseHandle(idle);
}

TEST(Kernel, LocalBlocksAreFixedAndFreed) {
    auto* block = static_cast<unsigned char*>(LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, 64));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::count(block, block + 64, 0), 64);
    block[63] = 1;
    EXPECT_EQ(LocalFree(block), nullptr);
    EXPECT_EQ(LocalFree(nullptr), nullptr);
}

TEST(Kernel, SystemTimeIsAfter2020) {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    EXPECT_GT(vidozir_test::Ticks(ft), 132223104000000000ULL);  // 2020-01-01
    ULONGLONG a = GetTickCount64();
    Sleep(200);
    // The tick is coarse (10-16 ms) on Windows; Wine's, read from the state its
    // server updates, lagged 21 ms behind a 60 ms sleep on a loaded machine.
    EXPECT_GE(GetTickCount64() - a, 150u);
}

}  // namespace
