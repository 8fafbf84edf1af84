// Window messages for non-Windows builds (see platform/winmsg.h).
//
// Each thread gets its message queue on its first call here, as on Windows.
// A queue is a Waitable, so a message wait is a wait on the caller's handles
// plus the queue. Queue state is guarded by WaitMutex(); window procedures are
// always called with no lock held. Like Windows, a queue keeps two sets of
// QS_* bits: the kinds of input it holds ("wake" bits) and the kinds that
// arrived since the thread last looked ("changed" bits, cleared by
// PeekMessageW, GetMessageW and GetQueueStatus); a wait without
// MWMO_INPUTAVAILABLE only ends on changed bits.
#include "platform/winmsg.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <string>
#include <unordered_map>

#include "platform/handles_posix.h"

namespace vidozir::platform {

namespace {

using Clock = std::chrono::steady_clock;

const HWND kThreadMessagesOnly = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1));
const UINT kPostBits = QS_POSTMESSAGE | QS_ALLPOSTMESSAGE;

// Class names are stored as their UTF-16 units; compared ignoring ASCII case.
std::wstring ClassName(LPCWSTR name) {
    std::wstring text;
    for (; *name != 0; ++name) {
        text.push_back(*name);
    }
    return text;
}

wchar_t FoldAscii(wchar_t unit) {
    return (unit >= L'a' && unit <= L'z') ? static_cast<wchar_t>(unit - L'a' + L'A') : unit;
}

bool SameClassName(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](wchar_t x, wchar_t y) { return FoldAscii(x) == FoldAscii(y); });
}

// A class name given as an atom (a small integer in the pointer) is not
// supported: nothing here registers or looks up classes by atom.
bool IsAtomName(LPCWSTR name) {
    return reinterpret_cast<uintptr_t>(name) < 0x10000;
}

struct WindowClass {
    std::wstring name;
    HINSTANCE instance;
    WNDPROC proc;
    int windows = 0;  // guarded by the class table's mutex
};

struct ClassTable {
    std::mutex mutex;
    std::vector<std::shared_ptr<WindowClass>> classes;
    unsigned nextAtom = 0;
};

ClassTable& Classes() {
    static ClassTable* table = new ClassTable;  // lives until exit, past thread-local destructors
    return *table;
}

class Queue;

struct Window {
    HWND hwnd;
    std::shared_ptr<WindowClass> windowClass;
    DWORD threadId;
    std::weak_ptr<Queue> queue;
    bool destroyed = false;  // guarded by WaitMutex()
};

// Window handles are never reused, so a stale HWND stays invalid.
struct WindowTable {
    std::mutex mutex;
    std::unordered_map<uintptr_t, std::shared_ptr<Window>> windows;
    uintptr_t next = 0x10000;
};

WindowTable& Windows() {
    static WindowTable* table = new WindowTable;
    return *table;
}

std::shared_ptr<Window> FindWindowObject(HWND hwnd) {
    WindowTable& table = Windows();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.windows.find(reinterpret_cast<uintptr_t>(hwnd));
    return it == table.windows.end() ? nullptr : it->second;
}

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
    LRESULT result = 0;  // guarded by WaitMutex()
    bool done = false;   // guarded by WaitMutex()
};

struct Timer {
    HWND hwnd;
    UINT_PTR id;
    DWORD period;
    TIMERPROC proc;
    Clock::time_point due;
    bool reported;  // its due state is in the queue's bits
};

MSG MakeMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
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
    // Guarded by WaitMutex():
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

struct QueueRegistry {
    std::mutex mutex;
    std::unordered_map<DWORD, std::weak_ptr<Queue>> byThread;
};

QueueRegistry& Registry() {
    static QueueRegistry* registry = new QueueRegistry;
    return *registry;
}

void EndQueue(Queue& queue);

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
    std::lock_guard<std::mutex> lock(WaitMutex());
    message.result = result;
    message.done = true;
    message.NotifyLocked();
}

// Runs every message that other threads sent to this thread's windows.
void ProcessSentMessages(Queue& queue) {
    for (;;) {
        std::shared_ptr<SentMessage> message;
        {
            std::lock_guard<std::mutex> lock(WaitMutex());
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
        std::lock_guard<std::mutex> lock(table.mutex);
        auto it = table.windows.find(reinterpret_cast<uintptr_t>(hwnd));
        if (it == table.windows.end()) {
            return false;
        }
        window = std::move(it->second);
        table.windows.erase(it);
    }
    {
        std::lock_guard<std::mutex> lock(WaitMutex());
        window->destroyed = true;
        queue.DropWindowLocked(hwnd);
    }
    {
        std::lock_guard<std::mutex> lock(Classes().mutex);
        --window->windowClass->windows;
    }
    queue.windows.erase(std::remove(queue.windows.begin(), queue.windows.end(), hwnd),
                        queue.windows.end());
    return true;
}

void EndQueue(Queue& queue) {
    while (!queue.windows.empty()) {
        DestroyOwnedWindow(queue, queue.windows.back());
    }
    {
        std::lock_guard<std::mutex> lock(WaitMutex());
        queue.alive = false;
        for (auto& message : queue.sent) {
            message->done = true;
            message->NotifyLocked();
        }
        queue.sent.clear();
        queue.posted.clear();
        queue.timers.clear();
        queue.RecomputeLocked();
    }
    QueueRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.byThread.erase(queue.threadId);
}

bool Post(Queue& queue, const MSG& msg, const Window* window) {
    std::lock_guard<std::mutex> lock(WaitMutex());
    if (!queue.alive || (window != nullptr && window->destroyed)) {
        return false;
    }
    queue.posted.push_back(msg);
    queue.AddBitsLocked(kPostBits);
    return true;
}

bool Matches(HWND hwnd, UINT message, HWND filter, UINT filterMin, UINT filterMax) {
    if (filter == kThreadMessagesOnly ? hwnd != nullptr : (filter != nullptr && hwnd != filter)) {
        return false;
    }
    return (filterMin == 0 && filterMax == 0) || (message >= filterMin && message <= filterMax);
}

// Windows' order: sent messages (run, never returned), posted messages, the
// quit message once no posted message is left, then a due timer.
bool Peek(Queue& queue, MSG* out, HWND filter, UINT filterMin, UINT filterMax, bool remove) {
    ProcessSentMessages(queue);
    std::lock_guard<std::mutex> lock(WaitMutex());
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
            std::lock_guard<std::mutex> lock(WaitMutex());
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
            std::lock_guard<std::mutex> lock(WaitMutex());
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

std::shared_ptr<Window> WindowOrError(HWND hwnd) {
    auto window = FindWindowObject(hwnd);
    if (!window) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    }
    return window;
}

// Validates a message filter window: null, "thread messages only" or a window.
bool ValidFilter(HWND filter) {
    return filter == nullptr || filter == kThreadMessagesOnly || WindowOrError(filter) != nullptr;
}

}  // namespace

}  // namespace vidozir::platform

using namespace vidozir::platform;

ATOM RegisterClassExW(const WNDCLASSEXW* windowClass) {
    if (windowClass == nullptr || windowClass->cbSize != sizeof(WNDCLASSEXW) ||
        windowClass->lpfnWndProc == nullptr || windowClass->lpszClassName == nullptr ||
        IsAtomName(windowClass->lpszClassName)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto entry = std::make_shared<WindowClass>();
    entry->name = ClassName(windowClass->lpszClassName);
    entry->instance = windowClass->hInstance;
    entry->proc = windowClass->lpfnWndProc;
    ClassTable& table = Classes();
    std::lock_guard<std::mutex> lock(table.mutex);
    for (const auto& existing : table.classes) {
        if (existing->instance == entry->instance && SameClassName(existing->name, entry->name)) {
            SetLastError(ERROR_CLASS_ALREADY_EXISTS);
            return 0;
        }
    }
    table.classes.push_back(std::move(entry));
    // Class atoms live in 0xC000..0xFFFF as on Windows; nothing here looks
    // classes up by atom, so they only need to be nonzero.
    return static_cast<ATOM>(0xC000 + (table.nextAtom++ % 0x4000));
}

BOOL UnregisterClassW(LPCWSTR className, HINSTANCE instance) {
    if (className == nullptr || IsAtomName(className)) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    const std::wstring name = ClassName(className);
    ClassTable& table = Classes();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = std::find_if(table.classes.begin(), table.classes.end(), [&](const auto& c) {
        return c->instance == instance && SameClassName(c->name, name);
    });
    if (it == table.classes.end()) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    if ((*it)->windows != 0) {
        SetLastError(ERROR_CLASS_HAS_WINDOWS);
        return FALSE;
    }
    table.classes.erase(it);
    return TRUE;
}

// There is no display, so the only windows are message-only ones. No
// creation or destruction messages (WM_NCCREATE, WM_CREATE, WM_DESTROY) are
// sent: nothing on this platform handles them.
HWND CreateWindowExW(DWORD, LPCWSTR className, LPCWSTR, DWORD, int, int, int, int, HWND parent,
                     HMENU, HINSTANCE instance, LPVOID) {
    if (parent != HWND_MESSAGE) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    if (className == nullptr || IsAtomName(className)) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    const std::wstring name = ClassName(className);
    std::shared_ptr<WindowClass> windowClass;
    {
        // The class of the given module first, else one of that name from any module.
        ClassTable& table = Classes();
        std::lock_guard<std::mutex> lock(table.mutex);
        for (const auto& c : table.classes) {
            if (SameClassName(c->name, name) && (!windowClass || c->instance == instance)) {
                windowClass = c;
            }
        }
        if (!windowClass) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        ++windowClass->windows;
    }
    Queue& queue = *CurrentQueue();
    auto window = std::make_shared<Window>();
    window->windowClass = std::move(windowClass);
    window->threadId = queue.threadId;
    window->queue = CurrentQueue();
    {
        WindowTable& table = Windows();
        std::lock_guard<std::mutex> lock(table.mutex);
        window->hwnd = reinterpret_cast<HWND>(table.next);
        table.next += 4;
        table.windows.emplace(reinterpret_cast<uintptr_t>(window->hwnd), window);
    }
    queue.windows.push_back(window->hwnd);
    return window->hwnd;
}

BOOL DestroyWindow(HWND hwnd) {
    auto window = WindowOrError(hwnd);
    if (!window) {
        return FALSE;
    }
    if (window->threadId != GetCurrentThreadId()) {
        SetLastError(ERROR_ACCESS_DENIED);  // only the owning thread destroys a window
        return FALSE;
    }
    return DestroyOwnedWindow(*CurrentQueue(), hwnd) ? TRUE : FALSE;
}

BOOL PostMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (hwnd == nullptr) {  // a thread message to the calling thread
        return PostThreadMessageW(GetCurrentThreadId(), message, wParam, lParam);
    }
    auto window = WindowOrError(hwnd);
    if (!window) {
        return FALSE;
    }
    auto queue = window->queue.lock();
    if (!queue || !Post(*queue, MakeMessage(hwnd, message, wParam, lParam), window.get())) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
    auto queue = QueueOfThread(threadId);
    if (!queue || !Post(*queue, MakeMessage(nullptr, message, wParam, lParam), nullptr)) {
        SetLastError(ERROR_INVALID_THREAD_ID);  // no such thread, or it has no queue
        return FALSE;
    }
    return TRUE;
}

LRESULT SendMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto window = WindowOrError(hwnd);
    if (!window) {
        return 0;
    }
    if (window->threadId == GetCurrentThreadId()) {
        return window->windowClass->proc(hwnd, message, wParam, lParam);
    }
    auto target = window->queue.lock();
    const std::shared_ptr<Queue>& self = CurrentQueue();
    auto sent = std::make_shared<SentMessage>(hwnd, message, wParam, lParam);
    {
        std::lock_guard<std::mutex> lock(WaitMutex());
        if (!target || !target->alive || window->destroyed) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        target->sent.push_back(sent);
        target->AddBitsLocked(QS_SENDMESSAGE);
    }
    // While it waits for the answer the sender runs what others send to it,
    // so two threads sending to each other do not deadlock.
    const std::vector<std::shared_ptr<Waitable>> objects{sent, self};
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(WaitMutex());
            self->PrepareWaitLocked(QS_SENDMESSAGE, 0);
        }
        if (WaitForObjects(objects, false, INFINITE) == WAIT_OBJECT_0) {
            break;
        }
        ProcessSentMessages(*self);
    }
    std::lock_guard<std::mutex> lock(WaitMutex());
    return sent->result;
}

void PostQuitMessage(int exitCode) {
    Queue& queue = *CurrentQueue();
    std::lock_guard<std::mutex> lock(WaitMutex());
    queue.quit = true;
    queue.quitCode = exitCode;
    queue.AddBitsLocked(kPostBits);
}

BOOL PeekMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags) {
    if (msg == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!ValidFilter(hwnd)) {
        return FALSE;
    }
    return Peek(*CurrentQueue(), msg, hwnd, filterMin, filterMax, (removeFlags & PM_REMOVE) != 0)
               ? TRUE
               : FALSE;
}

BOOL GetMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax) {
    if (msg == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    if (!ValidFilter(hwnd)) {
        return -1;
    }
    const std::shared_ptr<Queue>& queue = CurrentQueue();
    while (!Peek(*queue, msg, hwnd, filterMin, filterMax, true)) {
        WaitForInput(queue, {}, INFINITE, QS_ALLINPUT, 0);
    }
    return msg->message == WM_QUIT ? FALSE : TRUE;
}

// Only keyboard messages are translated, and there is no keyboard input.
BOOL TranslateMessage(const MSG*) {
    return FALSE;
}

LRESULT DispatchMessageW(const MSG* msg) {
    if (msg == nullptr || msg->hwnd == nullptr) {
        return 0;  // thread messages have no window procedure
    }
    if (msg->message == WM_TIMER && msg->lParam != 0) {
        reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, GetTickCount());
        return 0;
    }
    auto window = WindowOrError(msg->hwnd);
    if (!window) {
        return 0;
    }
    if (window->threadId != GetCurrentThreadId()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    return window->windowClass->proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

// None of the messages that reach these windows has a default action.
LRESULT DefWindowProcW(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

DWORD GetQueueStatus(UINT flags) {
    Queue& queue = *CurrentQueue();
    std::lock_guard<std::mutex> lock(WaitMutex());
    queue.UpdateTimersLocked(Clock::now());
    const DWORD status = ((queue.wakeBits & flags) << 16) | (queue.changedBits & flags);
    queue.changedBits &= ~flags;
    return status;
}

// Only window timers: nothing here uses thread timers (a null window).
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC timerProc) {
    auto window = WindowOrError(hwnd);
    if (!window) {
        return 0;
    }
    auto queue = window->queue.lock();
    const DWORD period = std::clamp<DWORD>(elapse, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
    const Timer timer{hwnd, id, period, timerProc, Clock::now() + std::chrono::milliseconds(period),
                      false};
    std::lock_guard<std::mutex> lock(WaitMutex());
    if (!queue || window->destroyed) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    auto it = std::find_if(queue->timers.begin(), queue->timers.end(),
                           [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
    if (it != queue->timers.end()) {
        *it = timer;  // a new call replaces the earlier timer of the same id
    } else {
        queue->timers.push_back(timer);
    }
    queue->RecomputeLocked();
    if (queue->threadId != GetCurrentThreadId()) {
        queue->RescanLocked();
    }
    return id != 0 ? id : 1;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
    auto window = WindowOrError(hwnd);
    if (!window) {
        return FALSE;
    }
    auto queue = window->queue.lock();
    std::lock_guard<std::mutex> lock(WaitMutex());
    if (!queue) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    auto it = std::find_if(queue->timers.begin(), queue->timers.end(),
                           [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
    if (it == queue->timers.end()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    queue->timers.erase(it);
    queue->RecomputeLocked();
    return TRUE;
}

BOOL WaitMessage() {
    WaitForInput(CurrentQueue(), {}, INFINITE, QS_ALLINPUT, 0);
    return TRUE;
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                DWORD milliseconds, DWORD wakeMask) {
    return MsgWaitForMultipleObjectsEx(count, handles, milliseconds, wakeMask,
                                       waitAll ? MWMO_WAITALL : 0);
}

// Waiting for all handles together with input is not supported: nothing
// here waits that way. There are no APCs, so MWMO_ALERTABLE changes nothing.
DWORD MsgWaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, DWORD milliseconds,
                                  DWORD wakeMask, DWORD flags) {
    if (count >= MAXIMUM_WAIT_OBJECTS || (count != 0 && handles == nullptr) ||
        (flags & MWMO_WAITALL) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::vector<std::shared_ptr<Waitable>> objects;
    objects.reserve(count + 1);
    for (DWORD i = 0; i < count; ++i) {
        auto object = RequireHandle<Waitable>(handles[i]);
        if (!object) {
            return WAIT_FAILED;
        }
        objects.push_back(std::move(object));
    }
    return WaitForInput(CurrentQueue(), std::move(objects), milliseconds, wakeMask, flags);
}
