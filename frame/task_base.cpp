#include "frame/task_base.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "frame/event_log.h"
#include "frame/kernel_access.h"
#include "frame/log_writer.h"
#include "frame/tag_object.h"
#include "kernel/kernel.h"
#include "frame/status_message.h"
#include "platform/handle.h"
#include "platform/sync.h"
#include "platform/system_info.h"
#include "support/catalog.h"
#include "support/message_lookup.h"

namespace {

TaskBase* g_instance = nullptr;

constexpr win::DWORD kStatusPauseMs = 100;
constexpr win::DWORD kIdlePauseMs = 50;

// A fixed field filled by the kernel: empty when the variable is not found,
// always terminated within the field.
void GetEnvField(const char* name, char* field, int size) {
    std::memset(field, 0, static_cast<std::size_t>(size));
    if (kernel_get_env(name, field, size) == 0) field[0] = '\0';
    field[size - 1] = '\0';
}

// The message tag still shows the text the status writer wrote for `key`,
// as far as the tag holds it: a longer text comes back cut to the tag's
// capacity (the kernel may keep one byte of it for the terminator).
bool MessageTagShows(TagObject& message, const char* key) {
    const char* text = message.AsText();
    if (text == nullptr) return false;
    const std::string expected = FormatStatusText(key);
    const std::size_t n = std::strlen(text);
    const std::size_t capacity = message.BufferSize();
    if (n > expected.size() || expected.compare(0, n, text) != 0) return false;
    return n == expected.size() || (capacity > 0 && n + 1 >= capacity);
}

}  // namespace

TaskBase::TaskBase(const char* name, const char* title) {
    TaskState& state = task_state();
    // One task per process: a second object leaves the attached task as it
    // is and stays inert.
    if (state.task_id != kNoTask) return;
    owner_ = true;
    g_instance = this;

    blocking = 1;
    polling_requests = 0;
    log_settings().debug_level = 0;
    settings_path.clear();

    state.environment = EmptyTaskEnvironment();
    ClearKernelAccess();
    state.LastStatusLevel = 0;

    if (name == nullptr || *name == '\0') {
        state.task_id = kNoTask;
        return;
    }
    trigger_list = nullptr;
    copy_fixed(state.task_name, kTaskNameSize, name);
    copy_fixed(state.task_title, kTaskTitleSize, title);
    event_log_ = new (std::nothrow) EventLogWriter(nullptr, title);
    state.event_log = event_log_;
}

TaskBase::~TaskBase() {
    if (!owner_) return;
    if (task_state().task_id >= 0) Shutdown();
    if (trigger_list != nullptr) trigger_list_destroy(trigger_list);
    trigger_list = nullptr;
    msg_free(msg_root());
    // The semaphores of the kernel access lock live as long as the task
    // object; afterwards callers run unlocked.
    KernelAccessState& access = kernel_access_state();
    for (win::HANDLE h : {access.access_guard, access.id_semaphore, access.second_id_semaphore})
        if (h != nullptr) win::CloseHandle(h);
    ClearKernelAccess();
    if (task_state().event_log == event_log_) task_state().event_log = nullptr;
    delete event_log_;
    if (g_instance == this) g_instance = nullptr;
}

void TaskBase::Reserved(std::int32_t, std::int32_t) {}
void TaskBase::CtLoad() {}
void TaskBase::RunLoad() {}
void TaskBase::Stop() { win::Sleep(kStatusPauseMs); }
void TaskBase::Idle() {}

int TaskBase::Start() {
    TaskState& state = task_state();
    if (state.task_id != kNoTask) return 0;

    GetEnvField("VDNAME", state.vd_name, kEnvNameSize);
    GetEnvField("VDDOMAIN", state.vd_domain, kEnvDomainSize);
    GetEnvField("VDUSER", state.vd_user, kEnvUserSize);
    GetEnvField("VDAPP", state.vd_app, kEnvDirSize);
    GetEnvField("VDROOT", state.vd_root, kEnvDirSize);

    char system_dir[kSystemDirSize + 1] = {};
    win::UINT n = win::GetSystemDirectoryA(system_dir, kSystemDirSize);
    if (n == 0 || n >= static_cast<win::UINT>(kSystemDirSize)) system_dir[0] = '\0';
    copy_fixed(state.system_directory, kSystemDirSize, system_dir);

    TaskId id = kernel_attach(state.task_name, state.task_title, state.vd_name, state.vd_domain, state.vd_user);
    if (id < 0) return FailStart(-static_cast<int>(id));
    state.task_id = id;

    copy_fixed(state.kernel_banner, kBannerSize, kernel_banner());
    state.second_task_id = id;

    char text[kKernelTaskTextSize + 1] = {};
    kernel_task_text(id, text);
    kernel_text.assign(text, strnlen(text, kKernelTaskTextSize));

    TaskEnvironment env = EmptyTaskEnvironment();
    if (kernel_task_environment(id, &env) != 0) return FailStart(kStartCodeNoEnvironment);
    env.app_dir[sizeof env.app_dir - 1] = '\0';
    env.root_dir[sizeof env.root_dir - 1] = '\0';
    state.environment = env;

    const std::string catalog = std::string(state.task_name) + ".txt";
    msg_init(catalog.c_str());
    if (state.environment.app_dir[0] != '\0') {
        const std::string own = std::string(state.environment.app_dir) + "/msg/" + catalog;
        msg_load(own.c_str());
    }

    const std::string message_file = std::string(state.system_directory) + kEventMessageFileName;
    EventLogWriter::Install(state.task_title, message_file.c_str(), kEventTypesSupported);

    int rc = LoadSettings(*this);
    if (rc != 0) return FailStart(rc);

    WriteLog("TASK_START", 1, 0, kEventKindStart, nullptr, 0, static_cast<const char*>(state.task_name),
             static_cast<const char*>(state.task_title), static_cast<const char*>(state.vd_app));
    StatusMessage(kLevelStarting, "START");
    win::Sleep(kStatusPauseMs);
    kernel_start_notice(id, 15, 0);

    // A list made by a binding before start-up is kept with its bindings.
    if (trigger_list == nullptr) {
        rc = trigger_list_create(&trigger_list);
        if (rc != kTlOk) {
            StatusMessage(kLevelStarting, "VDDTP_CREATE");
            return FailStart(std::abs(rc) + kErrorCodeBase);
        }
    }

    WriteLog("CTLOAD", 1, 0, kEventKindStart, nullptr, 0);
    CtLoad();
    WriteLog("RUNLOAD", 1, 0, kEventKindStart, nullptr, 0);
    RunLoad();

    if (!keep_start_status_) {
        TagObject message(state.environment.message_tag);
        message.Read();
        StatusMessage(kLevelRunning, MessageTagShows(message, "START") ? "RUN" : nullptr);
    }
    win::Sleep(kStatusPauseMs);
    return 0;
}

int TaskBase::FailStart(int code) {
    TaskState& state = task_state();
    win::Sleep(kStatusPauseMs);
    if (state.task_id >= 0) {
        if (trigger_list != nullptr) trigger_list_destroy(trigger_list);
        trigger_list = nullptr;
        StatusMessage(kLevelStopped, "SHUTDOWN");
        win::Sleep(kStatusPauseMs);
        // A second registration made by the settings reader goes too.
        if (state.second_task_id >= 0 && state.second_task_id != state.task_id)
            kernel_detach(state.second_task_id);
        kernel_detach(state.task_id);
    }
    state.task_id = kNoTask;
    state.second_task_id = kNoTask;
    return code;
}

int TaskBase::RunStep(int blocking_mode) {
    AcquireKernelAccess(1);
    TaskId task = CurrentTaskId();
    std::int32_t rc = blocking_mode ? trigger_list_wait(trigger_list, task) : trigger_list_poll(trigger_list, task);
    kernel_after_wait(task);
    if (rc == kTlKernelFailed || rc == kTlNoChange || rc == kKernelStopRequested) {
        if (!blocking_mode && rc == kTlNoChange) {
            Idle();
            win::Sleep(kIdlePauseMs);
            rc = kernel_stop_requested(task) != 0 ? kStepStopRequested : 0;
        } else {
            if (kernel_stop_requested(task) != 0) rc = kStepStopRequested;
            win::Sleep(kIdlePauseMs);
        }
    } else if (rc != 0) {
        rc = std::abs(rc) + kErrorCodeBase;
        StatusMessage(kLevelError, "VDERROR", rc);
    }
    ReleaseKernelAccess();
    return rc;
}

void TaskBase::Shutdown() {
    TaskState& state = task_state();
    TagObject message(state.environment.message_tag);
    if (state.task_id < 0) return;

    message.Read();
    const bool own_text = MessageTagShows(message, "RUN");
    StatusMessage(kLevelStopping, own_text ? "STOPPING" : nullptr);
    win::Sleep(kStatusPauseMs);
    Stop();
    StatusMessage(kLevelStopped, own_text ? "SHUTDOWN" : nullptr);

    // The pointer is cleared so that nothing reaches the released list.
    if (trigger_list != nullptr && trigger_list_destroy(trigger_list) == kTlOk) trigger_list = nullptr;
    if (state.second_task_id != state.task_id && state.second_task_id >= 0) kernel_detach(state.second_task_id);
    WriteLog("TASK_STOP", 1, 0, kEventKindStop, nullptr, 0, static_cast<const char*>(state.task_name),
             static_cast<const char*>(state.task_title), static_cast<const char*>(state.vd_app));
    kernel_detach(state.task_id);
    state.task_id = kNoTask;
    state.second_task_id = kNoTask;
}

void TaskBase::RequestPolling() {
    ++polling_requests;
    blocking = polling_requests == 0;
}

void TaskBase::ReleasePolling() {
    if (polling_requests > 0) --polling_requests;
    blocking = polling_requests == 0;
}

void TaskBase::ResetPolling() {
    polling_requests = 0;
    blocking = 1;
}

void TaskBase::BindTrigger(TagObject* tag, TriggerHandler handler, void* argument) {
    std::int32_t rc = BindTagObject(&trigger_list, tag, handler, argument);
    if (rc != kTlOk) StatusMessage(kLevelStarting, "EVENTFUNCTION", std::abs(rc) + kErrorCodeBase);
}

int LoadSettings(TaskBase& task) {
    TaskState& state = task_state();
    const TaskSettings settings = ReadTaskSettings(state);
    static_cast<SettingsFiles&>(task) = settings.files;
    LogSettings& log = log_settings();
    log.log_path = settings.log_path;
    log.debug_level = settings.debug_level;
    log.log_to_screen = settings.log_to_screen;
    log.log_to_debugger = settings.log_to_debugger;
    log.log_to_file = settings.log_to_file;
    log.log_to_event_log = settings.log_to_event_log;

    task.ResetPolling();
    if (settings.polling_mode) task.RequestPolling();

    int result = CreateKernelAccessSemaphores();

    if (settings.second_id && state.second_task_id == state.task_id) {
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

const char* TaskBase::TaskName() const { return task_name_or_null(); }
const char* TaskBase::TaskTitle() const { return task_title_or_null(); }
const char* TaskBase::AppDirectory() const { return task_app_dir_or_null(); }

TaskBase* TaskBase::Instance() { return g_instance; }
