#include "platform/time.h"
#include "platform/fault_points.h"
#include "platform/test_hooks.h"

#include <time.h>

#include <cstdint>

#include "platform/error.h"

namespace win {

namespace {

// Days from 1601-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysSince1601(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    auto yoe = static_cast<unsigned>(year - era * 400);
    unsigned doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    std::int64_t days_since_1970 = era * 146097 + static_cast<std::int64_t>(doe) - 719468;
    return days_since_1970 + 134774;  // 1601-01-01 .. 1970-01-01
}

bool LeapYear(unsigned year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

void FromTm(const struct tm& t, long nanoseconds, SYSTEMTIME* out) {
    out->wYear = static_cast<WORD>(t.tm_year + 1900);
    out->wMonth = static_cast<WORD>(t.tm_mon + 1);
    out->wDayOfWeek = static_cast<WORD>(t.tm_wday);
    out->wDay = static_cast<WORD>(t.tm_mday);
    out->wHour = static_cast<WORD>(t.tm_hour);
    out->wMinute = static_cast<WORD>(t.tm_min);
    out->wSecond = static_cast<WORD>(t.tm_sec > 59 ? 59 : t.tm_sec);  // no leap second field
    out->wMilliseconds = static_cast<WORD>(nanoseconds / 1000000);
}

}  // namespace

void GetLocalTime(SYSTEMTIME* system_time) {
    if (system_time == nullptr) return;
    struct timespec ts {};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    struct tm t {};
    ::localtime_r(&ts.tv_sec, &t);
    FromTm(t, ts.tv_nsec, system_time);
}

void GetSystemTime(SYSTEMTIME* system_time) {
    if (system_time == nullptr) return;
    struct timespec ts {};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    struct tm t {};
    ::gmtime_r(&ts.tv_sec, &t);
    FromTm(t, ts.tv_nsec, system_time);
}

BOOL sys::SystemTimeToFileTime(const SYSTEMTIME* st, FILETIME* file_time) {
    static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (st == nullptr || file_time == nullptr || st->wYear < 1601 || st->wYear > 30827 || st->wMonth < 1 ||
        st->wMonth > 12 || st->wDay < 1 || st->wHour > 23 || st->wMinute > 59 || st->wSecond > 59 ||
        st->wMilliseconds > 999) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    unsigned month_days = kDays[st->wMonth - 1] + (st->wMonth == 2 && LeapYear(st->wYear) ? 1 : 0);
    if (st->wDay > month_days) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::int64_t days = DaysSince1601(st->wYear, st->wMonth, st->wDay);
    std::int64_t ms = ((days * 24 + st->wHour) * 60 + st->wMinute) * 60000 + st->wSecond * 1000 + st->wMilliseconds;
    auto ticks = static_cast<std::uint64_t>(ms) * 10000u;
    file_time->dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    file_time->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return TRUE;
}

ULONGLONG GetTickCount64() {
    VD_TEST_CLOCK_TICKS(ULONGLONG);
    struct timespec ts {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<ULONGLONG>(ts.tv_sec) * 1000u + static_cast<ULONGLONG>(ts.tv_nsec / 1000000);
}

DWORD GetTickCount() {
    VD_TEST_CLOCK_TICKS(DWORD);
    return static_cast<DWORD>(GetTickCount64() & 0xFFFFFFFFu);
}

}  // namespace win
