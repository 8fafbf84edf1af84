#include <cstdio>
#include <thread>

#include "tour.h"
#include "vidozir/foundation.h"

namespace tour {

void Foundation(const std::vector<std::string>&) {
    Heading("Strings, time and events");
    CLuStringW greeting;
    greeting.Format(L"%s has %d UTF-16 units; 0x%04X is its last", L"na\x00EFve \xD83D\xDE00", 8,
                    0xDE00u);
    Print(greeting);

    VidOzir::Time now = VidOzir::Time::Now();
    VidOzir::Time later = now + 1500;
    std::printf("now: %lld ms since 1970; +1500 ms is %d ms later\n", now.ToUtcTime(), later - now);

    VidOzir::CWaitableEvent ready;
    std::thread worker([&ready] { ready.Signal(); });
    std::printf("event from another thread: %s\n",
                ready.TimedWait(5000) ? "signalled" : "timed out");
    worker.join();
}

}  // namespace tour
