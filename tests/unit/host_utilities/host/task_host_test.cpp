// The host utilities task against the simulated host: disk figures, the
// screen saver, the keyboard filter device and the token, inspected in the
// state directory.
#include <gtest/gtest.h>

#include "../task_fixture.h"

using namespace cmdtest;

// Codes 100..125 and 200..225 are the free and total space of drives A..Z;
// the codes just past each range do nothing.
TEST_F(TaskTest, DiskCodesCoverDrivesAToZInKilobytes) {
    WriteFile(App() / "net" / "VDWINUT.ini", "[DiskSpace]\nUseMB=0\n");
    const struct {
        const char* name;
        int code;
        std::int64_t expected;  // -1: untouched
    } rows[] = {{"D100", 100, 1024},  {"D125", 125, 3072},      {"D200", 200, 2048}, {"D225", 225, 7168},
                {"D102", 102, 3145728}, {"D202", 202, 1073741824}, {"D101", 101, -1},  {"D126", 126, -1},
                {"D226", 226, -1},    {"D99", 99, -1}};
    std::string table = "table 2 \"SYSCMD\"\n  fields tag tag tag u16 i16\n";
    for (const auto& r : rows) {
        for (const char* suffix : {"_T", "_V", "_D"}) AddTag(std::string(r.name) + suffix, "int32", "77");
        table += std::string("  record tag:") + r.name + "_T tag:" + r.name + "_V tag:" + r.name + "_D " +
                 std::to_string(r.code) + " 0\n";
    }
    task_archive_ = table + "end\n";
    // Free and total of each drive differ, and so do neighbouring drives:
    // a swapped figure or a letter off by one shows. 5 TiB on C: only the
    // low 32 bits of the kilobytes travel; its free space for all users is
    // not the caller's.
    WriteFile(State() / "diskspace.txt",
              "A: 1048576 2097152\nC: 3221225472 5497558138880 4294967296\n"
              "Y: 4194304 8388608\nZ: 3145728 7340032\n");
    Start();
    for (const auto& r : rows) {
        if (r.code == 101) win::test::FailCalls("GetDiskFreeSpaceExA", win::ERROR_NOT_READY);  // B: has no medium
        Trigger(std::string(r.name) + "_T");
        EXPECT_EQ(Get(std::string(r.name) + "_V"), r.expected == -1 ? 77 : r.expected) << r.code;
        EXPECT_EQ(Get(std::string(r.name) + "_D"), 1) << r.code;
    }
    EXPECT_EQ(LogCount("Drive B:\\ is not ready or does not exist"), 1);  // the application's text
    EXPECT_EQ(LogCount("is not ready"), 1);
}

TEST_F(TaskTest, ScreenSaverSwitchTimeoutActiveAndStart) {
    AddTag("SS_START32_TRIG", "int32");
    AddTag("SS_START32_DONE");
    task_archive_ += R"(
table 2 "SYSCMD32"
  fields tag tag tag u16 i16
  record tag:SS_START32_TRIG none tag:SS_START32_DONE 14 0
end
)";
    SetRegText(kDesktopKey, "SCRNSAVE.EXE", "s.scr");
    Start();
    // Code 11: a configured program counts only while the saver is on.
    Set("SS_ON_VALUE", 0);
    Trigger("SS_ON_TRIG");
    EXPECT_EQ(ScreenSaverValue(win::SPI_GETSCREENSAVEACTIVE), 0u);
    Set("SS_ACTIVE", 5);
    Trigger("SS_ACTIVE_TRIG");
    EXPECT_EQ(Get("SS_ACTIVE"), 0);
    Set("SS_ON_VALUE", 3);
    Trigger("SS_ON_TRIG", 2);
    EXPECT_EQ(ScreenSaverValue(win::SPI_GETSCREENSAVEACTIVE), 1u);
    Trigger("SS_ACTIVE_TRIG", 2);
    EXPECT_EQ(Get("SS_ACTIVE"), 1);
    SetRegText(kDesktopKey, "SCRNSAVE.EXE", nullptr);
    Trigger("SS_ACTIVE_TRIG", 3);
    EXPECT_EQ(Get("SS_ACTIVE"), 0);

    // Code 14: a digital trigger starts the saver only at exactly 1; a
    // trigger of another type at any nonzero value.
    Trigger("SS_START_TRIG", 2);
    EXPECT_EQ(ReadLines(State() / "screensaver.log").size(), 0u);
    EXPECT_EQ(Get("SS_START_DONE"), 1);
    Trigger("SS_START_TRIG", 1);
    EXPECT_EQ(ReadLines(State() / "screensaver.log").size(), 1u);
    Trigger("SS_START32_TRIG", 2);
    EXPECT_EQ(ReadLines(State() / "screensaver.log").size(), 2u);

    // Failing system parameters are reported.
    win::test::FailCalls("SystemParametersInfoA", win::ERROR_ACCESS_DENIED, win::test::kUntilCleared);
    Trigger("SS_ON_TRIG", 4);
    EXPECT_EQ(LogCount("A system setting cannot be changed"), 1);
    Set("SS_TIME", 9);
    Trigger("SS_TIME_TRIG", 2);
    EXPECT_EQ(Get("SS_TIME"), 9);
    EXPECT_EQ(LogCount("A system setting cannot be read"), 1);
}

// Each keyboard row's modifiers differ, so a swapped record offset or a
// swapped word of the request block shows in the bytes the device gets.
// Locking Delete (either code) with both modifiers b and c switches the
// screen-saver password off; any other combination leaves it alone.
TEST_F(TaskTest, KeyboardRowsSendTheirModifiersAndGuardTheDeleteCombination) {
    const struct {
        const char* row;  // key, a, b, c, option
        const char* request;
        const char* secure_after;
    } rows[] = {
        {"0x0053 0 4 0 0x0102", "53000000010000000201", "1"},  // b only
        {"0x0053 0 0 6 0x0304", "53000100000000000403", "1"},  // c only
        {"0xE053 0 2 3 5", "53e00100010000000500", "0"},
        {"0x0053 0 7 9 6", "53000100010000000600", "0"},
        {"0x0052 0 1 1 8", "52000100010000000800", "1"},       // not Delete
        {"0x001e 5 0 0 0x0708", "1e000000000001000807", "1"},  // a only
    };
    std::string table = "table 1 \"KEYBOARD\"\n  fields tag tag tag tag x16 u16 u16 u16 u16\n";
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const std::string k = "K" + std::to_string(i);
        for (const char* suffix : {"_T", "_S", "_D"}) AddTag(k + suffix);
        table += "  record tag:" + k + "_T none tag:" + k + "_S tag:" + k + "_D " + rows[i].row + "\n";
    }
    task_archive_ = table + "end\n";
    WriteFile(State() / "devices" / "KbFilter", "");
    Start();
    auto lines = ReadLines(State() / "devices.log");
    ASSERT_EQ(lines.size(), std::size(rows));  // start-up unlocks every row: option word 0
    EXPECT_EQ(lines[0], "KbFilter code=0x8300A404 in=53000000010000000000");
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const std::string k = "K" + std::to_string(i);
        SetRegText(kDesktopKey, "ScreenSaverIsSecure", "1");
        Trigger(k + "_T");
        lines = ReadLines(State() / "devices.log");
        EXPECT_EQ(lines.back(), std::string("KbFilter code=0x8300A400 in=") + rows[i].request) << rows[i].row;
        win::UINT secure = ScreenSaverValue(win::SPI_GETSCREENSAVESECURE);
        EXPECT_EQ(secure, rows[i].secure_after[0] == '1' ? 1u : 0u) << rows[i].row;
        EXPECT_EQ(Get(k + "_S"), 1);
        EXPECT_EQ(Get(k + "_D"), 1);
    }
    // A change to 0 unlocks; 1 -> 2 locks again; a refused request still
    // shows what was asked.
    Trigger("K5_T", 0);
    EXPECT_EQ(ReadLines(State() / "devices.log").back(), "KbFilter code=0x8300A404 in=1e000000000001000000");
    EXPECT_EQ(Get("K5_S"), 0);
    Trigger("K5_T", 1);
    Trigger("K5_T", 2);
    lines = ReadLines(State() / "devices.log");
    EXPECT_EQ(lines[lines.size() - 1], lines[lines.size() - 2]);
    win::test::FailCalls("DeviceIoControl", win::ERROR_GEN_FAILURE, win::test::kUntilCleared);
    Trigger("K3_T", 0);
    Trigger("K3_T", 1);
    win::test::ClearFaults();
    EXPECT_EQ(Get("K3_S"), 1);
    EXPECT_EQ(LogCount("Keyboard filter device"), 0);
    // No lock is tracked: stopping releases nothing and restores no flag.
    WriteFile(State() / "devices" / "KbFilter", "");
    const std::size_t before = ReadLines(State() / "devices.log").size();
    Stop();
    EXPECT_EQ(ReadLines(State() / "devices.log").size(), before);
    EXPECT_EQ(ScreenSaverValue(win::SPI_GETSCREENSAVESECURE), 0u);
}

TEST_F(TaskTest, ImmediateExitEnablesTheShutdownPrivilege) {
    task_archive_ = R"(
table 2 "SYSCMD"
  fields tag tag tag u16 i16
  record tag:SHUTDOWN_TRIG none tag:SHUTDOWN_DONE 4 0
end
)";
    Start();
    Trigger("SHUTDOWN_TRIG");
    ASSERT_EQ(g_exit_calls.size(), 1u);
    EXPECT_EQ(g_exit_calls[0].flags, win::EWX_SHUTDOWN);
    EXPECT_EQ(ReadLines(State() / "security.log"),
              std::vector<std::string>{"adjust SeShutdownPrivilege=0x2 SeChangeNotifyPrivilege=0x3"});
    // Without the privilege nothing is adjusted, yet the exit is asked for.
    WriteFile(State() / "privileges.txt", "SeChangeNotifyPrivilege enabled\n");
    Trigger("SHUTDOWN_TRIG", 2);
    EXPECT_EQ(g_exit_calls.size(), 2u);
    EXPECT_EQ(ReadLines(State() / "security.log").size(), 1u);
    // A token that cannot be opened skips the exit.
    win::test::FailCalls("OpenProcessToken", win::ERROR_ACCESS_DENIED, win::test::kUntilCleared);
    Trigger("SHUTDOWN_TRIG", 3);
    win::test::ClearFaults();
    EXPECT_EQ(g_exit_calls.size(), 2u);
    EXPECT_EQ(Get("SHUTDOWN_DONE"), 1);
}
