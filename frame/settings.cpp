#include "frame/settings.h"

#include <cstdio>
#include <cstring>

#include "frame/kernel_access.h"
#include "frame/log_writer.h"
#include "kernel/kernel.h"
#include "frame/status_message.h"
#include "frame/task_base.h"
#include "frame/task_state.h"
#include "platform/files.h"
#include "platform/profile.h"

namespace {

// A fixed field as a string, never reading past its size.
std::string Field(const char* field, std::size_t size) { return std::string(field, strnlen(field, size)); }

// The C library's atoi, without its undefined overflow: leading blanks, an
// optional sign, then the digits up to the first other character; a value
// beyond 32 bits is held at the nearest limit.
std::int32_t LeadingInt(const char* text) {
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    std::int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > 0x80000000LL) value = 0x80000000LL;
    }
    if (negative) value = -value;
    if (value > 0x7FFFFFFFLL) value = 0x7FFFFFFFLL;
    return static_cast<std::int32_t>(value);
}

void MakeDirectory(const std::string& path) { win::CreateDirectoryA(path.c_str(), nullptr); }

}  // namespace

std::string SecondTaskName(const char* task_name) {
    std::string name = task_name == nullptr ? "" : task_name;
    if (!name.empty()) name.back() = '2';
    return name;
}

std::string ReadSetting(const TaskBase& task, const char* section, const char* key, const char* default_text) {
    const char* fallback = default_text == nullptr ? "" : default_text;
    if (task.settings_path.empty() && task.net_settings_path.empty()) return fallback;
    if (section == nullptr || key == nullptr) return fallback;
    char buffer[kSettingSize] = {};
    win::DWORD n = 0;
    if (!task.net_settings_path.empty()) {
        n = win::GetPrivateProfileStringA(section, key, "", buffer, sizeof buffer, task.net_settings_path.c_str());
    }
    if (n == 0) {
        if (task.settings_path.empty()) return fallback;
        win::GetPrivateProfileStringA(section, key, fallback, buffer, sizeof buffer, task.settings_path.c_str());
    }
    buffer[kSettingSize - 1] = '\0';
    return buffer;
}

std::int32_t ReadIntSetting(const TaskBase& task, const char* section, const char* key, std::int32_t default_value) {
    char text[16];
    std::snprintf(text, sizeof text, "%ld", static_cast<long>(default_value));
    return LeadingInt(ReadSetting(task, section, key, text).c_str());
}

int LoadSettings(TaskBase& task) {
    TaskState& state = task_state();
    const std::string app_dir = Field(state.environment.app_dir, sizeof state.environment.app_dir);
    const std::string root_dir = Field(state.environment.root_dir, sizeof state.environment.root_dir);
    const std::string name = Field(state.task_name, sizeof state.task_name);

    // The log file's directories: the application directory itself is not
    // created, the four levels below it are.
    LogSettings& log = log_settings();
    std::string path = app_dir;
    for (const std::string& part : {Field(state.vd_name, sizeof state.vd_name),
                                    Field(state.vd_domain, sizeof state.vd_domain),
                                    Field(state.vd_user, sizeof state.vd_user), std::string("log")}) {
        path += '/';
        path += part;
        MakeDirectory(path);
    }
    log.log_path = path + "/" + name + ".log";

    task.settings_path = root_dir + "/bin/" + name + ".ini";
    task.net_settings_path = app_dir + "/net/" + name + ".ini";

    log.debug_level = ReadIntSetting(task, "Debug", "DebugLevel", 0);
    log.log_to_screen = ReadIntSetting(task, "Debug", "Log2Screen", 0);
    log.log_to_debugger = ReadIntSetting(task, "Debug", "Log2DebugViewer", 0);
    log.log_to_file = ReadIntSetting(task, "Debug", "Log2File", 0);
    log.log_to_event_log = ReadIntSetting(task, "Debug", "Log2EventViewer", 0);

    task.ResetPolling();
    if (ReadIntSetting(task, "Task", "PollingMode", 0) != 0) task.RequestPolling();

    int result = CreateKernelAccessSemaphores();

    if (ReadIntSetting(task, "Task", "Driver2Ids", 0) != 0 && state.second_task_id == state.task_id) {
        const std::string second = SecondTaskName(state.task_name);
        state.second_task_id = kernel_attach(second.c_str(), state.task_title, state.vd_name, state.vd_domain,
                                             state.vd_user);
        if (state.second_task_id < 0) {
            state.second_task_id = state.task_id;
            AcquireKernelAccess(1);
            StatusMessage(kLevelError, "NOSECONDID");
            ReleaseKernelAccess();
            // A task that already polls keeps polling; the wait mode stays
            // as "PollingMode" chose it.
            if (task.blocking == 0) task.RequestPolling();
        }
    }

    if (UpdateSecondIdSemaphore() != 0) result = kSemaphoreFailure;
    return result;
}
