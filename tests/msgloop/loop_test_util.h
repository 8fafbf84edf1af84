// Tasks, and the headers, shared by the message-loop tests.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/win32.h"
#include "vidozir/foundation.h"
#include "vidozir/msgloop.h"

namespace msgloop_test {

// Runs a function; calls another when destroyed, run or not.
class FnTask : public VidOzir::CTask {
public:
    FnTask(std::function<void()> run, std::function<void()> gone)
        : m_run(std::move(run)), m_gone(std::move(gone)) {}
    ~FnTask() override { m_gone(); }
    void Run() override { m_run(); }

private:
    std::function<void()> m_run, m_gone;
};

// Posts a task that counts its destruction in `destroyed` (if given).
inline void PostIn(VidOzir::CMessageLoop* loop, int delay, std::atomic<int>* destroyed,
                   std::function<void()> run) {
    loop->PostTask(new FnTask(std::move(run), [destroyed] { destroyed ? ++*destroyed : 0; }),
                   delay);
}
inline void Post(VidOzir::CMessageLoop* loop, std::function<void()> run) {
    PostIn(loop, 0, nullptr, std::move(run));
}

// Posts `run` and waits until it has run (false after `limit` ms more than
// the delay); what the task holds stays valid even when the wait gives up.
inline bool RunAndWait(VidOzir::CMessageLoop* loop, std::function<void()> run, int delay = 0,
                       int limit = 5000) {
    auto ran = std::make_shared<VidOzir::CWaitableEvent>();
    PostIn(loop, delay, nullptr, [ran, run] {
        run();
        ran->Signal();
    });
    return ran->TimedWait(delay + limit) == 1;
}

}  // namespace msgloop_test
