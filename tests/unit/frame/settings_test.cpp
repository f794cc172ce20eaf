#include "frame/settings.h"

#include "tests/support/log_fixture.h"

namespace {

using logtest::WriteFile;

class SettingsTest : public logtest::TaskFixture {
protected:
    void SetUp() override {
        TaskFixture::SetUp();
        Attach();
    }
    void WriteInstall(const std::string& text) { WriteFile(Root() / "bin" / "VDWINUT.ini", text); }
    void WriteApp(const std::string& text) { WriteFile(App() / "net" / "VDWINUT.ini", text); }
};

TEST_F(SettingsTest, WithoutFilesEverythingIsOffButPathsAndLockAreReady) {
    ASSERT_EQ(LoadSettings(*task_), 0);
    const LogSettings& log = log_settings();
    EXPECT_EQ(log.debug_level + log.log_to_screen + log.log_to_debugger + log.log_to_file + log.log_to_event_log, 0);
    EXPECT_EQ(task_->blocking, 1);
    EXPECT_EQ(log.log_path, App().generic_string() + "/plant/dom/usr/log/VDWINUT.log");
    EXPECT_TRUE(std::filesystem::is_directory(App() / "plant" / "dom" / "usr" / "log")) << "log directories are made";
    EXPECT_EQ(task_->settings_path, Root().generic_string() + "/bin/VDWINUT.ini");
    EXPECT_EQ(task_->net_settings_path, App().generic_string() + "/net/VDWINUT.ini");

    const KernelAccessState& lock = kernel_access_state();
    EXPECT_NE(lock.id_semaphore, nullptr);
    EXPECT_NE(lock.access_guard, nullptr);
    EXPECT_EQ(lock.second_id_semaphore, nullptr);

    copy_fixed(task_state().vd_name, kEnvNameSize, "");
    ASSERT_EQ(LoadSettings(*task_), 0);
    EXPECT_EQ(log_settings().log_path, App().generic_string() + "//dom/usr/log/VDWINUT.log")
        << "an empty name leaves an empty component";
}

TEST_F(SettingsTest, ApplicationCopyWinsUnlessItsValueIsEmptyAndValuesAreCut) {
    WriteInstall("[Debug]\nDebugLevel=1\nLog2File=1\nLog2Screen=1\nLog2DebugViewer=0\nLog2EventViewer=1\n"
                 "[DiskSpace]\nUseMB=1\n");
    WriteApp("[debug]\ndebuglevel=  3abc\nLog2File=\nLog2Screen=0\nLog2DebugViewer=-1\nLog2EventViewer=yes\n"
             "[Task]\nLong=" + std::string(120, 'v') + "\nHuge=99999999999\nNeg=-99999999999\nWord=abc\n");
    ASSERT_EQ(LoadSettings(*task_), 0);
    const LogSettings& log = log_settings();
    EXPECT_EQ(log.debug_level, 3) << "leading number of the application copy";
    EXPECT_NE(log.log_to_file, 0) << "an empty value counts as absent: the installation copy's 1";
    EXPECT_EQ(log.log_to_screen, 0) << "the application copy's 0 wins";
    EXPECT_NE(log.log_to_debugger, 0) << "-1 switches on";
    EXPECT_EQ(log.log_to_event_log, 0) << "a word switches off";
    EXPECT_EQ(ReadIntSetting(*task_, "DiskSpace", "UseMB", 0), 1) << "only the installation copy has it";
    EXPECT_EQ(ReadIntSetting(*task_, "DiskSpace", "Missing", -12), -12) << "the default when neither has it";
    EXPECT_EQ(ReadSetting(*task_, "Task", "Long", ""), std::string(79, 'v'));
    EXPECT_EQ(ReadIntSetting(*task_, "Task", "Huge", 0), 2147483647);
    EXPECT_EQ(ReadIntSetting(*task_, "Task", "Neg", 0), -2147483647 - 1);
    EXPECT_EQ(ReadIntSetting(*task_, "Task", "Word", 5), 0);
    EXPECT_EQ(ReadSetting(SettingsFiles{}, "Task", "Long", "dflt"), "dflt") << "no paths: the default";
}

TEST_F(SettingsTest, PollingModeMakesTheLoopPollAndIsResetOnEveryRead) {
    WriteApp("[Task]\nPollingMode=1\n");
    ASSERT_EQ(LoadSettings(*task_), 0);
    ASSERT_EQ(LoadSettings(*task_), 0);
    EXPECT_EQ(task_->blocking, 0);
    EXPECT_EQ(task_->polling_requests, 1u) << "reading again does not add a second request";
    WriteApp("[Task]\nPollingMode=0\n");
    ASSERT_EQ(LoadSettings(*task_), 0);
    EXPECT_EQ(task_->blocking, 1);
}

TEST_F(SettingsTest, SecondRegistrationUsesTheNameEndingInTwoAndIsReportedWhenRefused) {
    WriteInstall("[Task]\nDriver2Ids=1\n");
    const TaskState& state = task_state();
    TaskId squatter = kernel_attach("VDWINU2", "someone else", "plant", "dom", "usr");
    ASSERT_GE(squatter, 0);
    ASSERT_EQ(LoadSettings(*task_), 0);
    EXPECT_EQ(state.second_task_id, state.task_id);
    EXPECT_EQ(kernel_access_state().second_id_semaphore, nullptr) << "no third semaphore";
    EXPECT_EQ(MessageTag(), "NOSECONDID");
    EXPECT_EQ(StatusTag(), 2);
    EXPECT_EQ(task_->blocking, 1) << "the wait mode stays as chosen";
    EXPECT_EQ(kernel_access_state().id_owner.load(), 0u) << "the lock is released after the report";

    kernel_detach(squatter);
    ASSERT_EQ(LoadSettings(*task_), 0);
    EXPECT_EQ(db_->FindTask("VDWINU2"), state.second_task_id);
    EXPECT_NE(state.second_task_id, state.task_id);
    EXPECT_NE(kernel_access_state().second_id_semaphore, nullptr);
    // Reading again keeps the registration it has; shutdown detaches both.
    TaskId second = state.second_task_id;
    ASSERT_EQ(LoadSettings(*task_), 0);
    EXPECT_EQ(state.second_task_id, second);
    task_->Shutdown();
    EXPECT_TRUE(db_->Tasks().empty());
}

TEST_F(SettingsTest, SemaphoreThatCannotBeMadeFailsWith191) {
    win::test::FailCalls("CreateSemaphoreA", win::ERROR_NOT_ENOUGH_MEMORY, win::test::kUntilCleared);
    int rc = LoadSettings(*task_);
    win::test::ClearFaults();
    EXPECT_EQ(rc, kSemaphoreFailure);
    EXPECT_EQ(kernel_access_state().id_semaphore, nullptr);
    // The lock then holds nothing and never blocks.
    AcquireKernelAccess(1);
    EXPECT_EQ(CurrentTaskId(), task_state().task_id);
    ReleaseKernelAccess();
    EXPECT_EQ(LoadSettings(*task_), 0) << "a later read creates what is missing";
}

}  // namespace
