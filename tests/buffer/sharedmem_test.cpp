// Shared memory between real processes: the test program starts a second
// copy of itself in one of the child modes below.
#include "vidozir/sharedmem.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <future>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32.h"
#include "support/child_process.h"
#include "support/test_support.h"

namespace {

using VidOzir::CSharedMemory;
using vidozir_test::ChildProcess;

const int kWait = 60000;  // ms; generous for a loaded machine and Wine

std::string UniqueName(const char* tag) {
    std::random_device random;
    return std::string("Local\\vidozir-test-") + tag + "-" + std::to_string(random()) + "-" +
           std::to_string(random());
}

CLuStringW Wide(const std::string& text) {
    CLuStringW wide;
    for (char c : text) {
        wide.AppendChar(static_cast<wchar_t>(c));
    }
    return wide;
}

// The section's layout for these tests.
struct Shared {
    volatile int counter;
    volatile int childLocked;
    char text[64];
};

bool WaitUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWait);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// A new section of 4096 bytes, mapped whole; null on failure.
Shared* CreateShared(CSharedMemory& shm, const std::string& name) {
    if (shm.Create(Wide(name), 1, 4096) != 1 || shm.Map(0, 0) != 1) {
        return nullptr;
    }
    return static_cast<Shared*>(shm.Memory());
}

// args: name, flag. Creates the section of 4096 bytes; with the flag 0 it
// also maps it, checks the parent's text and answers. Exit code: Create's
// result, plus 10 when the text was seen, plus 20 when Memory() was null
// after a failed Create.
VIDOZIR_TEST_CHILD(shm_create) {
    CSharedMemory shm;
    const int created = shm.Create(Wide(args.at(0)), std::stoi(args.at(1)), 4096);
    int code = created;
    if (created == 1 && shm.Map(0, 0) == 1) {
        auto* shared = static_cast<Shared*>(shm.Memory());
        if (std::strcmp(shared->text, "from parent") == 0) {
            code += 10;
        }
        std::strcpy(shared->text, "from child");
    } else if (created == 0 && shm.Map(0, 0) == 0 && shm.Memory() == nullptr) {
        code += 20;
    }
    return code;
}

// args: name, count. Adds count to the counter, one locked step at a time.
VIDOZIR_TEST_CHILD(shm_count) {
    CSharedMemory shm;
    if (!shm.Open(Wide(args.at(0))) || !shm.Map(0, 0)) {
        return 2;
    }
    auto* shared = static_cast<Shared*>(shm.Memory());
    const int count = std::stoi(args.at(1));
    for (int i = 0; i < count; ++i) {
        shm.Lock();
        const int value = shared->counter;  // a torn update shows without the lock
        if (i % 64 == 0) {
            std::this_thread::yield();
        }
        shared->counter = value + 1;
        shm.Unlock();
    }
    return 0;
}

// args: name. Takes the lock, says so, and ends without releasing it.
VIDOZIR_TEST_CHILD(shm_die_locked) {
    CSharedMemory shm;
    if (!shm.Open(Wide(args.at(0))) || !shm.Map(0, 0)) {
        return 2;
    }
    shm.Lock();
    static_cast<Shared*>(shm.Memory())->childLocked = 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::_Exit(7);
}

TEST(SharedMemory, CreateWithAndWithoutFailIfExists) {
    const std::string name = UniqueName("create");
    CSharedMemory shm;
    ASSERT_EQ(shm.Create(Wide(name), 1, 4096), 1);
    EXPECT_EQ(shm.GetSize(), 4096);
    ASSERT_EQ(shm.Map(0, 0), 1);
    std::strcpy(static_cast<Shared*>(shm.Memory())->text, "from parent");

    ChildProcess exclusive("shm_create", {name, "1"});
    ASSERT_TRUE(exclusive.Started());
    EXPECT_EQ(exclusive.Wait(kWait), 20);  // 0 from Create, and no view possible

    ChildProcess shared("shm_create", {name, "0"});
    ASSERT_TRUE(shared.Started());
    EXPECT_EQ(shared.Wait(kWait), 11);  // 1 from Create, and the text was seen
    EXPECT_STREQ(static_cast<Shared*>(shm.Memory())->text, "from child");

    // In one process too: the second object holds no handle after failing.
    CSharedMemory second;
    EXPECT_EQ(second.Create(Wide(name), 1, 4096), 0);
    EXPECT_EQ(second.Map(0, 0), 0);
    EXPECT_EQ(second.Create(Wide(name), 0, 100), 1);
    EXPECT_EQ(second.GetSize(), 100);  // the size asked for, not the section's
    ASSERT_EQ(second.Map(0, 0), 1);    // the whole existing section
    static_cast<char*>(second.Memory())[4095] = 'e';
    EXPECT_EQ(static_cast<char*>(shm.Memory())[4095], 'e');
}

TEST(SharedMemory, OpenMapAndClose) {
    const std::string name = UniqueName("open");
    CSharedMemory shm;
    EXPECT_EQ(shm.Open(Wide(name)), 0);  // nobody created it
    EXPECT_EQ(shm.Map(0, 0), 0);
    EXPECT_EQ(shm.UnMap(), 0);
    EXPECT_EQ(shm.Memory(), nullptr);
    EXPECT_EQ(shm.GetSize(), 0);

    CSharedMemory owner;
    ASSERT_EQ(owner.Create(Wide(name), 1, 200000), 1);
    ASSERT_EQ(shm.Open(Wide(name)), 1);
    EXPECT_EQ(shm.GetSize(), 0);    // Open does not learn the size
    EXPECT_EQ(shm.Map(100, 1), 0);  // misaligned offset
    ASSERT_EQ(shm.Map(100, 65536), 1);
    ASSERT_EQ(owner.Map(0, 0), 1);
    static_cast<char*>(shm.Memory())[5] = 'x';
    EXPECT_EQ(static_cast<char*>(owner.Memory())[65536 + 5], 'x');
    EXPECT_EQ(shm.UnMap(), 1);
    EXPECT_EQ(shm.UnMap(), 0);
    EXPECT_EQ(shm.Memory(), nullptr);

    shm.Close();
    EXPECT_EQ(shm.Memory(), nullptr);
    EXPECT_EQ(shm.Map(0, 0), 0);
    ASSERT_EQ(shm.Open(Wide(name)), 1);
    ASSERT_EQ(shm.Map(0, 0), 1);
    EXPECT_EQ(static_cast<char*>(shm.Memory())[65536 + 5], 'x');
    shm.Close();
    owner.Close();

    // With every handle closed the name is free again.
    CSharedMemory again;
    EXPECT_EQ(again.Open(Wide(name)), 0);
    ASSERT_EQ(again.Create(Wide(name), 1, 4096), 1);
    ASSERT_EQ(again.Map(0, 0), 1);
    EXPECT_EQ(static_cast<char*>(again.Memory())[5], 0);
}

TEST(SharedMemory, NamespacesAndOddNames) {
    const std::string bare = UniqueName("ns").substr(6);  // without "Local\"
    CSharedMemory local;
    ASSERT_EQ(local.Create(Wide("Local\\" + bare), 1, 4096), 1);
    CSharedMemory plain;
    EXPECT_EQ(plain.Open(Wide(bare)), 1);  // the same object

    // Names are case-sensitive and may hold any character but the backslash.
    CSharedMemory upper;
    std::string shouted = bare;
    for (char& c : shouted) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    EXPECT_EQ(upper.Open(Wide(shouted)), 0);
    CLuStringW odd = Wide(bare);
    odd += L"/.% :*?\x00E9\xD83D\xDE00";
    CSharedMemory oddOwner, oddOpener;
    ASSERT_EQ(oddOwner.Create(odd, 1, 4096), 1);
    EXPECT_EQ(oddOpener.Open(odd), 1);
    CLuStringW longName = Wide(bare);
    for (int i = 0; i < 15; ++i) {
        longName += L"-a-long-name";
    }
    CSharedMemory longOwner, longOpener;
    ASSERT_EQ(longOwner.Create(longName, 1, 4096), 1);
    EXPECT_EQ(longOpener.Open(longName), 1);
}

TEST(SharedMemory, LockExcludesTheOtherProcess) {
    const std::string name = UniqueName("count");
    CSharedMemory shm;
    Shared* shared = CreateShared(shm, name);
    ASSERT_NE(shared, nullptr);
    ChildProcess child("shm_count", {name, "10000"});
    ASSERT_TRUE(child.Started());
    for (int i = 0; i < 10000; ++i) {
        shm.Lock();
        const int value = shared->counter;
        if (i % 64 == 0) {
            std::this_thread::yield();
        }
        shared->counter = value + 1;
        shm.Unlock();
    }
    EXPECT_EQ(child.Wait(kWait), 0);
    EXPECT_EQ(shared->counter, 20000);
}

// Takes `shm`'s lock on another thread while the lock is held elsewhere and
// runs the release steps one by one: the number of steps after which that
// thread got in (0: it did not wait at all).
size_t StepsUntilLockEnters(CSharedMemory& shm, const std::vector<std::function<void()>>& steps) {
    std::atomic<bool> entered{false};
    std::thread other([&] {
        shm.Lock();
        entered = true;
        shm.Unlock();
    });
    size_t step = 0;
    for (; step < steps.size(); ++step) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (entered) {
            break;
        }
        steps[step]();
    }
    other.join();
    return step;
}

// The lock is re-entrant for its owner, and it is an external name: other
// modules take the section's lock as the named mutex "<name>lock", opened with
// the system's own calls.
TEST(SharedMemory, LockIsReentrantAndIsTheMutexNamedAfterTheSection) {
    const std::string name = UniqueName("lock");
    CSharedMemory early;
    early.Lock();  // before Create: the mutex is called "lock"; must not hang
    early.Unlock();
    CSharedMemory a, b;
    ASSERT_EQ(a.Create(Wide(name), 1, 4096), 1);
    ASSERT_EQ(b.Open(Wide(name)), 1);
    a.Lock();
    a.Lock();  // system mutexes are re-entrant for their owner: two unlocks
    EXPECT_EQ(StepsUntilLockEnters(b, {[&] { a.Unlock(); }, [&] { a.Unlock(); }}), 2u);

    const CLuStringW mutexName = Wide(name + "lock");
    HANDLE outside = CreateMutexW(nullptr, FALSE, mutexName.GetString());
    ASSERT_NE(outside, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
#if defined(_WIN32)
    HANDLE opened = OpenMutexW(SYNCHRONIZE, FALSE, mutexName.GetString());
    EXPECT_NE(opened, nullptr);
    if (opened != nullptr) {
        CloseHandle(opened);
    }
#endif
    // Held from outside, the section's lock waits for it.
    ASSERT_EQ(WaitForSingleObject(outside, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(StepsUntilLockEnters(a, {[&] { ReleaseMutex(outside); }}), 1u);
    CloseHandle(outside);
}

TEST(SharedMemory, DeadOwnerDoesNotBlockForever) {
    const std::string name = UniqueName("dead");
    CSharedMemory shm;
    Shared* shared = CreateShared(shm, name);
    ASSERT_NE(shared, nullptr);
    ChildProcess child("shm_die_locked", {name});
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(WaitUntil([&] { return shared->childLocked == 1; }));

    // Blocked while the child holds the lock, then acquired when it dies.
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> acquired = done->get_future();
    std::thread([&shm, done] {
        shm.Lock();
        shm.Unlock();  // released on the thread that owns it
        shm.Lock();    // and usable again afterwards
        shm.Unlock();
        done->set_value();
    }).detach();
    if (acquired.wait_for(std::chrono::milliseconds(kWait)) != std::future_status::ready) {
        ADD_FAILURE() << "Lock still blocked after its owner died";
        std::fflush(nullptr);
        std::_Exit(1);  // the blocked thread uses this test's objects
    }
    EXPECT_EQ(child.Wait(kWait), 7);
}

}  // namespace
