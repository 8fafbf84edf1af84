// The file-mapping and mutex semantics the library relies on. Runs against
// the real Win32 calls on Windows and against platform/ elsewhere.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "platform/win32.h"
#include "support/child_process.h"
#include "support/test_support.h"

namespace {

std::wstring UniqueName(const std::string& tag) {
    const std::string name = vidozir_test::UniqueObjectName("filemap-" + tag);
    return std::wstring(name.begin(), name.end());
}

TEST(FileMap, CreateOpenAndLastErrors) {
    const std::wstring name = UniqueName("create");
    SetLastError(1234);
    HANDLE first =
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8192, name.c_str());
    ASSERT_NE(first, nullptr);
    EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    HANDLE second =
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, name.c_str());
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    HANDLE opened = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, name.c_str());
    ASSERT_NE(opened, nullptr);

    // The existing section keeps its size; every handle names the same memory.
    auto* a = static_cast<unsigned char*>(MapViewOfFile(first, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    auto* b = static_cast<unsigned char*>(MapViewOfFile(second, FILE_MAP_ALL_ACCESS, 0, 0, 8192));
    auto* c = static_cast<unsigned char*>(MapViewOfFile(opened, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(a[100], 0);  // a new section is zeroed
    a[8191] = 42;
    EXPECT_EQ(b[8191], 42);
    EXPECT_EQ(c[8191], 42);
    for (void* view : {a, b, c}) {
        EXPECT_TRUE(UnmapViewOfFile(view));
    }
    for (HANDLE h : {first, second, opened}) {
        EXPECT_TRUE(CloseHandle(h));
    }

    SetLastError(0);
    EXPECT_EQ(OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, name.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(FileMap, ViewsAndTheirBounds) {
    const std::wstring name = UniqueName("views");
    HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 3 * 65536,
                                        name.c_str());
    ASSERT_NE(section, nullptr);
    EXPECT_EQ(MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 4096, 0), nullptr);  // misaligned
    // Past the end: a start there is a bad parameter, a length there is refused.
    EXPECT_EQ(MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 3 * 65536, 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 65536, 3 * 65536), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    auto* tail =
        static_cast<unsigned char*>(MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 65536, 0));
    ASSERT_NE(tail, nullptr);
    tail[2 * 65536 - 1] = 7;  // the view runs to the section's end

    // The name lives while a handle is open; views keep the memory beyond
    // that, but not the name.
    HANDLE reopened = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, name.c_str());
    ASSERT_NE(reopened, nullptr);
    EXPECT_TRUE(CloseHandle(section));
    EXPECT_FALSE(CloseHandle(section));
    auto* whole =
        static_cast<unsigned char*>(MapViewOfFile(reopened, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(whole[3 * 65536 - 1], 7);
    EXPECT_TRUE(CloseHandle(reopened));
    EXPECT_EQ(OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, name.c_str()), nullptr);
    tail[0] = 9;
    EXPECT_EQ(whole[65536], 9);
    EXPECT_TRUE(UnmapViewOfFile(whole));
    EXPECT_TRUE(UnmapViewOfFile(tail));

    // Unnamed sections, and the sizes the system refuses.
    HANDLE unnamed =
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 100, nullptr);
    ASSERT_NE(unnamed, nullptr);
    auto* memory =
        static_cast<unsigned char*>(MapViewOfFile(unnamed, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(memory, nullptr);
    memory[99] = 1;
    EXPECT_TRUE(UnmapViewOfFile(memory));
    EXPECT_TRUE(CloseHandle(unnamed));
    EXPECT_EQ(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0, nullptr),
              nullptr);
}

TEST(FileMap, NamespacesAndIllegalNames) {
    const std::wstring local = UniqueName("ns");
    const std::wstring bare = local.substr(6);
    HANDLE section =
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, bare.c_str());
    ASSERT_NE(section, nullptr);
    HANDLE same = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, local.c_str());
    EXPECT_NE(same, nullptr);
    if (same != nullptr) {
        CloseHandle(same);
    }
    CloseHandle(section);

    // A backslash after the namespace names a missing object directory.
    const std::wstring nested = local + L"\\inner";
    EXPECT_EQ(
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, nested.c_str()),
        nullptr);
    EXPECT_EQ(CreateMutexW(nullptr, FALSE, nested.c_str()), nullptr);
}

// args: name. Takes the mutex and closes its only handle while holding it, then
// ends: the mutex is still owned, by a thread that is gone.
VIDOZIR_TEST_CHILD(mutex_close_owned) {
    const std::wstring name(args.at(0).begin(), args.at(0).end());
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    if (mutex == nullptr || WaitForSingleObject(mutex, INFINITE) != WAIT_OBJECT_0)
        return 2;
    return CloseHandle(mutex) ? 0 : 3;
}

TEST(FileMap, MutexOwnershipAndRecursion) {
    const std::wstring name = UniqueName("mutex");
    SetLastError(1234);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    ASSERT_NE(mutex, nullptr);
    EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    HANDLE other = CreateMutexW(nullptr, FALSE, name.c_str());
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));

    EXPECT_EQ(ReleaseMutex(mutex), FALSE);  // not owned
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
    EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(other, 0), WAIT_OBJECT_0);  // same mutex, same owner
    DWORD fromThread = 0;
    std::thread([&] { fromThread = WaitForSingleObject(other, 50); }).join();
    EXPECT_EQ(fromThread, WAIT_TIMEOUT);
    std::thread([&] { fromThread = ReleaseMutex(mutex); }).join();
    EXPECT_EQ(fromThread, static_cast<DWORD>(FALSE));  // only the owner releases
    EXPECT_TRUE(ReleaseMutex(mutex));
    std::thread([&] { fromThread = WaitForSingleObject(other, 0); }).join();
    EXPECT_EQ(fromThread, WAIT_TIMEOUT);  // held once more
    EXPECT_TRUE(ReleaseMutex(other));
    EXPECT_FALSE(ReleaseMutex(other));

    // A thread that ends holding the mutex abandons it to the next waiter.
    std::thread([&] { fromThread = WaitForSingleObject(mutex, INFINITE); }).join();
    EXPECT_EQ(fromThread, WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(other, INFINITE), WAIT_ABANDONED);  // the library's wait
    EXPECT_TRUE(ReleaseMutex(other));
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(mutex));
    // So does a process that closed its handle while holding it.
    vidozir_test::ChildProcess child("mutex_close_owned", {std::string(name.begin(), name.end())});
    ASSERT_EQ(child.Wait(30000), 0);
    EXPECT_EQ(WaitForSingleObject(mutex, 5000), WAIT_ABANDONED);
    EXPECT_TRUE(ReleaseMutex(mutex));

    // A timed wait ends on its time, not earlier.
    std::thread holder([&] {
        WaitForSingleObject(mutex, INFINITE);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ReleaseMutex(mutex);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(other, 60), WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(55));
    EXPECT_EQ(WaitForSingleObject(other, 30000), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(other));
    holder.join();

#if !defined(_WIN32)
    // Here a mutex is waited on alone.
    HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    HANDLE both[2] = {event, mutex};
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    CloseHandle(event);
#endif

    EXPECT_TRUE(CloseHandle(mutex));
    EXPECT_TRUE(CloseHandle(other));
}

}  // namespace
