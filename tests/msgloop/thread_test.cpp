#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "loop_test_util.h"
#include "platform/win32.h"
#include "vidozir/thread.h"

using namespace VidOzir;

namespace {

using namespace msgloop_test;

template <class T>
class ThreadKinds : public ::testing::Test {};
using Kinds = ::testing::Types<CThreadDefault, CThreadIO, CThreadUI>;
TYPED_TEST_SUITE(ThreadKinds, Kinds);

// A thread runs its tasks on its own loop: an idle loop is woken by a post, a
// delayed task runs when due, not before. Its stop waits for the on-destroy
// subscribers and destroys the pending tasks; it may start again after.
TYPED_TEST(ThreadKinds, StartRunStopAndRestart) {
    TypeParam thread(CLuStringA("vidozir-stop"));
    TypeParam().StopThread();  // never started: nothing happens
    EXPECT_FALSE(thread.GetMsgLoop());
    EXPECT_EQ(thread.GetThreadHandle(), nullptr);
    ASSERT_EQ(thread.StartThread(), 1);
    void* handle = thread.GetThreadHandle();
    EXPECT_NE(handle, nullptr);
    EXPECT_EQ(thread.StartThread(), 1);  // already running: nothing new starts
    EXPECT_EQ(thread.GetThreadHandle(), handle);
    ASSERT_TRUE(thread.GetMsgLoop());
    EXPECT_EQ(thread.GetMsgLoop()->GetThreadName(), "vidozir-stop");
    const bool io = std::is_same<TypeParam, CThreadIO>::value;
    const bool ui = std::is_same<TypeParam, CThreadUI>::value;
    EXPECT_EQ(thread.GetMsgLoop()->GetType(), io   ? CMessageLoop::TYPE_IO
                                              : ui ? CMessageLoop::TYPE_UI
                                                   : CMessageLoop::TYPE_DEFAULT);
    Sleep(150);  // let the pump reach its wait
    for (int delay : {0, 150}) {
        CWaitableEvent ran;
        DWORD ranOn = 0;
        CMessageLoop* current = nullptr;
        Time ranAt;
        const Time posted = Time::Now();
        PostIn(thread.GetMsgLoop().get(), delay, [&] {
            ranOn = GetCurrentThreadId();
            current = CMessageLoop::Current();
            ranAt = Time::Now();
            ran.Signal();
        });
        ASSERT_EQ(ran.TimedWait(delay + 5000), 1);
        EXPECT_EQ(ranOn, thread.GetThreadId());
        EXPECT_EQ(current, thread.GetMsgLoop().get());
        EXPECT_EQ(CMessageLoop::Self(thread.GetThreadId()), current);
        EXPECT_GE(ranAt.GetValue(), (posted + delay).GetValue());
        EXPECT_LT(ranAt - posted, delay + 1000);  // woken, not found by chance
    }

    std::atomic<int> notified{0}, destroyed{0}, ran{0};
    {
        auto loop = thread.GetMsgLoop();
        loop->SubscribeOnDestroy([&] { ++notified; }, 0);
        // A delayed task far away is pending when the stop comes; an
        // immediate one posted before it runs.
        PostIn(loop.get(), 60000, &destroyed, [] { ADD_FAILURE() << "ran"; });
        PostIn(loop.get(), 0, &destroyed, [&] { ++ran; });
    }
    DWORD id = thread.GetThreadId();
    thread.StopThread();
    EXPECT_EQ(notified.load(), 1);
    EXPECT_EQ(destroyed.load(), 2);
    EXPECT_EQ(ran.load(), 1);
    EXPECT_FALSE(thread.GetMsgLoop());
    EXPECT_EQ(thread.GetThreadHandle(), nullptr);
    EXPECT_EQ(thread.GetThreadId(), id);  // kept after the end
    EXPECT_EQ(CMessageLoop::Self(id), nullptr);
    thread.StopThread();  // a second stop does nothing

    // Started again after its end; the destructor stops it and waits.
    ASSERT_EQ(thread.StartThread(), 1);
    EXPECT_NE(thread.GetThreadId(), 0u);
}

// Every producer's tasks run exactly once and in its posting order.
TYPED_TEST(ThreadKinds, ProducersPostingAtOnce) {
    const int kProducers = 4;
    // Fewer for the UI pump, whose window message per wake-up is slow under Wine.
    const int each = std::is_same<TypeParam, CThreadDefault>::value ? 100000
                     : std::is_same<TypeParam, CThreadIO>::value    ? 25000
                                                                    : 10000;
    TypeParam thread;
    ASSERT_EQ(thread.StartThread(), 1);
    std::vector<int> next(kProducers, 0);  // touched only on the loop's thread
    std::atomic<int> outOfOrder{0};
    std::vector<std::thread> threads;
    for (int p = 0; p < kProducers; ++p) {
        threads.emplace_back([&, p] {
            auto loop = thread.GetMsgLoop();
            for (int i = 0; i < each; ++i) {
                Post(loop.get(), [&next, &outOfOrder, p, i] {
                    outOfOrder += next[p] != i;
                    next[p] = i + 1;
                });
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    thread.StopThread();
    EXPECT_EQ(0, outOfOrder.load());
    EXPECT_EQ(std::vector<int>(kProducers, each), next);
}

// After a thread stopped itself, it still ends its loop (here a slow
// on-destroy subscriber) after letting go of it; the owner's StopThread and
// destructor wait for that real end before they return. Nobody waited for
// that end, so the stop event stays signalled: after a restart the next stop
// must still wait for the new loop's end.
TYPED_TEST(ThreadKinds, StopFromATaskOfTheThreadItself) {
    enum { kStop, kDestroy, kRestart };
    for (int mode : {kStop, kDestroy, kRestart}) {
        auto* thread = new TypeParam;
        ASSERT_EQ(thread->StartThread(), 1);
        CWaitableEvent returned;
        CWaitableEvent ending;
        std::atomic<int> ended{0};
        auto slowEnd = [&] {
            ending.Signal();
            Sleep(100);
            ++ended;
        };
        thread->GetMsgLoop()->SubscribeOnDestroy(slowEnd, 0);
        Post(thread->GetMsgLoop().get(), [&] {
            thread->StopThread();  // returns at once here
            returned.Signal();
        });
        ASSERT_EQ(returned.TimedWait(10000), 1);
        ASSERT_EQ(ending.TimedWait(10000), 1);  // the loop is gone from the object
        if (mode == kRestart) {
            // The null handle is the thread's last touch of the object.
            for (int i = 0; i < 1000 && thread->GetThreadHandle() != nullptr; ++i) {
                Sleep(10);
            }
            ASSERT_EQ(thread->GetThreadHandle(), nullptr);
            ASSERT_EQ(thread->StartThread(), 1);
            thread->GetMsgLoop()->SubscribeOnDestroy(slowEnd, 0);
        }
        const int ends = mode == kRestart ? 2 : 1;
        if (mode != kDestroy) {
            thread->StopThread();
            EXPECT_EQ(ended.load(), ends);
            EXPECT_EQ(thread->GetThreadHandle(), nullptr);
            EXPECT_FALSE(thread->GetMsgLoop());
        }
        delete thread;
        EXPECT_EQ(ended.load(), ends);
    }
}

// A wake-up must never be lost, whatever the pump. The loop below holds one
// far delayed task, so a lost wake-up shows as a wait for that task's timer.
// Each cycle posts an immediate task A and the delayed one D; with the gate,
// a blocking task holds the loop meanwhile so that A and D are taken in one
// batch. While A runs, the test posts B (or stops the thread): the pump takes
// the wake-up of that post while D still waits to be moved to its heap, which
// is where a pump that trusts a single idle DoWork loses the post.
const int kFarDelay = 10000;  // ms; what a lost wake-up costs
const int kPromptly = 1000;   // ms; every task and every stop within this
const int kWakeCycles = 200;  // enough to catch a one-in-a-hundred race

// Posts [gate], A, D; returns when A runs, which waits for `proceed` (at most
// 20 ms) before it returns.
template <class Thread>
bool PostBatchAndWaitForA(Thread& thread, bool gated, CWaitableEvent& proceed,
                          std::atomic<int>* destroyed = nullptr) {
    auto loop = thread.GetMsgLoop();
    CWaitableEvent gateEntered;
    CWaitableEvent gate;
    if (gated) {
        PostIn(loop.get(), 0, destroyed, [&] {
            gateEntered.Signal();
            gate.TimedWait(kPromptly);
        });
        if (gateEntered.TimedWait(kPromptly) != 1) {
            return false;
        }
    }
    CWaitableEvent started;
    PostIn(loop.get(), 0, destroyed, [&] {
        started.Signal();
        proceed.TimedWait(20);
    });
    PostIn(loop.get(), kFarDelay, destroyed, [] {});
    gate.Signal();
    return started.TimedWait(kPromptly) == 1;
}

TYPED_TEST(ThreadKinds, PostsWakeALoopThatHoldsAFarDelayedTask) {
    TypeParam thread;
    ASSERT_EQ(thread.StartThread(), 1);
    for (int cycle = 0; cycle < kWakeCycles; ++cycle) {
        CWaitableEvent proceed;
        ASSERT_TRUE(PostBatchAndWaitForA(thread, cycle % 2 == 0, proceed)) << cycle;
        CWaitableEvent ran;
        Post(thread.GetMsgLoop().get(), [&] { ran.Signal(); });
        proceed.Signal();
        ASSERT_EQ(ran.TimedWait(kPromptly), 1) << "post lost in cycle " << cycle;
    }
    thread.StopThread();
}

// Each stop also destroys every task of its loop exactly once, run or not.
TYPED_TEST(ThreadKinds, StopWakesALoopThatHoldsAFarDelayedTask) {
    std::atomic<int> destroyed{0};
    int posted = 0;
    for (int cycle = 0; cycle < kWakeCycles / 2; ++cycle) {
        TypeParam thread;
        ASSERT_EQ(thread.StartThread(), 1);
        CWaitableEvent proceed;
        ASSERT_TRUE(PostBatchAndWaitForA(thread, cycle % 2 == 0, proceed, &destroyed)) << cycle;
        posted += cycle % 2 == 0 ? 3 : 2;
        const Time stopping = Time::Now();
        thread.StopThread();  // its quit task arrives while A runs
        ASSERT_LT(Time::Now() - stopping, kPromptly) << "stop lost in cycle " << cycle;
        ASSERT_EQ(destroyed.load(), posted) << cycle;
    }
}

// The caller of CThreadUI::StopThread owns a window to which the stopping
// thread sends a blocking message while it ends: the caller must keep
// dispatching its messages while it waits. So too after a restart of a thread
// that had stopped itself, whose stop event nobody waited for; there the
// message is posted and its answer awaited for a while, so that a caller that
// stops dispatching fails the test instead of hanging it.
CWaitableEvent* g_answered = nullptr;
LRESULT CALLBACK CallerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_USER + 8) {
        g_answered->Signal();
    }
    return message == WM_USER + 7 ? 42 : DefWindowProcW(window, message, wParam, lParam);
}

TEST(Threads, UiStopDispatchesTheCallersMessages) {
    WNDCLASSEXW windowClass = {sizeof(windowClass), 0, CallerWindowProc};
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"VidozirTestCallerWindow";
    RegisterClassExW(&windowClass);
    HWND window = CreateWindowExW(0, L"VidozirTestCallerWindow", nullptr, 0, 0, 0, 0, 0,
                                  HWND_MESSAGE, nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    CWaitableEvent answered;
    g_answered = &answered;
    std::atomic<LRESULT> answer{0};
    std::atomic<int> heard{0};
    {
        CThreadUI thread;
        ASSERT_EQ(thread.StartThread(), 1);
        // The loop's on-destroy subscriber runs on the stopping thread.
        thread.GetMsgLoop()->SubscribeOnDestroy(
            [&] { answer = SendMessageW(window, WM_USER + 7, 0, 0); }, 0);
        thread.StopThread();
        EXPECT_EQ(answer.load(), 42);
        ASSERT_EQ(thread.StartThread(), 1);
        Post(thread.GetMsgLoop().get(), [&] { thread.StopThread(); });
        for (int i = 0; i < 1000 && thread.GetThreadHandle() != nullptr; ++i) {
            Sleep(10);
        }
        ASSERT_EQ(thread.StartThread(), 1);
        thread.GetMsgLoop()->SubscribeOnDestroy(
            [&] {
                PostMessageW(window, WM_USER + 8, 0, 0);
                heard = answered.TimedWait(5000);
            },
            0);
        thread.StopThread();
    }
    EXPECT_EQ(heard.load(), 1);
    DestroyWindow(window);
    UnregisterClassW(L"VidozirTestCallerWindow", windowClass.hInstance);
}

}  // namespace
