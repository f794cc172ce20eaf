#include "frame/settings.h"

#include <cstdio>
#include <cstring>

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

std::string ReadSetting(const SettingsFiles& files, const char* section, const char* key, const char* default_text) {
    const char* fallback = default_text == nullptr ? "" : default_text;
    if (files.settings_path.empty() && files.net_settings_path.empty()) return fallback;
    if (section == nullptr || key == nullptr) return fallback;
    char buffer[kSettingSize] = {};
    win::DWORD n = 0;
    if (!files.net_settings_path.empty()) {
        n = win::GetPrivateProfileStringA(section, key, "", buffer, sizeof buffer, files.net_settings_path.c_str());
    }
    if (n == 0) {
        if (files.settings_path.empty()) return fallback;
        win::GetPrivateProfileStringA(section, key, fallback, buffer, sizeof buffer, files.settings_path.c_str());
    }
    buffer[kSettingSize - 1] = '\0';
    return buffer;
}

std::int32_t ReadIntSetting(const SettingsFiles& files, const char* section, const char* key,
                            std::int32_t default_value) {
    char text[16];
    std::snprintf(text, sizeof text, "%ld", static_cast<long>(default_value));
    return LeadingInt(ReadSetting(files, section, key, text).c_str());
}

TaskSettings ReadTaskSettings(const TaskState& state) {
    const std::string app_dir = Field(state.environment.app_dir, sizeof state.environment.app_dir);
    const std::string root_dir = Field(state.environment.root_dir, sizeof state.environment.root_dir);
    const std::string name = Field(state.task_name, sizeof state.task_name);
    TaskSettings settings;

    // The log file's directories: the application directory itself is not
    // created, the four levels below it are.
    std::string path = app_dir;
    for (const std::string& part : {Field(state.vd_name, sizeof state.vd_name),
                                    Field(state.vd_domain, sizeof state.vd_domain),
                                    Field(state.vd_user, sizeof state.vd_user), std::string("log")}) {
        path += '/';
        path += part;
        MakeDirectory(path);
    }
    settings.log_path = path + "/" + name + ".log";

    SettingsFiles& files = settings.files;
    files.settings_path = root_dir + "/bin/" + name + ".ini";
    files.net_settings_path = app_dir + "/net/" + name + ".ini";

    settings.debug_level = ReadIntSetting(files, "Debug", "DebugLevel", 0);
    settings.log_to_screen = ReadIntSetting(files, "Debug", "Log2Screen", 0);
    settings.log_to_debugger = ReadIntSetting(files, "Debug", "Log2DebugViewer", 0);
    settings.log_to_file = ReadIntSetting(files, "Debug", "Log2File", 0);
    settings.log_to_event_log = ReadIntSetting(files, "Debug", "Log2EventViewer", 0);
    settings.polling_mode = ReadIntSetting(files, "Task", "PollingMode", 0) != 0;
    settings.second_id = ReadIntSetting(files, "Task", "Driver2Ids", 0) != 0;
    return settings;
}
