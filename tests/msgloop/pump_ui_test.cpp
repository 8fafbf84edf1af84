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
using Fn = msgloop_test::FnTask;

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

using Clock = std::chrono::steady_clock;

TEST(PumpUI, TasksRunInsideAModalLoop) {
    std::thread owner([] {
        CMessageLoopUI loop;
        std::vector<int> order;
        loop.PostTask(
            new Fn([&] {
                // Posted meanwhile, from another thread and from here.
                std::thread poster([&] { loop.PostTask(new Fn([&] { order.push_back(2); }), 0); });
                poster.join();
                loop.PostTask(new Fn([&] { order.push_back(3); }), 0);
                ModalLoop([&] { return order.size() >= 3; });
                order.push_back(4);  // the modal loop ended after both ran
                loop.PostTask(new CMessageLoop::QuitTask, 0);
            }),
            0);
        order.push_back(1);
        loop.Run();
        EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
    });
    owner.join();
}

TEST(PumpUI, DelayedTaskInsideAModalLoopRunsFromTheShortestTimer) {
    std::thread owner([] {
        CMessageLoopUI loop;
        Clock::duration elapsed{};
        bool ran = false;
        loop.PostTask(new Fn([&] {
                          Clock::time_point posted = Clock::now();
                          loop.PostTask(new Fn([&] {
                                            elapsed = Clock::now() - posted;
                                            ran = true;
                                        }),
                                        3);
                          ModalLoop([&] { return ran; });
                          loop.PostTask(new CMessageLoop::QuitTask, 0);
                      }),
                      0);
        loop.Run();
        EXPECT_TRUE(ran);
        // Due after 3 ms, but a timer is never set below 10 ms.
        EXPECT_GE(elapsed, std::chrono::milliseconds(9));
        EXPECT_LT(elapsed, std::chrono::seconds(5));
    });
    owner.join();
}

TEST(PumpUI, QuitMessageStopsRunAndStaysForTheOuterLoop) {
    std::thread owner([] {
        std::atomic<int> destroyed{0};  // outlives the loop, which destroys tasks
        CMessageLoopUI loop;
        int after = 0;
        loop.PostTask(new Fn([] { PostQuitMessage(7); }), 0);
        loop.PostTask(new Fn([&] { ++after; }, &destroyed), 5000);
        loop.Run();
        MSG msg;
        ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
        EXPECT_EQ(msg.wParam, 7u);
        EXPECT_EQ(after, 0);
    });
    owner.join();
}

TEST(PumpUI, ManyPostsWhileBusyQueueOneWorkMessage) {
    std::thread owner([] {
        CMessageLoopUI loop;
        std::atomic<int> ran{0};
        int workMessages = -1;
        loop.PostTask(
            new Fn([&] {
                std::thread poster([&] {
                    for (int i = 0; i < 1000; ++i) {
                        loop.PostTask(new Fn([&] { ++ran; }), 0);
                    }
                });
                poster.join();
                // Count (and consume) the work messages now queued.
                workMessages = 0;
                MSG msg;
                while (PeekMessageW(&msg, nullptr, kWorkMessage, kWorkMessage, PM_REMOVE)) {
                    ++workMessages;
                }
                loop.PostTask(new CMessageLoop::QuitTask, 0);
            }),
            0);
        loop.Run();
        EXPECT_EQ(workMessages, 1);
        EXPECT_EQ(ran.load(), 1000);  // Run's own passes still drain the queue
    });
    owner.join();
}

TEST(PumpUI, TwoLoopsOnTwoThreads) {
    std::atomic<int> ran{0};
    CWaitableEvent firstGone;
    std::thread second([&] {
        CMessageLoopUI loop;
        // Keeps running while the first thread's pump is destroyed.
        ASSERT_EQ(firstGone.TimedWait(10000), 1);
        loop.PostTask(new Fn([&] { ++ran; }), 0);
        loop.PostTask(new Fn([&] { ++ran; }), 20);
        loop.PostTask(new CMessageLoop::QuitTask, 30);
        loop.Run();
    });
    std::thread first([&] {
        {
            CMessageLoopUI loop;
            loop.PostTask(new Fn([&] { ++ran; }), 0);
            loop.PostTask(new CMessageLoop::QuitTask, 0);
            loop.Run();
        }
        firstGone.Signal();
    });
    first.join();
    second.join();
    EXPECT_EQ(ran.load(), 3);
}

TEST(PumpUI, AfterQuitWorkMessagesRunNothing) {
    std::thread owner([] {
        std::atomic<int> destroyed{0};  // outlives the loop, which destroys tasks
        CMessageLoopUI loop;
        int ran = 0;
        loop.PostTask(new Fn([&] {
                          loop.Quit();
                          // Accepted (Run is not over) but announced to a pump
                          // that has quit: the window procedure ignores it.
                          loop.PostTask(new Fn([&] { ++ran; }, &destroyed), 0);
                          MSG msg;
                          while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                              DispatchMessageW(&msg);
                          }
                      }),
                      0);
        loop.Run();
        EXPECT_EQ(ran, 0);
    });
    owner.join();
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
