#include <cstdio>

#include "vidozir/foundation.h"

int main() {
    CLuStringW text;
    text.Format(L"%s-%d", L"consumer", 1);
    VidOzir::Time later = VidOzir::Time::Now() + 10;
    // The Win32 calls of the interface are exported on every platform.
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const bool calls = stop != nullptr && CloseHandle(stop) && LocalFree(nullptr) == nullptr;
    if (text != L"consumer-1" || later.IsNull() || !calls) {
        std::puts("installed package misbehaves");
        return 1;
    }
    std::puts("installed package: found, linked and working");
    return 0;
}
