#include "frame/kernel_access.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/support/log_fixture.h"
#include "platform/sync.h"

namespace {

class KernelAccessTest : public logtest::TaskFixture {
protected:
    void SetUp() override {
        TaskFixture::SetUp();
        Attach();
    }
    void MakeSemaphores() {
        ASSERT_EQ(CreateKernelAccessSemaphores(), 0);
        ASSERT_EQ(UpdateSecondIdSemaphore(), 0);
    }
    // A second registration, as "Driver2Ids" makes it.
    void AddSecondId() {
        TaskId second = kernel_attach("VDWINU2", "second", "plant", "dom", "usr");
        ASSERT_GE(second, 0);
        task_state().second_task_id = second;
        ASSERT_EQ(UpdateSecondIdSemaphore(), 0);
    }
    // Whether `done` becomes true within a short while.
    static bool Within(const std::atomic<bool>& done, int ms = 100) {
        for (int i = 0; i < ms / 5 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return done;
    }
};

TEST_F(KernelAccessTest, NestedAcquiresNeedAsManyReleasesBeforeAnotherThreadGetsTheId) {
    MakeSemaphores();
    AcquireKernelAccess(1);
    AcquireKernelAccess(1);
    AcquireKernelAccess(0);  // with one id, 0 means the task id: nests too
    EXPECT_EQ(kernel_access_state().id_depth, 3);

    std::atomic<bool> got{false};
    std::atomic<TaskId> seen{kNoTask};
    std::thread other([&] {
        AcquireKernelAccess(1);
        got = true;
        seen = CurrentTaskId();
        ReleaseKernelAccess();
    });
    ReleaseKernelAccess();
    ReleaseKernelAccess();
    EXPECT_FALSE(Within(got, 60)) << "still held once";

    // A release by a thread that holds nothing changes nothing.
    std::thread([] { ReleaseKernelAccess(); }).join();
    EXPECT_EQ(kernel_access_state().id_depth, 1);
    EXPECT_EQ(kernel_access_state().id_owner.load(), win::GetCurrentThreadId());

    ReleaseKernelAccess();
    other.join();
    EXPECT_TRUE(got);
    EXPECT_EQ(seen.load(), task_state().task_id);
    EXPECT_EQ(kernel_access_state().id_owner.load(), 0u);
    EXPECT_EQ(kernel_access_state().id_depth, 0);
}

TEST_F(KernelAccessTest, SecondIdServesAnotherThreadWhileTheFirstIsHeld) {
    MakeSemaphores();
    AddSecondId();
    const TaskId first = task_state().task_id;
    const TaskId second = task_state().second_task_id;

    AcquireKernelAccess(1);
    EXPECT_EQ(CurrentTaskId(), first);
    std::atomic<bool> done{false};
    TaskId in_thread = kNoTask, nested = kNoTask;
    std::thread worker([&] {
        AcquireKernelAccess(0);
        in_thread = CurrentTaskId();
        AcquireKernelAccess(1);  // holding the second id, it nests there
        nested = CurrentTaskId();
        ReleaseKernelAccess();
        ReleaseKernelAccess();
        done = true;
    });
    worker.join();
    EXPECT_TRUE(done) << "the second id is not blocked by the first";
    EXPECT_EQ(in_thread, second);
    EXPECT_EQ(nested, second);
    EXPECT_EQ(kernel_access_state().second_id_owner.load(), 0u);

    // A thread asking for the first id waits for the main thread.
    std::atomic<bool> got_first{false};
    std::thread waiter([&] {
        AcquireKernelAccess(1);
        got_first = true;
        ReleaseKernelAccess();
    });
    EXPECT_FALSE(Within(got_first, 60));
    ReleaseKernelAccess();
    waiter.join();
    EXPECT_TRUE(got_first);
}

TEST_F(KernelAccessTest, SecondSemaphoreGoesWhenTheIdsAreEqualAgain) {
    MakeSemaphores();
    AddSecondId();
    EXPECT_NE(kernel_access_state().second_id_semaphore, nullptr);
    kernel_detach(task_state().second_task_id);
    task_state().second_task_id = task_state().task_id;
    EXPECT_EQ(UpdateSecondIdSemaphore(), 0);
    EXPECT_EQ(kernel_access_state().second_id_semaphore, nullptr);
    AcquireKernelAccess(0);
    EXPECT_EQ(kernel_access_state().id_owner.load(), win::GetCurrentThreadId()) << "0 falls back to the task id";
    ReleaseKernelAccess();
}

TEST_F(KernelAccessTest, ManyThreadsNeverShareTheId) {
    MakeSemaphores();
    std::atomic<int> inside{0};
    std::atomic<bool> overlap{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 100; ++i) {
                AcquireKernelAccess(1);
                AcquireKernelAccess(0);
                if (inside.fetch_add(1) != 0) overlap = true;
                inside.fetch_sub(1);
                ReleaseKernelAccess();
                ReleaseKernelAccess();
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_FALSE(overlap);
    EXPECT_EQ(kernel_access_state().id_owner.load(), 0u);
}

}  // namespace
