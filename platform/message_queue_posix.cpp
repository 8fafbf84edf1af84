// The per-thread message queue engine (see platform/message_queue_posix.h).
#include "platform/message_queue_posix.h"

#include <mutex>
#include <shared_mutex>
#include <unordered_map>

namespace vidozir::platform {

void EndQueue(Queue& queue);

namespace {

// Looked up on every post to a window: readers share the lock.
struct WindowTable {
    std::shared_mutex mutex;
    std::unordered_map<uintptr_t, std::shared_ptr<Window>> windows;
    uintptr_t next = 0x10000;
};

WindowTable& Windows() {
    static WindowTable* table = new WindowTable;
    return *table;
}

struct QueueRegistry {
    std::mutex mutex;
    std::unordered_map<DWORD, std::weak_ptr<Queue>> byThread;
};

QueueRegistry& Registry() {
    static QueueRegistry* registry = new QueueRegistry;
    return *registry;
}

// The calling thread's queue; its end destroys the thread's windows and
// answers the messages still sent to it, as Windows does at a thread's end.
struct ThreadQueue {
    std::shared_ptr<Queue> queue;
    ~ThreadQueue() {
        if (queue) {
            EndQueue(*queue);
        }
    }
};
thread_local ThreadQueue t_queue;

}  // namespace

std::shared_ptr<Window> FindWindowObject(HWND hwnd) {
    WindowTable& table = Windows();
    std::shared_lock<std::shared_mutex> lock(table.mutex);
    auto it = table.windows.find(reinterpret_cast<uintptr_t>(hwnd));
    return it == table.windows.end() ? nullptr : it->second;
}

HWND AddWindow(std::shared_ptr<Window> window) {
    {
        WindowTable& table = Windows();
        std::lock_guard<std::shared_mutex> lock(table.mutex);
        window->hwnd = reinterpret_cast<HWND>(table.next);
        table.next += 4;
        table.windows.emplace(reinterpret_cast<uintptr_t>(window->hwnd), window);
    }
    CurrentQueue()->windows.push_back(window->hwnd);
    return window->hwnd;
}

const std::shared_ptr<Queue>& CurrentQueue() {
    if (!t_queue.queue) {
        auto queue = std::make_shared<Queue>(GetCurrentThreadId());
        QueueRegistry& registry = Registry();
        std::lock_guard<std::mutex> lock(registry.mutex);
        registry.byThread[queue->threadId] = queue;
        t_queue.queue = std::move(queue);
    }
    return t_queue.queue;
}

std::shared_ptr<Queue> QueueOfThread(DWORD threadId) {
    if (threadId == GetCurrentThreadId()) {
        CurrentQueue();
    }
    QueueRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto it = registry.byThread.find(threadId);
    return it == registry.byThread.end() ? nullptr : it->second.lock();
}

void Answer(SentMessage& message, LRESULT result) {
    std::lock_guard<std::mutex> lock(message.Mutex());
    message.result = result;
    message.done = true;
    message.NotifyLocked();
}

// Runs every message that other threads sent to this thread's windows.
void ProcessSentMessages(Queue& queue) {
    for (;;) {
        std::shared_ptr<SentMessage> message;
        {
            std::lock_guard<std::mutex> lock(queue.Mutex());
            if (queue.sent.empty()) {
                return;
            }
            message = std::move(queue.sent.front());
            queue.sent.pop_front();
            queue.RecomputeLocked();
        }
        LRESULT result = 0;  // a window destroyed meanwhile answers 0
        auto window = FindWindowObject(message->hwnd);
        if (window && window->threadId == queue.threadId) {
            result = window->windowClass->proc(message->hwnd, message->message, message->wParam,
                                               message->lParam);
        }
        Answer(*message, result);
    }
}

bool DestroyOwnedWindow(Queue& queue, HWND hwnd) {
    std::shared_ptr<Window> window;
    {
        WindowTable& table = Windows();
        std::lock_guard<std::shared_mutex> lock(table.mutex);
        auto it = table.windows.find(reinterpret_cast<uintptr_t>(hwnd));
        if (it == table.windows.end()) {
            return false;
        }
        window = std::move(it->second);
        table.windows.erase(it);
    }
    {
        std::lock_guard<std::mutex> lock(queue.Mutex());
        window->destroyed = true;
        queue.DropWindowLocked(hwnd);
    }
    --window->windowClass->windows;
    queue.windows.erase(std::remove(queue.windows.begin(), queue.windows.end(), hwnd),
                        queue.windows.end());
    return true;
}

void EndQueue(Queue& queue) {
    while (!queue.windows.empty()) {
        DestroyOwnedWindow(queue, queue.windows.back());
    }
    std::deque<std::shared_ptr<SentMessage>> unanswered;
    {
        std::lock_guard<std::mutex> lock(queue.Mutex());
        queue.alive = false;
        unanswered.swap(queue.sent);
        queue.posted.clear();
        queue.timers.clear();
        queue.RecomputeLocked();
    }
    for (auto& message : unanswered) {
        Answer(*message, 0);
    }
    QueueRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.byThread.erase(queue.threadId);
}

bool Post(Queue& queue, const MSG& msg, const Window* window) {
    std::lock_guard<std::mutex> lock(queue.Mutex());
    if (!queue.alive || (window != nullptr && window->destroyed)) {
        return false;
    }
    queue.posted.push_back(msg);
    queue.AddBitsLocked(kPostBits);
    return true;
}

namespace {

bool Matches(HWND hwnd, UINT message, HWND filter, UINT filterMin, UINT filterMax) {
    if (filter == kThreadMessagesOnly ? hwnd != nullptr : (filter != nullptr && hwnd != filter)) {
        return false;
    }
    return (filterMin == 0 && filterMax == 0) || (message >= filterMin && message <= filterMax);
}

}  // namespace

// Windows' order: sent messages (run, never returned), posted messages, the
// quit message once no posted message is left, then a due timer.
bool Peek(Queue& queue, MSG* out, HWND filter, UINT filterMin, UINT filterMax, bool remove) {
    ProcessSentMessages(queue);
    std::lock_guard<std::mutex> lock(queue.Mutex());
    const auto now = Clock::now();
    queue.UpdateTimersLocked(now);
    const bool unfiltered = filter == nullptr && filterMin == 0 && filterMax == 0;
    // A sent message that arrived after the run above stays news for a wait.
    queue.changedBits &= QS_SENDMESSAGE | (unfiltered ? 0 : QS_ALLPOSTMESSAGE);

    for (auto it = queue.posted.begin(); it != queue.posted.end(); ++it) {
        if (Matches(it->hwnd, it->message, filter, filterMin, filterMax)) {
            *out = *it;
            if (remove) {
                queue.posted.erase(it);
                queue.RecomputeLocked();
            }
            return true;
        }
    }
    if (queue.quit) {  // not subject to the filter, as on Windows
        *out = MakeMessage(nullptr, WM_QUIT, static_cast<WPARAM>(queue.quitCode), 0);
        if (remove) {
            queue.quit = false;
            queue.RecomputeLocked();
        }
        return true;
    }
    Timer* due = nullptr;
    for (Timer& timer : queue.timers) {
        if (timer.reported && Matches(timer.hwnd, WM_TIMER, filter, filterMin, filterMax) &&
            (due == nullptr || timer.due < due->due)) {
            due = &timer;
        }
    }
    if (due == nullptr) {
        return false;
    }
    *out = MakeMessage(due->hwnd, WM_TIMER, due->id, reinterpret_cast<LPARAM>(due->proc));
    if (remove) {
        // The timer keeps its schedule; periods missed meanwhile give no
        // further WM_TIMER, as on Windows.
        const auto period = std::chrono::milliseconds(due->period);
        due->due += ((now - due->due) / period + 1) * period;
        due->reported = false;
        queue.RecomputeLocked();
    }
    return true;
}

namespace {

DWORD MillisecondsUntil(Clock::time_point until) {
    if (until == Clock::time_point::max()) {
        return INFINITE;
    }
    const auto left = until - Clock::now();
    if (left <= Clock::duration::zero()) {
        return 0;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<DWORD>(std::min<long long>(ms, INFINITE - 1));
}

}  // namespace

// A wait on the handles and the queue; the queue's index is the handle count.
// Timers fall due by time, so the wait ends at the next due time to report it.
DWORD WaitForInput(const std::shared_ptr<Queue>& self,
                   std::vector<std::shared_ptr<Waitable>> objects, DWORD milliseconds,
                   UINT wakeMask, DWORD flags) {
    Queue& queue = *self;
    const auto deadline = DeadlineAfter(milliseconds);
    const DWORD queueIndex = WAIT_OBJECT_0 + static_cast<DWORD>(objects.size());
    objects.push_back(self);
    for (;;) {
        Clock::time_point nextTimer;
        {
            std::lock_guard<std::mutex> lock(queue.Mutex());
            nextTimer = queue.UpdateTimersLocked(Clock::now());
            queue.PrepareWaitLocked((flags & MWMO_INPUTAVAILABLE) ? wakeMask : 0, wakeMask);
        }
        const DWORD result =
            WaitForObjects(objects, false, MillisecondsUntil(std::min(deadline, nextTimer)));
        if (result == WAIT_TIMEOUT) {
            if (Clock::now() >= deadline) {
                return WAIT_TIMEOUT;
            }
            continue;  // a timer may be due
        }
        if (result != queueIndex) {
            return result;
        }
        {
            std::lock_guard<std::mutex> lock(queue.Mutex());
            if (!queue.HasInputLocked()) {
                continue;  // only woken to look at the timers again
            }
        }
        // The waiting thread is a place where sent messages are delivered, so
        // their senders go on at once rather than after the next PeekMessageW.
        if (wakeMask & QS_SENDMESSAGE) {
            ProcessSentMessages(queue);
        }
        return result;
    }
}
}  // namespace vidozir::platform
