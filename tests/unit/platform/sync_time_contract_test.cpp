// The last error, semaphores and threads, calendar time and the clocks
// (with the test clock), on both sides.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>

#include "platform/error.h"
#include "platform/handle.h"
#include "platform/sync.h"
#include "platform/test_hooks.h"
#include "platform/time.h"

namespace {

using namespace win;

// Thread start and join may set the caller's last error (they do on
// Windows), so each thread checks its own value right after setting it.
TEST(ErrorContract, LastErrorIsKeptPerThread) {
    DWORD mine = 0, other = 0;
    std::thread worker([&] {
        SetLastError(ERROR_ACCESS_DENIED);
        other = GetLastError();
    });
    SetLastError(ERROR_FILE_NOT_FOUND);
    mine = GetLastError();
    worker.join();
    EXPECT_EQ(mine, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(other, ERROR_ACCESS_DENIED);
}

TEST(SyncContract, SemaphoreCountsAndRefusesToPassItsMaximum) {
    HANDLE s = CreateSemaphoreA(nullptr, 1, 2, nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(WaitForSingleObject(s, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(s, 10), WAIT_TIMEOUT) << "count used up";
    LONG previous = -1;
    EXPECT_TRUE(ReleaseSemaphore(s, 2, &previous));
    EXPECT_EQ(previous, 0);
    EXPECT_FALSE(ReleaseSemaphore(s, 1, &previous)) << "past the maximum";
    EXPECT_EQ(GetLastError(), ERROR_TOO_MANY_POSTS);
    for (DWORD expected : {WAIT_OBJECT_0, WAIT_OBJECT_0, WAIT_TIMEOUT})
        EXPECT_EQ(WaitForSingleObject(s, 0), expected) << "the refused release changed nothing";
    EXPECT_TRUE(CloseHandle(s));

    for (auto [initial, maximum] : {std::pair{2, 1}, {0, 0}, {-1, 3}}) {
        EXPECT_EQ(CreateSemaphoreA(nullptr, initial, maximum, nullptr), nullptr) << initial << " of " << maximum;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
    EXPECT_NE(GetCurrentThreadId(), 0u);
}

SYSTEMTIME Time(int year, int month, int day, int h = 0, int m = 0, int s = 0, int ms = 0) {
    return SYSTEMTIME{static_cast<WORD>(year), static_cast<WORD>(month), 0,  static_cast<WORD>(day),
                      static_cast<WORD>(h),    static_cast<WORD>(m),     static_cast<WORD>(s), static_cast<WORD>(ms)};
}

TEST(TimeContract, CalendarConversionsAndClocks) {
    SYSTEMTIME t = Time(2006, 3, 5, 14, 7, 9, 250), back{};
    FILETIME ft{};
    ASSERT_TRUE(SystemTimeToFileTime(&t, &ft));
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
    t.wDayOfWeek = 0;  // a Sunday, filled in on the way back
    EXPECT_EQ(std::memcmp(&t, &back, sizeof t), 0);
    t = Time(1970, 1, 1);
    ASSERT_TRUE(SystemTimeToFileTime(&t, &ft));
    EXPECT_EQ((std::uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime, 116444736000000000ull)
        << "1970 is 11644473600 s after 1601";
    for (SYSTEMTIME bad : {Time(2006, 13, 1), Time(2006, 1, 1, 24), Time(1600, 12, 31), Time(2006, 1, 1, 0, 60),
                           Time(2006, 1, 1, 0, 0, 0, 1000)}) {
        EXPECT_FALSE(SystemTimeToFileTime(&bad, &ft)) << bad.wYear << "-" << bad.wMonth << "-" << bad.wDay;
    }
    // Windows refuses 29 February of a common year; the emulation the
    // Windows tests run under accepts it, so only the simulated host is held
    // to it there.
    t = Time(2005, 2, 29);
    if (VD_SIMULATED_HOST) {
        EXPECT_FALSE(SystemTimeToFileTime(&t, &ft));
    }
    t = Time(2004, 2, 29, 23, 59, 59);
    EXPECT_TRUE(SystemTimeToFileTime(&t, &ft));

    SYSTEMTIME local{}, utc{};
    GetLocalTime(&local);
    GetSystemTime(&utc);
    EXPECT_GE(utc.wYear, 2020);
    EXPECT_LE(local.wDayOfWeek, 6);
    ULONGLONG a = GetTickCount64();
    EXPECT_GE(GetTickCount64(), a);
}

TEST(TimeContract, TestClockAdvancesOnlyBySleeps) {
    test::UseTestClock(true);
    const ULONGLONG start = GetTickCount64();
    Sleep(3600000);  // an hour, at no cost
    Sleep(1234);
    const ULONGLONG after = GetTickCount64();
    const DWORD low = GetTickCount();
    test::UseTestClock(false);
    EXPECT_EQ(after - start, 3601234u);
    EXPECT_EQ(low, static_cast<DWORD>(after));
    EXPECT_LT(GetTickCount64(), after) << "the real count again";
}

}  // namespace
