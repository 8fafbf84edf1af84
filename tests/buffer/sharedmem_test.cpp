// Shared memory between real processes: the test program starts a second
// copy of itself as the child below.
#include "vidozir/sharedmem.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/win32.h"
#include "support/child_process.h"
#include "support/test_support.h"
#include "support/text.h"

namespace {

using vidozir_test::Wide;

// The section's layout in the two-process test; each process writes what the
// other waits for, so the two views must share the memory.
struct Shared {
    volatile int stage, entered;
    static Shared* In(VidOzir::CSharedMemory& shm) { return static_cast<Shared*>(shm.Memory()); }
};

// Waits up to a minute for the other process to reach the stage.
bool Reached(VidOzir::CSharedMemory& shm, int stage) {
    for (int ms = 0; Shared::In(shm)->stage < stage && ms < 60000; ++ms)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return Shared::In(shm)->stage >= stage;
}

// args: name. Opens the section and takes the lock (stage 1); ends without
// releasing it when the parent says so (stage 2): exit code 7 when nobody else
// got in meanwhile.
VIDOZIR_TEST_CHILD(shm_open) {
    VidOzir::CSharedMemory shm;
    if (!shm.Open(Wide(args.at(0))) || !shm.Map(0, 0))
        return 2;
    shm.Lock();
    Shared::In(shm)->stage = 1;
    Reached(shm, 2);
    std::_Exit(Shared::In(shm)->entered == 0 ? 7 : 8);
}

TEST(SharedMemory, CreateOpenMapLockAndClose) {
    const std::string name = vidozir_test::UniqueObjectName("shm");
    VidOzir::CSharedMemory shm, second, opener;
    EXPECT_TRUE(opener.Open(Wide(name)) == 0 && opener.Map(0, 0) == 0 && opener.UnMap() == 0);
    ASSERT_TRUE(shm.Create(Wide(name), 1, 200000) == 1 && shm.Map(0, 0) == 1);
    EXPECT_EQ(shm.GetSize(), 200000);
    vidozir_test::ChildProcess child("shm_open", {name});
    ASSERT_TRUE(Reached(shm, 1));
    // The child's lock is the mutex "<name>lock" that other modules take with
    // the system's own calls. This process's lock waits for it, and gets it
    // when the child dies holding it; its Unlock releases the mutex.
    HANDLE mutex = CreateMutexW(nullptr, FALSE, Wide(name + "lock").GetString());
    ASSERT_EQ(WaitForSingleObject(mutex, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    std::thread waiter([&] {
        shm.Lock();
        Shared::In(shm)->entered = 1;
        shm.Unlock();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Shared::In(shm)->stage = 2;
    waiter.join();
    EXPECT_EQ(child.Wait(60000), 7);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    ReleaseMutex(mutex);
    CloseHandle(mutex);

    // A second object is refused while exclusive, holding no handle then (the
    // name is free at the end); else it shares the whole section, whatever
    // size it asked for.
    EXPECT_TRUE(second.Create(Wide(name), 1, 4096) == 0 && second.Map(0, 0) == 0);
    ASSERT_TRUE(second.Create(Wide(name), 0, 100) == 1 && second.Map(0, 0) == 1);
    EXPECT_EQ(second.GetSize(), 100);
    // Open learns no size; a view from a misaligned offset fails.
    ASSERT_TRUE(opener.Open(Wide(name)) == 1 && opener.Map(100, 1) == 0 &&
                opener.Map(100, 65536) == 1);
    EXPECT_EQ(opener.GetSize(), 0);
    static_cast<char*>(second.Memory())[199999] = 'e';
    static_cast<char*>(opener.Memory())[5] = 'x';
    const char* whole = static_cast<char*>(shm.Memory());
    EXPECT_EQ(std::string({whole[199999], whole[65536 + 5]}), "ex");
    EXPECT_TRUE(opener.UnMap() == 1 && opener.UnMap() == 0);
    for (VidOzir::CSharedMemory* each : {&shm, &second, &opener}) {
        each->Close();
        EXPECT_TRUE(each->Memory() == nullptr && each->Map(0, 0) == 0);
    }
    EXPECT_EQ(opener.Open(Wide(name)), 0);  // every handle closed, the name is free again
}

}  // namespace
