// The kernel access lock: hands the task's kernel id (and the second id of
// a second registration, see config/settings.h) to one thread at a time,
// lets the holder take it again in nested calls, and tells any code which
// id the calling thread holds.
//
// Built from three count-1-of-1 semaphores: `id_semaphore` and
// `second_id_semaphore` are held by the thread that uses the task id or the
// second task id, `access_guard` while an id's owner and depth change hands
// (first acquire, last release); a nested acquire or release touches only
// the holder's own depth, no semaphore. Until the semaphores exist
// (LoadSettings creates them) the lock holds nothing and every caller runs
// unlocked.
#pragma once

#include <atomic>
#include <cstdint>

#include "kernel/value_record.h"
#include "platform/types.h"

struct KernelAccessState {
    win::HANDLE access_guard = nullptr;
    win::HANDLE id_semaphore = nullptr;
    win::HANDLE second_id_semaphore = nullptr;  // only while the two ids differ
    // Read without the guard by CurrentTaskId, hence atomic.
    std::atomic<std::uint32_t> id_owner{0};         // thread id; 0 = none
    std::atomic<std::uint32_t> second_id_owner{0};
    std::int32_t id_depth = 0;
    std::int32_t second_id_depth = 0;
};

// The process-wide lock state.
KernelAccessState& kernel_access_state();

// Forgets the three semaphore handles (without closing them) and the
// owners, as the task constructor does.
void ClearKernelAccess();

// Creates id_semaphore and access_guard where still null. 0, or 191 when a
// creation failed (the other is still attempted).
inline constexpr int kSemaphoreFailure = 191;
int CreateKernelAccessSemaphores();

// With two different ids: creates second_id_semaphore if null (0 or 191).
// With one id: closes and forgets an existing second_id_semaphore (0).
int UpdateSecondIdSemaphore();

// primary 1: the task id; 0: the second task id (the task id when there is
// no second registration). A thread already holding an id nests on it.
void AcquireKernelAccess(int primary);

// Undoes one AcquireKernelAccess of the calling thread; the id is handed on
// when its depth reaches 0. A thread holding nothing changes nothing.
void ReleaseKernelAccess();

// The id the calling thread holds; the task id when it holds none.
TaskId CurrentTaskId();
