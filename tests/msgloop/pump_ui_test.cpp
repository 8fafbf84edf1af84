#include <gtest/gtest.h>

#include <chrono>

#include "loop_test_util.h"

using namespace VidOzir;
using namespace msgloop_test;

namespace {

using Clock = std::chrono::steady_clock;

// A modal loop (a dialog's) dispatches the pump's messages: tasks posted
// meanwhile run inside it, delayed ones by the pump's timer, which is never
// set below 10 ms and is set again for the next delayed task. A quit message
// ends Run and stays for the outer loop.
TEST(PumpUI, TasksRunInsideAModalLoop) {
    CMessageLoopUI loop;
    std::vector<int> order;
    Clock::duration elapsed{};
    Post(&loop, [&] {
        // Posted meanwhile, from another thread and from here.
        std::thread([&] { Post(&loop, [&] { order.push_back(2); }); }).join();
        Post(&loop, [&] { order.push_back(3); });
        const Clock::time_point posted = Clock::now();
        PostIn(&loop, 3, nullptr, [&] {
            elapsed = Clock::now() - posted;
            order.push_back(4);
        });
        PostIn(&loop, 40, nullptr, [&] { order.push_back(5); });
        // The modal loop gives up after 5 s: a lost message fails the test.
        MSG msg;
        while (order.size() < 5 && Clock::now() < posted + std::chrono::seconds(5)) {
            if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            } else {
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            }
        }
        order.push_back(6);  // the modal loop ended after all ran
        PostQuitMessage(7);
    });
    order.push_back(1);
    loop.Run();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 5, 6}));
    MSG msg;  // the quit message ended Run and stays for the outer loop
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 7u);
    EXPECT_GE(elapsed, std::chrono::milliseconds(9));  // due after 3 ms: the timer's 10
}

// Many posts from another thread while the loop is busy queue one work
// message, and Run's own passes still run them all. After Quit, work messages
// are accepted (Run is not over) but the window procedure ignores them:
// nothing runs, and the pending task goes with the loop. Other modules find
// the pump's message-only window by its class name; it goes with its pump.
TEST(PumpUI, ManyPostsQueueOneWorkMessageAndNoneRunsAfterAQuit) {
    std::atomic<int> ran{0}, destroyed{0};
    int workMessages = 0;
    {
        CMessageLoopUI loop;
        Post(&loop, [&] {
            std::thread([&] {
                for (int i = 0; i < 1000; ++i) {
                    Post(&loop, [&] { ++ran; });
                }
            }).join();
            MSG msg, work = {};  // take the work messages now queued, then put one back
            while (PeekMessageW(&msg, nullptr, WM_USER + 1000, WM_USER + 1000, PM_REMOVE)) {
                work = msg;
                ++workMessages;
            }
            PostMessageW(work.hwnd, work.message, work.wParam, work.lParam);
            Post(&loop, [&] {
                loop.Quit();
                PostIn(&loop, 0, &destroyed, [] { ADD_FAILURE() << "ran after the quit"; });
                MSG next;
                while (PeekMessageW(&next, nullptr, 0, 0, PM_REMOVE)) {
                    DispatchMessageW(&next);
                }
            });
        });
        loop.Run();
#if defined(_WIN32)
        HWND window = FindWindowExW(HWND_MESSAGE, nullptr, L"OrvoDiskMsgPumpWnd", nullptr);
        EXPECT_EQ(GetWindowThreadProcessId(window, nullptr), GetCurrentThreadId());
#endif
    }
    EXPECT_EQ(workMessages, 1);
    EXPECT_EQ(ran.load(), 1000);
    EXPECT_EQ(destroyed.load(), 1);
#if defined(_WIN32)
    EXPECT_EQ(FindWindowExW(HWND_MESSAGE, nullptr, L"OrvoDiskMsgPumpWnd", nullptr), nullptr);
#endif
}

}  // namespace
