// The window-message semantics that the UI pump and the thread classes rely
// on. Written against the Win32 calls, so the same tests hold the Linux
// stand-ins to what user32 does.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/win32.h"
#include "support/test_support.h"

namespace {

using Clock = std::chrono::steady_clock;
using Handler = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

constexpr UINT kMsgA = WM_USER + 1;
constexpr UINT kMsgB = WM_USER + 2;
constexpr UINT kMsgC = WM_USER + 3;
constexpr UINT kStop = WM_USER + 9;
const wchar_t kClassName[] = L"VidozirWinMsgTestWnd";

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Each test window's messages (WM_TIMER and from WM_USER on) go to its own
// handler; the rest get the default treatment.
std::mutex g_handlersMutex;
std::map<HWND, Handler> g_handlers;

LRESULT CALLBACK TestWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Handler handler;
    if (message == WM_TIMER || message >= WM_USER) {
        std::lock_guard<std::mutex> lock(g_handlersMutex);
        auto it = g_handlers.find(hwnd);
        if (it != g_handlers.end()) {
            handler = it->second;
        }
    }
    return handler ? handler(hwnd, message, wParam, lParam)
                   : DefWindowProcW(hwnd, message, wParam, lParam);
}

void RegisterTestClass() {
    static const bool registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = TestWndProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kClassName;
        return RegisterClassExW(&wc) != 0;
    }();
    ASSERT_TRUE(registered);
}

// A message-only window of the calling thread.
class TestWindow {
public:
    explicit TestWindow(Handler handler = {}) {
        RegisterTestClass();
        hwnd_ = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
        EXPECT_NE(hwnd_, nullptr);
        std::lock_guard<std::mutex> lock(g_handlersMutex);
        g_handlers[hwnd_] = std::move(handler);
    }
    ~TestWindow() { Destroy(); }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    HWND get() const { return hwnd_; }
    void Destroy() {
        if (alive_) {
            EXPECT_TRUE(DestroyWindow(hwnd_));
            alive_ = false;
            std::lock_guard<std::mutex> lock(g_handlersMutex);
            g_handlers.erase(hwnd_);
        }
    }

private:
    HWND hwnd_ = nullptr;
    bool alive_ = true;
};

// Messages seen by a window procedure, in order, with the thread that ran it.
struct Seen {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    DWORD thread;
};

class Recorder {
public:
    Handler Record(LRESULT result = 0) {
        return [this, result](HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
            std::lock_guard<std::mutex> lock(mutex_);
            seen_.push_back({hwnd, message, wParam, GetCurrentThreadId()});
            return result;
        };
    }
    std::vector<Seen> Take() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::move(seen_);
    }

private:
    std::mutex mutex_;
    std::vector<Seen> seen_;
};

// Each test starts and ends with an empty queue on the test thread.
class WinMsg : public ::testing::Test {
protected:
    void SetUp() override { Drain(); }
    void TearDown() override { Drain(); }
    static void Drain() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
};

// Pumps with GetMessageW until a kStop message arrives.
void PumpUntilStop() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        DispatchMessageW(&msg);
        if (msg.message == kStop) {
            return;
        }
    }
}

// A thread with a window; `run` decides how the thread pumps.
class WindowThread {
public:
    WindowThread(Handler handler, std::function<void()> run) {
        std::promise<HWND> created;
        auto ready = created.get_future();
        thread_ = std::thread([&created, handler = std::move(handler), run = std::move(run)] {
            TestWindow window(handler);
            created.set_value(window.get());
            run();
        });
        hwnd_ = ready.get();
    }
    ~WindowThread() { Join(); }
    HWND get() const { return hwnd_; }
    void Join() {
        if (thread_.joinable()) {
            PostMessageW(hwnd_, kStop, 0, 0);
            thread_.join();
        }
    }

private:
    std::thread thread_;
    HWND hwnd_ = nullptr;
};

TEST_F(WinMsg, PostedMessagesArriveInOrderAtTheirWindows) {
    Recorder recorder;
    TestWindow one(recorder.Record());
    TestWindow two(recorder.Record());
    ASSERT_TRUE(PostMessageW(one.get(), kMsgA, 1, 10));
    ASSERT_TRUE(PostMessageW(two.get(), kMsgB, 2, 20));
    ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), kMsgC, 3, 30));
    ASSERT_TRUE(PostMessageW(one.get(), kMsgA, 4, 40));

    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, kMsgA);  // looked at, left in place
    const struct {
        HWND hwnd;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    } expected[] = {{one.get(), kMsgA, 1, 10},
                    {two.get(), kMsgB, 2, 20},
                    {nullptr, kMsgC, 3, 30},
                    {one.get(), kMsgA, 4, 40}};
    for (const auto& e : expected) {
        ASSERT_EQ(GetMessageW(&msg, nullptr, 0, 0), TRUE);
        EXPECT_EQ(msg.hwnd, e.hwnd);
        EXPECT_EQ(msg.message, e.message);
        EXPECT_EQ(msg.wParam, e.wParam);
        EXPECT_EQ(msg.lParam, e.lParam);
        EXPECT_FALSE(TranslateMessage(&msg));  // nothing to translate in user messages
        DispatchMessageW(&msg);
    }
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));

    auto seen = recorder.Take();
    ASSERT_EQ(seen.size(), 3u);  // the thread message has no window procedure
    EXPECT_EQ(seen[0].hwnd, one.get());
    EXPECT_EQ(seen[0].wParam, 1u);
    EXPECT_EQ(seen[1].hwnd, two.get());
    EXPECT_EQ(seen[2].wParam, 4u);
    EXPECT_EQ(seen[2].thread, GetCurrentThreadId());
}

TEST_F(WinMsg, FiltersTakeMatchingMessagesFirst) {
    TestWindow one;
    TestWindow two;
    PostMessageW(one.get(), kMsgA, 1, 0);
    PostMessageW(two.get(), kMsgB, 2, 0);
    PostMessageW(nullptr, kMsgC, 3, 0);  // a thread message to the caller

    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, two.get(), 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 2u);
    ASSERT_TRUE(PeekMessageW(&msg, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 3u);  // thread messages only
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, kMsgB, kMsgC, PM_REMOVE));
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, kMsgA, kMsgA, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 1u);
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(WinMsg, SendMessageOnTheSameThreadCallsTheProcedureAtOnce) {
    Recorder recorder;
    TestWindow window([&](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        recorder.Record()(hwnd, message, wParam, lParam);
        return static_cast<LRESULT>(wParam * 2 + lParam);
    });
    EXPECT_EQ(SendMessageW(window.get(), kMsgA, 20, 2), 42);
    auto seen = recorder.Take();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].thread, GetCurrentThreadId());
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));  // nothing was queued
}

// How the receiving thread of a cross-thread send waits.
enum class Pump { Get, Peek, MsgWait, WaitMessage };

class WinMsgSend : public ::testing::TestWithParam<Pump> {};

void PumpWith(Pump pump, const std::atomic<bool>& stop) {
    MSG msg;
    while (!stop) {
        switch (pump) {
            case Pump::Get:
                if (GetMessageW(&msg, nullptr, 0, 0) > 0) {
                    DispatchMessageW(&msg);
                }
                continue;
            case Pump::Peek:
                if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                    Sleep(1);
                    continue;
                }
                break;
            case Pump::MsgWait:
                MsgWaitForMultipleObjectsEx(0, nullptr, 5000, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
                if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                    continue;
                }
                break;
            case Pump::WaitMessage:
                WaitMessage();
                if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                    continue;
                }
                break;
        }
        DispatchMessageW(&msg);
    }
}

TEST_P(WinMsgSend, BlocksUntilTheReceiverHasRunTheProcedure) {
    std::atomic<bool> pumping{false};
    std::atomic<bool> stop{false};
    std::atomic<DWORD> ranOn{0};
    std::atomic<DWORD> receiver{0};
    const Pump pump = GetParam();
    WindowThread thread(
        [&](HWND, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
            if (message == kStop) {
                stop = true;
                return 0;
            }
            ranOn = GetCurrentThreadId();
            return static_cast<LRESULT>(wParam + 1);
        },
        [&] {
            receiver = GetCurrentThreadId();
            Sleep(100);  // the sender is blocked meanwhile
            pumping = true;
            PumpWith(pump, stop);
        });
    EXPECT_EQ(SendMessageW(thread.get(), kMsgA, 41, 0), 42);
    EXPECT_TRUE(pumping.load());
    EXPECT_EQ(ranOn.load(), receiver.load());
    EXPECT_NE(ranOn.load(), GetCurrentThreadId());
}

std::string PumpName(const ::testing::TestParamInfo<Pump>& info) {
    static const char* const names[] = {"GetMessage", "PeekMessage", "MsgWait", "WaitMessage"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Receivers, WinMsgSend,
                         ::testing::Values(Pump::Get, Pump::Peek, Pump::MsgWait, Pump::WaitMessage),
                         PumpName);

// Several threads post and send to one window at once; the owner pumps the
// way the UI pump does (wait for available input, then take one message).
TEST_F(WinMsg, ConcurrentPostsAndSendsAllArrive) {
    constexpr int kThreads = 4;
    constexpr int kEach = 300;
    std::atomic<int> posted{0};
    std::atomic<int> sent{0};
    std::atomic<bool> stop{false};
    WindowThread owner(
        [&](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
            if (message == kMsgA) {
                ++posted;
            } else if (message == kMsgB) {
                ++sent;
            } else if (message == kStop) {
                stop = true;
            }
            return 1;
        },
        [&] { PumpWith(Pump::MsgWait, stop); });
    std::vector<std::thread> senders;
    std::atomic<int> answers{0};
    for (int t = 0; t < kThreads; ++t) {
        senders.emplace_back([&] {
            for (int i = 0; i < kEach; ++i) {
                PostMessageW(owner.get(), kMsgA, 0, 0);
                if (i % 10 == 0) {
                    answers += static_cast<int>(SendMessageW(owner.get(), kMsgB, 0, 0));
                }
            }
        });
    }
    for (auto& thread : senders) {
        thread.join();
    }
    owner.Join();
    EXPECT_EQ(posted.load(), kThreads * kEach);
    EXPECT_EQ(sent.load(), kThreads * kEach / 10);
    EXPECT_EQ(answers.load(), sent.load());
}

TEST_F(WinMsg, SendersServeMessagesSentToThemWhileTheyWait) {
    TestWindow mine(
        [](HWND, UINT message, WPARAM, LPARAM) -> LRESULT { return message == kMsgB ? 7 : 0; });
    HWND mineHwnd = mine.get();
    WindowThread other(
        [mineHwnd](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
            // Sends back to the thread that is blocked sending to us.
            return message == kMsgA ? SendMessageW(mineHwnd, kMsgB, 0, 0) + 1 : 0;
        },
        PumpUntilStop);
    EXPECT_EQ(SendMessageW(other.get(), kMsgA, 0, 0), 8);
}

TEST_F(WinMsg, WindowsEndWithTheirThread) {
    HWND orphan = nullptr;
    std::thread([&] {
        RegisterTestClass();
        orphan = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    }).join();
    ASSERT_NE(orphan, nullptr);
    SetLastError(0);
    EXPECT_FALSE(PostMessageW(orphan, kMsgA, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(SendMessageW(orphan, kMsgA, 0, 0), 0);
}

TEST_F(WinMsg, PostThreadMessageNeedsTheThreadsQueue) {
    std::promise<void> queueMade;
    std::atomic<DWORD> id{0};
    std::atomic<WPARAM> got{0};
    std::thread receiver([&] {
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // makes the queue
        id = GetCurrentThreadId();
        queueMade.set_value();
        if (GetMessageW(&msg, nullptr, 0, 0) > 0 && msg.message == kMsgA) {
            got = msg.wParam;
        }
    });
    queueMade.get_future().wait();
    EXPECT_TRUE(PostThreadMessageW(id, kMsgA, 5, 0));
    receiver.join();
    EXPECT_EQ(got.load(), 5u);

    std::promise<DWORD> started;
    std::promise<void> release;
    std::thread bare([&] {
        started.set_value(GetCurrentThreadId());
        release.get_future().wait();
    });
    const DWORD bareId = started.get_future().get();
    SetLastError(0);
    EXPECT_FALSE(PostThreadMessageW(bareId, kMsgA, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_THREAD_ID));
    release.set_value();
    bare.join();
}

TEST_F(WinMsg, TimersFireWhenDueAndRearm) {
    constexpr UINT kPeriod = 40;
    TestWindow window;
    const auto start = Clock::now();
    ASSERT_EQ(SetTimer(window.get(), 5, kPeriod, nullptr), 5u);
    std::vector<long long> times;
    MSG msg;
    while (times.size() < 3 && GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER) {
            EXPECT_EQ(msg.hwnd, window.get());
            EXPECT_EQ(msg.wParam, 5u);
            times.push_back(MsSince(start));
        }
    }
    // Never early (a millisecond for clock rounding): the timer keeps the
    // schedule it got from SetTimer.
    for (size_t i = 0; i < times.size(); ++i) {
        EXPECT_GE(times[i], static_cast<long long>((i + 1) * kPeriod) - 1) << i;
    }
    // Periods that pass while nobody looks give one WM_TIMER, not several.
    Sleep(4 * kPeriod);
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_TIMER));
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));

    EXPECT_TRUE(KillTimer(window.get(), 5));
    EXPECT_FALSE(KillTimer(window.get(), 5));
    EXPECT_EQ(
        MsgWaitForMultipleObjectsEx(0, nullptr, 3 * kPeriod, QS_ALLINPUT, MWMO_INPUTAVAILABLE),
        static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(WinMsg, TimerMessagesComeAfterPostedMessages) {
    TestWindow window;
    // Periods far above a loaded machine's stall between two peeks (each a
    // wineserver round trip under Wine), so "not due again" cannot flip.
    SetTimer(window.get(), 1, 200, nullptr);
    Sleep(250);  // due
    PostMessageW(window.get(), kMsgA, 0, 0);
    PostMessageW(window.get(), kMsgB, 0, 0);
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, kMsgA);
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, kMsgB);
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_TIMER));
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));  // re-armed, not due
    KillTimer(window.get(), 1);
    // Of two due timers, the one due first comes first.
    SetTimer(window.get(), 2, 200, nullptr);
    SetTimer(window.get(), 3, 10, nullptr);
    Sleep(250);
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 3u);
    KillTimer(window.get(), 2);
    KillTimer(window.get(), 3);
}

TEST_F(WinMsg, SettingATimerAgainReplacesIt) {
    TestWindow window;
    SetTimer(window.get(), 1, 20, nullptr);
    SetTimer(window.get(), 1, 5000, nullptr);
    Sleep(80);
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_TRUE(KillTimer(window.get(), 1));
}

TEST_F(WinMsg, QuitComesAfterPostedMessagesWithItsExitCode) {
    TestWindow window;
    PostMessageW(window.get(), kMsgA, 0, 0);
    PostQuitMessage(7);
    PostMessageW(window.get(), kMsgB, 0, 0);
    EXPECT_NE(HIWORD(GetQueueStatus(QS_POSTMESSAGE)) & QS_POSTMESSAGE, 0);
    MSG msg;
    ASSERT_EQ(GetMessageW(&msg, nullptr, 0, 0), TRUE);
    EXPECT_EQ(msg.message, kMsgA);
    ASSERT_EQ(GetMessageW(&msg, nullptr, 0, 0), TRUE);
    EXPECT_EQ(msg.message, kMsgB);
    ASSERT_EQ(GetMessageW(&msg, nullptr, 0, 0), FALSE);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 7u);
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));  // taken once
    // No filter of window or range holds it back.
    for (HWND filter : {static_cast<HWND>(nullptr), window.get()}) {
        PostQuitMessage(8);
        ASSERT_TRUE(PeekMessageW(&msg, filter, kMsgA, kMsgA, PM_REMOVE));
        EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
        EXPECT_EQ(msg.wParam, 8u);
    }
}

TEST_F(WinMsg, QueueStatusTellsWhatIsQueuedAndWhatIsNew) {
    TestWindow window;
    const UINT kKinds = QS_POSTMESSAGE | QS_TIMER | QS_SENDMESSAGE;
    EXPECT_EQ(GetQueueStatus(kKinds), 0u);

    PostMessageW(window.get(), kMsgA, 0, 0);
    DWORD status = GetQueueStatus(QS_POSTMESSAGE);
    EXPECT_EQ(HIWORD(status), QS_POSTMESSAGE);  // queued
    EXPECT_EQ(LOWORD(status), QS_POSTMESSAGE);  // and new
    status = GetQueueStatus(QS_POSTMESSAGE);
    EXPECT_EQ(HIWORD(status), QS_POSTMESSAGE);
    EXPECT_EQ(LOWORD(status), 0);  // seen by the previous call

    // A wait for new input ignores what was seen; one for available input not.
    EXPECT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_ALLINPUT, 0),
              static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_ALLINPUT, MWMO_INPUTAVAILABLE),
              static_cast<DWORD>(WAIT_OBJECT_0));
    PostMessageW(window.get(), kMsgB, 0, 0);
    EXPECT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_ALLINPUT, 0),
              static_cast<DWORD>(WAIT_OBJECT_0));
    WinMsg::Drain();
    EXPECT_EQ(HIWORD(GetQueueStatus(kKinds)), 0);

    SetTimer(window.get(), 1, 10, nullptr);
    Sleep(40);
    EXPECT_EQ(HIWORD(GetQueueStatus(kKinds)), QS_TIMER);
    KillTimer(window.get(), 1);
    EXPECT_EQ(HIWORD(GetQueueStatus(kKinds)), 0);

#if !defined(_WIN32)
    EXPECT_EQ(GetQueueStatus(QS_MOUSE), 0u);  // no mouse here, ever
#endif
}

TEST_F(WinMsg, QueueStatusShowsAMessageSentFromAnotherThread) {
    std::atomic<bool> handled{false};
    TestWindow window([&](HWND, UINT, WPARAM, LPARAM) -> LRESULT {
        handled = true;
        return 3;
    });
    std::atomic<LRESULT> result{0};
    std::thread sender([&] { result = SendMessageW(window.get(), kMsgA, 0, 0); });
    const auto start = Clock::now();
    while (!(HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) && MsSince(start) < 5000) {
        Sleep(1);
    }
    EXPECT_FALSE(handled.load());  // the status call delivers nothing
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));  // delivers it, returns none
    EXPECT_TRUE(handled.load());
    sender.join();
    EXPECT_EQ(result.load(), 3);
    EXPECT_EQ(HIWORD(GetQueueStatus(QS_SENDMESSAGE)), 0);
}

TEST_F(WinMsg, MessagesToADestroyedWindowAreDropped) {
    Recorder recorder;
    TestWindow window(recorder.Record(5));
    const HWND hwnd = window.get();
    PostMessageW(hwnd, kMsgA, 0, 0);
    PostThreadMessageW(GetCurrentThreadId(), kMsgC, 0, 0);
    PostMessageW(hwnd, kMsgB, 0, 0);
    SetTimer(hwnd, 1, 10, nullptr);
    window.Destroy();
    Sleep(40);

    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, kMsgC);
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));  // nor a timer

    SetLastError(0);
    EXPECT_FALSE(PostMessageW(hwnd, kMsgA, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(SendMessageW(hwnd, kMsgA, 0, 0), 0);
    EXPECT_FALSE(DestroyWindow(hwnd));
    EXPECT_TRUE(recorder.Take().empty());
}

TEST_F(WinMsg, MsgWaitWakesForHandlesAndForInput) {
    TestWindow window;
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);

    auto start = Clock::now();
    EXPECT_EQ(MsgWaitForMultipleObjectsEx(1, &event, 60, QS_ALLINPUT, MWMO_INPUTAVAILABLE),
              static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_GE(MsSince(start), 59);

    std::thread setter([&] {
        Sleep(30);
        SetEvent(event);
    });
    start = Clock::now();
    EXPECT_EQ(MsgWaitForMultipleObjectsEx(1, &event, 5000, QS_ALLINPUT, MWMO_INPUTAVAILABLE),
              static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_LT(MsSince(start), 4000);
    setter.join();

    std::thread poster([&] {
        Sleep(30);
        PostMessageW(window.get(), kMsgA, 0, 0);
    });
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 5000, QS_ALLINPUT),
              static_cast<DWORD>(WAIT_OBJECT_0 + 1));
    poster.join();

    // Handles come before input when both are there.
    SetEvent(event);
    EXPECT_EQ(MsgWaitForMultipleObjectsEx(1, &event, 0, QS_ALLINPUT, MWMO_INPUTAVAILABLE),
              static_cast<DWORD>(WAIT_OBJECT_0));
    WinMsg::Drain();

    // Input outside the wake mask does not end the wait; a timer does.
    PostMessageW(window.get(), kMsgA, 0, 0);
    start = Clock::now();  // before the timer starts: a preemption must not shorten the count
    SetTimer(window.get(), 1, 30, nullptr);
    EXPECT_EQ(MsgWaitForMultipleObjectsEx(1, &event, 5000, QS_TIMER, 0),
              static_cast<DWORD>(WAIT_OBJECT_0 + 1));
    EXPECT_GE(MsSince(start), 29);
    KillTimer(window.get(), 1);

    // WaitMessage ends only for new input: kMsgA, once looked at, is not.
    GetQueueStatus(QS_ALLINPUT);
    start = Clock::now();  // before the poster starts its count, for the same reason
    std::thread late([&] {
        Sleep(30);
        PostMessageW(window.get(), kMsgB, 0, 0);
    });
    EXPECT_TRUE(WaitMessage());
    EXPECT_GE(MsSince(start), 29);
    late.join();
    MSG msg;
    EXPECT_TRUE(PeekMessageW(&msg, nullptr, kMsgB, kMsgB, PM_REMOVE));
    CloseHandle(event);
}

// A modal loop (a nested GetMessageW/DispatchMessageW loop, as a dialog runs)
// inside a window procedure still delivers posted messages and timers.
TEST_F(WinMsg, NestedModalLoopDispatchesMessagesAndTimers) {
    constexpr UINT kModal = WM_USER + 20;
    constexpr UINT kEndModal = WM_USER + 21;
    std::vector<UINT> order;
    std::atomic<bool> inModal{false};
    TestWindow window([&](HWND hwnd, UINT message, WPARAM, LPARAM) -> LRESULT {
        order.push_back(message);
        if (message == WM_TIMER) {
            KillTimer(hwnd, 9);
            PostMessageW(hwnd, kEndModal, 0, 0);
        } else if (message == kModal) {
            SetTimer(hwnd, 9, 60, nullptr);
            inModal = true;
            MSG msg;
            while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
                DispatchMessageW(&msg);
                if (msg.message == kEndModal) {
                    break;
                }
            }
            order.push_back(0);  // the modal loop ended
        }
        return 0;
    });
    std::thread poster([&] {
        while (!inModal) {
            Sleep(1);
        }
        PostMessageW(window.get(), kMsgA, 0, 0);
        PostMessageW(window.get(), kMsgB, 0, 0);
    });
    PostMessageW(window.get(), kModal, 0, 0);
    MSG msg;
    ASSERT_EQ(GetMessageW(&msg, nullptr, 0, 0), TRUE);
    DispatchMessageW(&msg);  // returns when the modal loop ends
    poster.join();
    const std::vector<UINT> expected{kModal, kMsgA, kMsgB, WM_TIMER, kEndModal, 0};
    EXPECT_EQ(order, expected);
}

TEST_F(WinMsg, WindowClassesAreRegisteredOncePerName) {
    const wchar_t name[] = L"VidozirWinMsgClassTest";
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = TestWndProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = name;
    ASSERT_NE(RegisterClassExW(&wc), 0);
    SetLastError(0);
    EXPECT_EQ(RegisterClassExW(&wc), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));

    // Class names ignore case.
    HWND hwnd = CreateWindowExW(0, L"vidozirwinmsgclasstest", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                nullptr, wc.hInstance, nullptr);
    ASSERT_NE(hwnd, nullptr);
    SetLastError(0);
    EXPECT_FALSE(UnregisterClassW(name, wc.hInstance));  // a window still uses it
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_HAS_WINDOWS));
    EXPECT_TRUE(DestroyWindow(hwnd));
    EXPECT_TRUE(UnregisterClassW(name, wc.hInstance));
    SetLastError(0);
    EXPECT_FALSE(UnregisterClassW(name, wc.hInstance));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_DOES_NOT_EXIST));
    EXPECT_EQ(
        CreateWindowExW(0, name, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr),
        nullptr);
}

}  // namespace
