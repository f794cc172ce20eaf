// The task lifecycle over the in-process kernel: start-up and its failures,
// the run step's rules in blocking and polling mode, shutdown, binding. The
// pauses of start-up, the run step and shutdown run on the test clock.
#include <filesystem>
#include <fstream>

#include "frame/tag_object.h"
#include "frame/task_base.h"
#include "frame/task_state.h"
#include "tests/support/in_process_kernel.h"
#include "tests/support/runtime_folder.h"
#include "tests/support/scratch_dir.h"

namespace {

const char* kTags =
    "TEST.STATUS int16 0\n"
    "TEST.MSG text \"\"\n"
    "T1 int16 0\n"
    "T2 int32 0\n"
    "OFF none\n";
enum : TagRef { kStatus, kMessage, kT1, kT2, kOff };

class RecordingTask : public TaskBase {
public:
    explicit RecordingTask(const char* name = "TEST") : TaskBase(name, "Test Task") {}
    void CtLoad() override { Note("CtLoad"); }
    void RunLoad() override { Note("RunLoad"); }
    void Stop() override { Note("Stop"); }
    void Idle() override { Note("Idle"); }

    void Note(const char* hook) {
        hooks.push_back(hook);
        status_seen.push_back(vdtest::TagInt(kStatus));
    }
    std::vector<std::string> hooks;
    std::vector<std::int64_t> status_seen;  // status level when each hook ran
};

class TaskBaseTest : public ::testing::Test {
public:
    void SetUp() override {
        std::filesystem::create_directories(dir_ / "app");
        std::filesystem::create_directories(dir_ / "root");
        // No domain: empty, and start-up goes on.
        vdtest::SetRuntimeEnvironment({(dir_ / "app").generic_string(), (dir_ / "root").generic_string(), "", "demo",
                                       "op", "", (dir_ / "host").generic_string()});
        ASSERT_NO_FATAL_FAILURE(vdtest::BindInProcessKernel(kTags, db_));
        win::test::UseTestClock(true);
    }
    void TearDown() override {
        win::test::UseTestClock(false);
        vdtest::UnbindInProcessKernel();
        vdtest::ClearRuntimeEnvironment();
    }

    static std::int64_t Status() { return vdtest::TagInt(kStatus); }
    static std::string Message() { return vdtest::TagText(kMessage); }
    std::size_t Attached() { return db_->Tasks().size(); }

    vdtest::ScratchDir scratch_{"frame_task_"};
    const std::filesystem::path dir_ = scratch_.Dir();
    std::unique_ptr<sim::Database> db_;
};

TEST_F(TaskBaseTest, StartRunStopInOrder) {
    RecordingTask task;
    ASSERT_EQ(task.Start(), 0);
    EXPECT_EQ(task.hooks, (std::vector<std::string>{"CtLoad", "RunLoad"}));
    EXPECT_EQ(task.status_seen, (std::vector<std::int64_t>{3, 3}));  // "START" while loading
    EXPECT_EQ(Status(), 1);
    EXPECT_EQ(Message(), "RUN");
    EXPECT_EQ(std::string(task_state().vd_name) + "/" + task_state().vd_user, "demo/op");

    // A second start changes nothing.
    EXPECT_EQ(task.Start(), 0);
    EXPECT_EQ(task.hooks.size(), 2u);
    EXPECT_EQ(Attached(), 1u);

    task.Shutdown();
    EXPECT_EQ(task.hooks.back(), "Stop");
    EXPECT_EQ(task.status_seen.back(), 4);  // "STOPPING" around the hook
    EXPECT_EQ(Status(), 0);
    EXPECT_EQ(Message(), "SHUTDOWN");
    EXPECT_EQ(task.trigger_list, nullptr);
    EXPECT_EQ(Attached(), 0u);
    task.Shutdown();  // not attached: nothing
    EXPECT_EQ(task.hooks.size(), 3u);
}

// A start-up that fails after the second registration (the lock's
// semaphores cannot be made) detaches both.
TEST_F(TaskBaseTest, StartFailureAfterTheSecondRegistrationDetachesBoth) {
    std::filesystem::create_directories(dir_ / "root" / "bin");
    std::ofstream(dir_ / "root" / "bin" / "TEST.ini") << "[Task]\nDriver2Ids=1\n";
    RecordingTask task;
    win::test::FailCalls("CreateSemaphoreA", win::ERROR_NOT_ENOUGH_MEMORY, win::test::kUntilCleared);
    int rc = task.Start();
    win::test::ClearFaults();
    EXPECT_EQ(rc, kSemaphoreFailure);
    EXPECT_TRUE(task.hooks.empty());
    EXPECT_EQ(task_state().task_id, kNoTask);
    EXPECT_EQ(Attached(), 0u);
    EXPECT_EQ(Status(), 0);
    EXPECT_EQ(Message(), "SHUTDOWN");
}

TEST_F(TaskBaseTest, OneTaskPerProcess) {
    {
        RecordingTask nameless("");
        EXPECT_EQ(task_state().event_log, nullptr);
    }
    RecordingTask task;
    EXPECT_NE(task_state().event_log, nullptr);
    ASSERT_EQ(task.Start(), 0);
    {
        // A second task object in the process leaves the running one alone.
        RecordingTask second("SECOND");
        EXPECT_STREQ(task.TaskName(), "TEST");
        EXPECT_EQ(TaskBase::Instance(), &task);
    }
    EXPECT_EQ(Attached(), 1u);
}

std::vector<std::int32_t> g_notices;  // task, a, b of each start notice
std::int32_t RecordStartNotice(TaskId task, std::int32_t a, std::int32_t b) {
    g_notices.insert(g_notices.end(), {task, a, b});
    return sim::Ops().start_notice(task, a, b);
}

TEST_F(TaskBaseTest, KernelHearsOfTheStartAndOfEveryWait) {
    KernelOps ops = sim::Ops();
    ops.start_notice = &RecordStartNotice;
    kernel_bind_table(ops);
    g_notices.clear();
    RecordingTask task;
    ASSERT_EQ(task.Start(), 0);
    EXPECT_EQ(g_notices, (std::vector<std::int32_t>{task_state().task_id, 15, 0}));
    win::test::FailCalls(kernel_op_name(kOpWaitChange), 0, 1, 0, 0);
    task.RunStep(1);
    task.RunStep(0);
    std::uint32_t steps = 0;
    for (const sim::TaskInfo& info : db_->Tasks())
        if (info.id == task_state().task_id) steps = info.steps;
    EXPECT_EQ(steps, 2u);
}

std::vector<std::string> g_seen;
void Handler(TagObject* tag, void* arg) {
    g_seen.push_back(std::string(static_cast<const char*>(arg)) + " " + std::to_string(tag->AsInt()));
}

TEST_F(TaskBaseTest, RunStepDispatchesChangesToBoundHandlersAndFollowsItsRules) {
    RecordingTask task;
    ASSERT_EQ(task.Start(), 0);
    g_seen.clear();
    TagObject t1(kT1), t2(kT2), off(kOff);
    char first[] = "first", second[] = "second";
    task.BindTrigger(&t1, &Handler, first);
    task.BindTrigger(&t2, &Handler, second);
    task.BindTrigger(&off, &Handler, first);  // not configured: skipped, and nothing reported
    EXPECT_EQ(task.trigger_list->entry_count, 2);
    EXPECT_EQ(Message(), "RUN");

    vdtest::SetTag(kT1, "7");
    EXPECT_EQ(task.RunStep(1), 0);
    vdtest::SetTag(kT2, "70000");
    EXPECT_EQ(task.RunStep(0), 0);
    EXPECT_EQ(g_seen, (std::vector<std::string>{"first 7", "second 70000"}));
    EXPECT_EQ(kernel_access_state().id_depth, 0);  // the step released the lock
    g_seen.clear();

    // A step that found nothing pauses 50 ms before the loop goes on.
    auto paused = [&](int blocking) {
        const win::ULONGLONG before = win::test::TestClockTicks();
        const int rc = task.RunStep(blocking);
        EXPECT_EQ(win::test::TestClockTicks() - before, 50u);
        return rc;
    };

    EXPECT_EQ(paused(0), 0);  // polling, nothing changed: idle and go on
    EXPECT_EQ(task.hooks.back(), "Idle");
    win::test::FailCalls(kernel_op_name(kOpNextChanged), kKernelErrNoDatabase);
    EXPECT_EQ(task.RunStep(0), kTlKernelFailed);
    // A wake without a change (-9) ends the loop even without a stop.
    win::test::FailCalls(kernel_op_name(kOpWaitChange), 0, 1, 0, 0);
    EXPECT_EQ(paused(1), kTlNoChange);
    // A disarm that fails after the wait makes the step a kernel failure.
    win::test::FailCalls(kernel_op_name(kOpWaitChange), 0, 1, 0, 0);
    win::test::FailCalls(kernel_op_name(kOpDisarmWait), kKernelErrNoDatabase);
    EXPECT_EQ(task.RunStep(1), kTlKernelFailed);
    // A failed kernel call (-7) without a stop request.
    win::test::FailCalls(kernel_op_name(kOpNextChanged), kKernelErrNoDatabase);
    EXPECT_EQ(paused(1), kTlKernelFailed);
    // The arming's 34 stays 34 while no stop is requested ...
    win::test::FailCalls(kernel_op_name(kOpArmWait), 0, 1, 0, kKernelStopRequested);
    EXPECT_EQ(task.RunStep(1), kKernelStopRequested);
    EXPECT_EQ(task.hooks.size(), 3u);  // Idle only in polling mode
    // ... and becomes 27 with one.
    ASSERT_EQ(db_->RequestStop(task_state().task_id), 0);
    EXPECT_EQ(task.RunStep(1), kStepStopRequested);

    // Polling, with the stop request still pending.
    win::test::FailCalls(kernel_op_name(kOpNextChanged), kKernelErrNoDatabase);
    EXPECT_EQ(task.RunStep(0), kStepStopRequested);  // -7 with a stop request
    EXPECT_EQ(task.RunStep(0), kStepStopRequested);
    EXPECT_EQ(Status(), 1);  // none of these is an error report
    EXPECT_TRUE(g_seen.empty());

    // A binding the kernel refuses is reported.
    TagObject message(kMessage);
    win::test::FailCalls(kernel_op_name(kOpTagTypes), 3);
    task.BindTrigger(&message, &Handler, first);
    EXPECT_EQ(task.trigger_list->entry_count, 2);
    EXPECT_EQ(Status(), 3);
    EXPECT_EQ(Message(), "EVENTFUNCTION");

    // Without a trigger list the wait reports a missing argument (-2).
    ASSERT_EQ(trigger_list_destroy(task.trigger_list), kTlOk);
    task.trigger_list = nullptr;
    EXPECT_EQ(task.RunStep(1), 102);
    EXPECT_EQ(Status(), 2);
    EXPECT_EQ(Message(), "VDERROR");
    EXPECT_EQ(kernel_access_state().id_depth, 0);
}

// The task writes a status text only while the message tag still shows its
// own previous one, as far as the tag holds it.
TEST_F(TaskBaseTest, StatusTextsFollowOnlyTheTasksOwnText) {
    {
        // A message changed during the loading hooks: the running level
        // without the text.
        struct Overwriting : RecordingTask {
            void RunLoad() override { vdtest::SetTag(kMessage, "busy"); }
        } other;
        ASSERT_EQ(other.Start(), 0);
        EXPECT_EQ(Status(), 1);
        EXPECT_EQ(Message(), "busy");
    }
    // Catalog texts for "START" and "RUN" longer than the 80 bytes the tag
    // object holds are still recognised as the task's own.
    const std::string start = "Starting " + std::string(91, 's');
    const std::string run = "Running " + std::string(92, 'r');
    std::filesystem::create_directories(dir_ / "app" / "msg");
    std::ofstream(dir_ / "app" / "msg" / "TEST.txt")
        << "START | \"" << start << "\"\nRUN | \"" << run << "\"\nSHUTDOWN | \"All 100%% stopped\"\n";
    RecordingTask task;
    ASSERT_EQ(task.Start(), 0);
    EXPECT_EQ(Message(), run);
    task.Shutdown();
    EXPECT_EQ(Message(), "All 100% stopped");
}

}  // namespace
