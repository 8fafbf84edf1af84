#include "platform/systime.h"

#include <cerrno>
#include <cstring>

#include "platform/kernel.h"

namespace {

bool IsLeap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Days from 1601-01-01 to the first day of `year`: 1601 starts a 400-year cycle.
int64_t DaysBeforeYear(int year) {
    int64_t y = year - 1601;
    return y * 365 + y / 4 - y / 100 + y / 400;
}

constexpr int64_t kLastAccepted = 32535244799;  // 3001-01-01 07:59:59 UTC

}  // namespace

BOOL SystemTimeToFileTime(const SYSTEMTIME* time, LPFILETIME fileTime) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (time == nullptr || fileTime == nullptr || time->wYear < 1601 || time->wYear > 30827 ||
        time->wMonth < 1 || time->wMonth > 12 || time->wDay < 1 || time->wHour > 23 ||
        time->wMinute > 59 || time->wSecond > 59 || time->wMilliseconds > 999 ||
        time->wDay > kDays[time->wMonth - 1] + (time->wMonth == 2 && IsLeap(time->wYear))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    int64_t days = DaysBeforeYear(time->wYear);
    for (int month = 1; month < time->wMonth; ++month) {
        days += kDays[month - 1] + (month == 2 && IsLeap(time->wYear));
    }
    days += time->wDay - 1;
    int64_t seconds = days * 86400 + time->wHour * 3600 + time->wMinute * 60 + time->wSecond;
    uint64_t value = static_cast<uint64_t>(seconds) * 10000000u + time->wMilliseconds * 10000u;
    fileTime->dwLowDateTime = static_cast<DWORD>(value);
    fileTime->dwHighDateTime = static_cast<DWORD>(value >> 32);
    return TRUE;
}

int _gmtime64_s(struct tm* out, const __time64_t* time) {
    if (out == nullptr) {
        return EINVAL;
    }
    if (time == nullptr || *time < 0 || *time > kLastAccepted) {
        std::memset(out, 0xFF, sizeof(*out));
        return EINVAL;
    }
    time_t value = static_cast<time_t>(*time);
    return gmtime_r(&value, out) != nullptr ? 0 : EINVAL;
}
