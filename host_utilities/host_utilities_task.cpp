#include "host_utilities/host_utilities_task.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "frame/log_writer.h"
#include "frame/settings.h"
#include "config/task_tables.h"
#include "frame/status_message.h"
#include "frame/task_state.h"
#include "platform/disk.h"
#include "support/archive.h"
#include "platform/handle.h"
#include "platform/security.h"
#include "platform/shutdown.h"
#include "platform/registry.h"
#include "platform/system_params.h"

namespace {

constexpr char kDesktopKey[] = "Control Panel\\Desktop";
constexpr char kPolicyKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
constexpr char kScreenSaverExe[] = "SCRNSAVE.EXE";
constexpr char kSecureValue[] = "ScreenSaverIsSecure";
constexpr char kLockPolicy[] = "DisableLockWorkstation";
constexpr char kTaskMgrPolicy[] = "DisableTaskMgr";
constexpr int kQueryBufferSize = 40;
constexpr win::DWORD kExitReason = 4;
constexpr win::DWORD kTokenBufferSize = 1024;


bool OpenUserKey(const char* path, win::HKEY* key) {
    return win::RegOpenKeyExA(win::HKEY_CURRENT_USER, path, 0, win::KEY_ALL_ACCESS, key) == win::ERROR_SUCCESS;
}

// Sets the done tag of a row after its run.
void SetDone(TagObject* done) {
    if (done != nullptr && done->IsConfigured()) {
        done->SetInt(1);
        done->WriteResult();
    }
}

void WriteResultValue(TagObject* tag, std::int32_t value) {
    if (tag == nullptr || !tag->IsConfigured()) return;
    tag->SetInt(value);
    tag->WriteResult();
}

bool Configured(const std::unique_ptr<TagObject>& tag) { return tag != nullptr && tag->IsConfigured(); }

// The 16-bit argument: the value tag when configured, else the table's
// default kept in the row.
std::int16_t ShortArgument(SystemCommandRow& row) {
    if (Configured(row.value_tag)) {
        row.value_tag->Read();
        row.value = row.value_tag->AsShort();
    }
    return row.value;
}

// The 32-bit argument: the value tag's value, 0 without one.
std::int32_t IntArgument(SystemCommandRow& row) {
    if (!Configured(row.value_tag)) return 0;
    row.value_tag->Read();
    return row.value_tag->AsInt();
}

void ReadPolicy(SystemCommandRow& row, const char* value_name) {
    if (!Configured(row.value_tag)) return;
    std::int32_t result = 0;
    win::HKEY key = nullptr;
    if (!OpenUserKey(kPolicyKey, &key)) {
        StatusMessage(kLevelError, "SYSINFOREAD");
    } else {
        unsigned char buffer[kQueryBufferSize] = {'0'};
        win::DWORD size = sizeof buffer;
        win::DWORD type = 0;
        if (win::RegQueryValueExA(key, value_name, nullptr, &type, buffer, &size) != win::ERROR_SUCCESS) {
            StatusMessage(kLevelError, "SYSINFOREAD");
        } else {
            std::uint32_t stored = 0;
            std::memcpy(&stored, buffer, sizeof stored);
            result = stored != 0 ? 1 : 0;
        }
        win::RegCloseKey(key);
    }
    WriteResultValue(row.value_tag.get(), result);
}

void SetPolicy(SystemCommandRow& row, const char* value_name) {
    win::HKEY key = nullptr;
    if (!OpenUserKey(kPolicyKey, &key)) {
        StatusMessage(kLevelError, "SYSINFWRITE");
        return;
    }
    win::DWORD flag = IntArgument(row) != 0 ? 1 : 0;
    if (win::RegSetValueExA(key, value_name, 0, win::REG_DWORD, reinterpret_cast<const win::BYTE*>(&flag),
                            sizeof flag) != win::ERROR_SUCCESS) {
        StatusMessage(kLevelError, "SYSINFWRITE");
    }
    win::RegCloseKey(key);
}

void DiskSpace(SystemCommandRow& row, std::int32_t use_mb) {
    bool total = row.command >= kCmdTotalSizeA;
    char path[4] = "A:\\";
    path[0] = static_cast<char>('A' + (row.command - (total ? kCmdTotalSizeA : kCmdFreeSpaceA)));
    win::ULARGE_INTEGER available{}, size{}, free{};
    if (!win::GetDiskFreeSpaceExA(path, &available, &size, &free)) {
        StatusMessage(kLevelError, "DISKACCESS", path);
        return;
    }
    std::uint64_t bytes = total ? size.QuadPart : available.QuadPart;
    std::uint64_t result = bytes >> 10;
    if (use_mb != 0) result >>= 10;
    if (Configured(row.value_tag)) {
        row.value_tag->SetUnsigned(static_cast<std::uint32_t>(result));
        row.value_tag->WriteResult();
    }
}

}  // namespace

HostUtilitiesTask::HostUtilitiesTask(const char* name, const char* title)
    : TaskBase(name, title), keyboard_filter_(kKeyboardDevicePath) {}

HostUtilitiesTask::~HostUtilitiesTask() {
    if (task_state().task_id != kNoTask) Stop();
}

// ---- loading the tables --------------------------------------------------

void HostUtilitiesTask::BuildRow(std::int32_t type, const TableRecord& rec) {
    if (type == kKeyboardTableType) {
        auto row = std::make_unique<KeyboardLockRow>();
        row->task = this;
        row->trigger = std::make_unique<TagObject>(rec.Ref(0));
        row->state_tag = std::make_unique<TagObject>(rec.Ref(8));
        row->done_tag = std::make_unique<TagObject>(rec.Ref(12));
        row->key_code = rec.Word(16);
        row->modifier_a = static_cast<std::int16_t>(rec.Word(18));
        row->modifier_b = static_cast<std::int16_t>(rec.Word(20));
        row->modifier_c = static_cast<std::int16_t>(rec.Word(22));
        row->lock_option = rec.Word(24);
        KeyboardLockRow* raw = row.get();
        keyboard_rows_.push_back(std::move(row));
        BindTrigger(raw->trigger.get(), &HostUtilitiesTask::OnKeyboardTrigger, raw);
    } else if (type == kCommandTableType) {
        auto row = std::make_unique<SystemCommandRow>();
        row->task = this;
        row->trigger = std::make_unique<TagObject>(rec.Ref(0));
        row->value_tag = std::make_unique<TagObject>(rec.Ref(4));
        row->done_tag = std::make_unique<TagObject>(rec.Ref(8));
        row->command = rec.Word(12);
        row->value = static_cast<std::int16_t>(rec.Word(14));
        SystemCommandRow* raw = row.get();
        command_rows_.push_back(std::move(row));
        BindTrigger(raw->trigger.get(), &HostUtilitiesTask::OnSystemCommand, raw);
    } else {
        auto row = std::make_unique<EventLogRow>();
        row->task = this;
        row->trigger = std::make_unique<TagObject>(rec.Ref(0));
        row->level_tag = std::make_unique<TagObject>(rec.Ref(4));
        row->text_tag = std::make_unique<TagObject>(rec.Ref(8));
        row->done_tag = std::make_unique<TagObject>(rec.Ref(12));
        const std::uint16_t default_level = rec.Word(16);  // widened without sign
        row->level = default_level;
        // The text runs to its NUL, at most 255 characters, never past the
        // record's end.
        const std::string text = rec.Text(18, kEventTextSize - 1);
        std::memcpy(row->text, text.data(), text.size());
        row->text[text.size()] = '\0';
        EventLogRow* raw = row.get();
        event_log_rows_.push_back(std::move(row));
        // The handler uses the cached values of the level and text tags,
        // which the dispatcher keeps current on their changes; read them
        // once here so a tag that never changes reports what it holds
        // rather than an empty text and level 0.
        if (raw->level_tag->IsConfigured()) raw->level_tag->Read();
        if (raw->text_tag->IsConfigured()) raw->text_tag->Read();
        if (raw->level_tag->IsConfigured()) BindTrigger(raw->level_tag.get(), &HostUtilitiesTask::IgnoreChange, raw);
        if (raw->text_tag->IsConfigured()) BindTrigger(raw->text_tag.get(), &HostUtilitiesTask::IgnoreChange, raw);
        if (raw->trigger->IsConfigured()) BindTrigger(raw->trigger.get(), &HostUtilitiesTask::OnEventLogTrigger, raw);
    }
}

void HostUtilitiesTask::CtLoad() {
    try {
        WalkTaskTables(
            task_state().task_name,
            [](std::int32_t type) -> std::uint32_t {
                switch (type) {
                    case kKeyboardTableType: return kKeyboardRecordSize;
                    case kCommandTableType: return kCommandRecordSize;
                    case kEventLogTableType: return kEventLogRecordMinSize;
                    default: return 0;
                }
            },
            [this](std::int32_t type, const TableRecord& record) { BuildRow(type, record); });
    } catch (const std::bad_alloc&) {
        // Out of memory: the rows built so far stay, loading ends quietly.
    }
}

void HostUtilitiesTask::RunLoad() {
    stop_tag_ = std::make_unique<TagObject>(GlobalTagId{kStopTagGlobalId});
    stop_tag_->Read();
    use_mb_ = ReadIntSetting(*this, "DiskSpace", "UseMB", 0);
    for (auto& row : keyboard_rows_) {
        if (row == nullptr) continue;
        row->trigger->Read();
        OnKeyboardTrigger(row->trigger.get(), row.get());
    }
}

void HostUtilitiesTask::Stop() {
    keyboard_rows_.clear();
    command_rows_.clear();
    event_log_rows_.clear();
    stop_tag_.reset();
}

void HostUtilitiesTask::IgnoreChange(TagObject*, void*) {}

// ---- keyboard lock rows --------------------------------------------------

void HostUtilitiesTask::OnKeyboardTrigger(TagObject* trigger, void* arg) {
    auto* row = static_cast<KeyboardLockRow*>(arg);
    if (row == nullptr || row->task == nullptr) return;
    KeyboardFilterDevice& device = row->task->keyboard_filter_;
    std::int32_t state = 0;
    if (!device.IsOpen()) {
        StatusMessage(kLevelError, "NOKEYBOARD");
    } else if (trigger != nullptr && trigger->AsInt() != 0) {
        device.LockKey(row->key_code, row->modifier_a, row->modifier_c, row->modifier_b, row->lock_option);
        state = 1;  // what was asked, whatever the driver answered
    } else {
        device.UnlockKey(row->key_code, row->modifier_a, row->modifier_c, row->modifier_b);
    }
    if (Configured(row->state_tag)) {
        row->state_tag->SetInt(state);
        row->state_tag->Write();
    }
    SetDone(row->done_tag.get());
}

// ---- event-log rows ------------------------------------------------------

void HostUtilitiesTask::OnEventLogTrigger(TagObject*, void* arg) {
    auto* row = static_cast<EventLogRow*>(arg);
    if (row == nullptr) return;
    if (Configured(row->text_tag)) copy_fixed(row->text, kEventTextSize, row->text_tag->AsText());
    if (Configured(row->level_tag)) row->level = row->level_tag->AsInt();
    if (row->level < 0) row->level = 0;
    if (row->level > 2) row->level = 2;
    ReportEventText(static_cast<std::uint16_t>(row->level), row->text);
    SetDone(row->done_tag.get());
}

// ---- system command rows -------------------------------------------------

void HostUtilitiesTask::OnSystemCommand(TagObject* trigger, void* arg) {
    auto* row = static_cast<SystemCommandRow*>(arg);
    if (row == nullptr || row->task == nullptr || trigger == nullptr) return;
    if (trigger->AsInt() == 0) return;
    row->task->RunCommand(*row, *trigger);
    SetDone(row->done_tag.get());
}

void HostUtilitiesTask::RunCommand(SystemCommandRow& row, TagObject& trigger) {
    const std::uint16_t code = row.command;
    switch (code) {
        case kCmdLogoff:
        case kCmdPowerOff:
        case kCmdRestart:
        case kCmdShutdown:
            if (Configured(row.value_tag)) {
                row.value_tag->Read();
                row.value = row.value_tag->AsShort();
                if (row.value != 0) SetDeferredShutdown(1);
            }
            RequestShutdown(code);
            return;
        case kCmdLockWorkstation: win::LockWorkStation(); return;
        case kCmdScreenSaverOnOff: {
            std::int16_t on = ShortArgument(row);
            if (!win::SystemParametersInfoA(win::SPI_SETSCREENSAVEACTIVE, on != 0 ? 1 : 0, nullptr, 0))
                StatusMessage(kLevelError, "SYSINFWRITE");
            return;
        }
        case kCmdScreenSaverActive: {
            if (!Configured(row.value_tag)) return;
            win::UINT active = 0;
            if (!win::SystemParametersInfoA(win::SPI_GETSCREENSAVEACTIVE, 0, &active, 0)) {
                StatusMessage(kLevelError, "SYSINFOREAD");
                return;
            }
            win::HKEY key = nullptr;
            if (active != 0 && OpenUserKey(kDesktopKey, &key)) {
                win::DWORD size = 0;
                active = win::RegQueryValueExA(key, kScreenSaverExe, nullptr, nullptr, nullptr, &size) ==
                                 win::ERROR_SUCCESS
                             ? 1
                             : 0;
                win::RegCloseKey(key);
            }
            WriteResultValue(row.value_tag.get(), active != 0 ? 1 : 0);
            return;
        }
        case kCmdSetScreenSaverTimeout: {
            std::int16_t seconds = ShortArgument(row);
            if (!win::SystemParametersInfoA(win::SPI_SETSCREENSAVETIMEOUT, static_cast<std::uint16_t>(seconds),
                                            nullptr, 0))
                StatusMessage(kLevelError, "SYSINFWRITE");
            return;
        }
        case kCmdScreenSaverTimeout: {
            win::UINT timeout = 0;
            if (!win::SystemParametersInfoA(win::SPI_GETSCREENSAVETIMEOUT, 0, &timeout, 0)) {
                StatusMessage(kLevelError, "SYSINFOREAD");
                return;
            }
            WriteResultValue(row.value_tag.get(), static_cast<std::int32_t>(timeout));
            return;
        }
        case kCmdStartScreenSaver:
            // A digital trigger must still hold exactly 1 in the database.
            if (trigger.Type() == kTagInt16 && (trigger.Read() != 0 || trigger.AsInt() != 1)) return;
            win::SendMessageA(win::GetDesktopWindow(), win::WM_SYSCOMMAND, win::SC_SCREENSAVE, 0);
            return;
        case kCmdPasswordFlag: {
            if (!Configured(row.value_tag)) return;
            win::HKEY key = nullptr;
            if (!OpenUserKey(kDesktopKey, &key)) {
                StatusMessage(kLevelError, "SYSINFOREAD");
                return;
            }
            unsigned char buffer[kQueryBufferSize] = {'0'};
            win::DWORD size = sizeof buffer;
            if (win::RegQueryValueExA(key, kSecureValue, nullptr, nullptr, buffer, &size) != win::ERROR_SUCCESS) {
                StatusMessage(kLevelError, "SYSINFOREAD");
                buffer[0] = '0';
            }
            WriteResultValue(row.value_tag.get(), buffer[0] != '0' ? 1 : 0);
            win::RegCloseKey(key);
            return;
        }
        case kCmdSetPasswordFlag: {
            win::HKEY key = nullptr;
            if (!OpenUserKey(kDesktopKey, &key)) {
                StatusMessage(kLevelError, "SYSINFWRITE");
                return;
            }
            const char* text = IntArgument(row) != 0 ? "1" : "0";
            if (win::RegSetValueExA(key, kSecureValue, 0, win::REG_SZ, reinterpret_cast<const win::BYTE*>(text), 2) !=
                win::ERROR_SUCCESS)
                StatusMessage(kLevelError, "SYSINFWRITE");
            win::RegCloseKey(key);
            return;
        }
        case kCmdLockPolicy: ReadPolicy(row, kLockPolicy); return;
        case kCmdSetLockPolicy: SetPolicy(row, kLockPolicy); return;
        case kCmdTaskMgrPolicy: ReadPolicy(row, kTaskMgrPolicy); return;
        case kCmdSetTaskMgrPolicy: SetPolicy(row, kTaskMgrPolicy); return;
        default:
            if ((code >= kCmdFreeSpaceA && code <= kCmdFreeSpaceZ) || (code >= kCmdTotalSizeA && code <= kCmdTotalSizeZ))
                DiskSpace(row, use_mb_);
            return;  // every other code does nothing
    }
}

// ---- leaving Windows -----------------------------------------------------

void HostUtilitiesTask::RequestShutdown(std::uint32_t code) {
    switch (code) {
        case kCmdLogoff: shutdown_flags_ = win::EWX_LOGOFF; shutdown_pending_ = 1; break;
        case kCmdPowerOff: shutdown_flags_ = win::EWX_POWEROFF; shutdown_pending_ = 1; break;
        case kCmdRestart: shutdown_flags_ = win::EWX_REBOOT; shutdown_pending_ = 1; break;
        case kCmdShutdown: shutdown_flags_ = win::EWX_SHUTDOWN; shutdown_pending_ = 1; break;
        default: shutdown_pending_ = 0; break;
    }
    if (deferred_shutdown_ != 0) {
        // A stop tag whose identifier did not resolve is there but names no
        // tag: writing it would do nothing, so it counts as missing.
        if (stop_tag_ == nullptr || !stop_tag_->IsConfigured()) {
            StatusMessage(kLevelError, "NOSTOPTAG");
            return;
        }
        stop_tag_->SetInt(shutdown_pending_);
        if (shutdown_pending_ == 1) stop_tag_->WriteResult();
        return;
    }
    ExitWindowsNow();
}

void HostUtilitiesTask::ExitWindowsNow() {
    if (shutdown_pending_ == 0) return;
    win::HANDLE token = nullptr;
    if (!win::OpenProcessToken(win::GetCurrentProcess(), win::TOKEN_ADJUST_PRIVILEGES | win::TOKEN_QUERY, &token))
        return;
    win::LUID luid{};
    win::LookupPrivilegeValueA(nullptr, win::SE_SHUTDOWN_NAME, &luid);
    alignas(8) unsigned char buffer[kTokenBufferSize];
    win::DWORD length = 0;
    if (win::GetTokenInformation(token, win::TokenPrivileges, buffer, sizeof buffer, &length) &&
        length >= sizeof(win::DWORD)) {
        // Count, then 12-byte entries; never walk past what was returned.
        win::DWORD count = 0;
        std::memcpy(&count, buffer, sizeof count);
        win::DWORD room = (std::min<win::DWORD>(length, sizeof buffer) - sizeof(win::DWORD)) /
                          sizeof(win::LUID_AND_ATTRIBUTES);
        count = std::min(count, room);
        for (win::DWORD i = 0; i < count; ++i) {
            unsigned char* at = buffer + sizeof(win::DWORD) + i * sizeof(win::LUID_AND_ATTRIBUTES);
            win::LUID_AND_ATTRIBUTES entry;
            std::memcpy(&entry, at, sizeof entry);
            if (entry.Luid.LowPart == luid.LowPart && entry.Luid.HighPart == luid.HighPart) {
                entry.Attributes = win::SE_PRIVILEGE_ENABLED;
                std::memcpy(at, &entry, sizeof entry);
                win::AdjustTokenPrivileges(token, win::FALSE, reinterpret_cast<win::TOKEN_PRIVILEGES*>(buffer), 0,
                                           nullptr, nullptr);
                break;
            }
        }
    }
    win::CloseHandle(token);
    win::ExitWindowsEx(shutdown_flags_, kExitReason);
}
