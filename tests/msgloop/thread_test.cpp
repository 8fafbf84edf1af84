#include "vidozir/thread.h"

#include <gtest/gtest.h>

#include <type_traits>

#include "loop_test_util.h"

#if !defined(_WIN32)
#include <pthread.h>
#endif

using namespace VidOzir;

namespace {

using namespace msgloop_test;

template <class T>
class ThreadKinds : public ::testing::Test {};
using Kinds = ::testing::Types<CThreadDefault, CThreadIO, CThreadUI>;
TYPED_TEST_SUITE(ThreadKinds, Kinds);

// A thread runs its tasks on its own loop, named as the thread (cut to 15
// bytes on a character boundary where the system keeps that many), beside
// another thread's loop of its kind that goes meanwhile. An idle loop is
// woken by a post; a delayed task runs when due, not before, and before tasks
// posted after it fell due. The stop calls the on-destroy subscribers (by
// group, then in subscription order) before the pending tasks are destroyed.
// The thread may start again after. A thread that stopped itself from a task
// still ends its loop (a slow on-destroy subscriber) after letting go of it:
// the owner's StopThread, and then its destructor, wait for that real end.
TYPED_TEST(ThreadKinds, StartRunStopAndRestart) {
    TypeParam().StopThread();  // never started: nothing happens
    std::atomic<int> ended{0};
    {
        auto* other = new TypeParam;
        const CLuStringA name("worker-thread-\xC3\xA9");  // 16 bytes, the last character 2
        TypeParam thread(name);
        ASSERT_TRUE(other->StartThread() == 1 && thread.StartThread() == 1);
        void* handle = thread.GetThreadHandle();
        EXPECT_NE(handle, nullptr);
        EXPECT_EQ(thread.StartThread(), 1);  // already running: nothing new starts
        EXPECT_EQ(thread.GetThreadHandle(), handle);
        delete other;
        CMessageLoop* loop = thread.GetMsgLoop().get();
        ASSERT_NE(loop, nullptr);
        EXPECT_STREQ(loop->GetThreadName().GetString(), name.GetString());
        // Its loop's type: TYPE_DEFAULT 0, TYPE_UI 1, TYPE_IO 2.
        const int type = std::is_same<TypeParam, CThreadUI>::value +
                         2 * std::is_same<TypeParam, CThreadIO>::value;
        EXPECT_EQ(loop->GetType(), type);
        Sleep(150);  // let the pump reach its wait
        for (int delay : {0, 150}) {
            const Time posted = Time::Now();
            Time ranAt;  // stamped when run as the thread's current loop
            ASSERT_TRUE(RunAndWait(
                loop, [&] { ranAt = CMessageLoop::Current() == loop ? Time::Now() : Time(); },
                delay));
            EXPECT_EQ(CMessageLoop::Self(thread.GetThreadId()), loop);
            EXPECT_GE(ranAt.GetValue(), (posted + delay).GetValue());
            EXPECT_LT(ranAt - posted, delay + 1000);  // woken, not found by chance
        }
#if !defined(_WIN32)
        char systemName[32] = {};
        RunAndWait(loop, [&] { pthread_getname_np(pthread_self(), systemName, 32); });
        EXPECT_STREQ(systemName, "worker-thread-");
#endif
        std::string order;  // D falls due while A runs; A posts B
        CWaitableEvent lastRan;
        ASSERT_TRUE(RunAndWait(loop, [&] {
            PostIn(loop, 1, nullptr, [&] { order += 'D'; });
            Post(loop, [&] {
                Sleep(20);
                Post(loop, [&] {
                    order += 'B';
                    lastRan.Signal();
                });
                order += 'A';
            });
        }));
        ASSERT_EQ(lastRan.TimedWait(5000), 1);
        EXPECT_EQ(order, "ADB");

        std::atomic<int> unrun{0}, ran{0};
        std::vector<std::string> calls;  // "+" once the pending task is gone
        auto note = [&](const char* name) {
            return [&, name] { calls.push_back(name + std::string(unrun ? "+" : "")); };
        };
        loop->SubscribeOnDestroy(note("five"), 5);
        loop->SubscribeOnDestroy(note("one-a"), 1);
        boost::signals2::connection dropped = loop->SubscribeOnDestroy(note("gone"), 1);
        loop->SubscribeOnDestroy(note("one-b"), 1);
        dropped.disconnect();
        // A delayed task far away is pending when the stop comes; an immediate
        // one posted before it runs.
        PostIn(loop, 60000, &unrun, [] { ADD_FAILURE() << "ran"; });
        Post(loop, [&] { ++ran; });
        DWORD id = thread.GetThreadId();
        thread.StopThread();
        EXPECT_EQ(calls, std::vector<std::string>({"one-a", "one-b", "five"}));
        EXPECT_EQ(unrun.load(), 1);
        EXPECT_EQ(ran.load(), 1);
        EXPECT_FALSE(thread.GetMsgLoop());
        EXPECT_EQ(thread.GetThreadHandle(), nullptr);
        EXPECT_EQ(thread.GetThreadId(), id);  // kept after the end
        EXPECT_EQ(CMessageLoop::Self(id), nullptr);
        thread.StopThread();  // a second stop does nothing

        for (bool byDestructor : {false, true}) {
            ASSERT_EQ(thread.StartThread(), 1);
            CWaitableEvent ending;
            thread.GetMsgLoop()->SubscribeOnDestroy(
                [&] {
                    ending.Signal();
                    Sleep(100);
                    ++ended;
                },
                0);
            // That stop returns at once, there.
            ASSERT_TRUE(RunAndWait(thread.GetMsgLoop().get(), [&] { thread.StopThread(); }));
            ASSERT_EQ(ending.TimedWait(10000), 1);  // the loop is gone from the object
            if (!byDestructor) {
                thread.StopThread();
                EXPECT_EQ(ended.load(), 1);
                EXPECT_EQ(thread.GetThreadHandle(), nullptr);
            }
        }
    }
    EXPECT_EQ(ended.load(), 2);
}

// Every producer's tasks (of 4 producers) run exactly once and in its posting
// order.
TYPED_TEST(ThreadKinds, ProducersPostingAtOnce) {
    // Fewer for the UI pump, whose window message per wake-up is slow under Wine.
    const int each = std::is_same<TypeParam, CThreadDefault>::value ? 100000
                     : std::is_same<TypeParam, CThreadIO>::value    ? 25000
                                                                    : 10000;
    TypeParam thread;
    ASSERT_EQ(thread.StartThread(), 1);
    std::vector<int> next(4, 0);  // touched only on the loop's thread
    std::atomic<int> outOfOrder{0};
    std::vector<std::thread> threads;
    for (int p = 0; p < 4; ++p) {
        threads.emplace_back([&, p] {
            CMessageLoop* loop = thread.GetMsgLoop().get();
            for (int i = 0; i < each; ++i) {
                Post(loop, [&next, &outOfOrder, p, i] {
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
    EXPECT_EQ(std::vector<int>(4, each), next);
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
const int kWakeCycles = 300;  // 200 posts and 100 stops: a one-in-a-hundred race shows

// Posts [gate], A, D; returns when A runs, which waits for `proceed` (at most
// 20 ms) before it returns.
bool PostBatchAndWaitForA(CMessageLoop* loop, bool gated, CWaitableEvent& proceed,
                          std::atomic<int>* destroyed) {
    CWaitableEvent gateEntered;
    CWaitableEvent gate;
    if (gated) {
        PostIn(loop, 0, destroyed, [&] {
            gateEntered.Signal();
            gate.TimedWait(kPromptly);
        });
        if (gateEntered.TimedWait(kPromptly) != 1) {
            return false;
        }
    }
    CWaitableEvent started;
    PostIn(loop, 0, destroyed, [&] {
        started.Signal();
        proceed.TimedWait(20);
    });
    PostIn(loop, kFarDelay, destroyed, [] {});
    gate.Signal();
    return started.TimedWait(kPromptly) == 1;
}

// Each stop also destroys every task of its loop exactly once, run or not;
// the thread starts again for the next cycle.
TYPED_TEST(ThreadKinds, PostsAndStopsWakeALoopThatHoldsAFarDelayedTask) {
    TypeParam thread;
    std::atomic<int> destroyed{0};
    int posted = 0;
    for (int cycle = 0; cycle < kWakeCycles; ++cycle) {
        const bool gated = cycle % 2 == 0, stop = cycle / 2 % 3 == 2;
        ASSERT_EQ(thread.StartThread(), 1);
        CMessageLoop* loop = thread.GetMsgLoop().get();
        CWaitableEvent proceed;
        ASSERT_TRUE(PostBatchAndWaitForA(loop, gated, proceed, &destroyed)) << cycle;
        posted += (gated ? 3 : 2) + (stop ? 0 : 1);  // [gate], A, D, and B
        const Time stopping = Time::Now();
        if (stop) {
            thread.StopThread();  // its quit task arrives while A runs
            ASSERT_LT(Time::Now() - stopping, kPromptly) << "stop lost in cycle " << cycle;
            ASSERT_EQ(destroyed.load(), posted) << cycle;
            continue;
        }
        CWaitableEvent ran;
        PostIn(loop, 0, &destroyed, [&] { ran.Signal(); });
        proceed.Signal();
        ASSERT_EQ(ran.TimedWait(kPromptly), 1) << "post lost in cycle " << cycle;
    }
}

// The caller of CThreadUI::StopThread owns a window to which the stopping
// thread sends a blocking message while it ends: the caller must keep
// dispatching its messages while it waits. So too after a restart of a thread
// that had stopped itself, whose stop event nobody waited for (it stays
// signalled); there the message is posted and its answer awaited for a while,
// so that a caller that stops dispatching fails the test instead of hanging it.
CWaitableEvent* g_answered = nullptr;
LRESULT CALLBACK CallerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_USER + 8) {
        g_answered->Signal();
    }
    return message == WM_USER + 7 ? 42 : DefWindowProcW(window, message, wParam, lParam);
}

TEST(Threads, UiStopDispatchesTheCallersMessages) {
    const WNDCLASSEXW windowClass = {
        sizeof(windowClass),        0,       CallerWindowProc, 0,       0,
        GetModuleHandleW(nullptr),  nullptr, nullptr,          nullptr, nullptr,
        L"VidozirTestCallerWindow", nullptr};
    RegisterClassExW(&windowClass);
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, nullptr, 0, 0, 0, 0, 0,
                                  HWND_MESSAGE, nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    CWaitableEvent answered;
    g_answered = &answered;
    std::atomic<LRESULT> answer{0}, heard{0};
    {
        CThreadUI thread;
        ASSERT_EQ(thread.StartThread(), 1);
        // The loop's on-destroy subscriber runs on the stopping thread.
        thread.GetMsgLoop()->SubscribeOnDestroy(
            [&] { answer = SendMessageW(window, WM_USER + 7, 0, 0); }, 0);
        thread.StopThread();
        EXPECT_EQ(answer.load(), 42);
        ASSERT_EQ(thread.StartThread(), 1);
        ASSERT_TRUE(RunAndWait(thread.GetMsgLoop().get(), [&] { thread.StopThread(); }));
        // The null handle is the thread's last touch of the object.
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
    UnregisterClassW(windowClass.lpszClassName, windowClass.hInstance);
}

}  // namespace
