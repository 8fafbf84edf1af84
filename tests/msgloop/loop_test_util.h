// Tasks shared by the message-loop tests.
#pragma once

#include <atomic>
#include <functional>
#include <utility>
#include <vector>

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

// A task that counts its destruction in `destroyed` (if given).
inline FnTask* Task(std::function<void()> run, std::atomic<int>* destroyed = nullptr) {
    return new FnTask(std::move(run), [destroyed] {
        if (destroyed != nullptr) {
            ++*destroyed;
        }
    });
}
inline void PostIn(VidOzir::CMessageLoop* loop, int delay, std::atomic<int>* destroyed,
                   std::function<void()> run) {
    loop->PostTask(Task(std::move(run), destroyed), delay);
}
inline void PostIn(VidOzir::CMessageLoop* loop, int delay, std::function<void()> run) {
    PostIn(loop, delay, nullptr, std::move(run));
}
inline void Post(VidOzir::CMessageLoop* loop, std::function<void()> run) {
    PostIn(loop, 0, nullptr, std::move(run));
}
inline FnTask* Record(std::vector<int>* order, int id, std::atomic<int>* destroyed = nullptr) {
    return Task([order, id] { order->push_back(id); }, destroyed);
}
inline void PostQuit(VidOzir::CMessageLoop* loop, int delay = 0) {
    loop->PostTask(new VidOzir::CMessageLoop::QuitTask, delay);
}

}  // namespace msgloop_test
