// The per-thread message queue engine of the non-Windows platform layer: a
// thread's queue of posted and sent messages, its timers and its windows
// (message-only windows, the only kind there is).
//
// Each thread gets its queue on its first call here, as on Windows. A queue
// is a Waitable, so a message wait is a wait on the caller's handles plus the
// queue. Queue state is guarded by the queue's own lock: a post touches that
// lock and nothing else of the process. Window procedures are always called
// with no lock held. Like Windows, a queue keeps two sets of QS_* bits: the
// kinds of input it holds ("wake" bits) and the kinds that arrived since the
// thread last looked ("changed" bits, cleared by PeekMessageW, GetMessageW and
// GetQueueStatus); a wait without MWMO_INPUTAVAILABLE only ends on changed bits.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/waits_posix.h"
#include "platform/winmsg.h"

namespace vidozir::platform {

using Clock = std::chrono::steady_clock;

// The message filter that selects thread messages only (no window).
inline const HWND kThreadMessagesOnly = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1));
inline constexpr UINT kPostBits = QS_POSTMESSAGE | QS_ALLPOSTMESSAGE;

struct WindowClass {
    std::wstring name;
    HINSTANCE instance;
    WNDPROC proc;
    std::atomic<int> windows{0};  // its live windows
};

class Queue;

struct Window {
    HWND hwnd;
    std::shared_ptr<WindowClass> windowClass;
    DWORD threadId;
    std::weak_ptr<Queue> queue;
    bool destroyed = false;  // guarded by the owning queue's Mutex()
};

// A cross-thread SendMessageW: the sender waits on it until the receiver has
// run the window procedure (or has gone away, which answers 0).
class SentMessage : public Waitable {
public:
    SentMessage(HWND h, UINT m, WPARAM w, LPARAM l) : hwnd(h), message(m), wParam(w), lParam(l) {}
    bool IsSignaledLocked() const override { return done; }

    const HWND hwnd;
    const UINT message;
    const WPARAM wParam;
    const LPARAM lParam;
    LRESULT result = 0;  // guarded by Mutex()
    bool done = false;   // guarded by Mutex()
};

struct Timer {
    HWND hwnd;
    UINT_PTR id;
    DWORD period;
    TIMERPROC proc;
    Clock::time_point due;
    bool reported;  // its due state is in the queue's bits
};

inline MSG MakeMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG msg{};
    msg.hwnd = hwnd;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = GetTickCount();
    return msg;
}

class Queue : public Waitable {
public:
    explicit Queue(DWORD thread) : threadId(thread) {}

    bool IsSignaledLocked() const override {
        return rescan_ || (wakeBits & wakeMask_) != 0 || (changedBits & changedMask_) != 0;
    }

    // Before each wait on the queue: which bits end it.
    void PrepareWaitLocked(UINT wakeMask, UINT changedMask) {
        wakeMask_ = wakeMask;
        changedMask_ = changedMask;
        rescan_ = false;
    }
    bool HasInputLocked() const {
        return (wakeBits & wakeMask_) != 0 || (changedBits & changedMask_) != 0;
    }
    // Another thread changed the timers: the owner's wait recomputes its end.
    void RescanLocked() {
        rescan_ = true;
        NotifyLocked();
    }

    void AddBitsLocked(UINT bits) {
        wakeBits |= bits;
        changedBits |= bits;
        NotifyLocked();
    }

    // After something was taken away: the wake bits follow the contents, and
    // a changed bit only stays while its kind is still queued.
    void RecomputeLocked() {
        UINT bits = 0;
        if (!posted.empty() || quit) {
            bits |= kPostBits;
        }
        if (!sent.empty()) {
            bits |= QS_SENDMESSAGE;
        }
        if (std::any_of(timers.begin(), timers.end(), [](const Timer& t) { return t.reported; })) {
            bits |= QS_TIMER;
        }
        wakeBits = bits;
        changedBits &= bits;
    }

    // Reports the timers that have fallen due; returns the earliest due time
    // of the others (max when none).
    Clock::time_point UpdateTimersLocked(Clock::time_point now) {
        auto next = Clock::time_point::max();
        for (Timer& timer : timers) {
            if (timer.reported) {
                continue;
            }
            if (timer.due <= now) {
                timer.reported = true;
                AddBitsLocked(QS_TIMER);
            } else {
                next = std::min(next, timer.due);
            }
        }
        return next;
    }

    void DropWindowLocked(HWND hwnd) {
        posted.erase(std::remove_if(posted.begin(), posted.end(),
                                    [hwnd](const MSG& m) { return m.hwnd == hwnd; }),
                     posted.end());
        timers.erase(std::remove_if(timers.begin(), timers.end(),
                                    [hwnd](const Timer& t) { return t.hwnd == hwnd; }),
                     timers.end());
        RecomputeLocked();
    }

    const DWORD threadId;
    // Guarded by Mutex():
    bool alive = true;
    std::deque<MSG> posted;
    std::deque<std::shared_ptr<SentMessage>> sent;
    std::vector<Timer> timers;
    bool quit = false;
    int quitCode = 0;
    UINT wakeBits = 0;
    UINT changedBits = 0;
    // Touched only by the owning thread:
    std::vector<HWND> windows;

private:
    UINT wakeMask_ = 0;
    UINT changedMask_ = 0;
    bool rescan_ = false;
};

// The window of a handle, or null. Window handles are never reused, so a
// stale HWND stays invalid.
std::shared_ptr<Window> FindWindowObject(HWND hwnd);
// Gives a new window of the calling thread its handle.
HWND AddWindow(std::shared_ptr<Window> window);
bool DestroyOwnedWindow(Queue& queue, HWND hwnd);

// The calling thread's queue, made on first use.
const std::shared_ptr<Queue>& CurrentQueue();
// The queue of a thread, or null when it has none (yet).
std::shared_ptr<Queue> QueueOfThread(DWORD threadId);

// Queues a posted message; false when the queue or the window has gone.
bool Post(Queue& queue, const MSG& msg, const Window* window);
// Runs every message that other threads sent to this thread's windows.
void ProcessSentMessages(Queue& queue);
// Ends a cross-thread SendMessageW with the window procedure's result.
void Answer(SentMessage& message, LRESULT result);
// Windows' order: sent messages (run, never returned), posted messages, the
// quit message once no posted message is left, then a due timer.
bool Peek(Queue& queue, MSG* out, HWND filter, UINT filterMin, UINT filterMax, bool remove);
// A wait on the handles and the queue; the queue's index is the handle count.
DWORD WaitForInput(const std::shared_ptr<Queue>& self,
                   std::vector<std::shared_ptr<Waitable>> objects, DWORD milliseconds,
                   UINT wakeMask, DWORD flags);

}  // namespace vidozir::platform
