// The host utilities task over the sample application: loading the rows,
// the command frame, the registry, disk, keyboard, exit and event-log
// commands.
#include <gtest/gtest.h>

#include "platform/event_log_dump.h"
#include "task_fixture.h"

using namespace cmdtest;

TEST_F(TaskTest, LoadsTheSampleRowsInTableAndRecordOrder) {
    Start();
    ASSERT_EQ(task_->keyboard_rows().size(), 2u);
    ASSERT_EQ(task_->event_log_rows().size(), 2u);
    std::vector<int> codes;
    for (const auto& row : task_->command_rows()) codes.push_back(row->command);
    EXPECT_EQ(codes, (std::vector<int>{10, 11, 12, 13, 14, 20, 21, 30, 31, 32, 33, 102, 202, 4, 5}));
    // Start-up applied the keyboard rows: no device, so each row reports it
    // and is done.
    EXPECT_EQ(LogCount("Keyboard filter device not available"), 2);
    EXPECT_EQ(Get("KB_CAD_DONE") + Get("KB_TAB_DONE"), 2);
}

// An archive without tables, a missing one and tables whose records are too
// short for their rows are reported; the task runs on without rows.
TEST_F(TaskTest, ArchivesWithoutUsableRowsAreReportedAndTheTaskRuns) {
    const struct {
        const char* rows;  // "": no archive at all
        const char* message;
    } cases[] = {
        {"# no tables\n", "The configuration archive holds no tables"},
        {"", "No configuration archive for the task"},
        {"table 2 \"SHORT\"\n  fields tag tag u16\n  record tag:LOCK_TRIG tag:LOCK_DONE 5\nend\n"
         "table 4 \"SHORTEVT\"\n  fields tag tag tag tag\n  record tag:EVT_TRIG none none tag:EVT_DONE\nend\n",
         "Configuration table 1: record 0 cannot be read"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        Stop();
        task_archive_ = c.rows;
        Start();
        EXPECT_EQ(LogCount(c.message), 1);
        for (const auto* later = &c + 1; later != std::end(cases); ++later) EXPECT_EQ(LogCount(later->message), 0);
        EXPECT_TRUE(task_->command_rows().empty());
        EXPECT_TRUE(task_->event_log_rows().empty());
        ASSERT_NE(task_->stop_tag(), nullptr);  // RunLoad still runs
    }
}

TEST_F(TaskTest, TruncatedArchiveBuildsNoRowFromAPartRecord) {
    // The last table is the event-log table (82-byte records): cut into its
    // second record.
    Start(40);
    EXPECT_EQ(task_->keyboard_rows().size(), 2u);
    EXPECT_EQ(task_->command_rows().size(), 15u);
    ASSERT_EQ(task_->event_log_rows().size(), 1u);
    EXPECT_STREQ(task_->event_log_rows()[0]->text, "Operator message");
    EXPECT_EQ(LogCount("Configuration table 2: record 1 cannot be read"), 1);
}

// Tables of other types and empty tables bind nothing; longer records are
// fine. A code without an operation only sets the done tag (the disk codes'
// neighbours: task_host_test); a change to 0 runs nothing. Lock ignores its value tag; exit and the password flag without a
// value tag ignore the table's value, the timeout takes it (as unsigned).
TEST_F(TaskTest, CommandRowsTakeTheirArgumentsOnlyWhereTheirCodeSays) {
    SetRegText(kDesktopKey, "ScreenSaverIsSecure", "1");
    task_archive_ = R"(
table 3 "OTHER"
  fields tag tag tag u16 i16
  record tag:DISK_FREE_TRIG tag:DISK_FREE tag:DISK_FREE_DONE 102 0
end
table 2 "EMPTY"
  fields tag tag tag u16 i16
end
table 5 "OTHER5"
  fields tag tag tag u16 i16
  record tag:DISK_FREE_TRIG tag:DISK_FREE tag:DISK_FREE_DONE 102 0
end
table 2 "SYSCMD"
  fields tag tag tag u16 i16 u32
  record tag:SS_ON_TRIG tag:SS_ON_VALUE tag:SS_ON_DONE 7 0 1
  record tag:LOCK_TRIG tag:SHUT_DEFER tag:LOCK_DONE 5 0 12345
  record tag:SHUTDOWN_TRIG none tag:SHUTDOWN_DONE 3 1 6
  record tag:SS_SETSEC_TRIG none tag:SS_SETSEC_DONE 21 1 7
  record tag:SS_SETTIME_TRIG none tag:SS_SETTIME_DONE 12 -2 8
end
)";
    Start();
    EXPECT_EQ(task_->command_rows().size(), 5u);
    Set("DISK_FREE_TRIG", 1);
    EXPECT_EQ(Step(), kTlNoChange);  // nothing bound from types 3 and 5
    EXPECT_EQ(Get("DISK_FREE_DONE"), 0);

    Trigger("SS_ON_TRIG");
    EXPECT_EQ(Get("SS_ON_DONE"), 1);
    EXPECT_TRUE(g_exit_calls.empty());
    EXPECT_EQ(g_lock_calls, 0);

    Trigger("LOCK_TRIG", 1);
    Set("LOCK_DONE", 0);
    Trigger("LOCK_TRIG", 0);
    EXPECT_EQ(g_lock_calls, 1);
    EXPECT_EQ(Get("LOCK_DONE"), 0);
    Trigger("LOCK_TRIG", 2);  // 1 -> 2 runs again
    EXPECT_EQ(g_lock_calls, 2);
    EXPECT_EQ(Get("LOCK_DONE"), 1);

    Trigger("SHUTDOWN_TRIG");  // at once: the lock row's value tag set no deferral
    ASSERT_EQ(g_exit_calls.size(), 1u);
    EXPECT_EQ(g_exit_calls[0].flags, win::EWX_REBOOT);  // never EWX_FORCE
    EXPECT_EQ(g_exit_calls[0].reason, 4u);
    EXPECT_EQ(Get("STOP"), 0);
    Trigger("SS_SETSEC_TRIG");
    EXPECT_EQ(GetRegText(kDesktopKey, "ScreenSaverIsSecure"), std::string("0\0", 2));
    Trigger("SS_SETTIME_TRIG");
    EXPECT_EQ(ScreenSaverValue(win::SPI_GETSCREENSAVETIMEOUT), 65534u);
}

TEST_F(TaskTest, PolicyValuesAreReadAndSetButTheKeyIsNeverCreated) {
    win::RegDeleteKeyA(win::HKEY_CURRENT_USER, kPolicyKey);
    Start();
    // Missing key: setting fails and creates nothing; reading gives 0.
    Set("LOCKPOL", 9);
    Trigger("TASKMGR_SET_TRIG");
    Trigger("LOCKPOL_TRIG");
    EXPECT_EQ(GetRegText(kPolicyKey, ""), "<no key>");
    EXPECT_EQ(Get("LOCKPOL"), 0);
    EXPECT_EQ(Get("TASKMGR_SET_DONE") + Get("LOCKPOL_DONE"), 2);
    EXPECT_EQ(LogCount("A system setting cannot be changed"), 1);
    EXPECT_EQ(LogCount("A system setting cannot be read"), 1);

    // With the key: each policy under its own name, any nonzero value stored
    // as 1; a stored 0 reads 0.
    SetRegText(kPolicyKey, "placeholder", "x");
    Set("LOCKPOL_SET", -2);
    Trigger("LOCKPOL_SET_TRIG");
    EXPECT_EQ(GetRegText(kPolicyKey, "DisableLockWorkstation"), "dword:1");
    Trigger("LOCKPOL_TRIG", 2);
    EXPECT_EQ(Get("LOCKPOL"), 1);
    Set("TASKMGR_SET", 0);
    Trigger("TASKMGR_SET_TRIG", 2);
    EXPECT_EQ(GetRegText(kPolicyKey, "DisableTaskMgr"), "dword:0");
    Set("TASKMGR", 3);
    Trigger("TASKMGR_TRIG");
    EXPECT_EQ(Get("TASKMGR"), 0);
    win::RegDeleteKeyA(win::HKEY_CURRENT_USER, kPolicyKey);
}

// The flag is the first character of a string value; a missing value reads
// 0. On the simulated host the key itself can go: neither command creates it.
TEST_F(TaskTest, PasswordFlagReadAndSetWithoutCreatingTheKey) {
    SetRegText(kDesktopKey, "ScreenSaverIsSecure", "1");
    Start();
    Trigger("SS_SECURE_TRIG");
    EXPECT_EQ(Get("SS_SECURE"), 1);
    Set("SS_SETSEC_VALUE", 0);
    Trigger("SS_SETSEC_TRIG");
    EXPECT_EQ(GetRegText(kDesktopKey, "ScreenSaverIsSecure"), std::string("0\0", 2));
    Trigger("SS_SECURE_TRIG", 2);
    EXPECT_EQ(Get("SS_SECURE"), 0);
    Set("SS_SETSEC_VALUE", 3);
    Trigger("SS_SETSEC_TRIG", 2);
    EXPECT_EQ(GetRegText(kDesktopKey, "ScreenSaverIsSecure"), std::string("1\0", 2));
    SetRegText(kDesktopKey, "ScreenSaverIsSecure", nullptr);
    Trigger("SS_SECURE_TRIG", 3);
    EXPECT_EQ(Get("SS_SECURE"), 0);
    EXPECT_EQ(Get("SS_SECURE_DONE"), 1);
    EXPECT_EQ(LogCount("A system setting cannot be read"), 1);

    if (std::filesystem::path::preferred_separator != '/') return;
    win::RegDeleteKeyA(win::HKEY_CURRENT_USER, kDesktopKey);
    Set("SS_SECURE", 4);
    Trigger("SS_SETSEC_TRIG", 3);
    Trigger("SS_SECURE_TRIG", 4);
    EXPECT_EQ(GetRegText(kDesktopKey, ""), "<no key>");
    EXPECT_EQ(Get("SS_SECURE"), 4);
    EXPECT_EQ(LogCount("A system setting cannot be changed"), 1);
    EXPECT_EQ(LogCount("A system setting cannot be read"), 2);
}

TEST_F(TaskTest, DeferredModeWritesTheStopTagAndSticks) {
    task_archive_ = R"(
table 2 "SYSCMD"
  fields tag tag tag u16 i16
  record tag:SHUTDOWN_TRIG tag:SHUT_DEFER tag:SHUTDOWN_DONE 2 0
  record tag:LOCK_TRIG tag:SS_ON_VALUE tag:LOCK_DONE 4 0
  record tag:SS_ON_TRIG tag:SS_ON_VALUE tag:SS_ON_DONE 1 0
end
)";
    Start();
    Set("SS_ON_VALUE", 0);
    // Value 0 and no earlier deferred command: logs off at once.
    Trigger("SS_ON_TRIG");
    ASSERT_EQ(g_exit_calls.size(), 1u);
    EXPECT_EQ(g_exit_calls[0].flags, win::EWX_LOGOFF);
    // Power off with the value tag at 1: only the stop tag.
    Set("SHUT_DEFER", 1);
    Trigger("SHUTDOWN_TRIG");
    EXPECT_EQ(Get("STOP"), 1);
    EXPECT_EQ(task_->shutdown_flags(), win::EWX_POWEROFF);
    EXPECT_EQ(g_exit_calls.size(), 1u);
    // A later shut down from a row whose value tag is 0 stays deferred.
    Set("STOP", 0);
    Trigger("LOCK_TRIG");
    EXPECT_EQ(Get("STOP"), 1);
    EXPECT_EQ(task_->shutdown_flags(), win::EWX_SHUTDOWN);
    EXPECT_EQ(g_exit_calls.size(), 1u);
    EXPECT_EQ(Get("LOCK_DONE"), 1);
}

// The stop tag counts as missing when its identifier does not resolve (the
// domain's globals lack identifier 5): reported, nothing written, no exit.
TEST_F(TaskTest, DeferredExitWithoutAUsableStopTagReportsNoStopTag) {
    BuildArchive("plant/ct/global", "table 0 \"GLOBALS\"\n  fields u32 tag\n  record 6 tag:STOP\nend\n");
    Start();
    Set("SHUT_DEFER", 1);
    Trigger("SHUTDOWN_TRIG");
    EXPECT_EQ(LogCount("No stop tag"), 1);
    EXPECT_EQ(Get("VDWINUT.STATUS"), 2);
    EXPECT_EQ(Get("STOP"), 0);
    EXPECT_EQ(Get("SHUTDOWN_DONE"), 1);
    EXPECT_TRUE(g_exit_calls.empty());
}

// Each report carries the row's level as its event type (a level tag's
// value clamped to 0..2, else the table's level, whose 16 bits are
// unsigned) and the row's text. The simulated host's log is read here; the
// Windows stage checks what the real API received (event_log_under_wine.cmake
// expects these events in this order).
TEST_F(TaskTest, EventRowsReportTheirLevelAsTypeAndTheirText) {
    AddTag("E3_TRIG");
    AddTag("E3_DONE");
    task_archive_ = R"(
table 4 "EVENTLOG"
  fields tag tag tag tag u16 text64
  record tag:EVT_TRIG tag:EVT_LEVEL tag:EVT_TEXT tag:EVT_DONE 0 "Row text"
  record tag:EVT_FIXED_TRIG none none tag:EVT_FIXED_DONE 65535 "Table level 65535"
  record tag:E3_TRIG none none tag:E3_DONE 1 "Table level 1"
end
)";
    Start();
    Trigger("EVT_TRIG");  // the tags' values before they ever change: 1, "Operator message"
    Set("EVT_LEVEL", -5);
    SetText("EVT_TEXT", "Level -5");
    Trigger("EVT_TRIG", 2);
    Set("EVT_LEVEL", 2);
    SetText("EVT_TEXT", "Level 2");
    Trigger("EVT_TRIG", 3);
    Set("EVT_LEVEL", 7);
    SetText("EVT_TEXT", "Level 7");
    Set("EVT_DONE", 0);
    Trigger("EVT_TRIG", 0);  // every change reports, a change to 0 too
    EXPECT_EQ(Get("EVT_DONE"), 1);
    Trigger("EVT_FIXED_TRIG");
    Trigger("E3_TRIG");

    std::string dump, error;
    if (!win::EventLogDumpText("Windows Host Utilities", dump, error) || dump.empty()) {
        EXPECT_NE(std::filesystem::path::preferred_separator, '/') << error;
        return;
    }
    const std::string kHead = " 0x40000007 cat 0  Windows Host Utilities: \"";
    EXPECT_EQ(dump, "error      " + kHead + "Operator message\"\n" + "success    " + kHead + "Level -5\"\n" +
                        "warning    " + kHead + "Level 2\"\n" + "warning    " + kHead + "Level 7\"\n" +
                        "warning    " + kHead + "Table level 65535\"\n" + "error      " + kHead + "Table level 1\"\n");
}

// The text runs to the record's end or to 255 characters (the terminator:
// task_tables_test; a text tag's value: the reports above). Records with a
// short text field are taken.
TEST_F(TaskTest, EventTextsAreCutAtTheRecordEndAndAt255Characters) {
    task_archive_ = R"(
table 4 "EVENTLOG"
  fields tag tag tag tag u16 text4
  record tag:EVT_FIXED_TRIG none none tag:EVT_FIXED_DONE 9 "ABCD"
end
table 4 "LONG"
  fields tag tag tag tag u16 text300
  record tag:EVT_TRIG none tag:EVT_TEXT tag:EVT_DONE 1 ")" + std::string(300, 'x') + R"("
end
)";
    Start();
    ASSERT_EQ(task_->event_log_rows().size(), 2u);
    EXPECT_STREQ(task_->event_log_rows()[0]->text, "ABCD");
    EXPECT_EQ(std::string(task_->event_log_rows()[1]->text), std::string(255, 'x'));
}
