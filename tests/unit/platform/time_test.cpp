#include "platform/time.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "platform/files.h"

namespace {

win::SYSTEMTIME Time(int year, int month, int dow, int day, int h, int m, int s) {
    win::SYSTEMTIME t{};
    t.wYear = static_cast<win::WORD>(year);
    t.wMonth = static_cast<win::WORD>(month);
    t.wDayOfWeek = static_cast<win::WORD>(dow);
    t.wDay = static_cast<win::WORD>(day);
    t.wHour = static_cast<win::WORD>(h);
    t.wMinute = static_cast<win::WORD>(m);
    t.wSecond = static_cast<win::WORD>(s);
    return t;
}

TEST(PlatformTime, CalendarConversionsAndClocks) {
    win::SYSTEMTIME t = Time(2006, 3, 0, 5, 14, 7, 9);
    t.wMilliseconds = 250;
    win::FILETIME ft{};
    ASSERT_TRUE(win::SystemTimeToFileTime(&t, &ft));
    win::SYSTEMTIME back{};
    ASSERT_TRUE(win::FileTimeToSystemTime(&ft, &back));
    EXPECT_EQ(back.wYear, 2006);
    EXPECT_EQ(back.wMonth, 3);
    EXPECT_EQ(back.wDay, 5);
    EXPECT_EQ(back.wDayOfWeek, 0);
    EXPECT_EQ(back.wHour, 14);
    EXPECT_EQ(back.wSecond, 9);
    EXPECT_EQ(back.wMilliseconds, 250);
    // 1970-01-01 is 11644473600 seconds after 1601-01-01.
    t = Time(1970, 1, 0, 1, 0, 0, 0);
    ASSERT_TRUE(win::SystemTimeToFileTime(&t, &ft));
    EXPECT_EQ((static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime, 116444736000000000ull);
    for (win::SYSTEMTIME bad : {Time(2006, 13, 0, 1, 0, 0, 0), Time(2006, 1, 0, 1, 24, 0, 0),
                                Time(1600, 1, 0, 1, 0, 0, 0)}) {
        EXPECT_FALSE(win::SystemTimeToFileTime(&bad, &ft));
    }
    // Windows refuses 29 February of a common year; the emulation the
    // Windows tests run under accepts it, so there only the simulated host's
    // own calendar is held to it.
    win::SYSTEMTIME leap = Time(2005, 2, 0, 29, 0, 0, 0);
    if (VD_SIMULATED_HOST) {
        EXPECT_FALSE(win::SystemTimeToFileTime(&leap, &ft));
    }
    t = Time(2004, 2, 0, 29, 23, 59, 59);
    EXPECT_TRUE(win::SystemTimeToFileTime(&t, &ft));

    win::SYSTEMTIME local{};
    win::SYSTEMTIME utc{};
    win::GetLocalTime(&local);
    win::GetSystemTime(&utc);
    EXPECT_GE(utc.wYear, 2020);
    EXPECT_LE(local.wDayOfWeek, 6);
    win::ULONGLONG a = win::GetTickCount64();
    EXPECT_GE(win::GetTickCount64(), a);
}

}  // namespace
