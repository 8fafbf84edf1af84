#include <cstdio>
#include <chrono>
#include <mutex>
#include <thread>

#include "tour.h"
#include "vidozir/thread.h"

namespace tour {

namespace {

std::mutex g_printLock;

// Prints which thread runs it and how long after the start.
class Announce : public VidOzir::CTask {
public:
    Announce(const char* what, VidOzir::Time start) : what_(what), start_(start) {}
    void Run() override {
        std::lock_guard<std::mutex> lock(g_printLock);
        std::printf("  %-24s ran on \"%s\" after %3d ms\n", what_,
                    VidOzir::CMessageLoop::Current()->GetThreadName().GetString(),
                    VidOzir::Time::Now() - start_);
    }

private:
    const char* what_;
    VidOzir::Time start_;
};

}  // namespace

void Threads(const std::vector<std::string>&) {
    Heading("Threads with an I/O loop and a UI loop");
    VidOzir::CThreadIO io(CLuStringA("tour-io"));
    VidOzir::CThreadUI ui(CLuStringA("tour-ui"));
    io.StartThread();
    ui.StartThread();
    std::printf("I/O thread %lu (\"%s\"), UI thread %lu (\"%s\")\n", io.GetThreadId(),
                io.GetMsgLoop()->GetThreadName().GetString(), ui.GetThreadId(),
                ui.GetMsgLoop()->GetThreadName().GetString());
    VidOzir::Time start = VidOzir::Time::Now();
    io.GetMsgLoop()->PostTask(new Announce("io: delayed 60 ms", start), 60);
    io.GetMsgLoop()->PostTask(new Announce("io: immediate, first", start), 0);
    io.GetMsgLoop()->PostTask(new Announce("io: immediate, second", start), 0);
    ui.GetMsgLoop()->PostTask(new Announce("ui: delayed 30 ms", start), 30);
    ui.GetMsgLoop()->PostTask(new Announce("ui: immediate", start), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    io.StopThread();
    ui.StopThread();
    std::printf("both stopped; loops gone: %s\n",
                !io.GetMsgLoop() && !ui.GetMsgLoop() ? "yes" : "no");
}

}  // namespace tour
