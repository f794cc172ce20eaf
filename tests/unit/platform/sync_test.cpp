#include "platform/sync.h"

#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/handle.h"

namespace {

TEST(SyncTest, SemaphoreCountsAndRefusesToPassItsMaximum) {
    win::HANDLE s = win::CreateSemaphoreA(nullptr, 1, 2, nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(win::WaitForSingleObject(s, 0), win::WAIT_OBJECT_0);
    EXPECT_EQ(win::WaitForSingleObject(s, 10), win::WAIT_TIMEOUT) << "count used up";
    win::LONG previous = -1;
    EXPECT_TRUE(win::ReleaseSemaphore(s, 2, &previous));
    EXPECT_EQ(previous, 0);
    EXPECT_FALSE(win::ReleaseSemaphore(s, 1, &previous)) << "past the maximum";
    EXPECT_EQ(win::GetLastError(), win::ERROR_TOO_MANY_POSTS);
    EXPECT_EQ(win::WaitForSingleObject(s, 0), win::WAIT_OBJECT_0);
    EXPECT_EQ(win::WaitForSingleObject(s, 0), win::WAIT_OBJECT_0) << "the refused release changed nothing";
    EXPECT_EQ(win::WaitForSingleObject(s, 0), win::WAIT_TIMEOUT);
    EXPECT_TRUE(win::CloseHandle(s));

    EXPECT_EQ(win::CreateSemaphoreA(nullptr, 2, 1, nullptr), nullptr);
    EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_PARAMETER);
    EXPECT_EQ(win::CreateSemaphoreA(nullptr, 0, 0, nullptr), nullptr);
    EXPECT_EQ(win::WaitForSingleObject(nullptr, 0), win::WAIT_FAILED);
    EXPECT_NE(win::GetCurrentThreadId(), 0u);
}

}  // namespace
