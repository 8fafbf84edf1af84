#include <gtest/gtest.h>

#include <cstring>

#include "loop_test_util.h"
#include "support/overlapped_pipe.h"

using namespace msgloop_test;
using namespace VidOzir;

namespace {

using Context = CMessagePumpIO::CompletionContext;

// A pipe whose server end reads through the loop's port into this handler,
// which checks the context and thread of each completion and logs it as
// "<name><text read>" or "<name>!<error>".
struct Reader : CMessagePumpIO::IOHandler {
    Reader(CMessageLoopIO* loop, char name, std::string* log) : name(name), log(log) {
        EXPECT_TRUE(vidozir_test::MakeOverlappedPipe(true, &ends));
        loop->RegisterIOHandler(ends.server, this);
    }
    ~Reader() override {
        CloseHandle(ends.server);
        CloseClient();
    }
    void HandleCompletion(Context* context, DWORD bytes, DWORD error) override {
        EXPECT_TRUE(context == contexts.back().get() && thread == GetCurrentThreadId());
        *log += name + (error ? "!" + std::to_string(error) : std::string(buffer, bytes)) + " ";
        then(error);
    }
    void StartRead() {
        contexts.emplace_back(new Context{{}, this});
        BOOL started =
            ReadFile(ends.server, buffer, sizeof(buffer), nullptr, &contexts.back()->m_overlapped);
        EXPECT_TRUE(started || GetLastError() == ERROR_IO_PENDING);
    }
    void Send(const char* text) {
        DWORD written = 0;
        EXPECT_TRUE(WriteFile(ends.client, text, DWORD(std::strlen(text)), &written, nullptr));
    }
    void CloseClient() {
        if (ends.client != nullptr) {
            CloseHandle(ends.client);
            ends.client = nullptr;
        }
    }

    const char name;
    std::string* log;
    const DWORD thread = GetCurrentThreadId();
    vidozir_test::PipeEnds ends;
    std::vector<std::unique_ptr<Context>> contexts;
    char buffer[64] = {};
    std::function<void(DWORD)> then = [](DWORD) {};
};

}  // namespace

// Run hands completions to their handler on the loop's thread, also between
// the tasks of a stream that keeps the loop busy, and while the loop waits; a
// failed operation comes with its error.
TEST(MessagePumpIO, RunDeliversReadsAndErrorsBetweenTasksAndWhileIdle) {
    CMessageLoopIO loop;
    std::string log;
    Reader pipe(&loop, 'p', &log);
    pipe.then = [&](DWORD error) {
        if (error != 0) {
            return loop.Quit();
        }
        pipe.StartRead();
        PostIn(&loop, 30, nullptr, [&] { pipe.CloseClient(); });
    };
    pipe.StartRead();
    pipe.Send("ping");
    const Time deadline = Time::Now() + 5000;  // a lost completion fails, not hangs
    std::function<void()> stream = [&] {
        if (log.empty() && Time::Now() < deadline) {
            Post(&loop, stream);
        }
    };
    Post(&loop, stream);
    loop.PostTask(new CMessageLoop::QuitTask, 10000);
    loop.Run();
    EXPECT_EQ("pping p!" + std::to_string(ERROR_BROKEN_PIPE) + " ", log);
    EXPECT_LT(Time::Now().GetValue(), deadline.GetValue());  // the stream did not hold it back
}

// Many posts queue one wake-up packet; taking it lets the next post queue
// another. A wait for one handler saves the completions of others; they leave later in
// arrival order, to a wait for their handler or to any unfiltered one. A
// context whose handler was cleared belongs to the pump: its completion is
// taken and calls no handler (that the pump frees it, the leak checker of the
// sanitizer run sees).
TEST(MessagePumpIO, WaitForIOCompletionTakesWakeUpsAndCompletions) {
    CMessageLoopIO loop;
    EXPECT_EQ(0, loop.WaitForIOCompletion(0, nullptr));  // empty port, empty saved list
    std::atomic<int> destroyed{0};
    for (int round = 0; round < 2; ++round) {  // taking the packet re-arms the flag
        for (int i = 0; i < 500; ++i) {
            PostIn(&loop, 0, &destroyed, [] {});
        }
        EXPECT_EQ(1, loop.WaitForIOCompletion(0, nullptr));  // the one wake-up packet
        EXPECT_EQ(0, loop.WaitForIOCompletion(0, nullptr));
    }
    std::string log;
    Reader first(&loop, 'f', &log), second(&loop, 's', &log), third(&loop, 't', &log),
        wanted(&loop, 'w', &log), dropped(&loop, 'x', &log);
    dropped.StartRead();
    dropped.contexts.back().release()->m_pHandler = nullptr;
    const std::pair<Reader*, const char*> sends[] = {
        {&dropped, "x"}, {&third, "a"}, {&second, "bb"}, {&first, "c"}, {&wanted, "ddd"}};
    for (const auto& send : sends) {
        if (send.first != &dropped) {
            send.first->StartRead();
        }
        send.first->Send(send.second);
        EXPECT_EQ(1, loop.WaitForIOCompletion(5000, &wanted));  // saved unless wanted's
    }
    EXPECT_EQ("wddd ", log);
    // A filter for the second handler finds its saved item first.
    EXPECT_EQ(1, loop.WaitForIOCompletion(0, &second));
    EXPECT_EQ(1, loop.WaitForIOCompletion(0, nullptr));
    EXPECT_EQ("wddd sbb ta ", log);
    // The rest goes out by Run, without a filter.
    loop.PostTask(new CMessageLoop::QuitTask, 30);
    loop.Run();
    EXPECT_EQ("wddd sbb ta fc ", log);
    EXPECT_EQ(1000, destroyed.load());
}
