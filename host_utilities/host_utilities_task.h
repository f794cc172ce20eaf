// The host utilities task: rows of three kinds built from the task's
// configuration tables (keyboard lock, system commands, event-log
// messages), their handlers, and the exit and lock commands.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "host_utilities/keyboard_device.h"
#include "frame/tag_object.h"
#include "config/task_tables.h"
#include "frame/task_base.h"

class HostUtilitiesTask;

// Table types of the task's configuration archive.
inline constexpr std::int32_t kKeyboardTableType = 1;
inline constexpr std::int32_t kCommandTableType = 2;
inline constexpr std::int32_t kEventLogTableType = 4;

// Record sizes the rows need (larger records are fine; the rest is ignored).
inline constexpr std::uint32_t kKeyboardRecordSize = 26;
inline constexpr std::uint32_t kCommandRecordSize = 16;
inline constexpr std::uint32_t kEventLogRecordMinSize = 19;

inline constexpr int kEventTextSize = 256;
inline constexpr std::uint32_t kStopTagGlobalId = 5;
inline constexpr std::uint32_t kEventIdText = 0x40000007u;

// Command codes of the system command rows.
enum CommandCode : std::uint16_t {
    kCmdLogoff = 1,
    kCmdPowerOff = 2,
    kCmdRestart = 3,
    kCmdShutdown = 4,
    kCmdLockWorkstation = 5,
    kCmdScreenSaverOnOff = 10,
    kCmdScreenSaverActive = 11,
    kCmdSetScreenSaverTimeout = 12,
    kCmdScreenSaverTimeout = 13,
    kCmdStartScreenSaver = 14,
    kCmdPasswordFlag = 20,
    kCmdSetPasswordFlag = 21,
    kCmdLockPolicy = 30,
    kCmdSetLockPolicy = 31,
    kCmdTaskMgrPolicy = 32,
    kCmdSetTaskMgrPolicy = 33,
    kCmdFreeSpaceA = 100,
    kCmdFreeSpaceZ = 125,
    kCmdTotalSizeA = 200,
    kCmdTotalSizeZ = 225,
};

struct KeyboardLockRow {
    HostUtilitiesTask* task = nullptr;
    std::unique_ptr<TagObject> trigger, state_tag, done_tag;
    std::uint16_t key_code = 0;
    std::int16_t modifier_a = 0, modifier_b = 0, modifier_c = 0;
    std::uint16_t lock_option = 0;
};

struct SystemCommandRow {
    std::int16_t value = 0;
    std::unique_ptr<TagObject> value_tag, trigger, done_tag;
    HostUtilitiesTask* task = nullptr;
    std::uint16_t command = 0;
};

struct EventLogRow {
    std::unique_ptr<TagObject> trigger, level_tag, text_tag, done_tag;
    HostUtilitiesTask* task = nullptr;
    char text[kEventTextSize] = {};
    std::int32_t level = 0;
};

class HostUtilitiesTask : public TaskBase {
public:
    HostUtilitiesTask(const char* name, const char* title);
    ~HostUtilitiesTask() override;

    void CtLoad() override;
    void RunLoad() override;
    void Stop() override;

    // Handlers bound to the rows' triggers (TriggerHandler form; `row` is
    // the row of the handler's kind).
    static void OnKeyboardTrigger(TagObject* trigger, void* row);
    static void OnSystemCommand(TagObject* trigger, void* row);
    static void OnEventLogTrigger(TagObject* trigger, void* row);
    static void IgnoreChange(TagObject* trigger, void* row);

    void RequestShutdown(std::uint32_t code);
    void ExitWindowsNow();
    void SetDeferredShutdown(std::int32_t flag) { deferred_shutdown_ = flag; }

    // State for tests and diagnostics.
    KeyboardFilterDevice& keyboard_filter() { return keyboard_filter_; }
    std::int32_t use_mb() const { return use_mb_; }
    const std::vector<std::unique_ptr<EventLogRow>>& event_log_rows() const { return event_log_rows_; }
    const std::vector<std::unique_ptr<SystemCommandRow>>& command_rows() const { return command_rows_; }
    const std::vector<std::unique_ptr<KeyboardLockRow>>& keyboard_rows() const { return keyboard_rows_; }
    TagObject* stop_tag() const { return stop_tag_.get(); }
    std::int32_t shutdown_pending() const { return shutdown_pending_; }
    std::uint32_t shutdown_flags() const { return shutdown_flags_; }
    std::int32_t deferred_shutdown() const { return deferred_shutdown_; }

private:
    void BuildRow(std::int32_t type, const TableRecord& record);
    void RunCommand(SystemCommandRow& row, TagObject& trigger);

    KeyboardFilterDevice keyboard_filter_;
    std::int32_t use_mb_ = 0;
    std::vector<std::unique_ptr<EventLogRow>> event_log_rows_;
    std::vector<std::unique_ptr<SystemCommandRow>> command_rows_;
    std::vector<std::unique_ptr<KeyboardLockRow>> keyboard_rows_;
    std::unique_ptr<TagObject> stop_tag_;
    std::int32_t shutdown_pending_ = 0;
    std::uint32_t shutdown_flags_ = 0;
    std::int32_t deferred_shutdown_ = 0;
};
