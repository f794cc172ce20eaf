// The task's settings file, read once at start-up: log level and sinks,
// blocking or polling waits, a second kernel registration; and the start-up
// work that goes with it (log path and its directories, the semaphores of
// the kernel access lock).
//
// Two copies, both named after the task: installation directory +
// "/bin/NAME.ini" and application directory + "/net/NAME.ini". A key with a
// non-empty value in the application copy wins; else the installation copy
// is read; else the default applies.
#pragma once

#include <cstdint>
#include <string>

class TaskBase;

inline constexpr int kSettingSize = 80;  // read buffer: 79 characters

// The value of section/key (at most 79 characters), or `default_text`.
std::string ReadSetting(const TaskBase& task, const char* section, const char* key, const char* default_text);

// ReadSetting with the default formatted as a decimal, converted as atoi
// does (leading blanks, sign, digits; 0 when the text is no number).
std::int32_t ReadIntSetting(const TaskBase& task, const char* section, const char* key, std::int32_t default_value);

// Builds the log path (creating its directories) and both settings paths,
// reads the log settings and "PollingMode", creates the semaphores, and
// handles "Driver2Ids". 0, or 191 when a semaphore cannot be created.
int LoadSettings(TaskBase& task);

// The name of the second registration: the task name with its last
// character replaced by "2" (an empty name stays empty).
std::string SecondTaskName(const char* task_name);
