// The host utilities task over the sample application: loading the rows,
// the command frame, the registry, disk, keyboard, exit and event-log
// commands.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/event_log_dump.h"
#include "platform/registry.h"
#include "task_fixture.h"

using cmdtest::TaskTest;

namespace {

constexpr char kPolicyKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
constexpr char kDesktopKey[] = "Control Panel\\Desktop";

bool KeyExists(const char* path) {
    win::HKEY key = nullptr;
    if (win::RegOpenKeyExA(win::HKEY_CURRENT_USER, path, 0, win::KEY_READ, &key) != win::ERROR_SUCCESS) return false;
    win::RegCloseKey(key);
    return true;
}

void DeleteKey(const char* path) { win::RegDeleteKeyA(win::HKEY_CURRENT_USER, path); }

void SetRegText(const char* path, const char* name, const char* text) {
    win::HKEY key = nullptr;
    ASSERT_EQ(win::RegCreateKeyExA(win::HKEY_CURRENT_USER, path, 0, nullptr, 0, win::KEY_ALL_ACCESS, nullptr, &key,
                                   nullptr),
              win::ERROR_SUCCESS);
    win::RegSetValueExA(key, name, 0, win::REG_SZ, reinterpret_cast<const win::BYTE*>(text),
                        static_cast<win::DWORD>(std::strlen(text) + 1));
    win::RegCloseKey(key);
}

std::string GetText(const char* path, const char* name) {
    win::HKEY key = nullptr;
    if (win::RegOpenKeyExA(win::HKEY_CURRENT_USER, path, 0, win::KEY_READ, &key) != win::ERROR_SUCCESS)
        return "<no key>";
    char buffer[64] = {};
    win::DWORD size = sizeof buffer - 1;
    win::DWORD type = 0;
    win::LONG rc = win::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<win::BYTE*>(buffer), &size);
    win::RegCloseKey(key);
    if (rc != win::ERROR_SUCCESS) return "<no value>";
    if (type == win::REG_DWORD) {
        win::DWORD v;
        std::memcpy(&v, buffer, sizeof v);
        return "dword:" + std::to_string(v);
    }
    return std::string(buffer, size);  // with the stored terminator
}

void DeleteValue(const char* path, const char* name) {
    win::HKEY key = nullptr;
    if (win::RegOpenKeyExA(win::HKEY_CURRENT_USER, path, 0, win::KEY_ALL_ACCESS, &key) != win::ERROR_SUCCESS) return;
    win::RegDeleteValueA(key, name);
    win::RegCloseKey(key);
}

}  // namespace

TEST_F(TaskTest, LoadsTheSampleRowsInTableAndRecordOrder) {
    Start();
    ASSERT_EQ(task_->keyboard_rows().size(), 2u);
    ASSERT_EQ(task_->event_log_rows().size(), 2u);
    std::vector<int> codes;
    for (const auto& row : task_->command_rows()) codes.push_back(row->command);
    EXPECT_EQ(codes, (std::vector<int>{10, 11, 12, 13, 14, 20, 21, 30, 31, 32, 33, 102, 202, 4, 5}));
    EXPECT_EQ(task_->keyboard_rows()[0]->key_code, 0x0053);
    EXPECT_EQ(task_->keyboard_rows()[0]->modifier_b, 1);
    EXPECT_EQ(task_->keyboard_rows()[0]->modifier_c, 1);
    EXPECT_STREQ(task_->event_log_rows()[1]->text, "Host utilities: fixed warning");
    EXPECT_EQ(task_->event_log_rows()[1]->level, 2);
    EXPECT_FALSE(task_->event_log_rows()[1]->text_tag->IsConfigured());
    ASSERT_NE(task_->stop_tag(), nullptr);
    EXPECT_TRUE(task_->stop_tag()->IsConfigured());
    EXPECT_EQ(task_->use_mb(), 1);  // the application's settings win
    // Start-up applied the keyboard rows: no device, so state 0 and done 1.
    EXPECT_EQ(Get("KB_CAD_STATE"), 0);
    EXPECT_EQ(Get("KB_CAD_DONE"), 1);
    EXPECT_EQ(Get("KB_TAB_DONE"), 1);
    task_->Stop();
    EXPECT_TRUE(task_->keyboard_rows().empty());
    EXPECT_TRUE(task_->command_rows().empty());
    EXPECT_TRUE(task_->event_log_rows().empty());
    EXPECT_EQ(task_->stop_tag(), nullptr);
}

TEST_F(TaskTest, SkipsOtherTableTypesAndEmptyTables) {
    SetRows(R"(
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
  record tag:LOCK_TRIG none tag:LOCK_DONE 5 0 12345
end
)");
    Start();
    ASSERT_EQ(task_->command_rows().size(), 1u);  // a longer record is fine
    EXPECT_TRUE(task_->keyboard_rows().empty());
    EXPECT_TRUE(task_->event_log_rows().empty());
    Set("DISK_FREE_TRIG", 1);
    EXPECT_EQ(Step(), kTlNoChange);  // nothing bound from types 3 and 5
    EXPECT_EQ(Get("DISK_FREE_DONE"), 0);
    Trigger("LOCK_TRIG");
    EXPECT_EQ(cmdtest::LockCalls(), 1);
    EXPECT_EQ(Get("LOCK_DONE"), 1);
}

TEST_F(TaskTest, MissingOrEmptyArchiveIsReportedAndTheTaskRuns) {
    SetRows("");
    Start();
    EXPECT_EQ(LogCount("No configuration archive for the task"), 1);
    EXPECT_TRUE(task_->command_rows().empty());
    ASSERT_NE(task_->stop_tag(), nullptr);  // RunLoad still runs
    EXPECT_EQ(task_->use_mb(), 1);
}

TEST_F(TaskTest, ArchiveWithoutTablesReportsNoTriggers) {
    std::filesystem::create_directories(App() / "plant" / "ct");
    SetRows("# no tables\n");
    Start();
    EXPECT_EQ(LogCount("The configuration archive holds no tables"), 1);
    EXPECT_EQ(LogCount("No configuration archive"), 0);
}

TEST_F(TaskTest, TooShortRecordsAreRefusedNotOverrun) {
    SetRows(R"(
table 2 "SHORT"
  fields tag tag u16
  record tag:LOCK_TRIG tag:LOCK_DONE 5
end
table 4 "SHORTEVT"
  fields tag tag tag tag
  record tag:EVT_TRIG none none tag:EVT_DONE
end
)");
    Start();
    EXPECT_TRUE(task_->command_rows().empty());
    EXPECT_TRUE(task_->event_log_rows().empty());
}

TEST_F(TaskTest, TruncatedArchiveBuildsNoRowFromAPartRecord) {
    // The last table is the event-log table (82-byte records): cut into its
    // second record.
    cut_task_archive_ = 40;
    Start();
    EXPECT_EQ(task_->keyboard_rows().size(), 2u);
    EXPECT_EQ(task_->command_rows().size(), 15u);
    ASSERT_EQ(task_->event_log_rows().size(), 1u);
    EXPECT_STREQ(task_->event_log_rows()[0]->text, "Operator message");
    EXPECT_EQ(LogCount("Configuration table 2: record 1 cannot be read"), 1);
}

TEST_F(TaskTest, TriggerToZeroRunsNothingAndDoneFollowsEveryRun) {
    Start();
    Trigger("LOCK_TRIG", 1);
    EXPECT_EQ(Get("LOCK_DONE"), 1);
    Set("LOCK_DONE", 0);
    Trigger("LOCK_TRIG", 0);
    EXPECT_EQ(Get("LOCK_DONE"), 0);  // a change to 0 runs nothing
    Trigger("LOCK_TRIG", 2);
    EXPECT_EQ(Get("LOCK_DONE"), 1);  // 1 -> 2 runs again
}

TEST_F(TaskTest, CodesWithoutAnOperationOnlySetTheDoneTag) {
    SetRows(R"(
table 2 "SYSCMD"
  fields tag tag tag u16 i16
  record tag:SS_ON_TRIG tag:SS_ON_VALUE tag:SS_ON_DONE 7 0
  record tag:SS_TIME_TRIG tag:SS_TIME tag:SS_TIME_DONE 99 0
  record tag:DISK_FREE_TRIG tag:DISK_FREE tag:DISK_FREE_DONE 150 0
  record tag:DISK_TOTAL_TRIG tag:DISK_TOTAL tag:DISK_TOTAL_DONE 300 0
end
)");
    Start();
    Set("SS_TIME", 42);
    for (const char* trig : {"SS_ON_TRIG", "SS_TIME_TRIG", "DISK_FREE_TRIG", "DISK_TOTAL_TRIG"}) Trigger(trig);
    for (const char* done : {"SS_ON_DONE", "SS_TIME_DONE", "DISK_FREE_DONE", "DISK_TOTAL_DONE"})
        EXPECT_EQ(Get(done), 1) << done;
    EXPECT_EQ(Get("SS_TIME"), 42);
    EXPECT_EQ(Get("DISK_FREE"), 0);
    EXPECT_TRUE(cmdtest::ExitCalls().empty());
    EXPECT_EQ(cmdtest::LockCalls(), 0);
}

TEST_F(TaskTest, PolicyValuesAreReadAndSetButTheKeyIsNeverCreated) {
    DeleteKey(kPolicyKey);
    Start();
    // Missing key: setting fails and creates nothing; reading gives 0.
    Set("LOCKPOL", 9);
    Trigger("TASKMGR_SET_TRIG");
    EXPECT_EQ(Get("TASKMGR_SET_DONE"), 1);
    EXPECT_FALSE(KeyExists(kPolicyKey));
    EXPECT_EQ(LogCount("A system setting cannot be changed"), 1);
    Trigger("LOCKPOL_TRIG");
    EXPECT_EQ(Get("LOCKPOL"), 0);
    EXPECT_EQ(Get("LOCKPOL_DONE"), 1);
    EXPECT_EQ(LogCount("A system setting cannot be read"), 1);

    // With the key: 0 stays 0, 5 is stored as 1.
    SetRegText(kPolicyKey, "placeholder", "x");
    Set("LOCKPOL_SET", 0);
    Trigger("LOCKPOL_SET_TRIG");
    EXPECT_EQ(GetText(kPolicyKey, "DisableLockWorkstation"), "dword:0");
    Set("LOCKPOL", 7);
    Trigger("LOCKPOL_TRIG", 2);
    EXPECT_EQ(Get("LOCKPOL"), 0);
    Set("LOCKPOL_SET", 5);
    Trigger("LOCKPOL_SET_TRIG", 2);
    EXPECT_EQ(GetText(kPolicyKey, "DisableLockWorkstation"), "dword:1");
    Trigger("LOCKPOL_TRIG", 3);
    EXPECT_EQ(Get("LOCKPOL"), 1);
    // The other policy has its own value; missing value reads 0.
    Set("TASKMGR", 3);
    Trigger("TASKMGR_TRIG");
    EXPECT_EQ(Get("TASKMGR"), 0);
    Set("TASKMGR_SET", -1);
    Trigger("TASKMGR_SET_TRIG", 2);
    EXPECT_EQ(GetText(kPolicyKey, "DisableTaskMgr"), "dword:1");
    Trigger("TASKMGR_TRIG", 2);
    EXPECT_EQ(Get("TASKMGR"), 1);
    DeleteKey(kPolicyKey);
}

TEST_F(TaskTest, PasswordFlagReadAndSet) {
    SetRegText(kDesktopKey, "ScreenSaverIsSecure", "1");
    Start();
    Trigger("SS_SECURE_TRIG");
    EXPECT_EQ(Get("SS_SECURE"), 1);
    Set("SS_SETSEC_VALUE", 0);
    Trigger("SS_SETSEC_TRIG");
    EXPECT_EQ(GetText(kDesktopKey, "ScreenSaverIsSecure"), std::string("0\0", 2));
    Trigger("SS_SECURE_TRIG", 2);
    EXPECT_EQ(Get("SS_SECURE"), 0);
    Set("SS_SETSEC_VALUE", 3);
    Trigger("SS_SETSEC_TRIG", 2);
    EXPECT_EQ(GetText(kDesktopKey, "ScreenSaverIsSecure"), std::string("1\0", 2));
    // A missing value reads as 0 and is reported.
    DeleteValue(kDesktopKey, "ScreenSaverIsSecure");
    Trigger("SS_SECURE_TRIG", 3);
    EXPECT_EQ(Get("SS_SECURE"), 0);
    EXPECT_EQ(Get("SS_SECURE_DONE"), 1);
    EXPECT_EQ(LogCount("A system setting cannot be read"), 1);
}

TEST_F(TaskTest, PasswordFlagWithoutValueTagStoresZero) {
    SetRegText(kDesktopKey, "ScreenSaverIsSecure", "1");
    SetRows(R"(
table 2 "SYSCMD"
  fields tag tag tag u16 i16
  record tag:SS_SETSEC_TRIG none tag:SS_SETSEC_DONE 21 1
end
)");
    Start();
    Trigger("SS_SETSEC_TRIG");
    EXPECT_EQ(GetText(kDesktopKey, "ScreenSaverIsSecure"), std::string("0\0", 2));
    EXPECT_EQ(Get("SS_SETSEC_DONE"), 1);
}

TEST_F(TaskTest, ExitCommandImmediateWithoutValueTag) {
    SetRows(R"(
table 2 "SYSCMD"
  fields tag tag tag u16 i16
  record tag:SHUTDOWN_TRIG none tag:SHUTDOWN_DONE 3 1
end
)");
    Start();
    Trigger("SHUTDOWN_TRIG");
    ASSERT_EQ(cmdtest::ExitCalls().size(), 1u);
    EXPECT_EQ(cmdtest::ExitCalls()[0].flags, win::EWX_REBOOT);  // never EWX_FORCE
    EXPECT_EQ(cmdtest::ExitCalls()[0].reason, 4u);
    EXPECT_EQ(Get("STOP"), 0);
    EXPECT_EQ(Get("SHUTDOWN_DONE"), 1);
    EXPECT_EQ(task_->deferred_shutdown(), 0);  // the table default plays no part
}

TEST_F(TaskTest, DeferredModeWritesTheStopTagAndSticks) {
    SetRows(R"(
table 2 "SYSCMD"
  fields tag tag tag u16 i16
  record tag:SHUTDOWN_TRIG tag:SHUT_DEFER tag:SHUTDOWN_DONE 2 0
  record tag:LOCK_TRIG tag:SS_ON_VALUE tag:LOCK_DONE 4 0
  record tag:SS_ON_TRIG tag:SS_ON_VALUE tag:SS_ON_DONE 1 0
end
)");
    Start();
    Set("SS_ON_VALUE", 0);
    // Value 0 and no earlier deferred command: logs off at once.
    Trigger("SS_ON_TRIG");
    ASSERT_EQ(cmdtest::ExitCalls().size(), 1u);
    EXPECT_EQ(cmdtest::ExitCalls()[0].flags, win::EWX_LOGOFF);
    // Power off with the value tag at 1: only the stop tag.
    Set("SHUT_DEFER", 1);
    Trigger("SHUTDOWN_TRIG");
    EXPECT_EQ(Get("STOP"), 1);
    EXPECT_EQ(task_->shutdown_flags(), win::EWX_POWEROFF);
    EXPECT_EQ(cmdtest::ExitCalls().size(), 1u);
    // A later shut down from a row whose value tag is 0 stays deferred.
    Set("STOP", 0);
    Trigger("LOCK_TRIG");
    EXPECT_EQ(Get("STOP"), 1);
    EXPECT_EQ(task_->shutdown_flags(), win::EWX_SHUTDOWN);
    EXPECT_EQ(cmdtest::ExitCalls().size(), 1u);
    EXPECT_EQ(task_->deferred_shutdown(), 1);
    EXPECT_EQ(Get("LOCK_DONE"), 1);
}

TEST_F(TaskTest, DeferredWithoutStopTagReportsNoStopTag) {
    Start();
    task_->SetDeferredShutdown(1);
    task_->Stop();  // releases the stop tag
    task_->RequestShutdown(4);
    EXPECT_EQ(LogCount("No stop tag"), 1);
    EXPECT_TRUE(cmdtest::ExitCalls().empty());
    // An invalid code clears the pending flag and leaves the flags alone.
    task_->RequestShutdown(9);
    EXPECT_EQ(task_->shutdown_pending(), 0);
    EXPECT_EQ(task_->shutdown_flags(), win::EWX_SHUTDOWN);
}

TEST_F(TaskTest, DeferredExitWithAnUnresolvedStopTagReportsNoStopTag) {
    // The domain knows no identifier 5: the stop tag exists but names no tag.
    BuildArchive("plant/ct/global", "table 0 \"GLOBALS\"\n  fields u32 tag\n  record 6 tag:STOP\nend\n");
    Start();
    ASSERT_NE(task_->stop_tag(), nullptr);
    EXPECT_FALSE(task_->stop_tag()->IsConfigured());
    Set("SHUT_DEFER", 1);
    Trigger("SHUTDOWN_TRIG");
    EXPECT_EQ(LogCount("No stop tag"), 1);
    EXPECT_EQ(Get("VDWINUT.STATUS"), 2);
    EXPECT_EQ(Get("STOP"), 0);
    EXPECT_TRUE(cmdtest::ExitCalls().empty());
    EXPECT_EQ(Get("SHUTDOWN_DONE"), 1);
}

TEST_F(TaskTest, LockCommandIgnoresTheValueTag) {
    SetRows(R"(
table 2 "SYSCMD"
  fields tag tag tag u16 i16
  record tag:LOCK_TRIG tag:SHUT_DEFER tag:LOCK_DONE 5 0
end
)");
    Start();
    Trigger("LOCK_TRIG");
    EXPECT_EQ(cmdtest::LockCalls(), 1);
    EXPECT_EQ(task_->deferred_shutdown(), 0);
    EXPECT_EQ(Get("LOCK_DONE"), 1);
}

// Each report carries the row's level as its event type (a level tag's
// value clamped to 0..2, else the table's level, whose 16 bits are
// unsigned) and the row's text. The simulated host's log is read here; the
// Windows stage checks what the real API received (tests/unit/commands).
TEST_F(TaskTest, EventRowsReportTheirLevelAsTypeAndTheirText) {
    AddTag("E3_TRIG");
    AddTag("E3_DONE");
    SetRows(R"(
table 4 "EVENTLOG"
  fields tag tag tag tag u16 text64
  record tag:EVT_TRIG tag:EVT_LEVEL tag:EVT_TEXT tag:EVT_DONE 0 "Row text"
  record tag:EVT_FIXED_TRIG none none tag:EVT_FIXED_DONE 65535 "Table level 65535"
  record tag:E3_TRIG none none tag:E3_DONE 1 "Table level 1"
end
)");
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
    EXPECT_EQ(Get("E3_DONE"), 1);

    std::string dump, error;
    if (!win::EventLogDumpText("Windows Host Utilities", dump, error) || dump.empty()) {
        EXPECT_NE(std::filesystem::path::preferred_separator, '/') << error;
        return;
    }
    const std::string kHead = " 0x40000007 cat 0  Windows Host Utilities: \"";
    EXPECT_EQ(dump, "error      " + kHead + "Operator message\"\n" +  //
                        "success    " + kHead + "Level -5\"\n" +       //
                        "warning    " + kHead + "Level 2\"\n" +        //
                        "warning    " + kHead + "Level 7\"\n" +        //
                        "warning    " + kHead + "Table level 65535\"\n" + "error      " + kHead + "Table level 1\"\n");
}

// The text runs to its terminator, to the record's end or to 255
// characters, whichever comes first; a text tag's value is cut alike.
TEST_F(TaskTest, EventTextsAreCutAtTheRecordEndAndAt255Characters) {
    SetRows(R"(
table 4 "EVENTLOG"
  fields tag tag tag tag u16 text4
  record tag:EVT_FIXED_TRIG none none tag:EVT_FIXED_DONE 9 "ABCD"
  record tag:EVT_FIXED_TRIG none none tag:EVT_FIXED_DONE 1 "AB"
end
table 4 "LONG"
  fields tag tag tag tag u16 text300
  record tag:EVT_TRIG none tag:EVT_TEXT tag:EVT_DONE 1 ")" + std::string(300, 'x') + R"("
end
)");
    Start();
    ASSERT_EQ(task_->event_log_rows().size(), 3u);
    EXPECT_STREQ(task_->event_log_rows()[0]->text, "ABCD");
    EXPECT_STREQ(task_->event_log_rows()[1]->text, "AB");
    EXPECT_EQ(std::string(task_->event_log_rows()[2]->text), std::string(255, 'x'));
    SetText("EVT_TEXT", std::string(200, 'y'));
    Trigger("EVT_TRIG");
    const std::string text = task_->event_log_rows()[2]->text;
    EXPECT_EQ(text.substr(0, 3), "yyy");
    EXPECT_LE(text.size(), 255u);
}
