// Tasks shared by the message-loop tests.
#pragma once

#include <atomic>
#include <functional>
#include <utility>
#include <vector>

#include "vidozir/msgloop.h"

namespace msgloop_test {

// Runs a function; counts its destruction.
class FnTask : public VidOzir::CTask {
public:
    explicit FnTask(std::function<void()> run, std::atomic<int>* destroyed = nullptr)
        : m_run(std::move(run)), m_destroyed(destroyed) {}
    ~FnTask() override {
        if (m_destroyed != nullptr) {
            ++*m_destroyed;
        }
    }
    void Run() override {
        if (m_run) {
            m_run();
        }
    }

private:
    std::function<void()> m_run;
    std::atomic<int>* m_destroyed;
};

inline void Post(VidOzir::CMessageLoop* loop, std::function<void()> run) {
    loop->PostTask(new FnTask(std::move(run)), 0);
}
inline void PostIn(VidOzir::CMessageLoop* loop, int delay, std::atomic<int>* destroyed,
                   std::function<void()> run) {
    loop->PostTask(new FnTask(std::move(run), destroyed), delay);
}
inline void PostIn(VidOzir::CMessageLoop* loop, int delay, std::function<void()> run) {
    PostIn(loop, delay, nullptr, std::move(run));
}

inline FnTask* Record(std::vector<int>* order, int id, std::atomic<int>* destroyed = nullptr) {
    return new FnTask([order, id] { order->push_back(id); }, destroyed);
}

inline void PostQuit(VidOzir::CMessageLoop* loop, int delay = 0) {
    loop->PostTask(new VidOzir::CMessageLoop::QuitTask, delay);
}

}  // namespace msgloop_test
