#include "frame/kernel_access.h"

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
        ASSERT_EQ(CreateKernelAccessSemaphores(), 0);
        ASSERT_EQ(UpdateSecondIdSemaphore(), 0);
    }
};

TEST_F(KernelAccessTest, NestedAcquiresNeedAsManyReleasesBeforeAnotherThreadGetsTheId) {
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
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_FALSE(got) << "still held once";

    // A release by a thread that holds nothing changes nothing.
    std::thread([] { ReleaseKernelAccess(); }).join();
    EXPECT_EQ(kernel_access_state().id_depth, 1);
    EXPECT_EQ(kernel_access_state().id_owner.load(), win::GetCurrentThreadId());

    ReleaseKernelAccess();
    other.join();
    EXPECT_EQ(seen.load(), task_state().task_id);
    EXPECT_EQ(kernel_access_state().id_owner.load(), 0u);
    EXPECT_EQ(kernel_access_state().id_depth, 0);
}

TEST_F(KernelAccessTest, SecondIdServesAnotherThreadWhileTheFirstIsHeld) {
    // A second registration, as "Driver2Ids" makes it.
    const TaskId first = task_state().task_id;
    const TaskId second = kernel_attach("VDWINU2", "second", "plant", "dom", "usr");
    ASSERT_GE(second, 0);
    task_state().second_task_id = second;
    ASSERT_EQ(UpdateSecondIdSemaphore(), 0);

    AcquireKernelAccess(1);
    EXPECT_EQ(CurrentTaskId(), first);
    TaskId in_thread = kNoTask, nested = kNoTask;
    std::thread worker([&] {
        AcquireKernelAccess(0);
        in_thread = CurrentTaskId();
        AcquireKernelAccess(1);  // holding the second id, it nests there
        nested = CurrentTaskId();
        ReleaseKernelAccess();
        ReleaseKernelAccess();
    });
    worker.join();  // the second id is not blocked by the first
    EXPECT_EQ(in_thread, second);
    EXPECT_EQ(nested, second);
    EXPECT_EQ(kernel_access_state().second_id_owner.load(), 0u);
    ReleaseKernelAccess();
}

}  // namespace
