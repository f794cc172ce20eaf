// The task's settings file, read into plain values: the two copies' paths,
// the log settings, the wait mode and the second kernel registration that
// start-up (LoadSettings, frame/task_base.h) then puts to work.
//
// Two copies, both named after the task: installation directory +
// "/bin/NAME.ini" and application directory + "/net/NAME.ini". A key with a
// non-empty value in the application copy wins; else the installation copy
// is read; else the default applies.
#pragma once

#include <cstdint>
#include <string>

struct TaskState;

inline constexpr int kSettingSize = 80;  // read buffer: 79 characters

// The paths of the two copies; both empty until start-up reads the settings.
struct SettingsFiles {
    std::string settings_path;      // settings file under the installation directory
    std::string net_settings_path;  // settings file under the application directory
};

// The value of section/key (at most 79 characters), or `default_text`.
std::string ReadSetting(const SettingsFiles& files, const char* section, const char* key, const char* default_text);

// ReadSetting with the default formatted as a decimal, converted as atoi
// does (leading blanks, sign, digits; 0 when the text is no number).
std::int32_t ReadIntSetting(const SettingsFiles& files, const char* section, const char* key,
                            std::int32_t default_value);

// What start-up takes from the settings file.
struct TaskSettings {
    SettingsFiles files;
    std::string log_path;
    std::int32_t debug_level = 0;  // section "Debug", as the log writer keeps them
    std::int32_t log_to_screen = 0;
    std::int32_t log_to_debugger = 0;
    std::int32_t log_to_file = 0;
    std::int32_t log_to_event_log = 0;
    bool polling_mode = false;  // "Task"/"PollingMode"
    bool second_id = false;     // "Task"/"Driver2Ids"
};

// Builds the log path (creating its directories below the application
// directory) and both settings paths from the task-wide state, then reads
// the five "Debug" keys, "PollingMode" and "Driver2Ids", in this order.
TaskSettings ReadTaskSettings(const TaskState& state);

// The name of the second registration: the task name with its last
// character replaced by "2" (an empty name stays empty).
std::string SecondTaskName(const char* task_name);
