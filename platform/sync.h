// Synchronisation and threads: CreateSemaphoreA, ReleaseSemaphore,
// WaitForSingleObject, GetCurrentThreadId, Sleep.
//
// Simulated host: semaphores are process-local counting semaphores (a
// mutex and a condition variable); a name is refused with
// ERROR_NOT_SUPPORTED, since nothing is shared between processes.
// WaitForSingleObject waits on any waitable object of the host (see
// platform/simulated/host_object.h). In test builds Sleep and the tick counts
// follow the test clock while it is on (platform/test_hooks.h).
#pragma once

#include "platform/types.h"

namespace win {

struct SECURITY_ATTRIBUTES;  // platform/files.h

inline constexpr DWORD ERROR_TOO_MANY_POSTS = 298;

// A semaphore with `initial_count` of `maximum_count`; null on failure
// (ERROR_INVALID_PARAMETER when the counts are out of range: maximum < 1,
// initial < 0 or initial > maximum). Closed with CloseHandle.
HANDLE CreateSemaphoreA(const SECURITY_ATTRIBUTES* security, LONG initial_count, LONG maximum_count,
                        LPCSTR name);

// Adds `release_count` (> 0) to the count; FALSE with ERROR_TOO_MANY_POSTS
// when that would pass the maximum (the count is then unchanged).
// `previous_count` (may be null) receives the count before.
BOOL ReleaseSemaphore(HANDLE semaphore, LONG release_count, LONG* previous_count);

// Waits until the object is signalled (for a semaphore: its count is above
// 0, and the wait takes one) or `milliseconds` pass (INFINITE: no limit).
// WAIT_OBJECT_0, WAIT_TIMEOUT, or WAIT_FAILED with the last error set.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// Identifier of the calling thread; never 0.
DWORD GetCurrentThreadId();

void Sleep(DWORD milliseconds);

}  // namespace win
