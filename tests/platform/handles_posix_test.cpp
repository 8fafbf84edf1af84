// The handle table beyond what the Win32 tests reach: many handles at once,
// reuse of closed slots, and handles made, used and closed on several threads
// together (run under ThreadSanitizer too).
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/handles_posix.h"
#include "platform/win32.h"

namespace {

using vidozir::platform::KernelObject;
using vidozir::platform::LookupHandle;

TEST(HandleTable, ManyHandlesStayDistinctAndClosedOnesFail) {
    const int kCount = 3000;  // more than one chunk of slots
    std::vector<HANDLE> handles;
    for (int i = 0; i < kCount; ++i) {
        handles.push_back(CreateEventW(nullptr, TRUE, i % 2, nullptr));
        ASSERT_NE(handles.back(), nullptr);
    }
    for (int i = 0; i < kCount; ++i) {
        ASSERT_EQ(WaitForSingleObject(handles[i], 0), i % 2 ? WAIT_OBJECT_0 : WAIT_TIMEOUT) << i;
    }
    for (int i = 0; i < kCount; i += 3) {
        ASSERT_TRUE(CloseHandle(handles[i]));
        EXPECT_FALSE(CloseHandle(handles[i]));
        EXPECT_EQ(LookupHandle(handles[i]), nullptr);
    }
    // A closed slot is reused: a new handle takes one of the freed values.
    HANDLE again = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    bool reused = false;
    for (int i = 0; i < kCount; i += 3) {
        reused = reused || handles[i] == again;
    }
    EXPECT_TRUE(reused);
    CloseHandle(again);
    // An open handle's value with a low bit set names nothing (no alias).
    EXPECT_EQ(LookupHandle(reinterpret_cast<HANDLE>(reinterpret_cast<uintptr_t>(handles[1]) + 2)),
              nullptr);
    for (int i = 0; i < kCount; ++i) {
        if (i % 3 != 0) {
            EXPECT_TRUE(CloseHandle(handles[i]));
        }
    }
    // Values that never named a slot.
    for (uintptr_t value : {uintptr_t{0}, uintptr_t{2}, uintptr_t{1} << 40}) {
        EXPECT_EQ(LookupHandle(reinterpret_cast<HANDLE>(value)), nullptr);
    }
}

TEST(HandleTable, ThreadsMakeUseAndCloseHandlesTogether) {
    HANDLE shared = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([shared] {
            for (int i = 0; i < 2000; ++i) {
                HANDLE own = CreateEventW(nullptr, FALSE, FALSE, nullptr);
                SetEvent(own);
                SetEvent(shared);
                EXPECT_EQ(WaitForSingleObject(own, 0), WAIT_OBJECT_0);
                EXPECT_TRUE(CloseHandle(own));
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(WaitForSingleObject(shared, 0), WAIT_OBJECT_0);
    CloseHandle(shared);
}

}  // namespace
