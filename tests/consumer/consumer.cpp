#include <cstdio>

#include "vidozir/foundation.h"

int main() {
    CLuStringW text;
    text.Format(L"%s-%d", L"consumer", 1);
    VidOzir::Time later = VidOzir::Time::Now() + 10;
    if (text != L"consumer-1" || later.IsNull()) {
        std::puts("installed package misbehaves");
        return 1;
    }
    std::puts("installed package: found, linked and working");
    return 0;
}
