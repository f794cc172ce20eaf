// The host utilities task against the simulated host: disk figures, the
// screen saver, the keyboard filter device, the token and the event log,
// all inspected in the state directory.
#include <gtest/gtest.h>

#include "../task_fixture.h"
#include "platform/test_hooks.h"
#include "platform/registry.h"
#include "platform/system_params.h"

using cmdtest::ReadLines;
using cmdtest::TaskTest;
using cmdtest::WriteFile;

namespace {

constexpr char kDiskRows[] = R"(
table 2 "SYSCMD"
  fields tag tag tag u16 i16
  record tag:DISK_FREE_TRIG tag:DISK_FREE tag:DISK_FREE_DONE 102 0
  record tag:DISK_TOTAL_TRIG tag:DISK_TOTAL tag:DISK_TOTAL_DONE 202 0
  record tag:SS_ON_TRIG tag:SS_ON_VALUE tag:SS_ON_DONE 100 0
  record tag:SS_TIME_TRIG tag:SS_TIME tag:SS_TIME_DONE 225 0
end
)";

}  // namespace

TEST_F(TaskTest, DiskSpaceInKilobytesWithThe32BitCut) {
    SetAppSetting("[DiskSpace]\nUseMB=0\n");
    SetRows(kDiskRows);
    WriteFile(State() / "diskspace.txt",
              "C: 3221225472 5497558138880\n"
              "A: notready\n"
              "Z: 1048575 2048\n");
    Start();
    EXPECT_EQ(task_->use_mb(), 0);
    Trigger("DISK_FREE_TRIG");
    EXPECT_EQ(Get("DISK_FREE"), 3145728);
    Trigger("DISK_TOTAL_TRIG");
    // 5 TiB = 5368709120 KB: only the low 32 bits travel.
    EXPECT_EQ(static_cast<std::uint32_t>(Get("DISK_TOTAL")), 1073741824u);
    // Drive A not ready: reported with its path, the value tag untouched.
    Set("SS_ON_VALUE", 77);
    Trigger("SS_ON_TRIG");
    EXPECT_EQ(Get("SS_ON_VALUE"), 77);
    EXPECT_EQ(Get("SS_ON_DONE"), 1);
    EXPECT_EQ(LogCount("Drive A:\\ is not ready or does not exist"), 1);  // the application's text
    // Code 225 is the total of drive Z; fractions are dropped.
    Trigger("SS_TIME_TRIG");
    EXPECT_EQ(Get("SS_TIME"), 2);
}

TEST_F(TaskTest, DiskSpaceInMegabytes) {
    SetRows(kDiskRows);
    WriteFile(State() / "diskspace.txt", "C: 3221225472 10737418240\n");
    Start();
    ASSERT_EQ(task_->use_mb(), 1);
    Trigger("DISK_FREE_TRIG");
    EXPECT_EQ(Get("DISK_FREE"), 3072);
    Trigger("DISK_TOTAL_TRIG");
    EXPECT_EQ(Get("DISK_TOTAL"), 10240);
}

TEST_F(TaskTest, ScreenSaverSwitchTimeoutActiveAndStart) {
    Start();
    Set("SS_ON_VALUE", 1);
    Trigger("SS_ON_TRIG");
    win::UINT v = 0;
    ASSERT_TRUE(win::SystemParametersInfoA(win::SPI_GETSCREENSAVEACTIVE, 0, &v, 0));
    EXPECT_EQ(v, 1u);
    // Active but no screen saver program configured: 0.
    Set("SS_ACTIVE", 5);
    Trigger("SS_ACTIVE_TRIG");
    EXPECT_EQ(Get("SS_ACTIVE"), 0);
    win::HKEY key = nullptr;
    ASSERT_EQ(win::RegOpenKeyExA(win::HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, win::KEY_ALL_ACCESS, &key), 0);
    win::RegSetValueExA(key, "SCRNSAVE.EXE", 0, win::REG_SZ, reinterpret_cast<const win::BYTE*>("s.scr"), 6);
    win::RegCloseKey(key);
    Trigger("SS_ACTIVE_TRIG", 2);
    EXPECT_EQ(Get("SS_ACTIVE"), 1);

    Set("SS_SETTIME_VALUE", 300);
    Trigger("SS_SETTIME_TRIG");
    Trigger("SS_TIME_TRIG");
    EXPECT_EQ(Get("SS_TIME"), 300);

    Trigger("SS_START_TRIG");
    EXPECT_EQ(ReadLines(State() / "screensaver.log").size(), 1u);
    EXPECT_EQ(Get("SS_START_DONE"), 1);
    // A digital trigger whose database value is back at 0 starts nothing.
    SystemCommandRow* row = CommandRow(14);
    ASSERT_NE(row, nullptr);
    Set("SS_START_TRIG", 0);
    row->trigger->SetInt(1);
    HostUtilitiesTask::OnSystemCommand(row->trigger.get(), row);
    EXPECT_EQ(ReadLines(State() / "screensaver.log").size(), 1u);

    // Failing system parameters are reported.
    WriteFile(State() / "spi-fail.txt", "17\n14\n");
    Trigger("SS_ON_TRIG", 2);
    EXPECT_EQ(LogCount("A system setting cannot be changed"), 1);
    Set("SS_TIME", 9);
    Trigger("SS_TIME_TRIG", 2);
    EXPECT_EQ(Get("SS_TIME"), 9);
    EXPECT_EQ(LogCount("A system setting cannot be read"), 1);
}

TEST_F(TaskTest, TimeoutDefaultsToTheTableValueWithoutValueTag) {
    SetRows(R"(
table 2 "SYSCMD"
  fields tag tag tag u16 i16
  record tag:SS_SETTIME_TRIG none tag:SS_SETTIME_DONE 12 -2
end
)");
    Start();
    Trigger("SS_SETTIME_TRIG");
    win::UINT v = 0;
    ASSERT_TRUE(win::SystemParametersInfoA(win::SPI_GETSCREENSAVETIMEOUT, 0, &v, 0));
    EXPECT_EQ(v, 65534u);  // the 16-bit argument taken as unsigned
}

TEST_F(TaskTest, KeyboardRowsDriveTheDevice) {
    WriteFile(State() / "devices" / "KbFilter", "");
    win::SystemParametersInfoA(win::SPI_SETSCREENSAVESECURE, 1, nullptr, 0);
    SetInitial("KB_CAD_TRIG", "1");  // read at start-up
    Start();
    // Start-up: the Delete row locks (password flag off), the other unlocks.
    auto lines = ReadLines(State() / "devices.log");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "KbFilter code=0x8300A400 in=53000100010000000000");
    EXPECT_EQ(lines[1], "KbFilter code=0x8300A404 in=0f000000000001000000");
    win::UINT secure = 1;
    win::SystemParametersInfoA(win::SPI_GETSCREENSAVESECURE, 0, &secure, 0);
    EXPECT_EQ(secure, 0u);
    EXPECT_EQ(Get("KB_CAD_STATE"), 1);
    EXPECT_EQ(Get("KB_TAB_STATE"), 0);
    // 1 -> 2 locks again; 0 unlocks with a zero last word.
    Trigger("KB_TAB_TRIG", 1);
    Trigger("KB_TAB_TRIG", 2);
    Trigger("KB_TAB_TRIG", 0);
    lines = ReadLines(State() / "devices.log");
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[2], "KbFilter code=0x8300A400 in=0f000000000001000000");
    EXPECT_EQ(lines[3], lines[2]);
    EXPECT_EQ(lines[4], "KbFilter code=0x8300A404 in=0f000000000001000000");
    EXPECT_EQ(Get("KB_TAB_STATE"), 0);
    // A refused request still shows what was asked.
    win::test::FailCalls("DeviceIoControl", win::ERROR_GEN_FAILURE, win::test::kUntilCleared);
    Trigger("KB_TAB_TRIG", 1);
    win::test::ClearFaults();
    EXPECT_EQ(Get("KB_TAB_STATE"), 1);
    EXPECT_EQ(LogCount("Keyboard filter device"), 0);
}

TEST_F(TaskTest, MissingKeyboardDeviceIsReportedPerTrigger) {
    Start();
    EXPECT_EQ(LogCount("Keyboard filter device not available"), 2);  // once per row at start-up
    Set("KB_CAD_DONE", 0);
    Trigger("KB_CAD_TRIG", 1);
    EXPECT_EQ(LogCount("Keyboard filter device not available"), 3);
    EXPECT_EQ(Get("KB_CAD_STATE"), 0);
    EXPECT_EQ(Get("KB_CAD_DONE"), 1);
}

TEST_F(TaskTest, ImmediateExitEnablesTheShutdownPrivilege) {
    SetRows(R"(
table 2 "SYSCMD"
  fields tag tag tag u16 i16
  record tag:SHUTDOWN_TRIG none tag:SHUTDOWN_DONE 4 0
end
)");
    Start();
    Trigger("SHUTDOWN_TRIG");
    ASSERT_EQ(cmdtest::ExitCalls().size(), 1u);
    EXPECT_EQ(cmdtest::ExitCalls()[0].flags, win::EWX_SHUTDOWN);
    EXPECT_EQ(ReadLines(State() / "security.log"),
              std::vector<std::string>{"adjust SeShutdownPrivilege=0x2 SeChangeNotifyPrivilege=0x3"});
    // Without the privilege nothing is adjusted, yet the exit is asked for.
    WriteFile(State() / "privileges.txt", "SeChangeNotifyPrivilege enabled\n");
    Trigger("SHUTDOWN_TRIG", 2);
    EXPECT_EQ(cmdtest::ExitCalls().size(), 2u);
    EXPECT_EQ(ReadLines(State() / "security.log").size(), 1u);
    // A token that cannot be opened skips the exit.
    win::test::FailCalls("OpenProcessToken", win::ERROR_ACCESS_DENIED, win::test::kUntilCleared);
    Trigger("SHUTDOWN_TRIG", 3);
    win::test::ClearFaults();
    EXPECT_EQ(cmdtest::ExitCalls().size(), 2u);
    EXPECT_EQ(Get("SHUTDOWN_DONE"), 1);
}

TEST_F(TaskTest, EventRowsReachTheEventLog) {
    Start();
    Set("EVT_LEVEL", -5);
    SetText("EVT_TEXT", "pump 3 stopped");
    Step("EVT_LEVEL");
    Step("EVT_TEXT");
    Trigger("EVT_TRIG");
    Trigger("EVT_FIXED_TRIG");
    std::string log = cmdtest::ReadFile(State() / "eventlog.txt");
    EXPECT_NE(log.find("pump 3 stopped"), std::string::npos) << log;
    EXPECT_NE(log.find("Host utilities: fixed warning"), std::string::npos) << log;
}
