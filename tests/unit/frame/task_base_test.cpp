// The task lifecycle over the in-process kernel: start-up and its failures,
// the run step's rules in blocking and polling mode, shutdown, binding.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "frame/kernel_access.h"
#include "frame/tag_object.h"
#include "kernel/kernel.h"
#include "frame/task_base.h"
#include "frame/task_state.h"
#include "platform/test_hooks.h"
#include "platform/environment.h"
#include "sim/sim.h"
#include "tests/support/in_process_kernel.h"
#include "tests/support/runtime_environment.h"
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
    ~RecordingTask() override = default;
    void CtLoad() override { Note("CtLoad"); }
    void RunLoad() override { Note("RunLoad"); }
    void Stop() override { Note("Stop"); }
    void Idle() override { Note("Idle"); }

    void Note(const char* hook);
    std::vector<std::string> hooks;
    std::vector<std::int32_t> status_seen;  // status level when each hook ran
    sim::Database* db = nullptr;
};

void RecordingTask::Note(const char* hook) {
    hooks.push_back(hook);
    sim::Value v;
    if (db != nullptr && db->GetValue(kStatus, v)) status_seen.push_back(static_cast<std::int32_t>(v.integer));
}

class TaskBaseTest : public ::testing::Test {
public:
    void SetUp() override {
        std::filesystem::create_directories(dir_ / "app");
        std::filesystem::create_directories(dir_ / "root");
        // No domain: empty, and start-up goes on.
        vdtest::SetRuntimeEnvironment({(dir_ / "app").generic_string(), (dir_ / "root").generic_string(), "", "demo",
                                       "", "", (dir_ / "host").generic_string()});
        ASSERT_NO_FATAL_FAILURE(vdtest::BindInProcessKernel(kTags, db_));
        other_ = db_->AttachObserver("OTHER");
        ASSERT_GE(other_, 0);
    }
    void TearDown() override {
        vdtest::UnbindInProcessKernel();
        vdtest::ClearRuntimeEnvironment();
    }

    std::int32_t Status() {
        sim::Value v;
        EXPECT_TRUE(db_->GetValue(kStatus, v));
        return static_cast<std::int32_t>(v.integer);
    }
    std::string Message() {
        sim::Value v;
        EXPECT_TRUE(db_->GetValue(kMessage, v));
        return v.bytes;
    }
    void Set(TagRef ref, std::int16_t type, const char* text) {
        sim::Value v;
        std::string error;
        ASSERT_TRUE(sim::ParseValue(type, text, v, error)) << error;
        ASSERT_EQ(db_->SetValue(ref, v), 0);
    }
    std::size_t Attached() { return db_->Tasks().size(); }

    vdtest::ScratchDir scratch_{"frame_task_"};
    const std::filesystem::path dir_ = scratch_.Dir();
    std::unique_ptr<sim::Database> db_;
    TaskId other_ = -1;
};

TEST_F(TaskBaseTest, StartRunStopInOrder) {
    RecordingTask task;
    task.db = db_.get();
    ASSERT_EQ(task.Start(), 0);
    EXPECT_EQ(task.hooks, (std::vector<std::string>{"CtLoad", "RunLoad"}));
    EXPECT_EQ(task.status_seen, (std::vector<std::int32_t>{3, 3}));  // "START" while loading
    EXPECT_EQ(Status(), 1);
    EXPECT_EQ(Message(), "RUN");
    EXPECT_GE(task_state().task_id, 0);
    EXPECT_STREQ(task.TaskName(), "TEST");
    EXPECT_STREQ(task.TaskTitle(), "Test Task");
    EXPECT_STREQ(task_state().vd_name, "demo");
    EXPECT_STREQ(task_state().vd_domain, "");
    EXPECT_EQ(task_state().environment.status_tag, kStatus);
    EXPECT_EQ(task_state().environment.message_tag, kMessage);
    EXPECT_EQ(task_state().second_task_id, task_state().task_id);
    ASSERT_NE(task.trigger_list, nullptr);
    EXPECT_EQ(task.settings_path, (dir_ / "root").generic_string() + "/bin/TEST.ini");

    // A second start changes nothing.
    EXPECT_EQ(task.Start(), 0);
    EXPECT_EQ(task.hooks.size(), 2u);
    EXPECT_EQ(Attached(), 1u);

    task.Shutdown();
    EXPECT_EQ(task.hooks.back(), "Stop");
    EXPECT_EQ(task.status_seen.back(), 4);  // "STOPPING" around the hook
    EXPECT_EQ(Status(), 0);
    EXPECT_EQ(Message(), "SHUTDOWN");
    EXPECT_EQ(task_state().task_id, kNoTask);
    EXPECT_EQ(task_state().second_task_id, kNoTask);
    EXPECT_EQ(task.TaskName(), nullptr);
    EXPECT_EQ(task.trigger_list, nullptr);
    EXPECT_EQ(Attached(), 0u);
    task.Shutdown();  // not attached: nothing
    EXPECT_EQ(task.hooks.size(), 3u);
}

TEST_F(TaskBaseTest, StartFailuresCleanUpAndReturnTheirCodes) {
    // A failed attach gives its own code negated; a failed environment
    // record detaches again.
    struct Case {
        int op;
        std::int32_t error, rc;
        int code;
    };
    for (const Case& c : {Case{kOpAttach, 0, -3, 3}, Case{kOpTaskEnvironment, 5, -1, kStartCodeNoEnvironment}}) {
        RecordingTask task;
        win::test::FailCalls(kernel_op_name(c.op), c.error, 1, 0, c.rc);
        EXPECT_EQ(task.Start(), c.code) << kernel_op_name(c.op);
        EXPECT_TRUE(task.hooks.empty());
        EXPECT_EQ(task_state().task_id, kNoTask);
        EXPECT_EQ(Attached(), 0u);
    }
}

TEST_F(TaskBaseTest, ConstructionRules) {
    {
        RecordingTask nameless("");
        EXPECT_EQ(task_state().task_id, kNoTask);
        EXPECT_EQ(task_state().event_log, nullptr);
    }
    RecordingTask task;
    EXPECT_NE(task_state().event_log, nullptr);
    EXPECT_EQ(TaskBase::Instance(), &task);
    ASSERT_EQ(task.Start(), 0);
    TaskId id = task_state().task_id;
    {
        // A second task object in the process leaves the running one alone.
        RecordingTask second("SECOND");
        EXPECT_EQ(task_state().task_id, id);
        EXPECT_STREQ(task.TaskName(), "TEST");
        EXPECT_EQ(TaskBase::Instance(), &task);
    }
    EXPECT_EQ(task_state().task_id, id);
    EXPECT_EQ(Attached(), 1u);
}

TEST_F(TaskBaseTest, PollingRequestsCount) {
    RecordingTask task;
    EXPECT_EQ(task.IsBlocking(), 1);
    task.RequestPolling();
    task.RequestPolling();
    task.ReleasePolling();
    EXPECT_EQ(task.IsBlocking(), 0);
    task.ReleasePolling();
    EXPECT_EQ(task.IsBlocking(), 1);
    task.ReleasePolling();  // never below zero
    task.RequestPolling();
    EXPECT_EQ(task.IsBlocking(), 0);
    task.ResetPolling();
    EXPECT_EQ(task.IsBlocking(), 1);
    EXPECT_EQ(task.polling_requests, 0u);
}

struct Seen {
    std::vector<std::string> calls;
};
void FirstHandler(TagObject* tag, void* arg) {
    static_cast<Seen*>(arg)->calls.push_back("first " + std::to_string(tag->AsInt()));
}
void SecondHandler(TagObject* tag, void* arg) {
    static_cast<Seen*>(arg)->calls.push_back("second " + std::to_string(tag->AsInt()));
}

struct StartNotice {
    TaskId task = kNoTask;
    std::int32_t a = -1, b = -1;
    int calls = 0;
} g_notice;
std::int32_t RecordStartNotice(TaskId task, std::int32_t a, std::int32_t b) {
    g_notice = {task, a, b, g_notice.calls + 1};
    return sim::Ops().start_notice(task, a, b);
}

TEST_F(TaskBaseTest, KernelHearsOfTheStartAndOfEveryWait) {
    KernelOps ops = sim::Ops();
    ops.start_notice = &RecordStartNotice;
    kernel_bind_table(ops);
    g_notice = {};
    RecordingTask task;
    ASSERT_EQ(task.Start(), 0);
    EXPECT_EQ(g_notice.calls, 1);
    EXPECT_EQ(g_notice.task, task_state().task_id);
    EXPECT_EQ(g_notice.a, 15);
    EXPECT_EQ(g_notice.b, 0);
    win::test::FailCalls(kernel_op_name(kOpWaitChange), 0, 1, 0, 0);
    task.RunStep(1);
    task.RunStep(0);
    std::uint32_t steps = 0;
    for (const sim::TaskInfo& info : db_->Tasks())
        if (info.id == task_state().task_id) steps = info.steps;
    EXPECT_EQ(steps, 2u);
}

TEST_F(TaskBaseTest, SecondRegistrationIsDetachedAtShutdownAndOnAFailedStart) {
    std::filesystem::create_directories(dir_ / "root" / "bin");
    std::ofstream(dir_ / "root" / "bin" / "TEST.ini") << "[Task]\nDriver2Ids=1\n";
    {
        RecordingTask task;
        ASSERT_EQ(task.Start(), 0);
        EXPECT_EQ(Attached(), 2u);
        EXPECT_NE(task_state().second_task_id, task_state().task_id);
        task.Shutdown();
        EXPECT_EQ(Attached(), 0u);
    }
    // A start-up that fails after the second registration (the lock's
    // semaphores cannot be made) detaches both.
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

// A handler bound while its tag's handlers run waits for the next change.
struct Adder {
    RecordingTask* task;
    Seen* seen;
    bool added = false;
};
void AddingHandler(TagObject* tag, void* arg) {
    auto* adder = static_cast<Adder*>(arg);
    adder->seen->calls.push_back("adder");
    if (adder->added) return;
    adder->added = true;
    adder->task->BindTrigger(tag, &SecondHandler, adder->seen);
}

TEST_F(TaskBaseTest, HandlerBoundDuringADispatchRunsFromTheNextChangeOn) {
    RecordingTask task;
    ASSERT_EQ(task.Start(), 0);
    Seen seen;
    Adder adder{&task, &seen};
    TagObject t1(kT1);
    task.BindTrigger(&t1, &AddingHandler, &adder);
    task.BindTrigger(&t1, &FirstHandler, &seen);
    Set(kT1, kTagInt16, "7");
    EXPECT_EQ(task.RunStep(1), 0);
    EXPECT_EQ(seen.calls, (std::vector<std::string>{"adder", "first 7"}));
    Set(kT1, kTagInt16, "8");
    EXPECT_EQ(task.RunStep(1), 0);
    EXPECT_EQ(seen.calls, (std::vector<std::string>{"adder", "first 7", "adder", "first 8", "second 8"}));
}

TEST_F(TaskBaseTest, RunStepDispatchesChangesToBoundHandlers) {
    RecordingTask task;
    ASSERT_EQ(task.Start(), 0);
    Seen seen;
    TagObject t1(kT1);
    TagObject t2(kT2);
    TagObject off(kOff);
    ASSERT_EQ(t1.Type(), kTagInt16);
    task.BindTrigger(&t1, &FirstHandler, &seen);
    task.BindTrigger(&t1, &SecondHandler, &seen);
    task.BindTrigger(&t2, &FirstHandler, &seen);
    task.BindTrigger(&off, &FirstHandler, &seen);  // not configured: skipped silently
    EXPECT_EQ(task.trigger_list->entry_count, 2);
    EXPECT_EQ(Message(), "RUN");

    Set(kT1, kTagInt16, "7");
    EXPECT_EQ(task.RunStep(1), 0);
    EXPECT_EQ(seen.calls, (std::vector<std::string>{"first 7", "second 7"}));

    Set(kT2, kTagInt32, "70000");
    EXPECT_EQ(task.RunStep(0), 0);
    EXPECT_EQ(seen.calls.back(), "first 70000");
    EXPECT_EQ(kernel_access_state().id_depth, 0);  // the step released the lock

    // A binding the kernel refuses is reported.
    TagObject message(kMessage);
    win::test::FailCalls(kernel_op_name(kOpTagTypes), 3);
    task.BindTrigger(&message, &SecondHandler, &seen);
    EXPECT_EQ(task.trigger_list->entry_count, 2);
    EXPECT_EQ(Status(), 3);
    EXPECT_EQ(Message(), "EVENTFUNCTION");
}

TEST_F(TaskBaseTest, RunStepRules) {
    RecordingTask task;
    ASSERT_EQ(task.Start(), 0);
    Seen seen;
    TagObject t1(kT1);
    task.BindTrigger(&t1, &FirstHandler, &seen);

    EXPECT_EQ(task.RunStep(0), 0);  // polling, nothing changed: idle and go on
    EXPECT_EQ(task.hooks.back(), "Idle");
    win::test::FailCalls(kernel_op_name(kOpNextChanged), kKernelErrNoDatabase);
    EXPECT_EQ(task.RunStep(0), kTlKernelFailed);
    // A wake without a change (-9) ends the loop even without a stop, after
    // a pause of 50 ms.
    win::test::FailCalls(kernel_op_name(kOpWaitChange), 0, 1, 0, 0);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(task.RunStep(1), kTlNoChange);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(40));  // 50 ms, give or take the clock
    // A disarm that fails after the wait makes the step a kernel failure.
    win::test::FailCalls(kernel_op_name(kOpWaitChange), 0, 1, 0, 0);
    win::test::FailCalls(kernel_op_name(kOpDisarmWait), kKernelErrNoDatabase);
    EXPECT_EQ(task.RunStep(1), kTlKernelFailed);
    // A failed kernel call (-7) without a stop request.
    win::test::FailCalls(kernel_op_name(kOpNextChanged), kKernelErrNoDatabase);
    EXPECT_EQ(task.RunStep(1), kTlKernelFailed);
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
    EXPECT_TRUE(seen.calls.empty());
}

TEST_F(TaskBaseTest, OtherWaitErrorsAreReportedAndEndTheLoop) {
    RecordingTask task;
    ASSERT_EQ(task.Start(), 0);
    task.Shutdown();
    ASSERT_EQ(task.Start(), 0);
    // Without a trigger list the wait reports a missing argument (-2).
    ASSERT_EQ(trigger_list_destroy(task.trigger_list), kTlOk);
    task.trigger_list = nullptr;
    EXPECT_EQ(task.RunStep(1), 102);
    EXPECT_EQ(Status(), 2);
    EXPECT_EQ(Message(), "VDERROR");
    EXPECT_EQ(kernel_access_state().id_depth, 0);
}

TEST_F(TaskBaseTest, ShutdownWritesOnlyLevelsWhenSomeoneElseWroteTheMessage) {
    {
        RecordingTask task;
        ASSERT_EQ(task.Start(), 0);
        Set(kMessage, kTagText, "operator note");
        task.Shutdown();
        EXPECT_EQ(Status(), 0);
        EXPECT_EQ(Message(), "operator note");
        EXPECT_EQ(task.hooks.back(), "Stop");
    }

    // The same at start-up: a message changed during the loading hooks
    // gets the running level without the text.
    struct Overwriting : RecordingTask {
        TaskBaseTest* test = nullptr;
        void RunLoad() override { test->Set(kMessage, kTagText, "busy"); }
    } other;
    other.test = this;
    ASSERT_EQ(other.Start(), 0);
    EXPECT_EQ(Status(), 1);
    EXPECT_EQ(Message(), "busy");
}

TEST_F(TaskBaseTest, OwnTextsLongerThanTheMessageTagAreStillRecognised) {
    // Catalog texts for "START" and "RUN" longer than the 80 bytes the tag
    // object holds: the task still knows its own text and writes its later
    // statuses with their texts.
    const std::string start = "Starting " + std::string(91, 's');
    const std::string run = "Running " + std::string(92, 'r');
    std::filesystem::create_directories(dir_ / "app" / "msg");
    std::ofstream(dir_ / "app" / "msg" / "TEST.txt")
        << "START | \"" << start << "\"\nRUN | \"" << run << "\"\nSHUTDOWN | \"All 100%% stopped\"\n";
    RecordingTask task;
    ASSERT_EQ(task.Start(), 0);
    EXPECT_EQ(Status(), 1);
    EXPECT_EQ(Message(), run);
    task.Shutdown();
    EXPECT_EQ(Status(), 0);
    EXPECT_EQ(Message(), "All 100% stopped");
}

}  // namespace
