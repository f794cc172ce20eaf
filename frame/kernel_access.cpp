#include "frame/kernel_access.h"

#include "frame/task_state.h"
#include "platform/handle.h"
#include "platform/sync.h"

KernelAccessState& kernel_access_state() {
    static KernelAccessState state;
    return state;
}

void ClearKernelAccess() {
    KernelAccessState& s = kernel_access_state();
    s.access_guard = s.id_semaphore = s.second_id_semaphore = nullptr;
    s.id_owner = 0;
    s.second_id_owner = 0;
    s.id_depth = s.second_id_depth = 0;
}

namespace {

// An unnamed semaphore of count 1 of 1.
int CreateIfNull(win::HANDLE& handle) {
    if (handle != nullptr) return 0;
    handle = win::CreateSemaphoreA(nullptr, 1, 1, nullptr);
    return handle == nullptr ? kSemaphoreFailure : 0;
}

// The guard is taken only when it exists: before LoadSettings everything
// runs unlocked.
void TakeGuard(const KernelAccessState& s) {
    if (s.access_guard != nullptr) win::WaitForSingleObject(s.access_guard, win::INFINITE);
}

void GiveGuard(const KernelAccessState& s) {
    if (s.access_guard != nullptr) win::ReleaseSemaphore(s.access_guard, 1, nullptr);
}

}  // namespace

int CreateKernelAccessSemaphores() {
    KernelAccessState& s = kernel_access_state();
    int result = CreateIfNull(s.id_semaphore);
    if (CreateIfNull(s.access_guard) != 0) result = kSemaphoreFailure;
    return result;
}

int UpdateSecondIdSemaphore() {
    KernelAccessState& s = kernel_access_state();
    const TaskState& task = task_state();
    if (task.second_task_id != task.task_id) return CreateIfNull(s.second_id_semaphore);
    if (s.second_id_semaphore != nullptr) {
        win::CloseHandle(s.second_id_semaphore);
        s.second_id_semaphore = nullptr;
    }
    return 0;
}

// Only the thread that holds an id sets its owner field away from itself or
// touches its depth, so a thread that reads itself as the owner may nest
// and unnest without the guard (the batch transfers inside the run step).
void AcquireKernelAccess(int primary) {
    KernelAccessState& s = kernel_access_state();
    const std::uint32_t self = win::GetCurrentThreadId();
    if (s.id_owner == self) {
        ++s.id_depth;
        return;
    }
    if (s.second_id_owner == self) {
        ++s.second_id_depth;
        return;
    }
    if (task_state().second_task_id == task_state().task_id) primary = 1;
    win::HANDLE chosen = primary != 0 ? s.id_semaphore : s.second_id_semaphore;
    if (chosen == nullptr) return;
    win::WaitForSingleObject(chosen, win::INFINITE);
    TakeGuard(s);
    if (primary != 0) {
        s.id_owner = self;
        ++s.id_depth;
    } else {
        s.second_id_owner = self;
        ++s.second_id_depth;
    }
    GiveGuard(s);
}

void ReleaseKernelAccess() {
    KernelAccessState& s = kernel_access_state();
    const std::uint32_t self = win::GetCurrentThreadId();
    if (s.id_owner == self && s.id_depth > 1) {
        --s.id_depth;
        return;
    }
    if (s.second_id_owner == self && s.second_id_depth > 1) {
        --s.second_id_depth;
        return;
    }
    TakeGuard(s);
    if (s.id_owner == self) {
        if (s.id_depth > 0) --s.id_depth;
        if (s.id_depth == 0) {
            s.id_owner = 0;
            if (s.id_semaphore != nullptr) win::ReleaseSemaphore(s.id_semaphore, 1, nullptr);
        }
    }
    if (s.second_id_owner == self) {
        if (s.second_id_depth > 0) --s.second_id_depth;
        if (s.second_id_depth == 0) {
            s.second_id_owner = 0;
            if (s.second_id_semaphore != nullptr) win::ReleaseSemaphore(s.second_id_semaphore, 1, nullptr);
        }
    }
    GiveGuard(s);
}

TaskId CurrentTaskId() {
    const KernelAccessState& s = kernel_access_state();
    const std::uint32_t self = win::GetCurrentThreadId();
    if (s.id_owner == self) return task_state().task_id;
    if (s.second_id_owner == self) return task_state().second_task_id;
    return task_state().task_id;
}
