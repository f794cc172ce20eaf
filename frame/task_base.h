// The task base class: identity, the start-up sequence that attaches the
// process to the runtime kernel, the run loop step, the orderly stop, and
// the hooks a concrete task fills in.
//
// One process holds one task; its identity and the values gathered at
// start-up live in the task-wide state (frame/task_state.h).
#pragma once

#include <cstdint>
#include <string>

#include "frame/dispatch.h"
#include "frame/settings.h"
#include "frame/task_state.h"
#include "frame/trigger_list.h"

class TagObject;

// Codes of the run step and of start-up beyond the trigger list's own.
inline constexpr int kStepStopRequested = 27;
inline constexpr int kStartCodeNoEnvironment = 1;
inline constexpr int kErrorCodeBase = 100;  // reported as 100 + |code|

// The task holds the paths of its two settings files (settings_path and
// net_settings_path, from SettingsFiles), so ReadSetting(task, ...) reads
// the task's settings.
class TaskBase : public SettingsFiles {
public:
    // Registers the task's name (under 32 characters) and title (under 80).
    // A second task in the process, or an empty name, leaves the task id at
    // -1 and makes no event-log writer.
    TaskBase(const char* name, const char* title);
    // Shuts down when still attached, frees the message catalog and the
    // event-log writer.
    virtual ~TaskBase();

    TaskBase(const TaskBase&) = delete;
    TaskBase& operator=(const TaskBase&) = delete;

    // Hooks, in slot order; results are not used.
    virtual void Reserved(std::int32_t a, std::int32_t b);
    virtual void CtLoad();   // after the line "CTLOAD": build and bind the command table
    virtual void RunLoad();  // after the line "RUNLOAD": start-up actions
    virtual void Stop();     // between "STOPPING" and "SHUTDOWN"; base sleeps 100 ms
    virtual void Idle();     // polling mode, no trigger changed

    // Start-up: 0 on success (also when already attached), else the failure
    // code (minus the attach result, 1, the settings reader's code, or
    // 100 + |code| when the trigger list cannot be made).
    int Start();
    // One pass of the run loop: 0 to go on, nonzero to end the loop (27 on a
    // stop request).
    int RunStep(int blocking);
    // Orderly stop; nothing when not attached.
    void Shutdown();

    // Polling requests: the loop polls while any request is outstanding.
    void RequestPolling();
    void ReleasePolling();
    void ResetPolling();
    int IsBlocking() const { return blocking; }

    // For a start-up hook whose task cannot do its work: the level and text
    // it reported stay after the load, in place of the running level.
    void KeepStartStatus() { keep_start_status_ = true; }

    // Binds a trigger tag to handler(tag, argument). Tags that are not
    // configured are skipped; failures are reported as "EVENTFUNCTION".
    void BindTrigger(TagObject* tag, TriggerHandler handler, void* argument);

    // Null while the task id is -1, else the stored text.
    const char* TaskName() const;
    const char* TaskTitle() const;
    const char* AppDirectory() const;  // the VDAPP value

    // The task object of this process (the first constructed), or null.
    static TaskBase* Instance();

    // Fields, in order (after the settings paths).
    std::string kernel_text;        // from kernel_task_text, up to 64 characters
    std::int32_t blocking = 1;      // always polling_requests == 0
    std::uint32_t polling_requests = 0;
    TriggerList* trigger_list = nullptr;

private:
    // Undoes a failed start-up and returns `code`.
    int FailStart(int code);
    bool owner_ = false;                    // this object holds the task-wide state
    bool keep_start_status_ = false;
    EventLogWriter* event_log_ = nullptr;   // owned
};

// Start-up's settings step: reads the settings (ReadTaskSettings) into the
// task's settings paths, the log settings and the wait mode ("PollingMode"),
// creates the semaphores of the kernel access lock and, for "Driver2Ids",
// takes a second kernel registration ("NOSECONDID" when refused). 0, or 191
// when a semaphore cannot be created.
int LoadSettings(TaskBase& task);
