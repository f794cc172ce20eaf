// The process entry's framework failure and the application name; start-up
// failures and orderly runs are covered end to end by the process tests.
#include "frame/application.h"
#include "frame/task_base.h"
#include "tests/support/in_process_kernel.h"

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

TEST(ApplicationTest, FrameworkFailureSaysSoAndExitsWithMinusOne) {
    std::unique_ptr<sim::Database> db;
    ASSERT_NO_FATAL_FAILURE(vdtest::BindInProcessKernel("TEST.STATUS int16 0\nTEST.MSG text \"\"\n", db));
    FailingApplication app;
    TaskBase task("TEST", "Test Task");
    testing::internal::CaptureStderr();
    EXPECT_EQ(ProcessMain(app, task), kExitFailure);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Fatal Error: MFC initialization failed\n");
    EXPECT_EQ(app.instances, 0);
    EXPECT_TRUE(db->Tasks().empty()) << "never started";
    vdtest::UnbindInProcessKernel();
}

TEST(ApplicationName, FromTheProgramPath) {
    EXPECT_EQ(TaskApplication::AppNameFromPath("C:\\Vandrel\\bin\\vdwinut.exe"), "vdwinut");
    EXPECT_EQ(TaskApplication::AppNameFromPath("/opt/app/vdwinut"), "vdwinut");
    EXPECT_EQ(TaskApplication::AppNameFromPath("dir.d/prog.x.exe"), "prog.x");
    EXPECT_EQ(TaskApplication::AppNameFromPath(".hidden"), ".hidden");
    EXPECT_EQ(TaskApplication::AppNameFromPath(nullptr), "");
    EXPECT_EQ(TaskApplication::ReadTrademarks("no such file.exe"), "");
}

}  // namespace
