// Completion ports and overlapped I/O; the same tests run against Win32.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/win32.h"
#include "support/one_at_a_time.h"
#include "support/overlapped_pipe.h"
#include "support/test_support.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

using vidozir_test::PipeEnds;

namespace {

HANDLE NewPort() {
    return CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
}

struct Dequeued {
    BOOL ok = FALSE;
    DWORD bytes = 0;
    ULONG_PTR key = 0;
    LPOVERLAPPED overlapped = nullptr;
    DWORD error = 0;
};

Dequeued Dequeue(HANDLE port, DWORD milliseconds) {
    Dequeued d;
    d.ok = GetQueuedCompletionStatus(port, &d.bytes, &d.key, &d.overlapped, milliseconds);
    d.error = d.ok ? 0 : GetLastError();
    return d;
}

// Starting an overlapped operation: done at once or pending both queue a packet.
bool Started(BOOL result) {
    return result || GetLastError() == ERROR_IO_PENDING;
}

class IocpPipe : public ::testing::Test {
protected:
    void Open(bool serverReads, ULONG_PTR key) {
        ASSERT_TRUE(vidozir_test::MakeOverlappedPipe(serverReads, &ends));
        port = NewPort();
        ASSERT_NE(nullptr, port);
        ASSERT_EQ(port, CreateIoCompletionPort(ends.server, port, key, 1));
    }
    void TearDown() override {
        for (HANDLE h : {ends.server, ends.client, port}) {
            if (h != nullptr) {
                CloseHandle(h);
            }
        }
    }
    PipeEnds ends;
    HANDLE port = nullptr;
};

}  // namespace

TEST(CompletionPort, PostedPacketsComeOutInOrderWithTheirFields) {
    HANDLE port = NewPort();
    ASSERT_NE(nullptr, port);
    OVERLAPPED a = {}, b = {};
    const std::tuple<DWORD, ULONG_PTR, LPOVERLAPPED> posted[] = {
        {11, 101, &a}, {22, 202, &b}, {0, 303, nullptr}};
    for (const auto& [bytes, key, overlapped] : posted)
        ASSERT_TRUE(PostQueuedCompletionStatus(port, bytes, key, overlapped));
    for (const auto& [bytes, key, overlapped] : posted) {
        const Dequeued d = Dequeue(port, 0);
        EXPECT_TRUE(d.ok);
        EXPECT_EQ(bytes, d.bytes);
        EXPECT_EQ(key, d.key);
        EXPECT_EQ(overlapped, d.overlapped);
    }
    CloseHandle(port);
}

TEST(CompletionPort, EmptyPortTimesOutWithNoOverlapped) {
    HANDLE port = NewPort();
    Dequeued now = Dequeue(port, 0);
    EXPECT_FALSE(now.ok);
    EXPECT_EQ(nullptr, now.overlapped);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), now.error);
    const auto start = std::chrono::steady_clock::now();
    Dequeued timed = Dequeue(port, 80);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(timed.ok);
    EXPECT_EQ(nullptr, timed.overlapped);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), timed.error);
    EXPECT_GE(waited, std::chrono::milliseconds(60));
    CloseHandle(port);
}

// Each post wakes one blocked reader; none is lost or woken twice.
TEST(CompletionPort, EachPostWakesOneOfSeveralBlockedReaders) {
    HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 3);
    OVERLAPPED o[3] = {};
    std::vector<Dequeued> got(3);
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i) {
        readers.emplace_back([&, i] { got[i] = Dequeue(port, 10000); });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto start = std::chrono::steady_clock::now();
    for (OVERLAPPED& one : o) {
        PostQueuedCompletionStatus(port, 1, 7, &one);
    }
    std::vector<LPOVERLAPPED> seen;
    for (size_t i = 0; i < readers.size(); ++i) {
        readers[i].join();
        EXPECT_TRUE(got[i].ok);
        seen.push_back(got[i].overlapped);
    }
    // A lost wake-up would show as a reader that waited out its 10 s.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(std::vector<LPOVERLAPPED>({&o[0], &o[1], &o[2]}), seen);
    CloseHandle(port);
}

// Each packet goes to exactly one reader, even as the readers' limits run out.
TEST(CompletionPort, EachPacketGoesToOneReaderAsLimitsRunOut) {
    HANDLE port = NewPort();
    OVERLAPPED o = {};
    const auto result = vidozir_test::GiveOneAtATime(
        2000, 3, [&] { PostQueuedCompletionStatus(port, 1, 7, &o); },
        [&](int) { return Dequeue(port, 1).ok; });
    EXPECT_EQ(result.stalledAt, 0);
    EXPECT_EQ(result.taken, 2000);
    EXPECT_FALSE(Dequeue(port, 0).ok);
    CloseHandle(port);
}

TEST(CompletionPort, BlockedDequeueWakesOnAPostFromAnotherThread) {
    HANDLE port = NewPort();
    OVERLAPPED o = {};
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        PostQueuedCompletionStatus(port, 5, 9, &o);
    });
    Dequeued d = Dequeue(port, 10000);
    poster.join();
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(&o, d.overlapped);
    EXPECT_EQ(9u, d.key);
    CloseHandle(port);
}

TEST(CompletionPort, BadHandlesFail) {
    DWORD bytes = 0;
    ULONG_PTR key = 0;
    LPOVERLAPPED overlapped = reinterpret_cast<LPOVERLAPPED>(1);
    EXPECT_FALSE(GetQueuedCompletionStatus(nullptr, &bytes, &key, &overlapped, 0));
    EXPECT_EQ(nullptr, overlapped);
    EXPECT_FALSE(PostQueuedCompletionStatus(nullptr, 0, 0, nullptr));
}

TEST_F(IocpPipe, PendingReadCompletesWithKeyAndByteCount) {
    Open(true, 7);
    char buffer[64] = {};
    OVERLAPPED o = {};
    BOOL started = ReadFile(ends.server, buffer, sizeof(buffer), nullptr, &o);
    ASSERT_FALSE(started);
    ASSERT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), GetLastError());
    EXPECT_FALSE(Dequeue(port, 0).ok);  // nothing until data arrives
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(ends.client, "hello", 5, &written, nullptr));
    EXPECT_EQ(5u, written);
    Dequeued d = Dequeue(port, 5000);
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(&o, d.overlapped);
    EXPECT_EQ(7u, d.key);
    EXPECT_EQ(5u, d.bytes);
    EXPECT_EQ("hello", std::string(buffer, 5));
}

TEST_F(IocpPipe, ReadOfWaitingDataStillQueuesItsPacket) {
    Open(true, 3);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(ends.client, "abc", 3, &written, nullptr));
    char buffer[16] = {};
    OVERLAPPED o = {};
    ASSERT_TRUE(Started(ReadFile(ends.server, buffer, sizeof(buffer), nullptr, &o)));
    Dequeued d = Dequeue(port, 5000);
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(&o, d.overlapped);
    EXPECT_EQ(3u, d.bytes);
    EXPECT_EQ(0, std::memcmp(buffer, "abc", 3));
    EXPECT_FALSE(Dequeue(port, 0).ok);  // exactly one packet
}

TEST_F(IocpPipe, ClosedWriterFailsThePendingReadWithBrokenPipe) {
    Open(true, 4);
    char buffer[16];
    OVERLAPPED o = {};
    ASSERT_FALSE(ReadFile(ends.server, buffer, sizeof(buffer), nullptr, &o));
    ASSERT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), GetLastError());
    CloseHandle(ends.client);
    ends.client = nullptr;
    Dequeued d = Dequeue(port, 5000);
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(&o, d.overlapped);  // a failed operation, not a time-out
    EXPECT_EQ(4u, d.key);
    EXPECT_EQ(0u, d.bytes);
    EXPECT_EQ(static_cast<DWORD>(ERROR_BROKEN_PIPE), d.error);
}

TEST_F(IocpPipe, OverlappedWriteCompletesWithItsByteCount) {
    Open(false, 5);
    OVERLAPPED o = {};
    ASSERT_TRUE(Started(WriteFile(ends.server, "payload", 7, nullptr, &o)));
    Dequeued d = Dequeue(port, 5000);
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(&o, d.overlapped);
    EXPECT_EQ(7u, d.bytes);
    char buffer[16] = {};
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(ends.client, buffer, sizeof(buffer), &read, nullptr));
    EXPECT_EQ("payload", std::string(buffer, read));
}

TEST_F(IocpPipe, LargeWriteCompletesOnceTheReaderDrainsIt) {
    Open(false, 6);
    std::vector<char> data(1 << 20);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>(i * 7);
    }
    OVERLAPPED o = {};
    ASSERT_TRUE(
        Started(WriteFile(ends.server, data.data(), static_cast<DWORD>(data.size()), nullptr, &o)));
    std::vector<char> received;
    std::thread reader([&] {
        char chunk[4096];
        DWORD read = 0;
        while (received.size() < data.size() &&
               ReadFile(ends.client, chunk, sizeof(chunk), &read, nullptr) && read > 0) {
            received.insert(received.end(), chunk, chunk + read);
        }
    });
    Dequeued d = Dequeue(port, 10000);
    reader.join();
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(data.size(), d.bytes);
    EXPECT_TRUE(received == data);
}

TEST_F(IocpPipe, ClosingTheHandleAbortsItsPendingRead) {
    Open(true, 8);
    char buffer[16];
    OVERLAPPED o = {};
    ASSERT_FALSE(ReadFile(ends.server, buffer, sizeof(buffer), nullptr, &o));
    CloseHandle(ends.server);
    ends.server = nullptr;
    Dequeued d = Dequeue(port, 5000);
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(&o, d.overlapped);
    // Wine reports the pipe as broken (ERROR_BROKEN_PIPE) instead of the
    // cancelled operation that Windows reports.
    if (!vidozir_test::IsWine()) {
        EXPECT_EQ(static_cast<DWORD>(ERROR_OPERATION_ABORTED), d.error);
    }
}

TEST_F(IocpPipe, AHandleBelongsToOnePort) {
    Open(true, 1);
    HANDLE other = NewPort();
    EXPECT_EQ(nullptr, CreateIoCompletionPort(ends.server, other, 2, 1));
    CloseHandle(other);
}

#if !defined(_WIN32)
// Descriptor kinds that only the Linux layer wraps directly.

TEST(CompletionPortPosix, SocketPeerCloseReadsZeroBytesSuccessfully) {
    int fds[2];
    ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM, 0, fds));
    HANDLE socket = vidozir::platform::FileHandleFromDescriptor(fds[0]);
    HANDLE port = CreateIoCompletionPort(socket, nullptr, 12, 1);  // a new port
    ASSERT_NE(nullptr, port);
    char buffer[8];
    OVERLAPPED o = {};
    ASSERT_FALSE(ReadFile(socket, buffer, sizeof(buffer), nullptr, &o));
    ::close(fds[1]);
    Dequeued d = Dequeue(port, 5000);
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(&o, d.overlapped);
    EXPECT_EQ(12u, d.key);
    EXPECT_EQ(0u, d.bytes);
    CloseHandle(socket);
    CloseHandle(port);
}

TEST(CompletionPortPosix, RegularFileUsesTheOverlappedOffset) {
    const std::string path = vidozir_test::MakeTempDir("iocp") + "/data.bin";
    HANDLE file =
        vidozir::platform::FileHandleFromDescriptor(::open(path.c_str(), O_RDWR | O_CREAT, 0600));
    HANDLE port = NewPort();
    ASSERT_EQ(port, CreateIoCompletionPort(file, port, 1, 1));
    OVERLAPPED write = {};
    write.Offset = 4;
    ASSERT_TRUE(WriteFile(file, "tail", 4, nullptr, &write));
    OVERLAPPED head = {};
    ASSERT_TRUE(WriteFile(file, "head", 4, nullptr, &head));
    EXPECT_EQ(4u, Dequeue(port, 0).bytes);
    EXPECT_EQ(4u, Dequeue(port, 0).bytes);
    char buffer[16] = {};
    OVERLAPPED read = {};
    read.Offset = 2;
    ASSERT_TRUE(ReadFile(file, buffer, sizeof(buffer), nullptr, &read));
    Dequeued d = Dequeue(port, 0);
    EXPECT_EQ(6u, d.bytes);
    EXPECT_EQ("adtail", std::string(buffer, 6));
    OVERLAPPED atEnd = {};
    atEnd.Offset = 8;
    EXPECT_FALSE(ReadFile(file, buffer, sizeof(buffer), nullptr, &atEnd));
    EXPECT_EQ(static_cast<DWORD>(ERROR_HANDLE_EOF), GetLastError());
    EXPECT_FALSE(Dequeue(port, 0).ok);  // an immediate failure queues nothing
    CloseHandle(file);
    CloseHandle(port);
}

TEST(CompletionPortPosix, WriteToAPipeWithoutReaderFailsInsteadOfKillingTheProcess) {
    PipeEnds ends;
    ASSERT_TRUE(vidozir_test::MakeOverlappedPipe(false, &ends));
    HANDLE port = NewPort();
    CreateIoCompletionPort(ends.server, port, 1, 1);
    CloseHandle(ends.client);
    OVERLAPPED o = {};
    EXPECT_FALSE(WriteFile(ends.server, "x", 1, nullptr, &o));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BROKEN_PIPE), GetLastError());
    CloseHandle(ends.server);
    CloseHandle(port);
}
#endif
