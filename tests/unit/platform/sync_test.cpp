#include "platform/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

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
}

TEST(SyncTest, SemaphoreOfOneExcludesOtherThreads) {
    win::HANDLE s = win::CreateSemaphoreA(nullptr, 1, 1, nullptr);
    ASSERT_NE(s, nullptr);
    int shared = 0;
    std::atomic<bool> overlap{false};
    std::atomic<int> inside{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                ASSERT_EQ(win::WaitForSingleObject(s, win::INFINITE), win::WAIT_OBJECT_0);
                if (inside.fetch_add(1) != 0) overlap = true;
                ++shared;
                inside.fetch_sub(1);
                win::ReleaseSemaphore(s, 1, nullptr);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_FALSE(overlap);
    EXPECT_EQ(shared, 800);
    win::CloseHandle(s);
}

TEST(SyncTest, ThreadIdsAreNonzeroAndDiffer) {
    win::DWORD main_id = win::GetCurrentThreadId();
    win::DWORD other_id = 0;
    std::thread([&] { other_id = win::GetCurrentThreadId(); }).join();
    EXPECT_NE(main_id, 0u);
    EXPECT_NE(other_id, 0u);
    EXPECT_NE(main_id, other_id);
    EXPECT_EQ(main_id, win::GetCurrentThreadId());
}

}  // namespace
