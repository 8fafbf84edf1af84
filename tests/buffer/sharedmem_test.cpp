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
#include <future>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32.h"
#include "support/child_process.h"
#include "support/test_support.h"
#include "support/text.h"

namespace {

using VidOzir::CSharedMemory;
using vidozir_test::ChildProcess;

const int kWait = 60000;  // ms; generous for a loaded machine and Wine

std::string UniqueName(const char* tag) {
    std::random_device random;
    return std::string("Local\\vidozir-test-") + tag + "-" + std::to_string(random()) + "-" +
           std::to_string(random());
}

using vidozir_test::Wide;

// The section's layout for these tests.
struct Shared {
    volatile int counter;
    volatile int childLocked;
    char text[64];
};

Shared* View(CSharedMemory& shm) {
    return static_cast<Shared*>(shm.Memory());
}

// Adds `count` to the counter, one locked step at a time; a torn update shows
// without the lock.
void Count(CSharedMemory& shm, int count) {
    for (int i = 0; i < count; ++i) {
        shm.Lock();
        const int value = View(shm)->counter;
        if (i % 64 == 0)
            std::this_thread::yield();
        View(shm)->counter = value + 1;
        shm.Unlock();
    }
}

// args: name. Creates the section of 4096 bytes exclusively (which fails),
// then shared; maps it, checks the parent's text and answers. Exit code: 20
// when the exclusive Create gave 0 and left no view, plus the shared Create's
// result, plus 10 when the text was seen.
VIDOZIR_TEST_CHILD(shm_create) {
    CSharedMemory shm;
    int code =
        shm.Create(Wide(args.at(0)), 1, 4096) == 0 && shm.Map(0, 0) == 0 && shm.Memory() == nullptr
            ? 20
            : 0;
    const int created = shm.Create(Wide(args.at(0)), 0, 4096);
    code += created;
    if (created == 1 && shm.Map(0, 0) == 1) {
        code += std::strcmp(View(shm)->text, "from parent") == 0 ? 10 : 0;
        std::strcpy(View(shm)->text, "from child");
    }
    return code;
}

// args: name, count. Opens the section and adds `count` to the counter, then
// takes the lock, says so, and ends without releasing it.
VIDOZIR_TEST_CHILD(shm_open) {
    CSharedMemory shm;
    if (!shm.Open(Wide(args.at(0))) || !shm.Map(0, 0))
        return 2;
    Count(shm, std::stoi(args.at(1)));
    shm.Lock();
    View(shm)->childLocked = 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::_Exit(7);
}

TEST(SharedMemory, CreateOpenMapAndClose) {
    const std::string name = UniqueName("create");
    CSharedMemory shm, opener;
    EXPECT_EQ(opener.Open(Wide(name)), 0);  // nobody created it
    EXPECT_EQ(opener.Map(0, 0), 0);
    EXPECT_EQ(opener.UnMap(), 0);
    EXPECT_EQ(opener.GetSize(), 0);
    ASSERT_EQ(shm.Create(Wide(name), 1, 200000), 1);
    EXPECT_EQ(shm.GetSize(), 200000);
    ASSERT_EQ(shm.Map(0, 0), 1);
    std::strcpy(View(shm)->text, "from parent");

    EXPECT_EQ(ChildProcess("shm_create", {name}).Wait(kWait), 31);
    EXPECT_STREQ(View(shm)->text, "from child");
    // In one process too: the second object holds no handle after failing.
    CSharedMemory second;
    EXPECT_EQ(second.Create(Wide(name), 1, 4096), 0);
    EXPECT_EQ(second.Map(0, 0), 0);
    EXPECT_EQ(second.Create(Wide(name), 0, 100), 1);
    EXPECT_EQ(second.GetSize(), 100);  // the size asked for, not the section's
    ASSERT_EQ(second.Map(0, 0), 1);    // the whole existing section
    static_cast<char*>(second.Memory())[199999] = 'e';
    EXPECT_EQ(static_cast<char*>(shm.Memory())[199999], 'e');

    ASSERT_EQ(opener.Open(Wide(name)), 1);
    EXPECT_EQ(opener.GetSize(), 0);    // Open does not learn the size
    EXPECT_EQ(opener.Map(100, 1), 0);  // misaligned offset
    ASSERT_EQ(opener.Map(100, 65536), 1);
    static_cast<char*>(opener.Memory())[5] = 'x';
    EXPECT_EQ(static_cast<char*>(shm.Memory())[65536 + 5], 'x');
    EXPECT_EQ(opener.UnMap(), 1);
    EXPECT_EQ(opener.UnMap(), 0);
    EXPECT_EQ(opener.Memory(), nullptr);
    opener.Close();
    EXPECT_EQ(opener.Map(0, 0), 0);
    for (CSharedMemory* each : {&shm, &second})
        each->Close();
    // With every handle closed the name is free again.
    ASSERT_EQ(opener.Open(Wide(name)), 0);
    ASSERT_EQ(opener.Create(Wide(name), 1, 4096), 1);
    ASSERT_EQ(opener.Map(0, 0), 1);
    EXPECT_EQ(static_cast<char*>(opener.Memory())[5], 0);
}

TEST(SharedMemory, NamespacesAndOddNames) {
    // "Local\" names the same object as no prefix; names are case-sensitive
    // and may hold any character but the backslash.
    const std::string bare = UniqueName("ns").substr(6);
    std::string shouted = bare, longName = bare + std::string(180, 'n');
    for (char& c : shouted)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const CLuStringW odd = Wide(bare) + L"/.% :*?\x00E9\xD83D\xDE00";
    const std::pair<CLuStringW, CLuStringW> pairs[] = {
        {Wide("Local\\" + bare), Wide(bare)}, {odd, odd}, {Wide(longName), Wide(longName)}};
    CSharedMemory owners[3], openers[3], upper;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(owners[i].Create(pairs[i].first, 1, 4096), 1);
        EXPECT_EQ(openers[i].Open(pairs[i].second), 1) << i;
    }
    EXPECT_EQ(upper.Open(Wide(shouted)), 0);
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
        if (entered)
            break;
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
    // Held from outside, the section's lock waits for it.
    ASSERT_EQ(WaitForSingleObject(outside, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(StepsUntilLockEnters(a, {[&] { ReleaseMutex(outside); }}), 1u);
    CloseHandle(outside);
}

// Both processes count under the lock (a torn update shows without it); then
// the child dies holding the lock, which must not block the parent forever.
TEST(SharedMemory, LockExcludesTheOtherProcessAndOutlivesItsOwner) {
    const std::string name = UniqueName("count");
    CSharedMemory shm;
    ASSERT_TRUE(shm.Create(Wide(name), 1, 4096) == 1 && shm.Map(0, 0) == 1);
    ChildProcess child("shm_open", {name, "10000"});
    Count(shm, 10000);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWait);
    while (View(shm)->childLocked != 1 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(View(shm)->childLocked, 1);
    EXPECT_EQ(View(shm)->counter, 20000);

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
