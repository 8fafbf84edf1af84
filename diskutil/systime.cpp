// File times and millisecond counts since 1970.
#include "platform/win32.h"
#include "vidozir/diskutil.h"

#include <time.h>

namespace VidOzir {
namespace DiskUtil {

namespace {

constexpr unsigned long long kUnixEpoch = 116444736000000000ull;  // 1970-01-01 as a file time
constexpr long long kLastSecond = 32535244799;  // 3001-01-01 07:59:59, the runtime's last

unsigned long long Value(const FILETIME& time) {
    return static_cast<unsigned long long>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

FILETIME FromValue(unsigned long long value) {
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(value);
    time.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return time;
}

}  // namespace

FILETIME FileTimeToMilliseconds(const FILETIME& time) {
    return FromValue(Value(time) / 10000 * 10000);
}

long long FileTimeToUtc(const FILETIME& time) {
    return static_cast<long long>(Value(time) - kUnixEpoch) / 10000;
}

long long SystemTimeToUtc(const SYSTEMTIME& time) {
    // A system time that the conversion rejects counts as 1970-01-01, the
    // same default as UtcToFileTime's, rather than an unset file time.
    FILETIME fileTime = FromValue(kUnixEpoch);
    SystemTimeToFileTime(&time, &fileTime);
    return FileTimeToUtc(fileTime);
}

FILETIME UtcToFileTime(const long long& milliseconds) {
    FILETIME result = FromValue(kUnixEpoch);
    long long seconds = milliseconds / 1000;
    if (seconds < 0) {
        seconds = 0;
    } else if (seconds > kLastSecond) {
        seconds = kLastSecond;
    }
    __time64_t when = seconds;
    struct tm fields = {};
    if (_gmtime64_s(&fields, &when) != 0) {
        return result;
    }
    SYSTEMTIME time;
    time.wYear = static_cast<WORD>(fields.tm_year + 1900);
    time.wMonth = static_cast<WORD>(fields.tm_mon + 1);
    time.wDayOfWeek = static_cast<WORD>(fields.tm_wday);
    time.wDay = static_cast<WORD>(fields.tm_mday);
    time.wHour = static_cast<WORD>(fields.tm_hour);
    time.wMinute = static_cast<WORD>(fields.tm_min);
    time.wSecond = static_cast<WORD>(fields.tm_sec);
    // The signed remainder: a negative count's milliseconds make the record
    // invalid, so the result stays at 1970-01-01 00:00:00.
    time.wMilliseconds = static_cast<WORD>(milliseconds % 1000);
    SystemTimeToFileTime(&time, &result);
    return result;
}

}  // namespace DiskUtil
}  // namespace VidOzir
