// Window messages for non-Windows builds (see platform/winmsg.h): window
// classes and the Win32 calls, on the message queue engine
// (platform/message_queue_posix.h).
#include "platform/winmsg.h"

#include <algorithm>
#include <mutex>
#include <string>

#include "platform/message_queue_posix.h"

namespace vidozir::platform {

namespace {

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

struct ClassTable {
    std::mutex mutex;
    std::vector<std::shared_ptr<WindowClass>> classes;
    unsigned nextAtom = 0;
};

ClassTable& Classes() {
    static ClassTable* table = new ClassTable;  // lives until exit, past thread-local destructors
    return *table;
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
    auto window = std::make_shared<Window>();
    window->windowClass = std::move(windowClass);
    window->threadId = CurrentQueue()->threadId;
    window->queue = CurrentQueue();
    return AddWindow(std::move(window));
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
    if (!target) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    {
        std::lock_guard<std::mutex> lock(target->Mutex());
        if (!target->alive || window->destroyed) {
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
            std::lock_guard<std::mutex> lock(self->Mutex());
            self->PrepareWaitLocked(QS_SENDMESSAGE, 0);
        }
        if (WaitForObjects(objects, false, INFINITE) == WAIT_OBJECT_0) {
            break;
        }
        ProcessSentMessages(*self);
    }
    std::lock_guard<std::mutex> lock(sent->Mutex());
    return sent->result;
}

void PostQuitMessage(int exitCode) {
    Queue& queue = *CurrentQueue();
    std::lock_guard<std::mutex> lock(queue.Mutex());
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
    std::lock_guard<std::mutex> lock(queue.Mutex());
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
    if (!queue) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    std::lock_guard<std::mutex> lock(queue->Mutex());
    if (window->destroyed) {
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
    if (!queue) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(queue->Mutex());
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
