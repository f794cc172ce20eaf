#include "frame/task_base.h"

namespace {
TaskBase* g_instance = nullptr;
}

TaskBase::TaskBase(const char* name, const char* title) {
    if (g_instance == nullptr) {
        g_instance = this;
        constructed_ = true;
    }
    copy_fixed(task_state().task_name, kTaskNameSize, name);
    copy_fixed(task_state().task_title, kTaskTitleSize, title);
}

TaskBase::~TaskBase() {
    if (g_instance == this) g_instance = nullptr;
}

void TaskBase::Reserved(std::int32_t, std::int32_t) {}
void TaskBase::CtLoad() {}
void TaskBase::RunLoad() {}
void TaskBase::Stop() {}
void TaskBase::Idle() {}

int TaskBase::Start() { return 1; }
int TaskBase::RunStep(int) { return kStepStopRequested; }
void TaskBase::Shutdown() {}

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

void TaskBase::BindTrigger(TagObject*, TriggerHandler, void*) {}

const char* TaskBase::TaskName() const { return task_name_or_null(); }
const char* TaskBase::TaskTitle() const { return task_title_or_null(); }
const char* TaskBase::AppDirectory() const { return task_app_dir_or_null(); }

TaskBase* TaskBase::Instance() { return g_instance; }

int TaskBase::FailStart(int code) { return code; }
