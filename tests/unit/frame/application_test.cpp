// The process entry: framework failure, start-up failure and an orderly
// run through the application object, over the in-process kernel.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "frame/application.h"
#include "frame/kernel.h"
#include "frame/task_base.h"
#include "frame/task_state.h"
#include "platform/environment.h"
#include "sim/sim.h"
#include "tests/support/in_process_kernel.h"
#include "tests/support/scratch_dir.h"

namespace {

class FailingApplication : public TaskApplication {
public:
    bool InitFramework(win::HMODULE, const char*, int) override { return false; }
    bool InitInstance() override {
        ++instances;
        return true;
    }
    int instances = 0;
};

class StoppingTask : public TaskBase {
public:
    StoppingTask() : TaskBase("TEST", "Test Task") {}
    // Asks the kernel to stop this task as soon as it runs.
    void RunLoad() override { sim::CurrentDatabase()->RequestStop(task_state().task_id); }
    void Stop() override { ++stops; }
    int stops = 0;
};

class ApplicationTest : public ::testing::Test {
protected:
    void SetUp() override {
        win::SetEnvironmentVariableA("VDAPP", dir_.generic_string().c_str());
        win::SetEnvironmentVariableA("VDROOT", dir_.generic_string().c_str());
        win::SetEnvironmentVariableA("VDHOST", (dir_ / "host").generic_string().c_str());
        ASSERT_NO_FATAL_FAILURE(vdtest::BindInProcessKernel("TEST.STATUS int16 0\nTEST.MSG text \"\"\n", db_));
    }
    void TearDown() override {
        vdtest::UnbindInProcessKernel();
        for (const char* name : {"VDAPP", "VDROOT", "VDHOST"}) win::SetEnvironmentVariableA(name, nullptr);
    }
    vdtest::ScratchDir scratch_{"frame_app_"};
    const std::filesystem::path dir_ = scratch_.Dir();
    std::unique_ptr<sim::Database> db_;
};

TEST_F(ApplicationTest, FrameworkFailureSaysSoAndExitsWithMinusOne) {
    FailingApplication app;
    StoppingTask task;
    testing::internal::CaptureStderr();
    EXPECT_EQ(ProcessMain(app, task), kExitFailure);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Fatal Error: MFC initialization failed\n");
    EXPECT_EQ(app.instances, 0);
    EXPECT_EQ(task_state().task_id, kNoTask);  // never started
    EXPECT_TRUE(db_->Tasks().empty());
}

TEST_F(ApplicationTest, StartFailureExitsWithMinusOne) {
    TaskApplication app;
    StoppingTask task;
    sim::InjectFault(kOpAttach, 1, 0, -4);
    EXPECT_EQ(ProcessMain(app, task), kExitFailure);
    EXPECT_EQ(task.stops, 0);
    EXPECT_FALSE(app.AppName().empty());  // the framework part ran
}

TEST_F(ApplicationTest, OrderlyRunEndsWithZero) {
    TaskApplication app;
    StoppingTask task;
    EXPECT_EQ(ProcessMain(app, task), kExitOk);
    EXPECT_EQ(task.stops, 1);
    EXPECT_EQ(task_state().task_id, kNoTask);
    EXPECT_TRUE(db_->Tasks().empty());
    // The test program has no version information: an empty registry key.
    EXPECT_EQ(app.RegistryKey(), "");
}

TEST(ApplicationName, FromTheProgramPath) {
    EXPECT_EQ(TaskApplication::AppNameFromPath("C:\\Vandrel\\bin\\vdwinut.exe"), "vdwinut");
    EXPECT_EQ(TaskApplication::AppNameFromPath("/opt/app/vdwinut"), "vdwinut");
    EXPECT_EQ(TaskApplication::AppNameFromPath("dir.d/prog.x.exe"), "prog.x");
    EXPECT_EQ(TaskApplication::AppNameFromPath(".hidden"), ".hidden");
    EXPECT_EQ(TaskApplication::AppNameFromPath(""), "");
    EXPECT_EQ(TaskApplication::AppNameFromPath(nullptr), "");
    EXPECT_EQ(TaskApplication::ReadTrademarks("no such file.exe"), "");
    EXPECT_EQ(TaskApplication::ReadTrademarks(nullptr), "");
}

}  // namespace
