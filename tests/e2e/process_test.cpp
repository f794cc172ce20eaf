// The vdwinut process end to end: start, each row kind, the settings files, the stop sequence and the start-up failures.
#include <utility>
#include <vector>

#include "platform/disk.h"
#include "tests/e2e/task_runtime.h"

namespace {

using namespace e2e;
using ProcessTest = TaskRuntime;

TEST_F(ProcessTest, StartsAndStopsOnRequest) {
    StartTask();
    ASSERT_TRUE(WaitFor("VDWINUT.STATUS", 1)) << ReadFile(dir_ / "task.err");
    // The running text, or the keyboard report where the host has no
    // keyboard filter device (the start-up then writes the level alone).
    const std::string running = Text("VDWINUT.MSG");
    EXPECT_TRUE(running == "Running" || running == "Keyboard filter device not available") << running;

    ASSERT_EQ(Vdrt("stop VDWINUT"), 0);
    EXPECT_TRUE(ExitedWith(0));
    EXPECT_EQ(Int("VDWINUT.STATUS"), 0);
    // At stop the texts follow only while the task's own text is shown.
    EXPECT_EQ(Text("VDWINUT.MSG"), running == "Running" ? "Stopped" : running);
    EXPECT_TRUE(rt_.db->Tasks().empty());

    std::string log = ReadFile(LogFile());
    EXPECT_NE(log.find("Task VDWINUT (Windows Host Utilities) started in "), std::string::npos) << log;
    EXPECT_NE(log.find("Loading the configuration tables"), std::string::npos);
    EXPECT_NE(log.find("Task VDWINUT (Windows Host Utilities) stopped in "), std::string::npos);
    EXPECT_LT(log.find("started in"), log.find("stopped in"));
    // The console gets the same lines (Log2Screen in the installation copy).
    EXPECT_NE(ReadFile(dir_ / "task.out").find("started in"), std::string::npos);
}

// The settings files as the system's own reader sees them (the real reader
// of the emulation's private prefix in the Windows build): the
// application's copy, in lower case with blanks and quotes, wins over the
// installation's "UseMB=0"; without the key there the installation's copy
// holds: kilobytes, cut to 32 bits.
TEST_F(ProcessTest, SettingsFilesDecideTheDiskUnit) {
    win::ULARGE_INTEGER available{}, total{}, free{};
    ASSERT_TRUE(win::GetDiskFreeSpaceExA("C:\\", &available, &total, &free));
    int trigger_value = 0;
    auto total_after_start = [&](const char* settings) {
        std::ofstream(dir_ / "app" / "net" / "VDWINUT.ini") << settings;
        StartTask();
        EXPECT_TRUE(WaitFor("VDWINUT.STATUS", 1)) << ReadFile(dir_ / "task.err");
        EXPECT_EQ(Vdrt("set DISK_TOTAL_DONE 0"), 0);
        EXPECT_EQ(Vdrt("set DISK_TOTAL_TRIG " + std::to_string(++trigger_value)), 0);
        EXPECT_TRUE(WaitFor("DISK_TOTAL_DONE", 1)) << ReadFile(LogFile());
        EXPECT_EQ(Vdrt("stop VDWINUT"), 0);
        EXPECT_TRUE(ExitedWith(0));
        return static_cast<std::uint32_t>(Int("DISK_TOTAL"));
    };
    EXPECT_EQ(total_after_start("; application copy\n[debug]\ndebuglevel = 3\n[diskspace]\n  usemb = \"1\"  \n"),
              static_cast<std::uint32_t>(total.QuadPart >> 20));
    EXPECT_EQ(total_after_start("[Debug]\nDebugLevel=3\n"), static_cast<std::uint32_t>(total.QuadPart >> 10));
}

// Every row of the sample application runs in the real process; the exit
// and lock rows in the test build that records those calls.
TEST_F(ProcessTest, EveryRowRunsAndTheDeferredExitReachesTheStopTag) {
    StartTask(VD_VDWINUT_RECORDING);
    ASSERT_TRUE(WaitFor("VDWINUT.STATUS", 1)) << ReadFile(dir_ / "task.err");
    ASSERT_EQ(Vdrt("set SHUT_DEFER 1"), 0);
    std::vector<std::pair<std::string, std::string>> rows_run;
    for (const char* stem : {"KB_CAD", "KB_TAB", "SS_ON", "SS_ACTIVE", "SS_SETTIME", "SS_TIME", "SS_SECURE",
                             "SS_SETSEC", "LOCKPOL", "LOCKPOL_SET", "TASKMGR", "TASKMGR_SET", "DISK_FREE",
                             "DISK_TOTAL", "SHUTDOWN", "LOCK", "EVT", "EVT_FIXED"}) {
        rows_run.emplace_back(std::string(stem) + "_TRIG", std::string(stem) + "_DONE");
    }
    // Starting the screen saver talks to a real desktop on Windows.
    if (fs::path::preferred_separator == '/') rows_run.emplace_back("SS_START_TRIG", "SS_START_DONE");
    for (const auto& [trigger, done] : rows_run) {
        ASSERT_EQ(Vdrt("set " + done + " 0"), 0);
        ASSERT_EQ(Vdrt("set " + trigger + " 1"), 0);
        EXPECT_TRUE(WaitFor(done.c_str(), 1)) << trigger << "\n" << ReadFile(LogFile());
    }
    EXPECT_EQ(Int("STOP"), 1) << "the deferred exit reached the stop tag";
    ASSERT_EQ(Vdrt("stop VDWINUT"), 0);
    EXPECT_TRUE(ExitedWith(0));
    EXPECT_EQ(Int("VDWINUT.STATUS"), 0);
}

TEST_F(ProcessTest, StartFailuresExitWithMinusOne) {
    // No runtime database: the attach is refused.
    Env("VDRUNTIME", (dir_ / "missing.db").string());
    StartTask();
    EXPECT_TRUE(ExitedWith(-1));
    Env("VDRUNTIME", rt_.DbPath());
    EXPECT_TRUE(rt_.db->Tasks().empty());
    EXPECT_EQ(Int("VDWINUT.STATUS"), 0);

    // No kernel library next to a copy of the program: said on stderr.
    fs::create_directories(dir_ / "alone");
    fs::path copy = dir_ / "alone" / fs::path(VD_VDWINUT).filename();
    fs::copy_file(VD_VDWINUT, copy);
    StartTask(copy.string());
    EXPECT_TRUE(ExitedWith(-1));
    EXPECT_NE(ReadFile(dir_ / "task.err").find("VDKERNEL"), std::string::npos) << ReadFile(dir_ / "task.err");
}

}  // namespace
