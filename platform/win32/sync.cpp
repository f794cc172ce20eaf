// Synchronisation and threads: the real calls.
#include "platform/sync.h"
#include "platform/fault_points.h"
#include "platform/test_hooks.h"

#include "platform/files.h"

#include <windows.h>

namespace win {

HANDLE sys::CreateSemaphoreA(const SECURITY_ATTRIBUTES* security, LONG initial_count, LONG maximum_count,
                             LPCSTR name) {
    return ::CreateSemaphoreA(reinterpret_cast<::LPSECURITY_ATTRIBUTES>(const_cast<SECURITY_ATTRIBUTES*>(security)),
                              initial_count, maximum_count, name);
}

BOOL sys::ReleaseSemaphore(HANDLE semaphore, LONG release_count, LONG* previous_count) {
    return ::ReleaseSemaphore(semaphore, release_count, reinterpret_cast<LPLONG>(previous_count));
}

DWORD sys::WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return ::WaitForSingleObject(handle, milliseconds);
}

DWORD GetCurrentThreadId() { return ::GetCurrentThreadId(); }

void Sleep(DWORD milliseconds) {
    VD_TEST_CLOCK_SLEEP(milliseconds);
    ::Sleep(milliseconds);
}

}  // namespace win
