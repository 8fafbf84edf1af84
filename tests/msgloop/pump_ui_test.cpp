#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "loop_test_util.h"
#include "platform/win32.h"
#include "vidozir/msgloop.h"

using namespace VidOzir;
using namespace msgloop_test;

namespace {

const UINT kWorkMessage = WM_USER + 1000;

// A modal loop, as a dialog runs one: plain GetMessageW/DispatchMessageW until
// `done` is set (checked after each dispatched message).
void ModalLoop(const std::function<bool()>& done) {
    MSG msg;
    while (!done() && GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Runs `body` with a UI loop on a thread of its own.
void OnUiThread(const std::function<void(CMessageLoopUI&)>& body) {
    std::thread([&] {
        CMessageLoopUI loop;
        body(loop);
    }).join();
}

using Clock = std::chrono::steady_clock;

TEST(PumpUI, TasksRunInsideAModalLoop) {
    OnUiThread([](CMessageLoopUI& loop) {
        std::vector<int> order;
        Clock::duration elapsed{};
        Post(&loop, [&] {
            // Posted meanwhile, from another thread and from here.
            std::thread([&] { Post(&loop, [&] { order.push_back(2); }); }).join();
            Post(&loop, [&] { order.push_back(3); });
            const Clock::time_point posted = Clock::now();
            PostIn(&loop, 3, [&] {
                elapsed = Clock::now() - posted;
                order.push_back(5);
            });
            ModalLoop([&] { return order.size() >= 4; });
            order.push_back(6);  // the modal loop ended after all ran
            PostQuit(&loop);
        });
        order.push_back(1);
        loop.Run();
        EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 5, 6}));
        // Due after 3 ms, but a timer is never set below 10 ms.
        EXPECT_GE(elapsed, std::chrono::milliseconds(9));
        EXPECT_LT(elapsed, std::chrono::seconds(5));
    });
}

// Nothing runs after a quit: a quit message ends Run and stays for the outer
// loop; after Quit, work messages are accepted (Run is not over) but the
// window procedure ignores them. Pending tasks go with the loop.
TEST(PumpUI, NothingRunsAfterAQuit) {
    std::atomic<int> destroyed{0};  // outlives the loops, which destroy tasks
    OnUiThread([&](CMessageLoopUI& loop) {
        Post(&loop, [] { PostQuitMessage(7); });
        PostIn(&loop, 5000, &destroyed, [] { ADD_FAILURE() << "ran after the quit"; });
        loop.Run();
        MSG msg;
        ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
        EXPECT_EQ(msg.wParam, 7u);
    });
    OnUiThread([&](CMessageLoopUI& loop) {
        Post(&loop, [&] {
            loop.Quit();
            PostIn(&loop, 0, &destroyed, [] { ADD_FAILURE() << "ran after the quit"; });
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                DispatchMessageW(&msg);
            }
        });
        loop.Run();
    });
    EXPECT_EQ(destroyed.load(), 2);
}

TEST(PumpUI, ManyPostsWhileBusyQueueOneWorkMessage) {
    OnUiThread([](CMessageLoopUI& loop) {
        std::atomic<int> ran{0};
        int workMessages = 0;
        Post(&loop, [&] {
            std::thread([&] {
                for (int i = 0; i < 1000; ++i) {
                    Post(&loop, [&] { ++ran; });
                }
            }).join();
            // Count (and consume) the work messages now queued.
            MSG msg;
            while (PeekMessageW(&msg, nullptr, kWorkMessage, kWorkMessage, PM_REMOVE)) {
                ++workMessages;
            }
            PostQuit(&loop);
        });
        loop.Run();
        EXPECT_EQ(workMessages, 1);
        EXPECT_EQ(ran.load(), 1000);  // Run's own passes still drain the queue
    });
}

TEST(PumpUI, TwoLoopsOnTwoThreads) {
    std::atomic<int> ran{0};
    CWaitableEvent firstGone;
    std::thread second([&] {
        CMessageLoopUI loop;
        // Keeps running while the first thread's pump is destroyed.
        ASSERT_EQ(firstGone.TimedWait(10000), 1);
        Post(&loop, [&] { ++ran; });
        PostIn(&loop, 20, [&] { ++ran; });
        PostQuit(&loop, 30);
        loop.Run();
    });
    OnUiThread([&](CMessageLoopUI& loop) {
        Post(&loop, [&] { ++ran; });
        PostQuit(&loop);
        loop.Run();
    });
    firstGone.Signal();
    second.join();
    EXPECT_EQ(ran.load(), 3);
}

#if defined(_WIN32)
// Whether a message-only window of the pump's class belongs to the thread.
bool PumpWindowOf(DWORD threadId) {
    HWND window = nullptr;
    while ((window = FindWindowExW(HWND_MESSAGE, window, L"OrvoDiskMsgPumpWnd", nullptr)) !=
           nullptr) {
        if (GetWindowThreadProcessId(window, nullptr) == threadId) {
            return true;
        }
    }
    return false;
}

// The window class is an external name: other modules find the pump's
// window by it among the message-only windows.
TEST(PumpUI, WindowClassIsFoundByItsName) {
    CWaitableEvent created;
    CWaitableEvent release;
    DWORD threadId = 0;
    std::thread owner([&] {
        CMessageLoopUI loop;
        threadId = GetCurrentThreadId();
        created.Signal();
        release.TimedWait(10000);
    });
    ASSERT_EQ(created.TimedWait(10000), 1);
    EXPECT_TRUE(PumpWindowOf(threadId));
    release.Signal();
    owner.join();
    EXPECT_FALSE(PumpWindowOf(threadId));  // destroyed with its pump
}
#endif

}  // namespace
