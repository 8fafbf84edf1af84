// The window-message pump of a UI loop.
#include <climits>

#include "msgloop/pump_wait.h"
#include "platform/win32.h"
#include "vidozir/msgloop.h"

namespace VidOzir {

namespace {

const wchar_t kClassName[] = L"OrvoDiskMsgPumpWnd";
const UINT kWorkMessage = WM_USER + 1000;
const int kShortestTimer = 10;  // ms
const DWORD kIdleWait = 100;    // ms

// Milliseconds until `due`, limited to the range of int and raised to 0.
int DelayUntil(const Time& due) {
    int delay = MillisecondsUntil(due);
    return delay < 0 ? 0 : delay;
}

}  // namespace

// Everything the window procedure does, with access to the pump's members.
struct PumpUIAccess {
    static UINT_PTR TimerId(CMessagePumpUI* pump) { return reinterpret_cast<UINT_PTR>(pump); }

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == kWorkMessage || message == WM_TIMER) {
            auto* pump = reinterpret_cast<CMessagePumpUI*>(wParam);
            if (pump != nullptr && pump->m_bQuit == 0) {
                if (message == kWorkMessage) {
                    HandleWork(pump);
                } else {
                    HandleTimer(pump);
                }
            }
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    static void HandleWork(CMessagePumpUI* pump) {
        if (pump->m_pDelegate == nullptr) {
            InterlockedExchange(&pump->m_lHaveWork, 0);
            return;
        }
        // One waiting window message per work message, so a stream of posted
        // tasks cannot starve the thread's windows.
        MSG msg;
        BOOL taken = PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);
        InterlockedExchange(&pump->m_lHaveWork, 0);
        if (taken) {
            pump->NotifyWork();
            ProcessMessage(pump, msg);
        }
        if (DoWorkAfterWakeUp(pump->m_pDelegate)) {
            pump->NotifyWork();
        }
    }

    static void HandleTimer(CMessagePumpUI* pump) {
        KillTimer(pump->m_hWnd, TimerId(pump));
        if (pump->m_pDelegate == nullptr) {
            return;
        }
        pump->m_pDelegate->DoDelayedWork(&pump->m_timeNextDelayed);
        if (!pump->m_timeNextDelayed.IsNull()) {
            pump->SetNextDelayedTime(pump->m_timeNextDelayed);
        }
    }

    // Returns whether more work is likely.
    static int ProcessMessage(CMessagePumpUI* pump, const MSG& msg) {
        if (msg.message == WM_QUIT) {
            // Stop, and leave the quit for the thread's outer loop too.
            pump->m_bQuit = 1;
            PostQuitMessage(static_cast<int>(msg.wParam));
            return 0;
        }
        if (msg.message == kWorkMessage && msg.hwnd == pump->m_hWnd) {
            // Run calls DoWork itself: exchange the work message for another.
            MSG next;
            BOOL taken = PeekMessageW(&next, nullptr, 0, 0, PM_REMOVE);
            InterlockedExchange(&pump->m_lHaveWork, 0);
            if (!taken) {
                return 0;
            }
            pump->NotifyWork();
            return ProcessMessage(pump, next);
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
        return 1;
    }

    static int ProcessNextWindowMessage(CMessagePumpUI* pump) {
        const bool sentPending = (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0;
        MSG msg;
        if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            return ProcessMessage(pump, msg);
        }
        return sentPending ? 1 : 0;
    }

    static void WaitForWork(CMessagePumpUI* pump) {
        DWORD timeout = pump->m_timeNextDelayed.IsNull()
                            ? kIdleWait
                            : static_cast<DWORD>(DelayUntil(pump->m_timeNextDelayed));
        DWORD result =
            MsgWaitForMultipleObjectsEx(0, nullptr, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (result == WAIT_OBJECT_0) {
            // Mouse input that belongs to another thread's window attached to
            // our input would wake us again and again: wait for real input.
            MSG msg;
            if ((HIWORD(GetQueueStatus(QS_MOUSE)) & QS_MOUSE) != 0 &&
                !PeekMessageW(&msg, nullptr, WM_MOUSEFIRST, 0x20D, PM_NOREMOVE)) {
                WaitMessage();
            }
        }
    }
};

CMessagePumpUI::CMessagePumpUI()
    : m_bQuit(0), m_lHaveWork(0), m_hWnd(nullptr), m_pDelegate(nullptr) {
    // The executable's module handle, as the class must outlive any one
    // pump's window; a second pump reuses the class the first registered.
    HINSTANCE module = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = &PumpUIAccess::WindowProc;
    windowClass.hInstance = module;
    windowClass.lpszClassName = kClassName;
    RegisterClassExW(&windowClass);
    m_hWnd = CreateWindowExW(0, kClassName, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module,
                             nullptr);
}

CMessagePumpUI::~CMessagePumpUI() {
    DestroyWindow(m_hWnd);
    // Fails, harmlessly, while another pump's window still uses the class.
    UnregisterClassW(kClassName, GetModuleHandleW(nullptr));
}

void CMessagePumpUI::Run(Delegate* delegate) {
    m_pDelegate = delegate;
    PumpUIAccess::ProcessNextWindowMessage(this);
    if (m_bQuit) {
        return;
    }
    for (;;) {
        int work = DoWorkAfterWakeUp(delegate);
        if (m_bQuit) {
            return;
        }
        work |= delegate->DoDelayedWork(&m_timeNextDelayed);
        if (work && m_timeNextDelayed.IsNull()) {
            KillTimer(m_hWnd, PumpUIAccess::TimerId(this));  // no delayed work is left
        }
        if (m_bQuit) {
            return;
        }
        if (!work) {
            PumpUIAccess::WaitForWork(this);
        }
        PumpUIAccess::ProcessNextWindowMessage(this);
        if (m_bQuit) {
            return;
        }
    }
}

void CMessagePumpUI::Quit() {
    m_bQuit = 1;
}

void CMessagePumpUI::NotifyWork() {
    if (RaiseWakeFlag(&m_lHaveWork)) {
        PostMessageW(m_hWnd, kWorkMessage, reinterpret_cast<WPARAM>(this), 0);
    }
}

void CMessagePumpUI::SetNextDelayedTime(const Time& time) {
    m_timeNextDelayed = time;
    int delay = time.IsNull() ? kShortestTimer : DelayUntil(time);
    if (delay < kShortestTimer) {
        delay = kShortestTimer;
    }
    SetTimer(m_hWnd, PumpUIAccess::TimerId(this), static_cast<UINT>(delay), nullptr);
}

}  // namespace VidOzir
