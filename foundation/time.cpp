#include <climits>

#include "platform/win32.h"
#include "vidozir/foundation.h"

namespace VidOzir {

const long long Time::ms_millisecondsPerSecond = 1000;
const long long Time::ms_microsecondsPerMillisecond = 1000;
const long long Time::ms_microsecondsPerSecond = 1000000;
const long long Time::ms_microsecondsOffset = 11644473600000000LL;

Time Time::Now() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    Time time;
    time.FromFileTime(now);
    return time;
}

void Time::FromFileTime(FILETIME fileTime) {
    const auto ticks = static_cast<long long>(
        (static_cast<unsigned long long>(fileTime.dwHighDateTime) << 32) | fileTime.dwLowDateTime);
    m_nValue = ticks / 10;  // C++ division truncates toward zero
}

FILETIME Time::ToFileTime() const {
    const auto ticks = static_cast<unsigned long long>(m_nValue) * 10u;
    FILETIME fileTime;
    fileTime.dwLowDateTime = static_cast<DWORD>(ticks);
    fileTime.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return fileTime;
}

long long Time::ToUtcTime() const {
    // In 100-nanosecond units as the FILETIME is; wraps like the 64-bit
    // arithmetic it stands for rather than trapping on extreme values.
    const auto ticks =
        static_cast<long long>(static_cast<unsigned long long>(m_nValue) * 10u -
                               static_cast<unsigned long long>(ms_microsecondsOffset) * 10u);
    return ticks / 10000;
}

void Time::FromUtcTime(long long) {
    // Deliberately no effect: the exported entry point has always left the
    // value alone, and callers that compiled against it may rely on that.
}

Time Time::operator+(int milliseconds) const {
    return Time(m_nValue + static_cast<long long>(milliseconds) * ms_microsecondsPerMillisecond);
}
Time Time::operator-(int milliseconds) const {
    return Time(m_nValue - static_cast<long long>(milliseconds) * ms_microsecondsPerMillisecond);
}
Time& Time::operator+=(int milliseconds) {
    m_nValue += static_cast<long long>(milliseconds) * ms_microsecondsPerMillisecond;
    return *this;
}
Time& Time::operator-=(int milliseconds) {
    m_nValue -= static_cast<long long>(milliseconds) * ms_microsecondsPerMillisecond;
    return *this;
}

int Time::operator-(const Time& other) const {
    const long long quotient = (m_nValue - other.m_nValue) / ms_microsecondsPerMillisecond;
    if (quotient >= 2147483648LL) {
        return INT_MAX;
    }
    // Below the saturation the low 32 bits are taken, as the exported
    // operator always has (very negative spans wrap).
    return static_cast<int>(static_cast<unsigned>(static_cast<unsigned long long>(quotient)));
}

}  // namespace VidOzir
