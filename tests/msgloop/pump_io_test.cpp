#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "loop_test_util.h"
#include "platform/win32.h"
#include "support/overlapped_pipe.h"
#include "vidozir/msgloop.h"

using namespace msgloop_test;
using VidOzir::CMessageLoop;
using VidOzir::CMessageLoopIO;
using VidOzir::CMessagePumpIO;
using vidozir_test::PipeEnds;

namespace {

using Context = CMessagePumpIO::CompletionContext;

// A pipe whose server end reads through the loop's port into this handler,
// which checks the context and thread of each completion and logs it as
// "<name><bytes>" or "<name>!<error>".
struct Reader : CMessagePumpIO::IOHandler {
    Reader(CMessageLoopIO* loop, char name, std::string* log) : name(name), log(log) {
        EXPECT_TRUE(vidozir_test::MakeOverlappedPipe(true, &ends));
        loop->RegisterIOHandler(ends.server, this);
    }
    ~Reader() override {
        CloseHandle(ends.server);
        if (ends.client != nullptr) {
            CloseHandle(ends.client);
        }
    }
    void HandleCompletion(Context* context, DWORD bytes, DWORD error) override {
        EXPECT_EQ(contexts.back().get(), context);
        EXPECT_EQ(thread, GetCurrentThreadId());
        *log += name + (error ? "!" + std::to_string(error) : std::to_string(bytes)) + " ";
        received.append(buffer, bytes);
        if (then) {
            then(error);
        }
    }
    void StartRead() {
        contexts.emplace_back(new Context());
        contexts.back()->m_pHandler = this;
        BOOL started =
            ReadFile(ends.server, buffer, sizeof(buffer), nullptr, &contexts.back()->m_overlapped);
        EXPECT_TRUE(started || GetLastError() == ERROR_IO_PENDING);
    }
    void Send(const char* text) {
        DWORD written = 0;
        EXPECT_TRUE(
            WriteFile(ends.client, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr));
    }

    const char name;
    std::string* log;
    const DWORD thread = GetCurrentThreadId();
    PipeEnds ends;
    std::vector<std::unique_ptr<Context>> contexts;
    char buffer[64] = {};
    std::string received;
    std::function<void(DWORD)> then;
};

}  // namespace

TEST(MessagePumpIO, ManyPostsQueueOneWakeUpPacket) {
    std::atomic<int> destroyed{0};
    {
        CMessageLoopIO loop;
        EXPECT_EQ(0, loop.WaitForIOCompletion(0, nullptr));  // empty port, empty saved list
        for (int round = 0; round < 2; ++round) {            // taking the packet re-arms the flag
            for (int i = 0; i < 500; ++i) {
                PostIn(&loop, 0, &destroyed, [] {});
            }
            EXPECT_EQ(1, loop.WaitForIOCompletion(0, nullptr));  // the one wake-up packet
            EXPECT_EQ(0, loop.WaitForIOCompletion(0, nullptr));
        }
        EXPECT_EQ(0, destroyed.load());
    }
    EXPECT_EQ(1000, destroyed.load());  // never run, destroyed with the loop
}

TEST(MessagePumpIO, RunDeliversReadsAndErrorsToTheHandlerOnTheLoopThread) {
    CMessageLoopIO loop;
    std::string log;
    Reader pipe(&loop, 'p', &log);
    pipe.then = [&](DWORD error) {
        if (error == 0) {
            pipe.StartRead();
        } else {
            loop.Quit();
        }
    };
    pipe.StartRead();
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        pipe.Send("ping");
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        CloseHandle(pipe.ends.client);
    });
    loop.Run();
    writer.join();
    pipe.ends.client = nullptr;
    EXPECT_EQ("p4 p!" + std::to_string(ERROR_BROKEN_PIPE) + " ", log);
    EXPECT_EQ("ping", pipe.received);
}

// A wait for one handler saves the completions of others; they leave later in
// arrival order, to a wait for their handler or to any unfiltered one.
TEST(MessagePumpIO, FilteredWaitSavesOtherCompletionsForLaterInArrivalOrder) {
    CMessageLoopIO loop;
    std::string log;
    Reader first(&loop, 'f', &log), second(&loop, 's', &log), third(&loop, 't', &log),
        wanted(&loop, 'w', &log);
    for (Reader* reader : {&first, &second, &third, &wanted}) {
        reader->StartRead();
    }
    third.Send("a");
    EXPECT_EQ(1, loop.WaitForIOCompletion(5000, &wanted));  // saved, not handled
    second.Send("bb");
    EXPECT_EQ(1, loop.WaitForIOCompletion(5000, &wanted));
    first.Send("c");
    EXPECT_EQ(1, loop.WaitForIOCompletion(5000, &wanted));
    wanted.Send("ddd");
    EXPECT_EQ(1, loop.WaitForIOCompletion(5000, &wanted));
    EXPECT_EQ("w3 ", log);
    // A filter for the second handler finds its saved item first.
    EXPECT_EQ(1, loop.WaitForIOCompletion(0, &second));
    EXPECT_EQ(1, loop.WaitForIOCompletion(0, nullptr));
    EXPECT_EQ("w3 s2 t1 ", log);
    // The rest goes out by Run, without a filter.
    PostIn(&loop, 30, [&] { loop.Quit(); });
    loop.Run();
    EXPECT_EQ("w3 s2 t1 f1 ", log);
}

// A context whose handler was cleared belongs to the pump: its completion is
// taken and calls no handler (that the pump frees it, the leak checker of the
// sanitizer run sees).
TEST(MessagePumpIO, AbandonedContextCallsNoHandler) {
    CMessageLoopIO loop;
    std::string log;
    Reader pipe(&loop, 'p', &log);
    pipe.StartRead();
    pipe.contexts.back().release()->m_pHandler = nullptr;
    pipe.Send("late");
    EXPECT_EQ(1, loop.WaitForIOCompletion(5000, nullptr));
    EXPECT_EQ("", log);
}
