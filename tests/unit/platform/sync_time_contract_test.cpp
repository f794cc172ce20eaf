// The last error, semaphores, calendar time and the clocks (with the test
// clock), on both sides.
#include <gtest/gtest.h>

#include <algorithm>
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
    EXPECT_TRUE(CloseHandle(s));
}

TEST(TimeContract, FileTimeToCalendarAndTheLocalTime) {
    const FILETIME ft{392258688u, 29769822u};  // 2006-03-05 14:07:09 UTC, a Sunday
    SYSTEMTIME st{};
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
    const WORD want[] = {2006, 3, 0, 5, 14, 7, 9};
    const WORD got[] = {st.wYear, st.wMonth, st.wDayOfWeek, st.wDay, st.wHour, st.wMinute, st.wSecond};
    EXPECT_TRUE(std::equal(std::begin(want), std::end(want), std::begin(got)));
    const FILETIME too_late{0xFFFFFFFFu, 0xFFFFFFFFu};
    EXPECT_FALSE(FileTimeToSystemTime(&too_late, &st));
    GetLocalTime(&st);
    EXPECT_GE(st.wYear, 2020);
    EXPECT_LE(st.wDayOfWeek, 6);
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
