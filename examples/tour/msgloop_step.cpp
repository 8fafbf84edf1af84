#include <cstdio>
#include <functional>
#include <thread>

#include "tour.h"
#include "vidozir/msgloop.h"

namespace tour {

namespace {
class Say : public VidOzir::CTask {
public:
    explicit Say(std::function<void()> what) : m_what(std::move(what)) {}
    void Run() override { m_what(); }

private:
    std::function<void()> m_what;
};
}  // namespace

void MessageLoop(const std::vector<std::string>&) {
    Heading("A message loop on its own thread");
    VidOzir::CWaitableEvent ready;
    VidOzir::CMessageLoop* loop = nullptr;
    std::thread worker([&] {
        VidOzir::CMessageLoopIO own;
        own.SetThreadName(CLuStringA("tour-io"));
        own.SubscribeOnDestroy([] { std::printf("loop destroyed: subscribers told first\n"); }, 0);
        loop = &own;
        ready.Signal();
        own.Run();
    });
    ready.Wait();
    const VidOzir::Time start = VidOzir::Time::Now();
    auto at = [start](const char* what) {
        return new Say([start, what] {
            std::printf("%4d ms  %s (on thread \"%s\")\n", VidOzir::Time::Now() - start, what,
                        VidOzir::CMessageLoop::Current()->GetThreadName().GetString());
        });
    };
    loop->PostTask(at("delayed by 60 ms"), 60);
    loop->PostTask(at("delayed by 20 ms"), 20);
    loop->PostTask(at("posted at once"), 0);
    loop->PostTask(new VidOzir::CMessageLoop::QuitTask, 100);
    worker.join();
}

}  // namespace tour
