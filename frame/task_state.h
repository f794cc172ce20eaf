// Task-wide state: the identity of the one task of this process and the
// values it gathers at start-up. Shared by the frame, the configuration,
// logging and the commands; owned by TaskBase, which creates and frees what
// it points to.
#pragma once

#include <cstdint>

#include "kernel/value_record.h"

class EventLogWriter;

inline constexpr int kTaskNameSize = 32;
inline constexpr int kTaskTitleSize = 80;
inline constexpr int kEnvNameSize = 32;    // VDNAME
inline constexpr int kEnvDomainSize = 16;  // VDDOMAIN
inline constexpr int kEnvUserSize = 16;    // VDUSER
inline constexpr int kEnvDirSize = 64;     // VDAPP, VDROOT
inline constexpr int kSystemDirSize = 64;
inline constexpr int kBannerSize = 36;

// Status levels of the task's status tag.
enum StatusLevel : std::int32_t {
    kLevelStopped = 0,
    kLevelRunning = 1,
    kLevelError = 2,
    kLevelStarting = 3,
    kLevelStopping = 4,
};

struct TaskState {
    char task_name[kTaskNameSize] = {};
    char task_title[kTaskTitleSize] = {};
    TaskId task_id = kNoTask;
    TaskId second_task_id = kNoTask;
    char vd_name[kEnvNameSize] = {};
    char vd_domain[kEnvDomainSize] = {};
    char vd_user[kEnvUserSize] = {};
    char vd_app[kEnvDirSize] = {};
    char vd_root[kEnvDirSize] = {};
    char system_directory[kSystemDirSize] = {};
    char kernel_banner[kBannerSize] = {};
    TaskEnvironment environment = EmptyTaskEnvironment();
    std::int32_t LastStatusLevel = 0;
    EventLogWriter* event_log = nullptr;  // owned by TaskBase
};

// The one instance of the process.
TaskState& task_state();

// Null while the task is not attached (task id -1), else the stored text.
const char* task_name_or_null();
const char* task_title_or_null();
const char* task_app_dir_or_null();  // the VDAPP value

// Copies text into a fixed field of `size` bytes, cut at size-1 and always
// terminated. A null text leaves the field empty.
void copy_fixed(char* field, int size, const char* text);
